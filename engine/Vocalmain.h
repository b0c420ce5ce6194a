// The extraction engine: one run from two open input files to the finished
// output file. A run is a chain of passes that hand each other values (see
// README.md): the analysis (or the cache's copy of it), the plan, the block
// loop. The engine keeps only what outlives a run: the analysis cache, the
// last report, and what the front ends show.
#pragma once

#include "AnalysisCache.h"
#include "EngineText.h"
#include "Host.h"
#include "Options.h"
#include "RunReport.h"
#include "StopFlag.h"

#include <cstdint>
#include <string>

class TWaveData;
class PairReader;
class RunContext;
struct Analysis;

class TVocalMain {
public:
    // Run results.
    static constexpr int kDone = RunResult::kDone, kNoMemory = RunResult::kNoMemory,
                         kWriteFailed = RunResult::kWriteFailed;

    // The files, the options and the host this engine works with. The engine
    // owns none of them and changes none of the options: a run works on its
    // own copy.
    void Attach(EngineHost* host, const CommittedOptions* options, TWaveData* original, TWaveData* karaoke,
                TWaveData* output);

    // mode 0: extract the voice; mode 1: pass the original alone through the
    // finishing stages. Shows its own message when the run fails.
    void Run(int mode);
    // The automatic analysis alone, as a run would start it; kDone or
    // kNoMemory. The report then holds what it found.
    int Analyse();
    // What the last Run (or Analyse) found and did.
    const RunReport& LastReport() const { return report_; }

    // The frequency merge on the run's own thread instead of its two
    // workers (same results): set by a batch that keeps every core busy.
    void RunSpectralOnCaller(bool on) { spectralOnCaller_ = on; }

    int64_t Progress = 0;   // bytes of the original consumed
    std::string StatusText; // the animated status's text
    int32_t StatusStep = 0; // and its step, 0 .. 4
    StopFlag Cancel;        // stop request, set by the front end, polled between blocks

private:
    // The options of one run: the committed ones, with a one-channel
    // original's channel handling normal and its centre focus off.
    CommittedOptions RunOptions() const;
    RunContext Context(int64_t progressMaxBytes);
    // The report's part that every run fills at its start.
    void BeginReport();
    int ExtractVoice(RunContext& run, PairReader& pair, const CommittedOptions& options);
    int FilterOriginal(RunContext& run, PairReader& pair, const CommittedOptions& options);
    // The analysis for the run: the cache's, or a fresh one (then cached);
    // kDone, kNoMemory, or kNothingToAnalyse when no finding is on automatic.
    static constexpr int kNothingToAnalyse = 3;
    int AnalysisFor(RunContext& run, PairReader& pair, const CommittedOptions& options, Analysis& analysis);

    EngineHost* host_ = nullptr;
    const CommittedOptions* options_ = nullptr;
    TWaveData* original_ = nullptr;
    TWaveData* karaoke_ = nullptr;
    TWaveData* output_ = nullptr;
    AnalysisCache cache_;
    RunReport report_;
    bool spectralOnCaller_ = false;
};

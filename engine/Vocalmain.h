// The extraction engine: one run from two open input files to the finished
// output file, with the analyses that align the karaoke to the original.
#pragma once

#include "Host.h"
#include "Options.h"
#include "RunReport.h"
#include "StopFlag.h"
#include "Trajectory.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TWaveData;
class TVocalFunc;
class VoiceWriter;

namespace EngineText {
inline constexpr const char* kNoMemory = "内存不足，无法处理。\u3000\u3000\u3000\u3000";
inline constexpr const char* kWriteFailed = "创建文件的过程中发生错误。\u3000\u3000\u3000\u3000\u3000\u3000";
inline constexpr const char* kAnalysing = "自动分析中";
inline constexpr const char* kPreliminary = "初步处理中";
inline constexpr const char* kTitle = "Sonvelt";
} // namespace EngineText

class TVocalMain {
public:
    // Run results.
    static constexpr int kDone = 0, kNoMemory = 1, kWriteFailed = 2;
    // AutoAnalyse: nothing is on automatic.
    static constexpr int kNothingToAnalyse = 3;

    // The files, the options and the host this engine works with. The engine
    // owns none of them.
    void Attach(EngineHost* host, CommittedOptions* options, TWaveData* original, TWaveData* karaoke,
                TWaveData* output);

    // mode 0: extract the voice; mode 1: pass the original alone through the
    // finishing stages. Shows its own message when the run fails.
    void Run(int mode);
    // The automatic analysis alone, as a run would start it; 0 or kNoMemory.
    int Analyse();
    int ExtractVoice();

    // What an extraction will do, from the options and the analysis.
    struct ExtractionPlan {
        bool analysed = false;
        int merge = 0;         // 0 frequency merge, 1 waveform merge
        bool precise = false;  // karaoke read along the fitted position
        bool match = false;    // and through the matching filter (gain 1)
        int mode = 0;          // row of kModeTable (classic) or ProcMode (precise)
        int factor = 1;        // oversampling factor
        bool adaptive = false; // gain searched per block
        double gain = 1.0;
        int drift = 0, range = 0; // frames per block, frames
        bool inverted = false;
    };
    ExtractionPlan PlanExtraction(bool analysed) const;
    // The automatic merge's choice: the waveform merge when the aligned
    // karaoke cancels the accompaniment in the quietest blocks to this many
    // dB or better.
    static constexpr double kWaveformCancellationDb = -35.0;
    int FilterOriginal();
    void PassThrough(int frames, bool readKaraoke);

    int FindOnsetOffset(bool inverted);
    int FindEnvelopeOffset(bool useMid, bool inverted);
    int MeasureAlignment(int offsetFrames, int driftFrames, bool estimateLevel, bool inverted, double seconds,
                         int rangeFrames);
    int FindIntroOffset();
    int AutoAnalyse();
    // Whether the extraction with the committed options reads the karaoke
    // along a fitted position when one is found (it then needs no range).
    bool PositionSuffices() const;
    // The last pass: every block's shift around `drift` within `range`, the
    // fitted position, its probe and the gain. kDone, or an error.
    int MeasurePosition(int ofs0, int drift, int range);
    int32_t ReadMiddle(int64_t u, int64_t k, int karFrames, TVocalFunc& f);

    // Drift per block and first search range from the first pass's mean shift
    // and spread.
    struct RangeStart {
        int32_t baseOfs;
        int r0;
    };
    static RangeStart FirstRange(double ofs, double bnsn);
    // Tries ranges r0 .. r0 + 8 through `measure` (which fills the pass's
    // residual and original level, or returns false to stop) until the
    // residual settles; the range chosen, or -1 when stopped.
    static int ChooseRange(int r0, const std::function<bool(int range, double& voc, double& org)>& measure);

    void ShowProgress();
    // What the last Run (or Analyse) found and did.
    const RunReport& LastReport() const { return report_; }
    void StartStatus(const std::string& text);
    void StopStatus();

    // The frequency merge on the run's own thread instead of its two
    // workers (same results): set by a batch that keeps every core busy.
    void RunSpectralOnCaller(bool on) { spectralOnCaller_ = on; }

    int32_t Channels = 0;
    int64_t Progress = 0;      // bytes of the original consumed
    std::string StatusText;
    int32_t StatusStep = 0;
    double Vol = 0, Ofs = 0, Voc = 0, Org = 0, Bnsn = 0; // last analysis pass
    int32_t BaseOfs = 0;       // drift per block, frames
    int32_t Range = 0;         // half-width of the per-block shift search, frames
    int32_t IntroOffset = 0;   // karaoke position minus original position, frames
    double SavedVol = 0;       // karaoke gain for the extraction
    bool KaraokeInverted = false;
    // The pair whose analysis is cached, known by name, size and modification
    // time so that a file replaced under the same name is analysed again.
    struct FileKey {
        std::string name;
        int64_t size = -1;
        int64_t mtime = 0;
        bool operator==(const FileKey&) const = default;
    };
    FileKey CachedOriginal, CachedKaraoke;
    int32_t CachedProcMode = 0;
    double CachedBlkSec = 0;
    int32_t CachedAlign = 0;
    // The cached analysis measured the position only (no range search):
    // enough for precise alignment, not for the classic per-block search.
    bool CachedPositionOnly = false;
    // Precise alignment, from the analysis's last pass over the whole
    // recordings: the fitted karaoke position, the least-squares gain over
    // the blocks with least voice (0 when none), and how well the karaoke
    // cancels there, read along the position (precise) or at the blocks'
    // whole shifts (classic), dB.
    Trajectory Track;
    double LsGain = 0;
    // A short least-squares filter that matches the aligned karaoke to the
    // original (taps for offsets -kMatchHalfTaps .. kMatchHalfTaps, the gain
    // included); empty when the gain alone does as well.
    static constexpr int kMatchHalfTaps = 8;
    std::vector<double> Match;
    double CancelPreciseDb = 0, CancelWholeDb = 0;
    StopFlag Cancel; // stop request, set by the front end, polled between blocks

private:
    void DebugPrint(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogRange(int rangeFrames);
    void ShowFinished(int result);
    void BeginRun();
    void Pump();
    int SampleRate() const;
    void ProgressStep(int& counter);
    int LoopClassic(TVocalFunc& f, const ExtractionPlan& plan, int range, int64_t u, int64_t w);
    int LoopPrecise(TVocalFunc& f, const ExtractionPlan& plan, int64_t u);
    // Finishing stages, packing and writing of a block's middle half; false
    // when writing failed.
    bool FinishBlock(TVocalFunc& f, int32_t progressBytes);
    // Moves the original on to the next block, shows progress and handles
    // the user's input; false when a stop was asked for.
    bool NextBlock(int64_t& frame, int halfFrames, int& counter);
    // The stream's delay through the stages this run uses.
    int64_t StageLatency(const TVocalFunc& f, int merge) const;
    void FitTrajectory(const std::vector<AlignPoint>& points, double slopeGuess);
    int ProbeTrajectory(const std::vector<AlignPoint>& points);
    void FillReport(const ExtractionPlan& plan, int offsetFrames);
    static FileKey KeyOf(const TWaveData& w);
    static bool Shrunk(const TWaveData& w);

    EngineHost* host_ = nullptr;
    CommittedOptions* options_ = nullptr;
    TWaveData* original_ = nullptr;
    TWaveData* karaoke_ = nullptr;
    TWaveData* output_ = nullptr;
    int64_t progressMax_ = 0;          // bytes
    TVocalFunc* func_ = nullptr; // the extraction's buffer, for PassThrough
    std::vector<int64_t> shiftCounts_; // per-pass histogram of block shifts
    std::vector<int64_t> gainCounts_;  // per-pass histogram of gain estimates
    RunReport report_;
    VoiceWriter* writer_ = nullptr;      // the running extraction's output
    std::vector<AlignPoint>* fitPoints_ = nullptr; // collected by MeasureAlignment when set
    // With fitPoints_: each block's original energy and the share left after
    // subtracting the karaoke at the block's whole shift with its own gain.
    struct WholeResidual {
        double oo, residual;
    };
    std::vector<WholeResidual> wholeResiduals_;
    // The intro pass of the offset that was chosen: its mean block shift and
    // spread over the first 30 s, the drift to follow.
    double introOfs_ = 0, introBnsn_ = 0;
    double energyOrig_ = 0, energyOut_ = 0;
    bool spectralOnCaller_ = false;
    int merge_ = 0; // the merge of the running extraction: 0 frequency, 1 waveform
};

// The extraction pipeline: planning the run from the options and the
// analysis, and the block loop that removes the karaoke, in its classic form
// (a shift search per block) or its precise form (the karaoke read along the
// fitted position). Every output frame is written at the time of the
// original frame it came from: the stream's latency through the buffer's
// parts is dropped at the start and flushed at the end, and the file is as
// long as the original.
#pragma once

#include "Analysis.h"
#include "ModeTable.h"
#include "Options.h"
#include "PairReader.h"
#include "RunContext.h"
#include "RunReport.h"

#include <cstdint>
#include <utility>
#include <vector>

class TVocalFunc;
class VoiceWriter;

// The automatic merge's choice: the waveform merge when the aligned karaoke
// cancels the accompaniment in the quietest blocks to this many dB or
// better.
inline constexpr double kWaveformCancellationDb = -35.0;

// What an extraction will do, from the options and the analysis.
struct ExtractionPlan {
    bool analysed = false;               // the analysis (fresh or cached) gave its values
    Merge merge = Merge::Frequency;
    bool precise = false;                // the karaoke read along the fitted position
    bool match = false;                  // and through the matching filter (gain 1)
    ChannelMode channels = ChannelMode::Normal;
    bool oversampled = false;            // the waveform merge at OvspMx times the rate
    int oversamplingFactor = 1;
    bool adaptive = false;               // the gain searched per block
    double karaokeGain = 1.0;
    int driftFramesPerBlock = 0;
    int searchHalfWidthFrames = 0;
    bool inverted = false;
};
ExtractionPlan PlanExtraction(const CommittedOptions& options, const Analysis& analysis, bool analysed);

// What the plan and the analysis mean for the user, into the report: the
// offset, phase, drift, gain, merge and why.
void DescribePlan(RunReport& report, const ExtractionPlan& plan, const Analysis& analysis,
                  const CommittedOptions& options, int offsetFrames, int sampleRate);

// Sets up the finishing stages the options ask for: the centre focus, the
// treble cut (80 dB) and the bass cut (60 dB). kDone, or kNoMemory.
int SetupFinishingStages(TVocalFunc& buffer, const CommittedOptions& options);

// The block loop of one extraction on a buffer set up for the plan.
class Extraction {
public:
    Extraction(PairReader& pair, RunContext& run, TVocalFunc& buffer, VoiceWriter& writer,
               const ExtractionPlan& plan, const CommittedOptions& options);

    // The classic form: the lead-in (the original alone until the karaoke's
    // search window can start) and the first quarter block at gain 0.95,
    // then a shift search per block within the half-width. kDone (also when
    // stopped) or kWriteFailed.
    int RunClassic(int offsetFrames, int searchHalfWidthFrames);
    // The precise form: from a quarter block before the song, each block's
    // karaoke read along `map`; where it has no counterpart the original
    // passes untouched.
    int RunPrecise(const KaraokeMap& map);

    // The energy of the voice written against the original over the
    // processed blocks, dB (negative: that much was removed), in all and per
    // second of the original (NaN for a second whose original is silent).
    double RemovalDb() const;
    std::vector<double> RemovalDbPerSecond() const;
    // Stretches of the original, frames [first, end), that a precise run
    // left as they were because removing the karaoke there would have made
    // them louder.
    const std::vector<std::pair<int64_t, int64_t>>& Guarded() const { return guarded_; }

private:
    // `count` frames of the original from originalAt, with the karaoke from
    // karaokeAt (or silence) at shift 0 and gain 0.95, through the finishing
    // stages and written whole.
    void PassThrough(int count, bool readKaraoke, int64_t originalAt, int64_t karaokeAt);
    // One block of the original at u and a karaoke window of karFrames at k.
    int32_t ReadBlock(int64_t u, int64_t k, int karFrames);
    // Only the middle half of the original block at u; the bytes read.
    int32_t ReadMiddle(int64_t u);
    // The first karFrames frames of the karaoke window at frame k.
    void ReadKaraokeWindow(int64_t k, int karFrames);
    // The finishing stages, packing and writing of the middle half of the
    // block at u; false when writing failed.
    bool FinishBlock(int64_t u, int32_t progressBytes);
    // Moves on to the next block, shows progress and handles the user's
    // input; false when a stop was asked for.
    bool NextBlock(int64_t& u, int& counter);

    PairReader& pair_;
    RunContext& run_;
    TVocalFunc& f_;
    VoiceWriter& writer_;
    const ExtractionPlan& plan_;
    const CommittedOptions& options_;
    double energyOrig_ = 0, energyOut_ = 0;
    // The same per second of the original.
    std::vector<double> secondOrig_, secondOut_;
    std::vector<std::pair<int64_t, int64_t>> guarded_;
    // The original's energy and what removing would leave, over the last
    // blocks of a precise run.
    static constexpr int kRecentBlocks = 5;
    double recentOriginal_[kRecentBlocks] = {}, recentLeft_[kRecentBlocks] = {};
    int recentAt_ = 0;
};

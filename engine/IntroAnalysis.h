// The intro analysis: where the same content starts in the two recordings
// and in which phase, and the block-wise measuring pass the automatic
// analysis is built on. Each pass creates its own processing buffer, reads
// the pair through the PairReader and returns what it found.
#pragma once

#include "Analysis.h"
#include "Options.h"
#include "PairReader.h"
#include "RunContext.h"
#include "RunReport.h"
#include "Trajectory.h"

#include <vector>

// What an analysis pass works on: the pair, the run it belongs to and the
// options of the run.
struct AnalysisInputs {
    PairReader& pair;
    RunContext& run;
    const CommittedOptions& options;
};

// The simple intro analysis: where each recording first reaches 128 (mid,
// positive excursions), refined by a shift search over 0.2 s. The offset in
// frames (karaoke minus original); 0 when its buffer cannot be set up.
int FindOnsetOffset(PairReader& pair, RunContext& run, bool inverted);
// The detailed intro analysis: 20 ms envelopes of the side (or, with
// useMid, the mid) signal of the first minute of the original against the
// first two minutes of the karaoke, refined by a shift search. 0 when
// stopped or when its buffer cannot be set up.
int FindEnvelopeOffset(PairReader& pair, RunContext& run, bool useMid, bool inverted);

// One measuring pass: blocks of twice BlkSec, half a block apart, each
// searched for its best whole shift around the expected karaoke position.
struct MeasureRequest {
    int offsetFrames = 0;         // the initial offset
    int driftFramesPerBlock = 0;  // added to the expected position after every block
    bool estimateLevel = false;   // the karaoke gain estimated on every block
    bool inverted = false;
    double seconds = 0;           // how much of the original; 0: until either recording ends
    int searchHalfWidthFrames = 0;
    bool fitBlocks = false;       // each block's fractional shift and gain too (precise alignment)
};
struct Measurement {
    int result = RunResult::kDone; // also when stopped; kNoMemory when its buffer could not be set up
    PassStats stats;
    // With fitBlocks: each block's least-squares fit where it holds, and
    // each block's original energy and the share left at its whole shift
    // with its own gain (oo and residual only).
    std::vector<AlignPoint> fits;
    std::vector<AlignPoint> wholeShiftFits;
    // With fitBlocks, every block at its whole shift: the middle of its
    // middle half, the original's and the karaoke's energy there and their
    // product, whether the fit held or not.
    struct Evidence {
        int64_t t = 0;
        double oo = 0, kk = 0, ok = 0;
    };
    std::vector<Evidence> evidence;
};
Measurement MeasureAlignment(const AnalysisInputs& in, const MeasureRequest& request);

// The automatic intro analysis: the six candidates (three offset estimates
// in both phases) scored over the first 30 s, the best kept; each is logged
// and recorded in `trace`.
struct IntroFinding {
    int offsetFrames = 0;
    bool inverted = false;
    PassStats pass; // the chosen candidate's scoring pass
};
IntroFinding FindIntroOffset(const AnalysisInputs& in, AnalysisTrace& trace);

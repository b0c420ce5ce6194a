// What the passes of an analysis measured, as the run's report carries it:
// the statistics of one measuring pass, the trace of what the passes
// returned in order, and the final pass's blocks against the fitted
// position.
#pragma once

#include <cstdint>
#include <vector>

// One measuring pass (MeasureAlignment) over its blocks: each block's best
// whole shift around the expected position and what subtracting the
// karaoke there leaves.
struct PassStats {
    double gain = 1.0;            // median karaoke gain estimate (1 without estimates)
    double meanShiftFrames = 0;   // mean block shift against the expected position
    double meanResidual = 0;      // mean sum of |voice| over a block's middle half
    double meanOriginal = 0;      // the same sum of |original|
    double shiftSpreadFrames = 0; // mean absolute deviation of the shifts from their mean
    int64_t blocks = 0;
};

// One block of the final measuring pass whose fractional fit held: where it
// lies, how far its measured position sits off the fitted one, and the share
// of the original's energy its karaoke leaves.
struct BlockPosition {
    int64_t originalFrame = 0;
    double offFitFrames = 0;
    double residual = 1;
};

// What the passes of one analysis returned, in order.
struct AnalysisTrace {
    enum class IntroMethod { Onset, SideEnvelope, MidEnvelope };
    struct Candidate {
        IntroMethod method;
        bool inverted;
        int offsetFrames;
        PassStats pass; // the candidate scored over the first 30 s
    };
    enum class PassKind { First, Range, Final };
    struct Pass {
        PassKind kind; // the first 120 s at half-width 20, a range tried, the whole recordings
        int searchHalfWidthFrames;
        PassStats stats;
    };
    std::vector<Candidate> candidates;
    std::vector<Pass> passes;
    // The final pass's block fits, how many the fitted position kept, the
    // quiet blocks read again along it, and whether a matching filter was
    // kept.
    int fitPoints = 0, keptPoints = 0, probedBlocks = 0;
    bool matchingFilter = false;
    // Where removing along the fitted position would add sound: how many
    // stretches of the original were looked for elsewhere in the karaoke,
    // and into how many stretches the song was divided (0: it was not).
    int structureSearches = 0, stretches = 0;
};


// What the automatic analysis finds, as values: where the karaoke's content
// lies for each frame of the original, and the analysis as a whole.
#pragma once

#include "AnalysisTrace.h"
#include "Options.h"
#include "ResidualSuppressor.h"
#include "Trajectory.h"

#include <cstdint>
#include <optional>
#include <vector>

// A short least-squares filter that matches the aligned karaoke to the
// original: taps for offsets -kMatchHalfTaps .. kMatchHalfTaps.
inline constexpr int kMatchHalfTaps = 8;

// Where the karaoke's content lies for each frame of the original (precise
// alignment), with how it is best matched and how well it cancels.
struct KaraokeMap {
    // The fitted position over the whole song; invalid when none was found.
    Trajectory track;
    // The matching filter, its gain included; empty when the gain alone does
    // as well.
    std::vector<double> matchTaps;
    // The karaoke's least-squares gain over the blocks with least voice (0
    // when there are none).
    double leastSquaresGain = 0;
    // How closely the karaoke cancels the accompaniment where there is no
    // voice, read along the position (precise) or at the blocks' whole
    // shifts (classic), dB.
    double cancellationPreciseDb = 0, cancellationWholeDb = 0;
    // What the removal along the position leaves of the accompaniment where
    // there is no voice, for clean pauses; invalid when it was not measured.
    cleanup::LeakModel leak;

    // The karaoke frame (with its fraction) that holds the content of
    // original frame t, or none where the karaoke has no counterpart.
    std::optional<double> PositionAt(int64_t t) const
    {
        if (!track.Valid()) return std::nullopt;
        return track.At(t);
    }
    bool Valid() const { return track.Valid(); }
};

// The automatic analysis's findings, which the extraction plans with.
struct Analysis {
    int32_t introOffsetFrames = 0;    // karaoke position minus original position of the same content
    bool karaokeInverted = false;     // the karaoke is inverted against the original
    int32_t driftFramesPerBlock = 0;  // added to the expected karaoke position after every block
    int32_t searchHalfWidthFrames = 0; // half-width of the per-block shift search
    double karaokeGain = 1.0;         // the fixed karaoke gain for the extraction
    // Only the position was measured (no range search): enough for precise
    // alignment, not for the classic per-block search.
    bool positionOnly = false;
    KaraokeMap map;
    // The final pass's blocks against the fitted position (precise alignment).
    std::vector<BlockPosition> blocks;
};

// Which of the analysis's findings the options leave to it, decided here
// once for the analysis and the plan.
struct AutomaticParts {
    bool offset, range, phase, level; // IntroMode, AdptMode, KrkPhase, LevelAdpt on automatic
    bool precise;                     // precise alignment asked for (AlignFlg)
    explicit AutomaticParts(const CommittedOptions& o)
        : offset(o.IntroMode == 0), range(o.AdptMode == 0), phase(o.KrkPhase == 0), level(o.LevelAdpt == 0),
          precise(o.AlignFlg != 0)
    {
    }
    // Anything to analyse at all.
    bool Any() const { return offset || range || phase || level; }
    // The extraction will follow the fitted position when one is found
    // (precise alignment with the analysis's own offset and range), so the
    // analysis needs no range search; with the phase automatic too, the
    // analysis measures the position first.
    bool PositionFollowed() const { return precise && offset && range; }
    bool PositionSuffices() const { return PositionFollowed() && phase; }
};

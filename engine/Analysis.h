// What the automatic analysis finds, as values: where the karaoke's content
// lies for each frame of the original, and the analysis as a whole.
#pragma once

#include "AnalysisTrace.h"
#include "Options.h"
#include "Trajectory.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// A short least-squares filter that matches the aligned karaoke to the
// original: taps for offsets -kMatchHalfTaps .. kMatchHalfTaps.
inline constexpr int kMatchHalfTaps = 8;

// A stretch of the original, frames [first, end), and where its content lies
// in the karaoke: along `track`, or nowhere (the karaoke is another edit of
// the song and lacks it, or removing anything there would add sound).
struct MapStretch {
    int64_t first = 0, end = 0;
    bool matched = false;
    Trajectory track; // when matched
};

// A piece of a run of original frames that one stretch covers: frames
// [offset, offset + count) of the run.
struct MapPiece {
    int offset = 0, count = 0;
    const MapStretch* stretch = nullptr; // null: the whole song follows the map's track
};

// Where the karaoke's content lies for each frame of the original (precise
// alignment), with how it is best matched and how well it cancels.
struct KaraokeMap {
    // The fitted position over the whole song (or, when the karaoke is
    // another edit, over its longest stretch, which the others are measured
    // against); invalid when none was found.
    Trajectory track;
    // Empty when `track` holds for the whole song. Otherwise the song from
    // its first frame to its last in order, each stretch with its own
    // position or none; the first reaches back and the last on for ever.
    std::vector<MapStretch> stretches;
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

    // The karaoke frame (with its fraction) that holds the content of
    // original frame t, or none where the karaoke has no counterpart.
    std::optional<double> PositionAt(int64_t t) const;
    bool Valid() const { return track.Valid(); }
    // The stretch that holds frame t (null without stretches).
    const MapStretch* StretchAt(int64_t t) const;
    // Splits frames [t, t + count) where the stretches change; at most
    // `maxPieces` pieces (the last one takes the rest). The number written.
    int Pieces(int64_t t, int count, MapPiece* pieces, int maxPieces) const;
    // Stretches of the original [0, originalFrames) whose content the
    // karaoke [0, karaokeFrames) does not hold: the unmatched stretches and
    // where a matched one reads before the karaoke's start or past its end.
    std::vector<std::pair<int64_t, int64_t>> Uncovered(int64_t originalFrames, int64_t karaokeFrames) const;
    // Frames where the position jumps or stops (the starts of every stretch
    // but the first), and how many times the content jumps from one place
    // of the karaoke to another (unmatched stretches between two places
    // count as part of the jump).
    std::vector<int64_t> Seams() const;
    int Edits() const;
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

// Another edit of the song: where the karaoke lacks a stretch of the
// original, repeats one or has another intro, the position the analysis
// fitted holds for part of the song only. This pass finds, stretch by
// stretch, where each part's content lies in the karaoke (or that it lies
// nowhere), each with its own precise position, and the seams between them
// to a few milliseconds.
#pragma once

#include "Analysis.h"
#include "IntroAnalysis.h"

#include <vector>

struct StructureFinding {
    int result = RunResult::kDone; // also when stopped
    // Empty when the fitted position holds for the whole song.
    std::vector<MapStretch> stretches;
    // For each stretch: the one (the longest) that stands for the song's
    // position, whose track and block fits are also given here for the
    // caller to probe further (its matching filter, its cancellation).
    std::vector<bool> followsLine;
    Trajectory mainTrack;
    std::vector<AlignPoint> mainPoints;
    // The block fits of the other matched stretches, each measured around its
    // own place.
    std::vector<AlignPoint> otherPoints;
};

// Whether removing the karaoke along the fitted position would add sound over a stretch
// of the measuring pass's blocks (`evidence`, in order): then the search
// runs; otherwise it costs nothing. `gain` is the karaoke's gain, `inverted`
// its phase.
bool RemovalAddsSound(const std::vector<Measurement::Evidence>& evidence, double gain);

// The stretches, when RemovalAddsSound; each step is logged and recorded in
// `trace`.
// `line` is the fitted position as a straight line (its slow wander was
// fitted to every block, those of other places too).
StructureFinding FindStructure(const AnalysisInputs& in, bool inverted, double gain, const Trajectory& line,
                               const std::vector<Measurement::Evidence>& evidence, AnalysisTrace& trace);

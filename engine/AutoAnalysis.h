// The automatic analysis: initial offset and phase, drift and search range,
// the karaoke gain and, with precise alignment, the fitted position with
// its matching filter. A chain of passes, each returning what it measured.
#pragma once

#include "Analysis.h"
#include "IntroAnalysis.h"

#include <functional>

// Drift per block and first search half-width from the first pass's mean
// shift and spread.
struct RangeStart {
    int32_t driftFramesPerBlock;
    int firstHalfWidthFrames;
};
RangeStart FirstRange(double meanShiftFrames, double shiftSpreadFrames);
// Tries half-widths first .. first + 8 through `measure` (which gives the
// pass's mean residual and original level, or returns false to stop) until
// the residual settles; the half-width chosen, or -1 when stopped.
int ChooseRange(int firstHalfWidthFrames,
                const std::function<bool(int halfWidthFrames, double& residual, double& original)>& measure);

struct AnalysisRun {
    int result = RunResult::kDone; // also when stopped; kNoMemory when a buffer could not be set up
    Analysis analysis;
};
// Analyses the pair as the options ask, logging each pass and recording in
// `trace` what it returned; shows the animated status meanwhile.
AnalysisRun AutoAnalyse(const AnalysisInputs& in, AnalysisTrace& trace);

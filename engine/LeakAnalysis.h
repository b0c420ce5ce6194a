// What the removal leaves of the accompaniment where there is no voice: the
// leak model that clean pauses suppress by, measured on the blocks with
// least voice read along the fitted position.
#pragma once

#include "Analysis.h"
#include "IntroAnalysis.h"

#include <vector>

// The most the removal may leave where there is no voice, against what it
// takes out (voice band, dB), for the leak to be used: above it the model is
// dropped.
inline constexpr double kMaxLeakDb = -6.0;

// Reads the quietest of the final pass's blocks (QuietestBlocks of `points`
// among those the position kept) again along `map`'s position, through its
// matching filter when it has one, and removes the karaoke as the waveform
// merge would (per channel, or on the mid signal for ProcMode 2). The voice
// left there and the karaoke removed make map.leak. kDone (the model stays
// invalid when there is too little to measure or the leak passes
// kMaxLeakDb), or kNoMemory.
int MeasureLeak(const AnalysisInputs& in, bool inverted, const std::vector<AlignPoint>& points, KaraokeMap& map);

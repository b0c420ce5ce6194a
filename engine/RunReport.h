// What one run found and did, for the front ends to show after it: the
// analysis values in the units people read (seconds, ppm, dB), the merge that
// was used and how much of the accompaniment the removal took out.
#pragma once

#include "Analysis.h"
#include "AnalysisTrace.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The results of a run and of the passes it is made of.
namespace RunResult {
inline constexpr int kDone = 0;        // finished, or stopped
inline constexpr int kNoMemory = 1;    // a processing buffer could not be set up
inline constexpr int kWriteFailed = 2; // writing the output failed
} // namespace RunResult

struct RunReport {
    bool extracted = false;     // an extraction ran (false: nothing, or the original alone)
    bool analysed = false;      // the automatic analysis (fresh or cached) gave the values below
    int result = 0;             // the run result (0 done or stopped, 1 memory, 2 write failed)
    bool stopped = false;       // the user stopped the run
    int sampleRate = 0;
    int channels = 0;

    int64_t offsetFrames = 0;   // karaoke position minus original position of the same content
    double offsetSeconds = 0;
    bool inverted = false;      // the karaoke was taken as inverted in phase
    double driftPpm = 0;        // karaoke clock against the original's, parts per million
    double gain = 1;            // karaoke gain applied (the mean one when adaptive)
    double gainDb = 0;
    int merge = 0;              // merge used (or, after Analyse, the one automatic would use): 0 frequency, 1 waveform
    bool mergeChosenAutomatically = false;
    bool preciseAlignment = false;
    // How closely the aligned karaoke cancels the accompaniment where there
    // is no voice (dB; the automatic merge takes the waveform merge at or
    // below the threshold), and that choice in words.
    double cancellationDb = 0;
    double cancellationThresholdDb = 0;
    std::string mergeReason;

    // Energy of the voice written against the original over the processed
    // blocks, dB (negative: that much was removed).
    double removalDb = 0;
    int64_t originalFrames = 0; // frames in the original
    int64_t karaokeFrames = 0;
    int64_t framesWritten = 0;  // frames of voice written
    bool emptyInput = false;    // a recording's data chunk was empty: nothing was processed
    bool inputEndedEarly = false; // a recording delivered less than its header promised
    double elapsedSeconds = 0;

    // What the analysis found (fresh or from the cache), when `analysed`:
    // among the rest the drift per block and the search half-width, and,
    // block by block, the final pass against the fitted position.
    Analysis analysis;
    // What the analysis's passes returned, in order; empty when the cache
    // answered or nothing was analysed.
    AnalysisTrace analysisTrace;
    // The removal per second of the original (dB, as removalDb), for a
    // picture of the run; NaN for a second whose original is silent
    // (nothing to remove).
    std::vector<double> removalDbPerSecond;

    // Precise alignment with a karaoke that is another edit of the song, or
    // that starts or ends elsewhere: stretches of the original, [start, end)
    // in seconds, whose content the karaoke does not hold (left as the
    // original), the original's times where the karaoke's position jumps or
    // stops, and how many times it jumps from one place to another.
    std::vector<std::pair<double, double>> unmatchedSeconds;
    std::vector<double> seamSeconds;
    int edits = 0;
    // Stretches the extraction left as the original because removing the
    // karaoke there would have made them louder, [start, end) in seconds.
    std::vector<std::pair<double, double>> guardedSeconds;
};

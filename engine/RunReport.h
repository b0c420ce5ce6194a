// What one run found and did, for the front ends to show after it: the
// analysis values in the units people read (seconds, ppm, dB), the merge that
// was used and how much of the accompaniment the removal took out.
#pragma once

#include <cstdint>
#include <string>

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
};

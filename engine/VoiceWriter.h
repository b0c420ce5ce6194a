// The output end of a run: the stream of processed frames, which the stages
// delay by a known number of frames, written so that every output frame sits
// at the time of the original frame it came from and the file is exactly as
// long as the original.
#pragma once

#include <cstdint>

class TWaveData;

class VoiceWriter {
public:
    // Drops the first `latency` frames of the stream (the stages' start-up)
    // and writes at most `total` frames after them.
    VoiceWriter(TWaveData* output, int channels, int64_t latency, int64_t total);

    // Writes frames of interleaved 16-bit samples as the stream delivers
    // them. False when writing failed.
    bool Write(const int16_t* pcm, int frames);
    // Shortens the output: the original ended at `total` frames after all.
    void LimitTotal(int64_t total);

    bool Done() const { return written_ >= total_; }
    int64_t Written() const { return written_; }
    // Frames the output will hold.
    int64_t Total() const { return total_; }
    int64_t Latency() const { return latency_; }

private:
    TWaveData* output_;
    int channels_;
    int64_t latency_;
    int64_t total_;
    int64_t skipped_ = 0;
    int64_t written_ = 0;
};

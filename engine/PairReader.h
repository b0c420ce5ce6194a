// The two recordings of a run as the passes read them: a window of either
// recording at any frame, with silence before its first frame and past its
// last. Every pass reads through it, so a read that the recording cannot fill
// is completed with silence wherever it happens.
#pragma once

#include <cstdint>

class TWaveData;

class PairReader {
public:
    PairReader(TWaveData& original, TWaveData& karaoke);

    // Channels and rate of the original (the karaoke has the same).
    int Channels() const { return channels_; }
    int SampleRate() const { return sampleRate_; }
    // Bytes of `frames` frames of 16-bit samples.
    int32_t Bytes(int frames) const { return frames * channels_ * 2; }
    // The frames each recording holds (TWaveData::ReadableFrames).
    int64_t OriginalFrames() const;
    int64_t KaraokeFrames() const;

    // Reads `frames` frames of the original from frame `first` into pcm
    // (interleaved); what the recording does not hold there is silence.
    // Returns the bytes the recording delivered: frames before its start
    // count as delivered silence, frames past its end do not (0 when the
    // window starts there).
    int32_t ReadOriginal(int64_t first, int16_t* pcm, int frames);
    int32_t ReadKaraoke(int64_t first, int16_t* pcm, int frames);

private:
    static int32_t Read(TWaveData& file, int64_t first, int16_t* pcm, int32_t bytes);

    TWaveData& original_;
    TWaveData& karaoke_;
    int channels_;
    int sampleRate_;
};

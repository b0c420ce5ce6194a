// Finding where a stretch of the original lies in the karaoke, anywhere in
// it: for a karaoke that is another edit of the song (a section cut, one
// repeated, another intro), the position jumps, far beyond any block search.
//
// Both recordings are looked at as a mono mix at a sixteenth of their rate
// (each output the mean of sixteen frames): enough of the accompaniment's
// waveform below 1 kHz to tell one bar from another, and small enough to
// correlate a stretch against a whole song in a few milliseconds.
#pragma once

#include "BufferUtil.h"
#include "FFT.h"

#include <cstdint>
#include <vector>

namespace editsearch {

inline constexpr int kDecimation = 16;

// Streams interleaved 16-bit frames into the decimated mono mix.
class Decimator final {
public:
    void Reset();
    // Room for n outputs at once, so that a long song's mix is not moved
    // (and briefly held twice) as it grows.
    void Reserve(size_t n) { out_.reserve(n); }
    void Push(const int16_t* frames, int count, int channels);
    const std::vector<float>& Output() const { return out_; }
    std::vector<float>& Output() { return out_; }

private:
    std::vector<float> out_;
    double sum_ = 0;
    int have_ = 0;
};

// The same for a stretch already in memory, per channel (mono: second null).
void DecimateInto(const int32_t* left, const int32_t* right, int frames, std::vector<float>& out);

struct Match {
    int64_t position = -1; // decimated index in the karaoke where the stretch starts best; -1: none
    double score = 0;      // normalised correlation there, -1 .. 1
    double runnerUp = 0;   // the best score at least half the stretch's length away
};

// Any stretch of the original correlated against all of the karaoke's
// decimated mix, a piece of the karaoke at a time (overlap-save): the
// transforms are sized from the longest stretch, not from the song, and every
// array is made in Setup, so a song of any length costs the same memory and
// nothing is allocated per Find.
class Locator final {
public:
    // 0, or 1 when the karaoke is empty, maxStretch is not 1 .. 2^22 or the
    // arrays cannot be had.
    // maxStretch: the longest stretch Find will be given. The karaoke is not
    // copied: it must stay as it is while Find is used.
    int Setup(const std::vector<float>& karaoke, int maxStretch);
    // The best place of stretch[0 .. count) (count <= maxStretch) with the
    // stretch wholly inside the karaoke, among the places from `from` to `to`
    // (both included; by default all of them); the runner-up among the same.
    Match Find(const float* stretch, int count, int64_t from = 0, int64_t to = INT64_MAX);

    // The same by direct sums over every position (for tests and as the
    // twin of Find).
    static Match FindReference(const std::vector<float>& karaoke, const float* stretch, int count, int64_t from = 0,
                               int64_t to = INT64_MAX);

    // The transform size Setup chose (0 before a successful Setup).
    int TransformSize() const { return size_; }

private:
    const float* karaoke_ = nullptr;
    int64_t karaokeLen_ = 0;
    int maxStretch_ = 0;
    CPackedRealFFT fft_;
    int size_ = 0;
    SampleArray<float> piece_, spectrum_, stretchSpectrum_;
    std::vector<double> energyPrefix_; // of the piece in hand
    std::vector<double> recent_;       // the scores the runner-up may not take yet
};

} // namespace editsearch

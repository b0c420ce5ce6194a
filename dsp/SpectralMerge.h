// The processing buffer's frequency merge: one stream per channel
// (ThVocalFFT), the two spectral workers that run them in parallel with the
// block loop (SpectralWorkers), and the staging of the karaoke the streams
// read.
#pragma once

#include "BufferParts.h"
#include "BufferUtil.h"
#include "SpectralHandover.h"
#include "Thvofft.h"

#include <chrono>
#include <cstdint>

class SpectralMerge final : public BufferPart {
public:
    SpectralMerge() = default;
    ~SpectralMerge() override;
    SpectralMerge(const SpectralMerge&) = delete;
    SpectralMerge& operator=(const SpectralMerge&) = delete;

    // Starts the second channel's worker unless it runs already (or the
    // streams all run on the caller's thread), configures one stream per
    // channel for frames of 8192 samples, hop 1024, mode 0 = quality first,
    // 1 = extraction first, and sizes the staging arrays for the view's
    // blocks. 0, or 1 when the worker cannot be started or an array cannot be
    // allocated (the merge is then released).
    int Setup(const BufferView& view, int mode, float strength);
    // Stops the worker and frees the streams and arrays.
    void Release();
    // Runs the streams one after the other on the calling thread, the
    // second too (same results). Set before Setup.
    void RunOnCaller(bool on) { onCaller_ = on; }
    // Set up for the first `jobs` channels.
    bool Ready(int jobs) const;

    // The karaoke of channel c from karaoke index `from` on, `count`
    // samples, as one array: the karaoke array itself where the stretch lies
    // inside it, else a copy with zeros outside it.
    const int32_t* Stage(int c, int64_t from, int count);
    // The aligned karaoke of channel c (or, when mid, the mean of both
    // channels') over frames from .. from + count - 1, rounded to whole
    // sample values; the stretch, indexed from `from`.
    const int32_t* StageAligned(int c, int from, int count, bool mid);

    // Streams orig[c][from .. from + count) against kar[c][0 .. count)
    // through the streams of channels c < jobs into out[c][from ..] and
    // returns once every one has finished: the first channel's on this
    // thread, the others' on the workers meanwhile (or here after it, when
    // a worker has not begun its job by then). A wait for the workers
    // that lasts longer than `waitSlice` is counted in `expiredWaits` and
    // waited again: the outputs are read only once every job is done.
    void Process(int from, int count, double gain, const int32_t* const* kar, int jobs,
                 std::chrono::milliseconds waitSlice, int64_t& expiredWaits);
    // No job is left running.
    bool Idle() { return workers_.Wait(std::chrono::milliseconds(0)); }

    // Starts the streams anew.
    void Reset() override;
    int Latency() const override;

private:
    const BufferView* view_ = nullptr;
    bool onCaller_ = false;
    SampleArray<int32_t> stage_[2];   // karaoke stretches that reach outside kar
    SampleArray<int32_t> aligned_[2]; // the aligned karaoke, rounded
    ThVocalFFT streams_[2];
    SpectralWorkers workers_; // last: stopped before anything it runs on goes
};

#include "SpectralMerge.h"

#include "SampleMath.h"

#include <algorithm>

using buffer_util::Allocate;

SpectralMerge::~SpectralMerge()
{
    Release();
}

void SpectralMerge::Release()
{
    workers_.Stop();
    for (auto& stream : streams_) stream.Release();
    for (auto& a : stage_) a.reset();
    for (auto& a : aligned_) a.reset();
}

int SpectralMerge::Setup(const BufferView& view, int mode, float strength)
{
    view_ = &view;
    // The workers are idle between jobs, so the streams may be set up anew
    // while they run. The first channel's stream runs on the caller.
    const int workers = onCaller_ ? 0 : std::min(view.channels, 2) - 1;
    if (workers > 0 && !workers_.Start(workers)) {
        Release();
        return 1;
    }
    for (int c = 0; c < std::min(view.channels, 2); ++c) {
        if (streams_[c].Configure(kSpectralFrameSize, kSpectralOverlap, mode, strength) != 0) {
            Release();
            return 1;
        }
    }
    if (view.blockLen > 0) {
        for (int c = 0; c < 2; ++c) {
            if (!Allocate(stage_[c], view.blockLen) || !Allocate(aligned_[c], view.blockLen)) {
                Release();
                return 1;
            }
        }
    }
    return 0;
}

bool SpectralMerge::Ready(int jobs) const
{
    if (!view_ || jobs < 1 || view_->blockLen <= 0 || !stage_[0]) return false;
    for (int c = 0; c < jobs; ++c)
        if (!streams_[c].Configured()) return false;
    return true;
}

const int32_t* SpectralMerge::Stage(int c, int64_t from, int count)
{
    const int64_t len = view_->karaokeLen;
    const int32_t* kar = view_->kar[c];
    if (from >= 0 && from + count <= len) return kar + from;
    int32_t* stage = stage_[c].get();
    for (int i = 0; i < count; ++i) {
        const int64_t idx = from + i;
        stage[i] = idx >= 0 && idx < len ? kar[idx] : 0;
    }
    return stage;
}

const int32_t* SpectralMerge::StageAligned(int c, int from, int count, bool mid)
{
    int32_t* stage = aligned_[c].get();
    const float* a0 = view_->aligned[0];
    const float* a1 = view_->aligned[1];
    if (mid) {
        for (int i = from; i < from + count; ++i)
            stage[i] = RoundToInt32((static_cast<double>(a0[i]) + a1[i]) * 0.5);
    } else {
        const float* a = view_->aligned[c];
        for (int i = from; i < from + count; ++i) stage[i] = RoundToInt32(a[i]);
    }
    return stage + from;
}

void SpectralMerge::Process(int from, int count, double gain, const int32_t* const* kar, int jobs,
                            std::chrono::milliseconds waitSlice, int64_t& expiredWaits)
{
    int32_t* const* orig = view_->orig;
    int32_t* const* out = view_->out;
    // The first stream runs here while the workers run the others, so this
    // thread has its share of the work instead of waiting for theirs.
    const int first = onCaller_ ? jobs : 1;
    for (int c = first; c < jobs; ++c)
        workers_.Submit(c - first, {&streams_[c], orig[c] + from, kar[c], gain, out[c] + from, count});
    for (int c = 0; c < first; ++c) streams_[c].Run(orig[c] + from, kar[c], gain, out[c] + from, count);
    if (first < jobs)
        while (!workers_.Wait(waitSlice)) ++expiredWaits;
}

void SpectralMerge::Reset()
{
    for (auto& stream : streams_) stream.Reset();
}

int SpectralMerge::Latency() const
{
    return streams_[0].Configured() ? streams_[0].FrameSize() - streams_[0].Hop() : 0;
}

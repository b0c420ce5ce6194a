#include "SpectralMerge.h"

#include "SampleMath.h"

#include <algorithm>
#include <limits>

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

namespace {

// RoundToInt32 in a form the loops below vectorise: the same comparisons,
// the same double arithmetic.
SONVELT_ALWAYS_INLINE int32_t RoundLane(double v)
{
    const double r = v < 0.0 ? v - 0.5 : v + 0.5;
    return r >= 2147483647.0 ? std::numeric_limits<int32_t>::max()
           : r <= -2147483648.0 ? std::numeric_limits<int32_t>::min()
                                : static_cast<int32_t>(r == r ? r : 0.0);
}

SONVELT_ALWAYS_INLINE void RoundSamplesBody(const float* a, int32_t* out, int n)
{
    for (int i = 0; i < n; ++i) out[i] = RoundLane(a[i]);
}
SONVELT_MULTI_ISA(void, RoundSamples, (const float* a, int32_t* out, int n), (a, out, n))

SONVELT_ALWAYS_INLINE void RoundMeansBody(const float* a, const float* b, int32_t* out, int n)
{
    for (int i = 0; i < n; ++i) out[i] = RoundLane((static_cast<double>(a[i]) + b[i]) * 0.5);
}
SONVELT_MULTI_ISA(void, RoundMeans, (const float* a, const float* b, int32_t* out, int n), (a, b, out, n))

} // namespace

const int32_t* SpectralMerge::StageAligned(int c, int from, int count, bool mid)
{
    int32_t* stage = aligned_[c].get() + from;
    if (mid)
        RoundMeans(view_->aligned[0] + from, view_->aligned[1] + from, stage, count);
    else
        RoundSamples(view_->aligned[c] + from, stage, count);
    return stage;
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
    if (first < jobs) {
        for (int c = first; c < jobs; ++c) workers_.TakeBack(c - first);
        while (!workers_.Wait(waitSlice)) ++expiredWaits;
    }
}

void SpectralMerge::Reset()
{
    for (auto& stream : streams_) stream.Reset();
}

int SpectralMerge::Latency() const
{
    return streams_[0].Configured() ? streams_[0].FrameSize() - streams_[0].Hop() : 0;
}

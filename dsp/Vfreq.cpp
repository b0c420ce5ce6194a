// The processing buffer's frequency merge (dispatch to the spectral workers)
// and centre focus.
#include "Vfunc.h"

#include "BufferUtil.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int kFrameSize = 8192;
constexpr int kOverlap = 8;

} // namespace

using buffer_util::ClipRange;

void TVocalFunc::ReleaseSpectral()
{
    // Every worker gets the stop flag and its wake-up first, so they end
    // together; then each is waited for and deleted.
    for (auto& w : workers)
        if (w) w->Terminate();
    for (auto& w : workers) {
        if (w) w->Join();
        w.reset();
    }
    for (auto& e : wakeEvents) e.Reset();
    doneEvent.Reset();
    pending = 0;
    for (auto& k : spectralKar_) k.reset();
}

int TVocalFunc::SetupSpectral(int mode, float strength)
{
    for (int w = 0; w < 2; ++w) {
        if (workers[w]) continue;
        // A wake-up left over from a stopped worker must not start a new one.
        wakeEvents[w].Reset();
        workers[w].reset(new (std::nothrow) ThVocalFFT(&wakeEvents[w], &lock, &pending, &doneEvent));
        if (!workers[w] || !workers[w]->Started()) {
            ReleaseSpectral();
            return 1;
        }
    }
    for (int c = 0; c < std::min(channels, 2); ++c) {
        if (workers[c]->Configure(kFrameSize, kOverlap, mode, strength) != 0) {
            ReleaseSpectral();
            return 1;
        }
    }
    if (blockLen > 0) {
        for (auto& k : spectralKar_) {
            k.reset(static_cast<int32_t*>(std::calloc(static_cast<size_t>(blockLen), sizeof(int32_t))));
            if (!k) {
                ReleaseSpectral();
                return 1;
            }
        }
    }
    return 0;
}

const int32_t* TVocalFunc::StageKaraoke(int c, int64_t from, int count)
{
    if (from >= 0 && from + count <= karaokeLen) return kar[c].get() + from;
    int32_t* stage = spectralKar_[c].get();
    for (int i = 0; i < count; ++i) {
        const int64_t idx = from + i;
        stage[i] = idx >= 0 && idx < karaokeLen ? kar[c][idx] : 0;
    }
    return stage;
}

void TVocalFunc::WaitForWorkers()
{
    // The outputs are read only once every job is finished: an expired wait
    // is counted and waited again.
    while (!doneEvent.WaitFor(spectralWaitSlice)) ++expiredSpectralWaits;
}

void TVocalFunc::SpectralSubtractStereo(int start, int count, double gain, int shift)
{
    const int jobs = std::min(channels, 2);
    if (jobs < 1 || blockLen <= 0 || !spectralKar_[0]) return;
    for (int c = 0; c < jobs; ++c)
        if (!workers[c] || !workers[c]->configured) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);

    doneEvent.Reset();
    {
        std::lock_guard<std::mutex> guard(lock);
        pending = jobs;
    }
    for (int c = 0; c < jobs; ++c) {
        workers[c]->SetJob(orig[c].get() + from, StageKaraoke(c, static_cast<int64_t>(shift) + from, n), gain,
                           out[c].get() + from, n);
        wakeEvents[c].Set();
    }
    WaitForWorkers();
}

void TVocalFunc::SpectralJobs(int from, int n, double gain, const SampleArray<int32_t>* karSrc, int jobs)
{
    if (jobs < 1 || blockLen <= 0 || !spectralKar_[0]) return;
    for (int c = 0; c < jobs; ++c)
        if (!workers[c] || !workers[c]->configured) return;
    doneEvent.Reset();
    {
        std::lock_guard<std::mutex> guard(lock);
        pending = jobs;
    }
    for (int c = 0; c < jobs; ++c) {
        workers[c]->SetJob(orig[c].get() + from, karSrc[c].get() + from, gain, out[c].get() + from, n);
        wakeEvents[c].Set();
    }
    WaitForWorkers();
}

void TVocalFunc::SpectralSubtractMid(int start, int count, double gain, int shift)
{
    if (channels < 1 || blockLen <= 0 || !spectralKar_[0] || !workers[0] || !workers[0]->configured) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);

    for (int i = from; i < from + n; ++i) {
        orig[0][i] = static_cast<int32_t>((int64_t(orig[0][i]) + orig[1][i]) / 2);
        const int64_t idx = static_cast<int64_t>(shift) + i;
        if (idx >= 0 && idx < karaokeLen) kar[0][idx] = static_cast<int32_t>((int64_t(kar[0][idx]) + kar[1][idx]) / 2);
    }
    doneEvent.Reset();
    {
        std::lock_guard<std::mutex> guard(lock);
        pending = 1;
    }
    workers[0]->SetJob(orig[0].get() + from, StageKaraoke(0, static_cast<int64_t>(shift) + from, n), gain,
                       out[0].get() + from, n);
    wakeEvents[0].Set();
    WaitForWorkers();
    if (n > 0) std::memcpy(out[1].get() + from, out[0].get() + from, sizeof(int32_t) * static_cast<size_t>(n));
}

int TVocalFunc::SpectralLatency() const
{
    return workers[0] && workers[0]->configured ? kFrameSize - kFrameSize / kOverlap : 0;
}

int TVocalFunc::CentreFocusLatency() const
{
    return centerFocus.configured ? centerFocus.frameSize - centerFocus.hop : 0;
}

int TVocalFunc::SetupCenterFocus(float strength)
{
    return centerFocus.Configure(kFrameSize, kOverlap, strength);
}

void TVocalFunc::ApplyCenterFocus(int start, int count)
{
    if (!centerFocus.configured || blockLen <= 0) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    int32_t* left = out[0].get() + from;
    int32_t* right = out[1].get() + from;
    centerFocus.Process(left, right, right, left, n);
}

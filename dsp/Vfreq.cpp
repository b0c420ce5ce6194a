// The processing buffer's frequency merge (dispatch to the spectral workers)
// and center focus.
#include "Vfunc.h"

#include "BufferUtil.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kFrameSize = 8192;
constexpr int kOverlap = 8;

} // namespace

using buffer_util::Allocate;
using buffer_util::ClipRange;

void TVocalFunc::ReleaseSpectral()
{
    workers_.Stop();
    for (auto& unit : spectral_) unit.Release();
    for (auto& k : spectralKar_) k.reset();
}

int TVocalFunc::SetupSpectral(int mode, float strength)
{
    // The workers are idle between jobs, so the streams may be set up anew
    // while they run.
    if (!spectralOnCaller_ && !workers_.Start()) {
        ReleaseSpectral();
        return 1;
    }
    for (int c = 0; c < std::min(channels, 2); ++c) {
        if (spectral_[c].Configure(kFrameSize, kOverlap, mode, strength) != 0) {
            ReleaseSpectral();
            return 1;
        }
    }
    if (blockLen > 0) {
        for (auto& k : spectralKar_) {
            if (!Allocate(k, blockLen)) {
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

bool TVocalFunc::SpectralReady(int jobs) const
{
    if (jobs < 1 || blockLen <= 0 || !spectralKar_[0]) return false;
    for (int c = 0; c < jobs; ++c)
        if (!spectral_[c].Configured()) return false;
    return true;
}

void TVocalFunc::SpectralJobs(int from, int n, double gain, const SampleArray<int32_t>* karSrc, int jobs)
{
    if (!SpectralReady(jobs)) return;
    const int32_t* kars[2] = {};
    for (int c = 0; c < jobs; ++c) kars[c] = karSrc[c].get() + from;
    RunSpectral(from, n, gain, kars, jobs);
}

void TVocalFunc::RunSpectral(int from, int n, double gain, const int32_t* const* karSrc, int jobs)
{
    if (spectralOnCaller_) {
        for (int c = 0; c < jobs; ++c) spectral_[c].Run(orig[c].get() + from, karSrc[c], gain, out[c].get() + from, n);
        return;
    }
    for (int c = 0; c < jobs; ++c)
        workers_.Submit(c, {&spectral_[c], orig[c].get() + from, karSrc[c], gain, out[c].get() + from, n});
    // The outputs are read only once every job is finished: an expired wait
    // is counted and waited again.
    while (!workers_.Wait(spectralWaitSlice)) ++expiredSpectralWaits;
}

void TVocalFunc::SpectralSubtractStereo(int start, int count, double gain, int shift)
{
    const int jobs = std::min(channels, 2);
    if (!SpectralReady(jobs)) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    const int32_t* karSrc[2] = {};
    for (int c = 0; c < jobs; ++c) karSrc[c] = StageKaraoke(c, static_cast<int64_t>(shift) + from, n);
    RunSpectral(from, n, gain, karSrc, jobs);
}

void TVocalFunc::SpectralSubtractMid(int start, int count, double gain, int shift)
{
    if (channels < 1 || !SpectralReady(1)) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);

    for (int i = from; i < from + n; ++i) {
        orig[0][i] = static_cast<int32_t>((int64_t(orig[0][i]) + orig[1][i]) / 2);
        const int64_t idx = static_cast<int64_t>(shift) + i;
        if (idx >= 0 && idx < karaokeLen) kar[0][idx] = static_cast<int32_t>((int64_t(kar[0][idx]) + kar[1][idx]) / 2);
    }
    const int32_t* karSrc[1] = {StageKaraoke(0, static_cast<int64_t>(shift) + from, n)};
    RunSpectral(from, n, gain, karSrc, 1);
    if (n > 0) std::memcpy(out[1].get() + from, out[0].get() + from, sizeof(int32_t) * static_cast<size_t>(n));
}

int TVocalFunc::SpectralLatency() const
{
    return spectral_[0].Configured() ? kFrameSize - kFrameSize / kOverlap : 0;
}

int TVocalFunc::CenterFocusLatency() const
{
    return centerFocus.Latency();
}

int TVocalFunc::SetupCenterFocus(float strength)
{
    return centerFocus.Configure(kFrameSize, kOverlap, strength);
}

void TVocalFunc::ApplyCenterFocus(int start, int count)
{
    if (!centerFocus.Configured() || blockLen <= 0) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    int32_t* left = out[0].get() + from;
    int32_t* right = out[1].get() + from;
    centerFocus.Process(left, right, right, left, n);
}

// The processing buffer's frequency merge: the blocks' ranges handed to the
// spectral workers (SpectralMerge.h).
#include "Vfunc.h"

#include "BufferUtil.h"

#include <algorithm>
#include <cstring>

using buffer_util::ClipRange;

int TVocalFunc::SetupSpectral(int mode, float strength)
{
    return spectral_.Setup(view_, mode, strength);
}

void TVocalFunc::RunSpectral(int from, int n, double gain, const int32_t* const* karSrc, int jobs)
{
    spectral_.Process(from, n, gain, karSrc, jobs, spectralWaitSlice, expiredSpectralWaits);
}

void TVocalFunc::SpectralSubtractStereo(int start, int count, double gain, int shift)
{
    const int jobs = std::min(channels, 2);
    if (!spectral_.Ready(jobs)) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    const int32_t* karSrc[2] = {};
    for (int c = 0; c < jobs; ++c) karSrc[c] = spectral_.Stage(c, static_cast<int64_t>(shift) + from, n);
    RunSpectral(from, n, gain, karSrc, jobs);
}

void TVocalFunc::SpectralSubtractMid(int start, int count, double gain, int shift)
{
    if (channels < 1 || !spectral_.Ready(1)) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);

    for (int i = from; i < from + n; ++i) {
        orig[0][i] = static_cast<int32_t>((int64_t(orig[0][i]) + orig[1][i]) / 2);
        const int64_t idx = static_cast<int64_t>(shift) + i;
        if (idx >= 0 && idx < karaokeLen) kar[0][idx] = static_cast<int32_t>((int64_t(kar[0][idx]) + kar[1][idx]) / 2);
    }
    const int32_t* karSrc[1] = {spectral_.Stage(0, static_cast<int64_t>(shift) + from, n)};
    RunSpectral(from, n, gain, karSrc, 1);
    if (n > 0) std::memcpy(out[1].get() + from, out[0].get() + from, sizeof(int32_t) * static_cast<size_t>(n));
}

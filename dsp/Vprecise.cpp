// The processing buffer's precise alignment: the karaoke read between its
// samples (by the precise reader, PreciseReader.h), subtraction and the
// frequency merge against it, and the gain search on it.
//
// The aligned subtractions round to the nearest integer: the truncation of
// the classic subtractions adds up to one step of error of one sign, which a
// voice aligned to a fraction of a frame would otherwise carry as noise.
#include "BufferUtil.h"
#include "SampleMath.h"
#include "Vfunc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using buffer_util::ClipRange;

int TVocalFunc::SetupPrecise()
{
    if (blockLen <= 0) return 1;
    return precise_.Setup(view_);
}

void TVocalFunc::ReadKaraokeAligned(double pos0, double step, int start, int count)
{
    precise_.Read(pos0, step, start, count);
}

void TVocalFunc::SubtractAlignedStereo(int start, int count, double gain)
{
    if (!precise_.Ready()) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    for (int c = 0; c < 2; ++c) {
        const int32_t* o = orig[c].get();
        const float* k = view_.aligned[c];
        int32_t* y = out[c].get();
        for (int i = from; i < from + n; ++i) y[i] = RoundToInt32(static_cast<double>(o[i]) - k[i] * gain);
    }
}

void TVocalFunc::SubtractAlignedMid(int start, int count, double gain)
{
    if (!precise_.Ready()) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    for (int i = from; i < from + n; ++i) {
        const double o = static_cast<double>(orig[0][i]) + orig[1][i];
        const double k = static_cast<double>(view_.aligned[0][i]) + view_.aligned[1][i];
        const int32_t v = RoundToInt32((o - k * gain) * 0.5);
        out[0][i] = v;
        out[1][i] = v;
    }
}

void TVocalFunc::SpectralSubtractAlignedStereo(int start, int count, double gain)
{
    const int jobs = std::min(channels, 2);
    if (!precise_.Ready() || !spectral_.Ready(jobs)) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    const int32_t* karSrc[2] = {};
    for (int c = 0; c < jobs; ++c) karSrc[c] = spectral_.StageAligned(c, from, n, false);
    RunSpectral(from, n, gain, karSrc, jobs);
}

void TVocalFunc::SpectralSubtractAlignedMid(int start, int count, double gain)
{
    if (!precise_.Ready() || !spectral_.Ready(1)) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    const int32_t* karSrc[1] = {spectral_.StageAligned(0, from, n, true)};
    for (int i = from; i < from + n; ++i) orig[0][i] = static_cast<int32_t>((int64_t(orig[0][i]) + orig[1][i]) / 2);
    RunSpectral(from, n, gain, karSrc, 1);
    if (n > 0) std::memcpy(out[1].get() + from, out[0].get() + from, sizeof(int32_t) * static_cast<size_t>(n));
}

namespace {

// The gain among center + k * step (|k| * step <= range) with the smallest
// cost; ties go to the candidate tried first (the smaller |k|).
template <typename Cost>
double SearchGain(Cost cost, double step, double range, double center)
{
    double best = center, bestCost = cost(center);
    const int steps = static_cast<int>(range / step + 1e-9);
    for (int k = 1; k <= steps; ++k)
        for (double g : {center + k * step, center - k * step}) {
            const double v = cost(g);
            if (v < bestCost) {
                bestCost = v;
                best = g;
            }
        }
    return best;
}

} // namespace

double TVocalFunc::FindGainAlignedStereo(int start, int count, double step, double range, double center) const
{
    if (!precise_.Ready() || !(step > 0)) return center;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    return SearchGain(
        [&](double g) {
            double sum = 0;
            for (int c = 0; c < std::min(channels, 2); ++c)
                for (int i = from; i < from + n; ++i) sum += std::fabs(orig[c][i] - view_.aligned[c][i] * g);
            return sum;
        },
        step, range, center);
}

double TVocalFunc::FindGainAlignedMono(int start, int count, double step, double range, double center) const
{
    if (!precise_.Ready() || !(step > 0)) return center;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    return SearchGain(
        [&](double g) {
            double sum = 0;
            for (int i = from; i < from + n; ++i) {
                const double o = static_cast<double>(orig[0][i]) + orig[1][i];
                const double k = static_cast<double>(view_.aligned[0][i]) + view_.aligned[1][i];
                sum += std::fabs(o - k * g);
            }
            return sum;
        },
        step, range, center);
}

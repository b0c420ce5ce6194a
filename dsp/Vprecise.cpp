// The processing buffer's precise alignment: the karaoke read between its
// samples, subtraction and the frequency merge against it, the gain search
// on it, and the least-squares fit of one block's shift.
//
// The aligned subtractions round to the nearest integer: the truncation of
// the classic subtractions adds up to one step of error of one sign, which a
// voice aligned to a fraction of a frame would otherwise carry as noise.
#include "BufferUtil.h"
#include "FracDelay.h"
#include "SampleMath.h"
#include "Vfunc.h"

#include <algorithm>
#include <vector>
#include <cmath>
#include <cstring>

using buffer_util::Allocate;
using buffer_util::ClipRange;

namespace {

int32_t RoundToInt32(double v)
{
    return TruncToInt32(v < 0 ? v - 0.5 : v + 0.5);
}

// Adds to `fit` the products of n original samples (origAt(i), i < n) with
// the karaoke span[margin + i] and its slope, taken inside the span. The
// sums run in four interleaved lanes (sample i in lane i % 4) that are added
// in a fixed order at the end, so they vectorise and give the same result
// on every machine.
template <typename OrigAt>
void AddToFit(TVocalFunc::BlockFit& fit, const float* span, int margin, int n, float* slope, OrigAt origAt)
{
    fracdelay::Slope(span, n + 2 * margin, margin, n, slope);
    constexpr int kLanes = 4;
    double oo[kLanes] = {}, kk[kLanes] = {}, ok[kLanes] = {}, ss[kLanes] = {}, os[kLanes] = {}, ks[kLanes] = {};
    const float* k = span + margin;
    auto add = [&](int l, int j) {
        const double ov = origAt(j), kv = k[j], sv = slope[j];
        oo[l] += ov * ov;
        kk[l] += kv * kv;
        ok[l] += ov * kv;
        ss[l] += sv * sv;
        os[l] += ov * sv;
        ks[l] += kv * sv;
    };
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int l = 0; l < kLanes; ++l) add(l, i + l);
    for (int l = 0; i < n; ++i, ++l) add(l, i);
    auto total = [](const double* a) { return (a[0] + a[2]) + (a[1] + a[3]); };
    fit.oo += total(oo);
    fit.kk += total(kk);
    fit.ok += total(ok);
    fit.ss += total(ss);
    fit.os += total(os);
    fit.ks += total(ks);
    fit.n += n;
}

} // namespace

int TVocalFunc::SetupPrecise()
{
    if (blockLen <= 0) return 1;
    bool ok = true;
    for (int c = 0; c < 2; ++c) {
        ok = ok && Allocate(karF_[c], karaokeLen);
        ok = ok && Allocate(karAligned_[c], blockLen);
        ok = ok && Allocate(karAlignedPcm_[c], blockLen);
    }
    const int64_t span = static_cast<int64_t>(blockLen) + 2 * fracdelay::kTaps;
    ok = ok && Allocate(fitSpan_, span) && Allocate(fitSlope_, blockLen) &&
         Allocate(matchScratch_, blockLen);
    if (!ok) {
        ReleasePrecise();
        return 1;
    }
    return 0;
}

void TVocalFunc::ReleasePrecise()
{
    for (int c = 0; c < 2; ++c) {
        karF_[c].reset();
        karAligned_[c].reset();
        karAlignedPcm_[c].reset();
    }
    fitSpan_.reset();
    fitSlope_.reset();
    matchScratch_.reset();
}

void TVocalFunc::ReadKaraokeAligned(double pos0, double step, int start, int count)
{
    if (!karAligned_[0]) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    if (n <= 0) return;
    pos0 += step * (from - start);
    // Only the karaoke samples the interpolator's taps reach are converted.
    const double last = pos0 + step * (n - 1);
    const double lowPos = std::min(pos0, last), highPos = std::max(pos0, last);
    const int64_t lo = std::clamp<int64_t>(static_cast<int64_t>(std::floor(lowPos)) - fracdelay::kBefore - 1, 0,
                                           karaokeLen);
    const int64_t hi = std::clamp<int64_t>(static_cast<int64_t>(std::floor(highPos)) + fracdelay::kTaps + 1, lo,
                                           karaokeLen);
    for (int c = 0; c < std::min(channels, 2); ++c) {
        float* kf = karF_[c].get();
        for (int64_t i = lo; i < hi; ++i) kf[i] = static_cast<float>(kar[c][i]);
        if (impl_ == search::Impl::Reference)
            fracdelay::ReadAlongReference(kf, karaokeLen, pos0, step, n, karAligned_[c].get() + from);
        else
            fracdelay::ReadAlong(kf, karaokeLen, pos0, step, n, karAligned_[c].get() + from);
    }
    if (channels < 2) std::memset(karAligned_[1].get() + from, 0, sizeof(float) * static_cast<size_t>(n));
}

void TVocalFunc::SubtractAlignedStereo(int start, int count, double gain)
{
    if (!karAligned_[0]) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    for (int c = 0; c < 2; ++c) {
        const int32_t* o = orig[c].get();
        const float* k = karAligned_[c].get();
        int32_t* y = out[c].get();
        for (int i = from; i < from + n; ++i) y[i] = RoundToInt32(static_cast<double>(o[i]) - k[i] * gain);
    }
}

void TVocalFunc::SubtractAlignedMid(int start, int count, double gain)
{
    if (!karAligned_[0]) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    for (int i = from; i < from + n; ++i) {
        const double o = static_cast<double>(orig[0][i]) + orig[1][i];
        const double k = static_cast<double>(karAligned_[0][i]) + karAligned_[1][i];
        const int32_t v = RoundToInt32((o - k * gain) * 0.5);
        out[0][i] = v;
        out[1][i] = v;
    }
}

void TVocalFunc::SpectralSubtractAlignedStereo(int start, int count, double gain)
{
    if (!karAligned_[0]) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    for (int c = 0; c < 2; ++c)
        for (int i = from; i < from + n; ++i) karAlignedPcm_[c][i] = RoundToInt32(karAligned_[c][i]);
    SpectralJobs(from, n, gain, karAlignedPcm_, std::min(channels, 2));
}

void TVocalFunc::SpectralSubtractAlignedMid(int start, int count, double gain)
{
    if (!karAligned_[0]) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    for (int i = from; i < from + n; ++i) {
        orig[0][i] = static_cast<int32_t>((int64_t(orig[0][i]) + orig[1][i]) / 2);
        karAlignedPcm_[0][i] = RoundToInt32((static_cast<double>(karAligned_[0][i]) + karAligned_[1][i]) * 0.5);
    }
    SpectralJobs(from, n, gain, karAlignedPcm_, 1);
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
    if (!karAligned_[0] || !(step > 0)) return center;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    return SearchGain(
        [&](double g) {
            double sum = 0;
            for (int c = 0; c < std::min(channels, 2); ++c)
                for (int i = from; i < from + n; ++i) sum += std::fabs(orig[c][i] - karAligned_[c][i] * g);
            return sum;
        },
        step, range, center);
}

double TVocalFunc::FindGainAlignedMono(int start, int count, double step, double range, double center) const
{
    if (!karAligned_[0] || !(step > 0)) return center;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    return SearchGain(
        [&](double g) {
            double sum = 0;
            for (int i = from; i < from + n; ++i) {
                const double o = static_cast<double>(orig[0][i]) + orig[1][i];
                const double k = static_cast<double>(karAligned_[0][i]) + karAligned_[1][i];
                sum += std::fabs(o - k * g);
            }
            return sum;
        },
        step, range, center);
}

TVocalFunc::BlockFit TVocalFunc::FitBlock(int shift, int start, int count, bool mono)
{
    BlockFit fit;
    if (!fitSpan_) return fit;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    if (n <= 0) return fit;
    const int margin = fracdelay::kTaps;
    float* span = fitSpan_.get();
    float* slope = fitSlope_.get();
    // The karaoke from `margin` before the first sample used to `margin`
    // after the last, as float, so the slope can be taken inside it.
    const int64_t k0 = static_cast<int64_t>(shift) + from - margin;
    const int spanLen = n + 2 * margin;
    auto accumulate = [&](const int32_t* o, const int32_t* k, int64_t len) {
        if (k0 >= 0 && k0 + spanLen <= len) {
            for (int j = 0; j < spanLen; ++j) span[j] = static_cast<float>(k[k0 + j]);
        } else {
            for (int j = 0; j < spanLen; ++j) {
                const int64_t idx = k0 + j;
                span[j] = idx >= 0 && idx < len ? static_cast<float>(k[idx]) : 0.0f;
            }
        }
        AddToFit(fit, span, margin, n, slope, [&](int i) { return static_cast<double>(o[from + i]); });
    };
    if (mono) {
        accumulate(origMono.get(), karMono.get(), karaokeLen);
    } else {
        for (int c = 0; c < std::min(channels, 2); ++c) accumulate(orig[c].get(), kar[c].get(), karaokeLen);
    }
    return fit;
}

TVocalFunc::BlockFit TVocalFunc::FitAligned(int start, int count, bool mid)
{
    BlockFit fit;
    if (!fitSpan_) return fit;
    const int margin = fracdelay::kTaps;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    if (n <= 0 || from < margin || from + n + margin > blockLen) return fit;
    float* span = fitSpan_.get();
    float* slope = fitSlope_.get();
    const int spanLen = n + 2 * margin;
    auto accumulate = [&](auto origAt) {
        AddToFit(fit, span, margin, n, slope, [&](int i) { return origAt(from + i); });
    };
    if (mid) {
        for (int j = 0; j < spanLen; ++j) span[j] = karAligned_[0][from - margin + j] + karAligned_[1][from - margin + j];
        accumulate([&](int i) { return static_cast<double>(orig[0][i]) + orig[1][i]; });
    } else {
        for (int c = 0; c < std::min(channels, 2); ++c) {
            std::memcpy(span, karAligned_[c].get() + from - margin, sizeof(float) * static_cast<size_t>(spanLen));
            accumulate([&](int i) { return static_cast<double>(orig[c][i]); });
        }
    }
    return fit;
}

void TVocalFunc::FilterAligned(const double* taps, int halfTaps, int start, int count)
{
    if (!karAligned_[0] || halfTaps < 0) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    if (n <= 0 || from < halfTaps || from + n + halfTaps > blockLen) return;
    float* y = matchScratch_.get();
    for (int c = 0; c < std::min(channels, 2); ++c) {
        const float* a = karAligned_[c].get();
        for (int i = from; i < from + n; ++i) {
            double sum = 0;
            for (int m = -halfTaps; m <= halfTaps; ++m) sum += taps[m + halfTaps] * a[i + m];
            y[i - from] = static_cast<float>(sum);
        }
        std::memcpy(karAligned_[c].get() + from, y, sizeof(float) * static_cast<size_t>(n));
    }
}

namespace {

// Sum of a[i] * b[i] for i < n in four interleaved lanes added in a fixed
// order.
double LaneDot(const double* a, const double* b, int n)
{
    double acc[4] = {};
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int l = 0; l < 4; ++l) acc[l] += a[i + l] * b[i + l];
    for (int l = 0; i < n; ++i, ++l) acc[l] += a[i] * b[i];
    return (acc[0] + acc[2]) + (acc[1] + acc[3]);
}

} // namespace

void TVocalFunc::AccumulateMatch(int start, int count, int halfTaps, bool mid, double weight, double* gram,
                                 double* cross) const
{
    if (!karAligned_[0] || halfTaps < 0) return;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    if (n <= 0 || from < halfTaps || from + n + halfTaps > blockLen) return;
    const int taps = 2 * halfTaps + 1;
    if (impl_ == search::Impl::Reference) {
        auto accumulate = [&](auto origAt, auto karAt) {
            for (int j = 0; j < taps; ++j) {
                double x = 0;
                for (int i = from; i < from + n; ++i) x += origAt(i) * karAt(i + j - halfTaps);
                cross[j] += weight * x;
                for (int k = j; k < taps; ++k) {
                    double g = 0;
                    for (int i = from; i < from + n; ++i) g += karAt(i + j - halfTaps) * karAt(i + k - halfTaps);
                    gram[j * taps + k] += weight * g;
                    if (k != j) gram[k * taps + j] += weight * g;
                }
            }
        };
        if (mid) {
            accumulate([&](int i) { return static_cast<double>(orig[0][i]) + orig[1][i]; },
                       [&](int i) { return static_cast<double>(karAligned_[0][i]) + karAligned_[1][i]; });
        } else {
            for (int c = 0; c < std::min(channels, 2); ++c)
                accumulate([&](int i) { return static_cast<double>(orig[c][i]); },
                           [&](int i) { return static_cast<double>(karAligned_[c][i]); });
        }
        return;
    }
    // The Gram matrix of shifted copies of one signal: its first row by dot
    // products, every further diagonal step from the one before by adding
    // the product that enters the window and taking off the one that leaves
    // (products of floats and 16-bit samples, exact in double precision, so
    // the steps add no error of their own beyond the sums').
    const size_t span = static_cast<size_t>(n) + 2 * static_cast<size_t>(halfTaps);
    std::vector<double> x(span), o(static_cast<size_t>(n)), g(static_cast<size_t>(taps));
    auto accumulate = [&] {
        for (int j = 0; j < taps; ++j) cross[j] += weight * LaneDot(o.data(), x.data() + j, n);
        for (int d = 0; d < taps; ++d) g[static_cast<size_t>(d)] = LaneDot(x.data(), x.data() + d, n);
        for (int j = 0; j < taps; ++j) {
            if (j > 0) {
                for (int d = 0; d + j < taps; ++d) {
                    const size_t enter = static_cast<size_t>(n + j - 1), leave = static_cast<size_t>(j - 1);
                    g[static_cast<size_t>(d)] += x[enter] * x[enter + static_cast<size_t>(d)] -
                                                 x[leave] * x[leave + static_cast<size_t>(d)];
                }
            }
            for (int d = 0; d + j < taps; ++d) {
                const int k = j + d;
                gram[j * taps + k] += weight * g[static_cast<size_t>(d)];
                if (k != j) gram[k * taps + j] += weight * g[static_cast<size_t>(d)];
            }
        }
    };
    const int first = from - halfTaps;
    if (mid) {
        for (size_t j = 0; j < span; ++j)
            x[j] = static_cast<double>(karAligned_[0][first + static_cast<int>(j)]) + karAligned_[1][first + static_cast<int>(j)];
        for (int i = 0; i < n; ++i) o[static_cast<size_t>(i)] = static_cast<double>(orig[0][from + i]) + orig[1][from + i];
        accumulate();
    } else {
        for (int c = 0; c < std::min(channels, 2); ++c) {
            for (size_t j = 0; j < span; ++j) x[j] = karAligned_[c][first + static_cast<int>(j)];
            for (int i = 0; i < n; ++i) o[static_cast<size_t>(i)] = orig[c][from + i];
            accumulate();
        }
    }
}

double TVocalFunc::AlignedResidual(int start, int count, bool mid) const
{
    if (!karAligned_[0]) return 1;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    double left = 0, energy = 0;
    for (int i = from; i < from + n; ++i) {
        if (mid) {
            const double o = static_cast<double>(orig[0][i]) + orig[1][i];
            const double d = o - (static_cast<double>(karAligned_[0][i]) + karAligned_[1][i]);
            left += d * d;
            energy += o * o;
        } else {
            for (int c = 0; c < std::min(channels, 2); ++c) {
                const double o = orig[c][i];
                const double d = o - karAligned_[c][i];
                left += d * d;
                energy += o * o;
            }
        }
    }
    return energy > 0 ? left / energy : 1;
}

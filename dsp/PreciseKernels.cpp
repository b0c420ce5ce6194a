#include "PreciseKernels.h"

#include "SampleMath.h"

namespace precise {

namespace {

constexpr int kLanes = 4;

SONVELT_ALWAYS_INLINE double LaneTotal(const double* a)
{
    return (a[0] + a[2]) + (a[1] + a[3]);
}

template <bool kSum>
SONVELT_ALWAYS_INLINE void AddBlockFitLanes(BlockFit& fit, const int32_t* orig, const int32_t* orig2,
                                            const float* kar, const float* slope, int n)
{
    double oo[kLanes] = {}, kk[kLanes] = {}, ok[kLanes] = {}, ss[kLanes] = {}, os[kLanes] = {}, ks[kLanes] = {};
    auto add = [&](int l, int i) SONVELT_ALWAYS_INLINE_LAMBDA {
        const double ov = kSum ? static_cast<double>(orig[i]) + orig2[i] : static_cast<double>(orig[i]);
        const double kv = kar[i], sv = slope[i];
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
    fit.oo += LaneTotal(oo);
    fit.kk += LaneTotal(kk);
    fit.ok += LaneTotal(ok);
    fit.ss += LaneTotal(ss);
    fit.os += LaneTotal(os);
    fit.ks += LaneTotal(ks);
    fit.n += n;
}

SONVELT_ALWAYS_INLINE void AddBlockFitFastBody(BlockFit& fit, const int32_t* orig, const int32_t* orig2,
                                           const float* kar, const float* slope, int n)
{
    if (orig2)
        AddBlockFitLanes<true>(fit, orig, orig2, kar, slope, n);
    else
        AddBlockFitLanes<false>(fit, orig, orig2, kar, slope, n);
}

SONVELT_MULTI_ISA(void, AddBlockFitFast,
                  (BlockFit & fit, const int32_t* orig, const int32_t* orig2, const float* kar, const float* slope,
                   int n),
                  (fit, orig, orig2, kar, slope, n))

// Sum of a[i] * b[i] for i < n in four interleaved lanes.
SONVELT_ALWAYS_INLINE double LaneDot(const double* a, const double* b, int n)
{
    double acc[kLanes] = {};
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int l = 0; l < kLanes; ++l) acc[l] += a[i + l] * b[i + l];
    for (int l = 0; i < n; ++i, ++l) acc[l] += a[i] * b[i];
    return LaneTotal(acc);
}

// The Gram matrix of shifted copies of one signal: the first row of each
// diagonal by dot products, every further step along it from the one
// before by adding the product that enters the window and taking off the
// one that leaves (products of floats and 16-bit samples, exact in double
// precision, so the steps add no error of their own beyond the sums').
SONVELT_ALWAYS_INLINE void AccumulateMatchFastBody(const double* orig, const double* kar, int n, int halfTaps,
                                               double weight, double* gram, double* cross)
{
    const int taps = 2 * halfTaps + 1;
    double diagonal[2 * kMaxHalfTaps + 1];
    for (int j = 0; j < taps; ++j) cross[j] += weight * LaneDot(orig, kar + j, n);
    for (int d = 0; d < taps; ++d) diagonal[d] = LaneDot(kar, kar + d, n);
    for (int j = 0; j < taps; ++j) {
        if (j > 0) {
            const int enter = n + j - 1, leave = j - 1;
            for (int d = 0; d + j < taps; ++d)
                diagonal[d] += kar[enter] * kar[enter + d] - kar[leave] * kar[leave + d];
        }
        for (int d = 0; d + j < taps; ++d) {
            const int k = j + d;
            gram[j * taps + k] += weight * diagonal[d];
            if (k != j) gram[k * taps + j] += weight * diagonal[d];
        }
    }
}

SONVELT_MULTI_ISA(void, AccumulateMatchFast,
                  (const double* orig, const double* kar, int n, int halfTaps, double weight, double* gram,
                   double* cross),
                  (orig, kar, n, halfTaps, weight, gram, cross))

// Outputs computed side by side, each in its own accumulator.
constexpr int kFilterLanes = 64;

SONVELT_ALWAYS_INLINE void FilterAlignedFastBody(const float* in, const double* taps, int halfTaps, int n, float* out)
{
    const int width = 2 * halfTaps + 1;
    int i0 = 0;
    for (; i0 + kFilterLanes <= n; i0 += kFilterLanes) {
        double acc[kFilterLanes] = {};
        for (int m = 0; m < width; ++m) {
            const double t = taps[m];
            const float* x = in + i0 + m;
            for (int l = 0; l < kFilterLanes; ++l) acc[l] = acc[l] + t * x[l];
        }
        for (int l = 0; l < kFilterLanes; ++l) out[i0 + l] = static_cast<float>(acc[l]);
    }
    for (; i0 < n; ++i0) {
        double sum = 0;
        for (int m = 0; m < width; ++m) sum = sum + taps[m] * in[i0 + m];
        out[i0] = static_cast<float>(sum);
    }
}

SONVELT_MULTI_ISA(void, FilterAlignedFast,
                  (const float* in, const double* taps, int halfTaps, int n, float* out),
                  (in, taps, halfTaps, n, out))

} // namespace

void AddBlockFit(BlockFit& fit, const int32_t* orig, const int32_t* orig2, const float* kar, const float* slope,
                 int n)
{
    if (n > 0) AddBlockFitFast(fit, orig, orig2, kar, slope, n);
}

void AddBlockFitReference(BlockFit& fit, const int32_t* orig, const int32_t* orig2, const float* kar,
                          const float* slope, int n)
{
    for (int i = 0; i < n; ++i) {
        const double ov = static_cast<double>(orig[i]) + (orig2 ? orig2[i] : 0);
        const double kv = kar[i], sv = slope[i];
        fit.oo += ov * ov;
        fit.kk += kv * kv;
        fit.ok += ov * kv;
        fit.ss += sv * sv;
        fit.os += ov * sv;
        fit.ks += kv * sv;
    }
    if (n > 0) fit.n += n;
}

void AccumulateMatch(const double* orig, const double* kar, int n, int halfTaps, double weight, double* gram,
                     double* cross)
{
    if (n <= 0 || halfTaps < 0 || halfTaps > kMaxHalfTaps) return;
    AccumulateMatchFast(orig, kar, n, halfTaps, weight, gram, cross);
}

void AccumulateMatchReference(const double* orig, const double* kar, int n, int halfTaps, double weight,
                              double* gram, double* cross)
{
    if (n <= 0 || halfTaps < 0 || halfTaps > kMaxHalfTaps) return;
    const int taps = 2 * halfTaps + 1;
    for (int j = 0; j < taps; ++j) {
        double x = 0;
        for (int i = 0; i < n; ++i) x += orig[i] * kar[i + j];
        cross[j] += weight * x;
        for (int k = j; k < taps; ++k) {
            double g = 0;
            for (int i = 0; i < n; ++i) g += kar[i + j] * kar[i + k];
            gram[j * taps + k] += weight * g;
            if (k != j) gram[k * taps + j] += weight * g;
        }
    }
}

void FilterAligned(const float* in, const double* taps, int halfTaps, int n, float* out)
{
    if (n > 0 && halfTaps >= 0) FilterAlignedFast(in, taps, halfTaps, n, out);
}

void FilterAlignedReference(const float* in, const double* taps, int halfTaps, int n, float* out)
{
    if (halfTaps < 0) return;
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        for (int m = -halfTaps; m <= halfTaps; ++m) sum += taps[m + halfTaps] * in[halfTaps + i + m];
        out[i] = static_cast<float>(sum);
    }
}

} // namespace precise

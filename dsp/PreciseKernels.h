// The sums of precise alignment over plain arrays: one block's least-squares
// fit of its fractional shift and gain, the normal equations of the short
// filter that matches a differently mastered karaoke to the original, and
// that filter applied. Each fast kernel has a plain twin it is tested
// against on every instruction set; the fast ones give the same result on
// every machine (their lanes are added in a fixed order).
#pragma once

#include <cstdint>

namespace precise {

// One block's sums of the fit orig ~ g * kar(i + d), linearised as
// g * kar[i] + h * slope[i] with d = h / g: o the original, k the karaoke,
// s its slope (o.o, k.k, o.k, s.s, o.s, k.s over the n samples used).
struct BlockFit {
    double oo = 0, kk = 0, ok = 0, ss = 0, os = 0, ks = 0;
    int64_t n = 0;
};

// Adds to `fit` the products over i < n of the original o[i] (orig[i], or
// orig[i] + orig2[i] when orig2 is not null: the channels' sum) with kar[i]
// and slope[i]. The sums run in four interleaved lanes (sample i in lane
// i % 4), added as (0 + 2) + (1 + 3) at the end.
void AddBlockFit(BlockFit& fit, const int32_t* orig, const int32_t* orig2, const float* kar, const float* slope,
                 int n);
// The same with one running sum per product, in order.
void AddBlockFitReference(BlockFit& fit, const int32_t* orig, const int32_t* orig2, const float* kar,
                          const float* slope, int n);

// The largest half-width of the matching filter the kernels take.
constexpr int kMaxHalfTaps = 32;

// Adds `weight` times the normal equations of the filter fit orig[i] ~ sum
// over m of taps[m + h] * kar[h + i + m], |m| <= h = halfTaps, over i < n:
// gram ((2h + 1)^2, row-major) the products of the karaoke at lags m and m',
// cross (2h + 1) the original's products with it at lag m. kar holds n + 2h
// samples. Nothing for halfTaps outside 0 .. kMaxHalfTaps. The fast kernel
// takes the first row of each diagonal by dot products in four lanes and
// steps along the diagonal by the product that enters the window and the
// one that leaves it.
void AccumulateMatch(const double* orig, const double* kar, int n, int halfTaps, double weight, double* gram,
                     double* cross);
// The same from every product, each sum in order.
void AccumulateMatchReference(const double* orig, const double* kar, int n, int halfTaps, double weight,
                              double* gram, double* cross);

// out[i] = sum over m of taps[m + h] * in[h + i + m], |m| <= h = halfTaps,
// for i < n, summed in double precision in order of ascending m, then
// rounded to float. in holds n + 2h samples and must not overlap out. The
// fast kernel computes many outputs side by side, each in its own
// accumulator, so both give the same result to the last bit.
void FilterAligned(const float* in, const double* taps, int halfTaps, int n, float* out);
void FilterAlignedReference(const float* in, const double* taps, int halfTaps, int n, float* out);

} // namespace precise

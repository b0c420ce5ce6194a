// The vectors of the packed real transforms' split and merge passes, and
// the pairs of points those passes take together (k and N - k), for the
// kernels that work on a packed spectrum directly. Each pass is compiled for
// several instruction sets: everything here is inlined into each copy, and
// no vector crosses a function boundary.
#pragma once

#include "SampleMath.h"

#include <cstdint>
#include <cstring>

namespace packed {

constexpr int kLanes = 16;
typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));
typedef int32_t LaneIndex __attribute__((vector_size(kLanes * sizeof(int32_t))));

SONVELT_ALWAYS_INLINE Lanes LoadLanes(const float* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

SONVELT_ALWAYS_INLINE void StoreLanes(float* p, Lanes v)
{
    std::memcpy(p, &v, sizeof v);
}

// Shuffles of 16 complex points held as two vectors of interleaved parts:
// the real and the imaginary parts in order, the same reversed, and back.
constexpr LaneIndex kRealParts = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
constexpr LaneIndex kImagParts = {1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31};
constexpr LaneIndex kRealPartsReversed = {30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0};
constexpr LaneIndex kImagPartsReversed = {31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1};
constexpr LaneIndex kFirstEight = {0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23};
constexpr LaneIndex kLastEight = {8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31};
constexpr LaneIndex kLastEightReversed = {15, 31, 14, 30, 13, 29, 12, 28, 11, 27, 10, 26, 9, 25, 8, 24};
constexpr LaneIndex kFirstEightReversed = {7, 23, 6, 22, 5, 21, 4, 20, 3, 19, 2, 18, 1, 17, 0, 16};

// Points k .. k + 15 of p (interleaved) as real and imaginary parts.
SONVELT_ALWAYS_INLINE void LoadPoints(const float* p, int k, Lanes& re, Lanes& im)
{
    const Lanes a = LoadLanes(p + 2 * k), b = LoadLanes(p + 2 * k + kLanes);
    re = __builtin_shuffle(a, b, kRealParts);
    im = __builtin_shuffle(a, b, kImagParts);
}

// Points last, last - 1, .. last - 15 of p.
SONVELT_ALWAYS_INLINE void LoadPointsReversed(const float* p, int last, Lanes& re, Lanes& im)
{
    const Lanes a = LoadLanes(p + 2 * (last - 15)), b = LoadLanes(p + 2 * (last - 7));
    re = __builtin_shuffle(a, b, kRealPartsReversed);
    im = __builtin_shuffle(a, b, kImagPartsReversed);
}

SONVELT_ALWAYS_INLINE void StorePoints(float* p, int k, Lanes re, Lanes im)
{
    StoreLanes(p + 2 * k, __builtin_shuffle(re, im, kFirstEight));
    StoreLanes(p + 2 * k + kLanes, __builtin_shuffle(re, im, kLastEight));
}

SONVELT_ALWAYS_INLINE void StorePointsReversed(float* p, int last, Lanes re, Lanes im)
{
    StoreLanes(p + 2 * (last - 15), __builtin_shuffle(re, im, kLastEightReversed));
    StoreLanes(p + 2 * (last - 7), __builtin_shuffle(re, im, kFirstEightReversed));
}

// One pair of the forward split, on floats or on lanes alike.
template <typename T>
SONVELT_ALWAYS_INLINE void SplitPair(T ar, T ai, T br, T bi, T wr, T wi, T& xr, T& xi, T& yr, T& yi)
{
    const T er = 0.5f * (ar + br), ei = 0.5f * (ai - bi);
    const T orr = 0.5f * (ai + bi), oi = 0.5f * (br - ar);
    const T tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
    xr = er + tr;
    xi = ei + ti;
    yr = er - tr;
    yi = ti - ei;
}

// One pair of the inverse merge.
template <typename T>
SONVELT_ALWAYS_INLINE void MergePair(T ar, T ai, T br, T bi, T wr, T wi, T& xr, T& xi, T& yr, T& yi)
{
    const T er = ar + br, ei = ai - bi, dr = ar - br, di = ai + bi;
    const T tr = wr * dr + wi * di, ti = wr * di - wi * dr;
    xr = er - ti;
    xi = ei + tr;
    yr = er + ti;
    yi = tr - ei;
}

} // namespace packed

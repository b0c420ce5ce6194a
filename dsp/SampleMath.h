// Small helpers shared by the sample kernels: saturating truncation to int32
// and the attribute that builds a kernel for several instruction sets with
// run-time selection.
#pragma once

#include <cstdint>
#include <limits>

// Truncation toward zero into int32. Values beyond the int32 range saturate and
// NaN gives 0, so no input leads to an undefined conversion. Within the range
// the result is exactly the truncated value.
inline int32_t TruncToInt32(double v)
{
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    if (v != v) return 0;
    return static_cast<int32_t>(v);
}

inline int32_t TruncToInt32(float v) { return TruncToInt32(static_cast<double>(v)); }

// Negation that saturates at the int32 limits.
inline int32_t NegateInt32(int32_t v)
{
    return v == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max() : -v;
}

// Kernels marked SONVELT_KERNEL_CLONES are compiled for the baseline x86-64, AVX2
// and AVX-512 and the loader picks the best one for the running CPU. Other
// platforms and compilers get the plain build.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define SONVELT_KERNEL_CLONES __attribute__((target_clones("default", "avx2", "avx512f")))
#endif
#endif
#ifndef SONVELT_KERNEL_CLONES
#define SONVELT_KERNEL_CLONES
#endif

#if defined(__GNUC__)
#define SONVELT_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define SONVELT_ALWAYS_INLINE inline
#endif

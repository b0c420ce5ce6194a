// Small helpers shared by the sample kernels: saturating truncation to int32
// (the rule itself is in base/IntConvert.h) and building a kernel for several
// instruction sets with run-time selection.
#pragma once

#include "IntConvert.h"

#include <cstdint>
#include <limits>

// Truncation toward zero into int32 (saturating, NaN to 0) for single
// precision too: through double, where every float is exact.
inline int32_t TruncToInt32(float v) { return TruncToInt32(static_cast<double>(v)); }

// Rounding to the nearest int32, halves away from zero (saturating, NaN to 0).
inline int32_t RoundToInt32(double v) { return TruncToInt32(v < 0 ? v - 0.5 : v + 0.5); }

// Negation that saturates at the int32 limits.
inline int32_t NegateInt32(int32_t v)
{
    return v == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max() : -v;
}

// SONVELT_ALWAYS_INLINE_LAMBDA goes after a lambda's parameter list: a lambda
// inside a kernel is then compiled into each instruction-set copy as well.
#if defined(__GNUC__)
#define SONVELT_ALWAYS_INLINE inline __attribute__((always_inline))
#define SONVELT_ALWAYS_INLINE_LAMBDA __attribute__((always_inline))
#else
#define SONVELT_ALWAYS_INLINE inline
#define SONVELT_ALWAYS_INLINE_LAMBDA
#endif

// Instruction-set levels a kernel is built for. The best one the CPU supports
// is used unless a lower one is forced (tests and benchmarks compare them).
enum class Isa { Baseline, Avx2, Avx512 };

Isa DetectedIsa();                // best level this CPU supports
Isa ActiveIsa();                  // level the kernels use now
void ForceIsa(Isa isa);           // use isa, or the detected level if that is lower
const char* IsaName(Isa isa);

// SONVELT_MULTI_ISA(ret, Name, (params), (args)) defines Name(params), which
// runs NameBody(args) compiled for the active level. NameBody must be declared
// SONVELT_ALWAYS_INLINE so that each copy is compiled for its own level.
#if defined(__x86_64__) && defined(__GNUC__)
#define SONVELT_MULTI_ISA(ret, name, params, args)                                  \
    __attribute__((target("avx512f"))) ret name##Avx512 params { return name##Body args; } \
    __attribute__((target("avx2"))) ret name##Avx2 params { return name##Body args; }     \
    ret name##Baseline params { return name##Body args; }                               \
    ret name params                                                                     \
    {                                                                                   \
        switch (ActiveIsa()) {                                                          \
        case Isa::Avx512: return name##Avx512 args;                                     \
        case Isa::Avx2: return name##Avx2 args;                                         \
        default: return name##Baseline args;                                            \
        }                                                                               \
    }
#else
#define SONVELT_MULTI_ISA(ret, name, params, args) \
    ret name params { return name##Body args; }
#endif

#include "SampleMath.h"

#include <atomic>

namespace {

Isa Detect()
{
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return Isa::Avx512;
    if (__builtin_cpu_supports("avx2")) return Isa::Avx2;
#endif
    return Isa::Baseline;
}

std::atomic<Isa>& Active()
{
    static std::atomic<Isa> active{DetectedIsa()};
    return active;
}

} // namespace

Isa DetectedIsa()
{
    static const Isa detected = Detect();
    return detected;
}

Isa ActiveIsa()
{
    return Active().load(std::memory_order_relaxed);
}

void ForceIsa(Isa isa)
{
    Active().store(static_cast<int>(isa) <= static_cast<int>(DetectedIsa()) ? isa : DetectedIsa(),
                   std::memory_order_relaxed);
}

const char* IsaName(Isa isa)
{
    switch (isa) {
    case Isa::Avx512: return "avx512";
    case Isa::Avx2: return "avx2";
    default: return "baseline";
    }
}

// Helpers the processing buffer's units share: allocating its arrays and
// clipping a range of a block.
#pragma once

#include "Vfunc.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace buffer_util {

// count zeroed elements. calloc: overflow-checked, and for large arrays
// backed by pages that cost nothing until they are used.
template <typename T>
bool Allocate(SampleArray<T>& a, int64_t count)
{
    a.reset(static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T))));
    return a != nullptr;
}

// [from, from + n) = [start, start + count) clipped to [0, len).
inline void ClipRange(int start, int count, int len, int& from, int& n)
{
    const int64_t f = std::clamp<int64_t>(start, 0, len);
    const int64_t t = std::clamp<int64_t>(static_cast<int64_t>(start) + count, f, len);
    from = static_cast<int>(f);
    n = static_cast<int>(t - f);
}

} // namespace buffer_util

// The dsp units' sample arrays: the one array type, its two allocators, and
// clipping a range of a block.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// An array from Allocate or AllocateAligned (released with std::free),
// indexed by signed sample positions.
template <typename T>
class SampleArray : public std::unique_ptr<T[], FreeDeleter> {
public:
    using std::unique_ptr<T[], FreeDeleter>::unique_ptr;
    T& operator[](std::ptrdiff_t i) const { return this->get()[i]; }
};

namespace buffer_util {

// count zeroed elements. calloc: overflow-checked, and for large arrays
// backed by pages that cost nothing until they are used.
template <typename T>
bool Allocate(SampleArray<T>& a, int64_t count)
{
    a.reset(static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T))));
    return a != nullptr;
}

// count zeroed elements at a 64-byte boundary, for the widest vector loads
// and the transforms' plans. False (and an empty array) on failure.
template <typename T>
bool AllocateAligned(SampleArray<T>& a, size_t count)
{
    a.reset();
    if (count == 0 || count > (SIZE_MAX - 63) / sizeof(T)) return false;
    const size_t bytes = (count * sizeof(T) + 63) / 64 * 64;
    void* p = std::aligned_alloc(64, bytes);
    if (p == nullptr) return false;
    std::memset(p, 0, bytes);
    a.reset(static_cast<T*>(p));
    return true;
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

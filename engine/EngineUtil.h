// Small helpers the engine's units share.
#pragma once

#include <cstdint>
#include <cstring>

namespace engine_util {

constexpr double kHuge = 1.7e308;

// Frames to bytes of 16-bit samples.
inline int32_t Bytes(int frames, int channels) { return frames * channels * 2; }

// Clears the bytes of a buffer that a short read left unfilled.
inline void ZeroTail(int16_t* pcm, int32_t got, int32_t size) {
    if (got < 0) got = 0;
    if (got < size) std::memset(reinterpret_cast<char*>(pcm) + got, 0, size_t(size - got));
}

} // namespace engine_util

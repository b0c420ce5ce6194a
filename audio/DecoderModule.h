// The decoder as a loadable module: the FFmpeg libraries and the hundred
// libraries they pull in are mapped only when a file needs them, so a run on
// 16-bit WAVE files starts without them. DecoderLoader.cpp finds and opens
// the module on first use; Decoder.cpp, built into the module, exports the
// entry below.
#pragma once

#include "Decoder.h"

#include <functional>
#include <string>

struct DecoderModuleApi {
    int version;
    int (*probe)(const std::string& path, AudioInfo& info, std::string* error);
    int (*decode)(const std::string& path, const std::string& wavePath, int targetRate, int targetChannels,
                  std::string* error, const DecodeProgress& progress, DecodeReport* report);
    int (*encode)(int waveFd, int flacFd, std::string* error);
};

// Raised whenever the table or the types it passes change, so that a module
// of another build is refused rather than called.
inline constexpr int kDecoderModuleVersion = 4;
inline constexpr const char* kDecoderModuleEntry = "sonvelt_decoder_module";
inline constexpr const char* kDecoderModuleFile = "libsonvelt_ffmpeg.so";

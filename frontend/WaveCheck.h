// The check that decides whether a file can be offered as an input, and the
// format line shown for it. Shared by the window and the command line.
#pragma once

#include <string>

struct WaveFormat;

// Warning texts, UTF-8, with their padding of ideographic spaces.
namespace WaveCheckText {
inline constexpr const char* kCannotOpen = "\n无法打开文件\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000";
inline constexpr const char* kDamaged =
    "\n这是不能被处理的文件格式\u3000\n或文件被损坏"
    "\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000";
inline constexpr const char* kBadWaveFormat = "\n这是不能被处理的WAVE文件格式\u3000丅";
inline constexpr const char* kMono = "单声道\u3000";
inline constexpr const char* kStereo = "立体声\u3000";
} // namespace WaveCheckText

struct WaveCheckResult {
    int result = 1;       // 0 accepted, 1 rejected
    std::string warning;  // the warning to show, empty when accepted
    std::string label;    // the format line, empty when rejected
};

// Opens `path` as a WAVE file and judges it: PCM with one or two channels and
// a consistent frame size is accepted (any bit depth).
WaveCheckResult CheckWaveFileText(const std::string& path);

// "44.100kHz 16位　　 立体声　" for a format block.
std::string FormatLabel(const WaveFormat& format);

// The file-name part of a path in double quotes: the start of every message
// about a file.
std::string QuotedFileName(const std::string& path);

// A message without the runs of ideographic spaces that pad its lines, for
// terminals and logs.
std::string StripPadding(const std::string& message);

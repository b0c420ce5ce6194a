// The check that decides whether a file can be offered as an input, and the
// format line shown for it. Shared by the window and the command line.
#pragma once

#include "Decoder.h"

#include <string>

class TWaveData;
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
// The first line of kDamaged: a file that holds sound in a form we cannot use.
inline constexpr const char* kCannotProcess = "\n这是不能被处理的文件格式";
// What the file dialogs offer besides the WAVE filter, and the extensions
// that a drop accepts.
inline constexpr const char* kAudioFilter =
    "音频文件 (*.wav *.wave *.flac *.mp3 *.m4a *.aac *.mp4 *.ogg *.oga *.opus *.aif *.aiff *.aifc)";
} // namespace WaveCheckText

// A message about one file, in parts that each front end arranges its own
// way: the window shows the file's name in quotes, then the text and the
// detail (WindowText); the command line "sonvelt-cli: PATH: text (detail;
// cause)".
struct FileMessage {
    std::string path;   // as given
    std::string text;   // one of the system's message texts, kept exactly (its leading line feed and padding)
    std::string detail; // what was found, in English; may be empty
    std::string cause;  // the system's reason ("No such file or directory"), for the command line; may be empty
    std::string WindowText() const;
};

struct WaveCheckResult {
    int result = 1;       // 0 accepted, 1 rejected
    std::string warning;  // the warning to show, empty when accepted (problem.WindowText())
    FileMessage problem;  // the same in its parts
    std::string label;    // the format line, empty when rejected
    // Accepted files: true for a 16-bit PCM WAVE file that is read as it is,
    // false for one that is decoded before a run.
    bool direct = false;
    AudioInfo info;       // what was found (also for most rejections)
};

// Judges a file as an input. A 16-bit PCM WAVE file with one or two channels
// and a consistent frame size is accepted as it is; any other file the
// decoder reads with one or two channels (WAVE of other depths, float or
// extensible, FLAC, MP3, AAC/M4A, Ogg Vorbis, Opus, AIFF) is accepted for
// decoding. Either needs a sampling rate within kMinSampleRate and
// kMaxSampleRate. Rejections name the file and say what was found.
WaveCheckResult CheckWaveFileText(const std::string& path);
// The same, opened once: a file accepted as it is (`direct`) is left open
// for reading in `wave`; otherwise `wave` is closed and the file is for the
// decoder.
WaveCheckResult CheckInputFile(const std::string& path, TWaveData& wave);

// Why a file cannot be opened for reading, in the system's words ("No such
// file or directory", "Permission denied", "Is a directory"), or "not a
// regular file"; empty when it can be.
std::string WhyUnreadable(const std::string& path);

// Whether two names lead to one file (another spelling, a link); also for
// names that do not exist when they are the same text.
bool SameFile(const std::string& a, const std::string& b);

// The format line of a decoded file: "44.100kHz 24位　　 立体声　FLAC".
std::string AudioLabel(const AudioInfo& info);

// One line for `sonvelt-cli info`: container, codec, rate, bits, channels and
// duration.
std::string AudioSummary(const AudioInfo& info);

// Whether a dropped file's extension is one the decoder reads.
bool IsAudioExtension(const std::string& path);

// "44.100kHz 16位　　 立体声　" for a format block.
std::string FormatLabel(const WaveFormat& format);

// The file-name part of a path in double quotes: the start of every message
// about a file.
std::string QuotedFileName(const std::string& path);

// The whole path in double quotes, for a path inside a sentence on the
// command line.
std::string QuotedPath(const std::string& path);

// A message without the runs of ideographic spaces that pad its lines, for
// terminals and logs.
std::string StripPadding(const std::string& message);

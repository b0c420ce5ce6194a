#include "WaveCheck.h"

#include "JobSetup.h"
#include "Twave.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

std::string QuotedFileName(const std::string& path) {
    return "\"" + std::filesystem::path(path).filename().string() + "\"";
}

std::string QuotedPath(const std::string& path) { return "\"" + path + "\""; }

std::string FormatLabel(const WaveFormat& f) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.3fkHz %d位\u3000\u3000 %s", f.nSamplesPerSec * 0.001,
                  int(f.wBitsPerSample), f.nChannels == 1 ? WaveCheckText::kMono : WaveCheckText::kStereo);
    return buf;
}

namespace {

// A frame size that does not match the channels and sample width would make
// every position in the file wrong.
bool ConsistentFrame(const WaveFormat& f) {
    int bytesPerSample = (f.wBitsPerSample + 7) / 8;
    return f.nChannels != 0 && f.nBlockAlign != 0 && f.nBlockAlign == f.nChannels * bytesPerSample;
}

std::string Channels(int n) { return std::to_string(n) + (n == 1 ? " channel" : " channels"); }

std::string TooManyChannels(int rate, int channels) {
    return std::to_string(rate) + " Hz, " + Channels(channels) + ": at most 2 channels";
}

// What a 16-bit PCM WAVE file read as it is holds.
AudioInfo DirectInfo(const TWaveData& w, const std::string& path) {
    AudioInfo i;
    i.container = "WAVE";
    i.codec = "pcm_s16le";
    i.sampleRate = int(w.Format.nSamplesPerSec);
    i.channels = w.Format.nChannels;
    i.bits = 16;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    int64_t bytes = w.DataBytes;
    if (!ec) bytes = std::min<int64_t>(bytes, std::max<int64_t>(0, int64_t(size) - w.DataStart));
    if (i.sampleRate > 0) i.seconds = double(bytes / w.Format.nBlockAlign) / i.sampleRate;
    i.bitRate = int64_t(w.Format.nSamplesPerSec) * w.Format.nBlockAlign * 8;
    return i;
}

} // namespace

std::string AudioLabel(const AudioInfo& a) {
    char buf[160];
    std::string depth;
    if (a.bits > 0)
        depth = std::to_string(a.bits) + "位";
    else if (a.bitRate > 0)
        depth = std::to_string((a.bitRate + 500) / 1000) + "kbps";
    // A WAVE file needs no container name; other containers are named.
    std::string kind = a.container == "WAVE" ? "" : a.container;
    if (a.isFloat) kind += kind.empty() ? "float" : " float";
    std::snprintf(buf, sizeof buf, "%.3fkHz %s\u3000\u3000 %s%s", a.sampleRate * 0.001, depth.c_str(),
                  a.channels == 1 ? WaveCheckText::kMono : WaveCheckText::kStereo, kind.c_str());
    return buf;
}

std::string AudioSummary(const AudioInfo& a) {
    char duration[64];
    const double s = std::max(0.0, a.seconds);
    const long whole = long(s);
    std::snprintf(duration, sizeof duration, "%ld:%02ld:%06.3f", whole / 3600, whole / 60 % 60,
                  s - double(whole / 60 * 60));
    std::string out = a.container + " (" + a.codec + "), " + std::to_string(a.sampleRate) + " Hz, ";
    if (a.bits > 0)
        out += std::to_string(a.bits) + (a.isFloat ? "-bit float" : " bits");
    else
        out += "lossy" + (a.bitRate > 0 ? " " + std::to_string((a.bitRate + 500) / 1000) + " kbit/s" : std::string());
    return out + ", " + Channels(a.channels) + ", " + duration;
}

bool IsAudioExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext.size() < 2) return false;
    // The patterns of the dialog's filter, "(*.wav *.flac ...)".
    std::string patterns = WaveCheckText::kAudioFilter;
    patterns = " " + patterns.substr(patterns.find('(') + 1);
    patterns.back() = ' ';
    return patterns.find(" *" + ext + " ") != std::string::npos;
}

std::string FileMessage::WindowText() const {
    return QuotedFileName(path) + text + (detail.empty() ? "" : "\n" + detail);
}

std::string WhyUnreadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    const int error = errno;
    ::close(fd);
    if (!statted) return std::strerror(error);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    return S_ISREG(st.st_mode) ? "" : "not a regular file";
}

namespace {

void Reject(WaveCheckResult& r, const std::string& path, const std::string& text, const std::string& detail,
            const std::string& cause = "") {
    r.problem = {path, text, detail, cause};
    r.warning = r.problem.WindowText();
}

} // namespace

WaveCheckResult CheckWaveFileText(const std::string& path) {
    TWaveData wave;
    return CheckInputFile(path, wave);
}

WaveCheckResult CheckInputFile(const std::string& path, TWaveData& wave) {
    WaveCheckResult r;
    wave.Close();
    const int open = wave.OpenRead(path);
    const WaveFormat f = wave.Format;
    // A header's rate that no recording has (0, 0xFFFFFFFF, 1 Hz) is refused
    // here, naming this file, as it would be when decoding.
    if (open == 0 && !SampleRateProblem(f.nSamplesPerSec).empty()) {
        wave.Close();
        Reject(r, path, WaveCheckText::kBadWaveFormat, SampleRateProblem(f.nSamplesPerSec));
        return r;
    }
    if (open == 0 && f.wFormatTag == 1) {
        // PCM WAVE: 16 bits is read as it is, other depths are decoded.
        if (f.nChannels > 2) {
            wave.Close();
            Reject(r, path, WaveCheckText::kBadWaveFormat, TooManyChannels(int(f.nSamplesPerSec), f.nChannels));
            return r;
        }
        if (!ConsistentFrame(f)) {
            wave.Close();
            Reject(r, path, WaveCheckText::kBadWaveFormat,
                   Channels(f.nChannels) + " of " + std::to_string(f.wBitsPerSample) + " bits in frames of " +
                       std::to_string(f.nBlockAlign) + " bytes: the header is damaged");
            return r;
        }
        if (f.wBitsPerSample == 16) {
            r.info = DirectInfo(wave, path);
            r.result = 0;
            r.direct = true;
            r.label = FormatLabel(f);
            return r;
        }
    }
    wave.Close();
    if (open == 1) {
        const std::string why = WhyUnreadable(path);
        if (!why.empty()) {
            Reject(r, path, WaveCheckText::kCannotOpen, "", why);
            return r;
        }
    }

    std::string error;
    const int probe = ProbeAudio(path, r.info, &error);
    if (probe == kDecodeOk && r.info.channels > 2) {
        Reject(r, path, open == 0 ? WaveCheckText::kBadWaveFormat : WaveCheckText::kCannotProcess,
               TooManyChannels(r.info.sampleRate, r.info.channels));
        return r;
    }
    if (probe == kDecodeOk) {
        r.result = 0;
        r.label = AudioLabel(r.info);
        return r;
    }
    if (probe == kDecodeCannotOpen) {
        Reject(r, path, WaveCheckText::kCannotOpen, "", WhyUnreadable(path));
    } else if (open == 0 && f.wFormatTag == 1) {
        Reject(r, path, "\n" + std::string(JobText::kNot16Bit),
               std::to_string(f.wBitsPerSample) +
                   "-bit PCM cannot be read: 8, 16, 24 or 32 bits can; convert it to 16-bit PCM WAVE");
    } else if (open == 0) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "0x%04X", unsigned(f.wFormatTag));
        Reject(r, path, WaveCheckText::kBadWaveFormat,
               std::string("format tag ") + tag + ", " + error + ": convert it to 16-bit PCM WAVE");
    } else {
        Reject(r, path, WaveCheckText::kDamaged, error);
    }
    r.info = AudioInfo{};
    return r;
}

std::string StripPadding(const std::string& message) {
    static const std::string ideo = "\u3000";
    std::string out;
    size_t start = 0;
    while (start <= message.size()) {
        size_t nl = message.find('\n', start);
        std::string line = message.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        while (line.size() >= ideo.size() && line.compare(line.size() - ideo.size(), ideo.size(), ideo) == 0)
            line.resize(line.size() - ideo.size());
        out += line;
        if (nl == std::string::npos) break;
        out += '\n';
        start = nl + 1;
    }
    return out;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

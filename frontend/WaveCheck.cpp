#include "WaveCheck.h"

#include "Twave.h"

#include <cstdio>
#include <filesystem>

std::string QuotedFileName(const std::string& path) {
    return "\"" + std::filesystem::path(path).filename().string() + "\"";
}

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

} // namespace

WaveCheckResult CheckWaveFileText(const std::string& path) {
    WaveCheckResult r;
    TWaveData wave;
    int open = wave.OpenRead(path);
    if (open == 1) {
        r.warning = QuotedFileName(path) + WaveCheckText::kCannotOpen;
    } else if (open != 0) {
        r.warning = QuotedFileName(path) + WaveCheckText::kDamaged;
    } else if (wave.Format.wFormatTag != 1 || wave.Format.nChannels > 2 || !ConsistentFrame(wave.Format)) {
        r.warning = QuotedFileName(path) + WaveCheckText::kBadWaveFormat;
    }
    if (r.warning.empty()) {
        r.result = 0;
        r.label = FormatLabel(wave.Format);
    }
    wave.Close();
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

#include "PairWarnings.h"

#include "FormatText.h"

#include <cmath>

namespace {

// Two lengths differ by more than this share of the original's (and more
// than a couple of seconds): not the same recording.
constexpr double kLengthShare = 0.10, kLengthSeconds = 2.0;
// A voice this close to the original's level: nearly nothing was removed.
constexpr double kRemovalFloorDb = -1.0;

} // namespace

std::string LengthWarning(int64_t originalFrames, int64_t karaokeFrames, int sampleRate, Language language) {
    if (sampleRate <= 0 || originalFrames <= 0) return "";
    const double diff = std::fabs(double(karaokeFrames - originalFrames));
    if (diff <= kLengthShare * double(originalFrames) || diff <= kLengthSeconds * sampleRate) return "";
    const bool shorter = karaokeFrames < originalFrames;
    const double karaokeSeconds = double(karaokeFrames) / sampleRate, originalSeconds = double(originalFrames) / sampleRate;
    if (language == Language::Chinese)
        return FormatText("伴奏比原唱%s得多（%.1f 秒对 %.1f 秒）：是同一首歌吗？", shorter ? "短" : "长", karaokeSeconds,
                          originalSeconds);
    return FormatText("the karaoke is much %s than the original (%.1f s against %.1f s): is it the same song?",
                      shorter ? "shorter" : "longer", karaokeSeconds, originalSeconds);
}

std::string RemovalWarning(const RunReport& r, Language language) {
    if (!r.extracted || r.stopped || r.framesWritten == 0 || r.removalDb <= kRemovalFloorDb) return "";
    if (language == Language::Chinese)
        return FormatText("几乎什么都没有去除（%.1f dB）：伴奏可能与原唱不符", r.removalDb);
    return FormatText("the removal took out almost nothing (%.1f dB): the karaoke may not match the original",
                      r.removalDb);
}

std::string NameWarning(const std::string& karaokeName, Language language) {
    if (language == Language::Chinese)
        return "找到的伴奏“" + karaokeName + "”与原唱的文件名几乎没有相同之处：是同一首歌吗？";
    return "the karaoke found, \"" + karaokeName + "\", shares little of the original's name: is it the same song?";
}

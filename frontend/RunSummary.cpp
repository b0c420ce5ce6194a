#include "RunSummary.h"

#include "FormatText.h"

#include <cstdio>

namespace {


struct Words {
    const char *separator, *karaoke, *offset, *inPhase, *inverted, *drift, *gain, *frequency, *waveform, *automatic,
        *took, *alone, *stopped, *failed, *empty, *endedEarly, *edit, *edits, *unmatched, *guarded;
};

constexpr Words kChinese = {"  ", "伴奏：", "偏移 %+.3f 秒", "正相", "逆相", "漂移 %+.1f ppm", "增益 %+.1f dB",
                            "频率合成", "波形合成", "(自动)", "用时 %.1f 秒", "只处理了原唱", "已终止",
                            "处理失败", "输入文件没有声音数据", "输入文件比其标头所写的短", "%d 处剪辑",
                            "%d 处剪辑", "%.1f 秒无对应", "%.1f 秒保留原样"};
constexpr Words kEnglish = {", ", "Karaoke: ", "offset %+.3f s", "in phase", "inverted", "drift %+.1f ppm",
                            "gain %+.1f dB", "spectral merge", "waveform merge", " (auto)", "%.1f s",
                            "Original processed alone", "Stopped", "Failed", "An input has no sound data",
                            "an input is shorter than its header says", "%d edit", "%d edits", "%.1f s unmatched",
                            "%.1f s left as the original"};

double Seconds(const std::vector<std::pair<double, double>>& stretches)
{
    double sum = 0;
    for (const auto& [first, end] : stretches) sum += end - first;
    return sum;
}

} // namespace

std::string RunSummary(const RunReport& r, const std::string& karaokeName, Language language) {
    const Words& w = language == Language::English ? kEnglish : kChinese;
    std::string line;
    auto add = [&](const std::string& part) {
        if (!line.empty()) line += w.separator;
        line += part;
    };
    if (r.result != 0) add(w.failed);
    else if (r.stopped) add(w.stopped);
    if (r.emptyInput) {
        add(w.empty);
    } else if (!r.extracted && !r.analysed) {
        add(w.alone);
    } else {
        add(std::string(w.karaoke) + karaokeName);
        if (r.analysed) {
            add(FormatText(w.offset, r.offsetSeconds));
            add(r.inverted ? w.inverted : w.inPhase);
            add(FormatText(w.drift, r.driftPpm));
            add(FormatText(w.gain, r.gainDb));
        }
        add(std::string(r.merge == 1 ? w.waveform : w.frequency) + (r.mergeChosenAutomatically ? w.automatic : ""));
        // Another edit of the song: its edits and what had no counterpart,
        // as one part ("1 edit, 2.5 s unmatched").
        std::string edits;
        if (r.edits > 0) edits = FormatText(r.edits == 1 ? w.edit : w.edits, r.edits);
        if (!r.unmatchedSeconds.empty())
            edits += (edits.empty() ? "" : ", ") + FormatText(w.unmatched, Seconds(r.unmatchedSeconds));
        if (!edits.empty()) add(edits);
        if (!r.guardedSeconds.empty()) add(FormatText(w.guarded, Seconds(r.guardedSeconds)));
    }
    if (r.inputEndedEarly) add(w.endedEarly);
    add(FormatText(w.took, r.elapsedSeconds));
    return line;
}

#include "Summary.h"

#include "FormatText.h"

#include "Json.h"

#include <cstdio>
#include <cstdlib>

namespace {


const char* MergeName(int merge) { return merge == 1 ? "waveform" : "frequency"; }

std::string OffsetText(const RunReport& r) {
    const char* which = r.offsetFrames > 0 ? "the karaoke is later" : r.offsetFrames < 0 ? "the karaoke is earlier"
                                                                                         : "aligned";
    return FormatText("%.4f s (%lld frames; %s)", r.offsetSeconds, (long long)r.offsetFrames, which);
}

} // namespace

namespace {

// What the karaoke had no counterpart for, where it jumps, and what was
// left as the original because removing would have made it louder.
std::string StretchLines(const RunReport& r, const std::string& indent) {
    auto list = [](const std::vector<std::pair<double, double>>& stretches) {
        std::string s;
        for (size_t i = 0; i < stretches.size(); ++i)
            s += FormatText("%s%.2f\u2013%.2f s", i ? ", " : "", stretches[i].first, stretches[i].second);
        return s;
    };
    std::string s;
    if (r.edits > 0) s += indent + FormatText("edits:    %d (the karaoke is another edit of the song)\n", r.edits);
    if (!r.unmatchedSeconds.empty())
        s += indent + "no counterpart in the karaoke: " + list(r.unmatchedSeconds) + " (left as the original)\n";
    if (!r.guardedSeconds.empty())
        s += indent + "left as the original, as removing would have made it louder: " + list(r.guardedSeconds) + "\n";
    return s;
}

} // namespace

std::string FormatSummary(const JobResult& j) {
    const RunReport& r = j.report;
    std::string s = "\"" + j.original + "\" -> " + (j.output == "-" ? "standard output" : "\"" + j.output + "\"") +
                    ": " + j.state + "\n";
    if (j.originalAlone)
        s += "  karaoke:  none (the original alone through the finishing stages)\n";
    else
        s += "  karaoke:  " + j.karaoke + (j.karaokeFound ? " (found beside the original)" : "") + "\n";
    if (r.extracted) {
        s += "  offset:   " + OffsetText(r) + "\n";
        s += std::string("  phase:    ") + (r.inverted ? "inverted" : "normal") + "\n";
        s += FormatText("  drift:    %.1f ppm\n", r.driftPpm);
        s += FormatText("  gain:     %+.2f dB (karaoke x %.4f)\n", r.gainDb, r.gain);
        s += std::string("  merge:    ") + MergeName(r.merge) +
             (r.mergeChosenAutomatically ? " (chosen automatically)" : "") + "\n";
        if (r.mergeChosenAutomatically) s += "  why:      " + r.mergeReason + "\n";
        s += std::string("  aligned:  ") +
             (r.preciseAlignment ? "precisely (sub-sample position fitted over the song)" : "block by block") + "\n";
        s += FormatText("  removal:  %.1f dB\n", r.removalDb);
        s += StretchLines(r, "  ");
    }
    if (j.ran) {
        const double seconds = r.sampleRate > 0 ? double(r.framesWritten) / r.sampleRate : 0;
        s += FormatText("  time:     %.1f s of voice in %.1f s\n", seconds, r.elapsedSeconds);
    }
    return s;
}

std::string FormatJson(const JobResult& j) {
    const RunReport& r = j.report;
    JsonObject o;
    o.Add("original", j.original).Add("karaoke", j.originalAlone ? std::string() : j.karaoke);
    o.Add("karaokeFound", j.karaokeFound).Add("output", j.output).Add("state", j.state);
    o.Add("exitStatus", j.exitStatus);
    if (!j.message.empty()) o.Add("message", j.message);
    if (!j.keptAs.empty()) o.Add("keptAs", j.keptAs);
    if (r.extracted) {
        o.Add("offsetFrames", r.offsetFrames).Add("offsetSeconds", r.offsetSeconds, 6);
        o.Add("inverted", r.inverted).Add("driftPpm", r.driftPpm, 3);
        o.Add("gain", r.gain, 6).Add("gainDb", r.gainDb, 3);
        o.Add("merge", MergeName(r.merge)).Add("mergeAutomatic", r.mergeChosenAutomatically);
        o.Add("mergeReason", r.mergeReason).Add("cancellationDb", r.cancellationDb, 2);
        o.Add("preciseAlignment", r.preciseAlignment);
        o.Add("removalDb", r.removalDb, 2);
        if (r.preciseAlignment) {
            o.Add("unmatched", r.unmatchedSeconds, 3).Add("edits", r.edits);
            o.Add("guarded", r.guardedSeconds, 3);
        }
    }
    if (j.ran) {
        o.Add("framesWritten", r.framesWritten).Add("sampleRate", r.sampleRate);
        o.Add("elapsedSeconds", r.elapsedSeconds, 3);
    }
    o.Add("warnings", j.warnings);
    return o.Text();
}

std::string FormatAnalysis(const RunReport& r, int driftFrames, int range) {
    std::string s = FormatText("offset:   %lld frames (%.4f s, karaoke minus original)\n", (long long)r.offsetFrames,
                           r.offsetSeconds);
    s += std::string("phase:    ") + (r.inverted ? "inverted" : "normal") + "\n";
    s += FormatText("drift:    %d frames per block (%.1f ppm)\n", driftFrames, r.driftPpm);
    s += FormatText("range:    %d frames\n", range);
    s += FormatText("gain:     %.6f (%+.2f dB)\n", r.gain, r.gainDb);
    s += FormatText("cancels:  %.1f dB where there is no voice\n", r.cancellationDb);
    s += std::string("merge:    ") + r.mergeReason + "\n";
    return s + StretchLines(r, "");
}

std::string FormatAnalysisJson(const RunReport& r, int driftFrames, int range) {
    JsonObject o;
    o.Add("offset", r.offsetFrames).Add("offsetSeconds", r.offsetSeconds, 6);
    o.Add("inverted", r.inverted).Add("drift", driftFrames).Add("driftPpm", r.driftPpm, 3);
    o.Add("range", range).Add("gain", r.gain, 6).Add("gainDb", r.gainDb, 3);
    o.Add("preciseAlignment", r.preciseAlignment).Add("cancellationDb", r.cancellationDb, 2);
    o.Add("cancellationThresholdDb", r.cancellationThresholdDb, 1);
    o.Add("merge", MergeName(r.merge)).Add("mergeAutomatic", r.mergeChosenAutomatically);
    o.Add("mergeReason", r.mergeReason);
    if (r.preciseAlignment) o.Add("unmatched", r.unmatchedSeconds, 3).Add("edits", r.edits);
    return o.Text();
}

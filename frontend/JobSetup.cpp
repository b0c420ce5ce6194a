#include "JobSetup.h"

#include "Decoder.h"
#include "KaraokeSearch.h"
#include "TempAudio.h"
#include "Twave.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

std::string ChannelWord(int n) { return n == 1 ? "mono" : "stereo"; }

// Checks an input, leaving one that is read as it is open in `wave`.
bool CheckInput(JobRequest& r, int which, const std::string& path, JobDialogs& d, TWaveData& wave,
                WaveCheckResult& check) {
    check = CheckInputFile(path, wave);
    if (check.result != 0) d.ShowFileWarning(check.problem);
    if (r.onChecked) r.onChecked(which, check);
    return check.result == 0;
}

// What a decode that did not read the whole file got: "damaged or cut: 0.01 s
// of 20.00 s decoded, 3 damaged packets skipped".
std::string DamageText(const DecodeReport& r) {
    char text[160];
    if (r.statedSeconds > 0)
        std::snprintf(text, sizeof text, "damaged or cut: %.2f s of %.2f s decoded", r.Seconds(), r.statedSeconds);
    else
        std::snprintf(text, sizeof text, "damaged or cut: %.2f s decoded", r.Seconds());
    std::string out = text;
    if (r.packetsSkipped > 0)
        out += ", " + std::to_string(r.packetsSkipped) + " damaged packet" + (r.packetsSkipped == 1 ? "" : "s") +
               " skipped";
    if (r.readError) out += ", reading stopped at damage";
    return out;
}

// Makes an accepted input readable at `rate` and `channels` (0: its own):
// a checked 16-bit WAVE file of that layout is already open in `wave`;
// anything else is decoded once into a temporary 16-bit WAVE file, which
// leaves its folder as soon as it is open, so nothing remains of it whatever
// happens to the run. `second`, when given, is opened on the same data too.
// A file decoded only in part is warned about, and the warning kept in
// `warnings` with the file's name. Shows the message and returns false on
// failure.
bool ReadableAs(const std::string& path, const WaveCheckResult& check, int rate, int channels, TWaveData& wave,
                TWaveData* second, JobDialogs& d, std::vector<std::string>& warnings) {
    if (wave.IsOpen() && (rate == 0 || (int(check.info.sampleRate) == rate && check.info.channels == channels))) {
        if (!second || second->OpenRead(path) == 0) return true;
        wave.Close();
        d.ShowFileWarning({path, WaveCheckText::kCannotOpen, "", std::strerror(second->LastError())});
        return false;
    }
    wave.Close();
    if (rate == 0) {
        rate = check.info.sampleRate;
        channels = check.info.channels;
    }
    const std::string temp = TempAudio::NewPath();
    if (temp.empty()) {
        d.ShowFileWarning({path, WaveCheckText::kCannotOpen,
                           "no temporary folder for its decoded samples in " + TempAudio::Folder(),
                           std::strerror(errno)});
        return false;
    }
    std::string error;
    DecodeReport report;
    const int decoded = DecodeToWave(path, temp, rate, channels, &error, [&d] { return d.Cancelled(); }, &report);
    bool opened = decoded == kDecodeOk && wave.OpenRead(temp) == 0;
    if (opened && second && second->OpenRead(temp) != 0) {
        wave.Close();
        opened = false;
    }
    TempAudio::Remove(temp);
    if (opened && report.Incomplete()) {
        const std::string damage = DamageText(report);
        warnings.push_back(QuotedFileName(path) + ": " + damage);
        d.ShowFileWarning({path, "\n" + damage, "", ""});
    }
    if (opened) return true;
    if (decoded != kDecodeCancelled) {
        if (decoded == kDecodeOk) error = "cannot read the decoded samples in " + TempAudio::Folder();
        d.ShowFileWarning({path, WaveCheckText::kCannotOpen, error, ""});
    }
    return false;
}

// Shows the text, if any, and closes both inputs; false for the caller to return.
bool CloseInputs(TWaveData& orig, TWaveData& kar, JobDialogs& d, const std::string& text) {
    if (!text.empty()) d.ShowWarning(text);
    orig.Close();
    kar.Close();
    return false;
}

} // namespace

bool PrepareInputs(JobRequest& r, TWaveData& orig, TWaveData& kar, JobDialogs& d, bool needOutputName) {
    if (r.original.empty() || r.karaoke.empty() || (needOutputName && r.output.empty())) {
        d.ShowWarning(JobText::kNamesMissing);
        return false;
    }
    if (needOutputName && (r.output == r.original || r.output == r.karaoke)) {
        d.ShowWarning(JobText::kDuplicateNames);
        return false;
    }
    // One file under two spellings ("A" and "./A", a link) is the original alone.
    r.runMode = SameFile(r.original, r.karaoke) ? 1 : 0;
    WaveCheckResult co, ck;
    if (!CheckInput(r, 1, r.original, d, orig, co)) return false;
    if (r.runMode == 0 && !CheckInput(r, 2, r.karaoke, d, kar, ck)) return CloseInputs(orig, kar, d, "");
    if (r.runMode == 1) {
        // The same file is checked once, and shown as both.
        ck = co;
        if (r.onChecked) r.onChecked(2, ck);
    }

    r.inputWarnings.clear();
    if (!ReadableAs(r.original, co, 0, 0, orig, r.runMode == 1 ? &kar : nullptr, d, r.inputWarnings))
        return CloseInputs(orig, kar, d, "");
    if (r.runMode == 0) {
        // The karaoke takes the original's rate and channel count.
        const int rate = int(orig.Format.nSamplesPerSec), channels = orig.Format.nChannels;
        if (ck.info.sampleRate != rate)
            r.notes.push_back("karaoke resampled from " + std::to_string(ck.info.sampleRate) + " Hz to " +
                              std::to_string(rate) + " Hz");
        if (ck.info.channels != channels)
            r.notes.push_back("karaoke converted from " + ChannelWord(ck.info.channels) + " to " +
                              ChannelWord(channels));
        if (!ReadableAs(r.karaoke, ck, rate, channels, kar, nullptr, d, r.inputWarnings)) {
            r.notes.clear();
            return CloseInputs(orig, kar, d, "");
        }
        for (const std::string& note : r.notes) d.ShowNote(note);
        if (!r.notes.empty() && r.onChecked) {
            // The karaoke's label tells what it becomes.
            WaveCheckResult shown = ck;
            char rateText[32];
            std::snprintf(rateText, sizeof rateText, " \u2192%.3fkHz", kar.Format.nSamplesPerSec * 0.001);
            shown.label += rateText;
            if (ck.info.channels != channels)
                shown.label += std::string(" ") + (channels == 1 ? WaveCheckText::kMono : WaveCheckText::kStereo);
            r.onChecked(2, shown);
        }
    }
    auto fail = [&](const std::string& text) { return CloseInputs(orig, kar, d, text); };
    if (orig.Format.nSamplesPerSec != kar.Format.nSamplesPerSec || orig.Format.nChannels != kar.Format.nChannels)
        return fail(JobText::kLayoutDiffers);
    if (orig.Format.wBitsPerSample != 16 || kar.Format.wBitsPerSample != 16) return fail(JobText::kNot16Bit);
    return true;
}

bool AcceptOutput(const JobRequest& r, const std::string& output, JobDialogs& d) {
    if (SameFile(output, r.original) || SameFile(output, r.karaoke)) {
        d.ShowWarning(JobText::kDuplicateNames);
        return false;
    }
    std::error_code ec;
    return !std::filesystem::exists(output, ec) || d.ConfirmReplace(output);
}

bool PrepareJob(JobRequest& r, TWaveData& orig, TWaveData& kar, TWaveData& out, JobDialogs& d) {
    if (!PrepareInputs(r, orig, kar, d)) return false;
    r.output = ReplaceExtension(r.output, ".wav");
    if (!AcceptOutput(r, r.output, d)) return CloseInputs(orig, kar, d, "");
    out.Format = orig.Format;
    if (out.CreateWrite(r.output) != 0) return CloseInputs(orig, kar, d, QuotedFileName(r.output) + JobText::kCannotCreate);
    return true;
}

std::string DebugLogPath(const JobRequest& r) {
    std::string path = ReplaceExtension(r.original, ".txt");
    for (const std::string& f : {r.original, r.karaoke, r.output})
        if (SameFile(path, f)) return {};
    return path;
}

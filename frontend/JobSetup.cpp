#include "JobSetup.h"

#include "Decoder.h"
#include "KaraokeSearch.h"
#include "TempAudio.h"
#include "Twave.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace {

// Whether two names lead to one file (another spelling, a link).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

bool CheckInput(JobRequest& r, int which, const std::string& path, JobDialogs& d, WaveCheckResult& check) {
    check = CheckWaveFileText(path);
    if (!check.warning.empty()) d.ShowWarning(check.warning);
    if (r.onChecked) r.onChecked(which, check);
    return check.result == 0;
}

std::string ChannelWord(int n) { return n == 1 ? "mono" : "stereo"; }

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

// Opens an accepted input: a 16-bit WAVE file of the wanted layout as it is,
// anything else decoded once into a temporary 16-bit WAVE file at `rate` and
// `channels`. The temporary leaves the folder as soon as it is open, so
// nothing remains of it whatever happens to the run. `second`, when given,
// is opened on the same data too. A file decoded only in part is warned
// about, and the warning kept in `warnings` with the file's name. Shows the
// message and returns false on failure.
bool OpenInput(const std::string& path, const WaveCheckResult& check, int rate, int channels, TWaveData& wave,
               TWaveData* second, JobDialogs& d, std::vector<std::string>& warnings) {
    const bool asItIs = check.direct && (rate == 0 || (int(check.info.sampleRate) == rate &&
                                                       check.info.channels == channels));
    if (asItIs) {
        if (wave.OpenRead(path) == 0 && (!second || second->OpenRead(path) == 0)) return true;
        wave.Close();
        d.ShowWarning(QuotedFileName(path) + WaveCheckText::kCannotOpen);
        return false;
    }
    if (rate == 0) {
        rate = check.info.sampleRate;
        channels = check.info.channels;
    }
    const std::string temp = TempAudio::NewPath();
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
        d.ShowWarning(QuotedFileName(path) + "\n" + damage);
    }
    if (opened) return true;
    if (decoded != kDecodeCancelled) {
        if (decoded == kDecodeOk) error = "cannot read the decoded samples in " + TempAudio::Folder();
        d.ShowWarning(QuotedFileName(path) + WaveCheckText::kCannotOpen + "\n" + error);
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
    r.runMode = r.original == r.karaoke || SameFile(r.original, r.karaoke) ? 1 : 0;
    WaveCheckResult co, ck;
    if (!CheckInput(r, 1, r.original, d, co) || !CheckInput(r, 2, r.karaoke, d, ck)) return false;

    r.inputWarnings.clear();
    if (!OpenInput(r.original, co, 0, 0, orig, r.runMode == 1 ? &kar : nullptr, d, r.inputWarnings)) return false;
    if (r.runMode == 0) {
        // The karaoke takes the original's rate and channel count.
        const int rate = int(orig.Format.nSamplesPerSec), channels = orig.Format.nChannels;
        if (ck.info.sampleRate != rate)
            r.notes.push_back("karaoke resampled from " + std::to_string(ck.info.sampleRate) + " Hz to " +
                              std::to_string(rate) + " Hz");
        if (ck.info.channels != channels)
            r.notes.push_back("karaoke converted from " + ChannelWord(ck.info.channels) + " to " +
                              ChannelWord(channels));
        if (!OpenInput(r.karaoke, ck, rate, channels, kar, nullptr, d, r.inputWarnings)) {
            orig.Close();
            r.notes.clear();
            return false;
        }
        for (const std::string& note : r.notes) d.ShowNote(note);
        if (!r.notes.empty() && r.onChecked) {
            // The karaoke's label tells what it becomes.
            WaveCheckResult shown = ck;
            char rate[32];
            std::snprintf(rate, sizeof rate, " \u2192%.3fkHz", kar.Format.nSamplesPerSec * 0.001);
            shown.label += rate;
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

bool PrepareJob(JobRequest& r, TWaveData& orig, TWaveData& kar, TWaveData& out, JobDialogs& d) {
    if (!PrepareInputs(r, orig, kar, d)) return false;
    auto fail = [&](const std::string& text) { return CloseInputs(orig, kar, d, text); };

    const bool flac = r.allowFlac && IsFlacName(r.output);
    if (!flac) r.output = ReplaceExtension(r.output, ".wav");
    // The output must never be one of the inputs, however it is spelled:
    // creating it would empty the file being read.
    if (r.output == r.original || r.output == r.karaoke || SameFile(r.output, r.original) ||
        SameFile(r.output, r.karaoke))
        return fail(JobText::kDuplicateNames);

    std::error_code ec;
    if (std::filesystem::exists(r.output, ec) &&
        !d.Confirm(QuotedFileName(r.output) + JobText::kOverwrite))
        return fail("");

    out.Format = orig.Format;
    if (!flac) {
        r.waveOutput = r.output;
        if (out.CreateWrite(r.output) != 0) return fail(QuotedFileName(r.output) + JobText::kCannotCreate);
        return true;
    }
    // FLAC: the run writes a temporary WAVE file that FinishOutput encodes.
    // The folder of the FLAC file must take a new file now, not after the run.
    const std::filesystem::path folder = std::filesystem::path(r.output).parent_path();
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0)
        return fail(QuotedFileName(r.output) + JobText::kCannotCreate);
    r.waveOutput = TempAudio::NewPath();
    if (out.CreateWrite(r.waveOutput) != 0) {
        TempAudio::Remove(r.waveOutput);
        r.waveOutput.clear();
        return fail(QuotedFileName(r.output) + JobText::kCannotCreate + "\n" + TempAudio::Folder());
    }
    return true;
}

bool IsFlacName(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".flac";
}

bool FinishOutput(JobRequest& r, bool written, std::string* error) {
    if (r.waveOutput.empty() || r.waveOutput == r.output) return true;
    const int encoded = written ? EncodeWaveToFlac(r.waveOutput, r.output, error) : kDecodeFailed;
    TempAudio::Remove(r.waveOutput);
    r.waveOutput.clear();
    return encoded == kDecodeOk;
}

std::string DebugLogPath(const JobRequest& r) {
    std::string path = ReplaceExtension(r.original, ".txt");
    for (const std::string& f : {r.original, r.karaoke, r.output})
        if (path == f || SameFile(path, f)) return {};
    return path;
}

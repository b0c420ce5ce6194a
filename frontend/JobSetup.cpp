#include "JobSetup.h"

#include "KaraokeSearch.h"
#include "Twave.h"

#include <filesystem>

namespace {

// Whether two names lead to one file (another spelling, a link).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

bool CheckInput(JobRequest& r, int which, const std::string& path, JobDialogs& d) {
    WaveCheckResult check = CheckWaveFileText(path);
    if (!check.warning.empty()) d.ShowWarning(check.warning);
    if (r.onChecked) r.onChecked(which, check);
    return check.result == 0;
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
    if (!CheckInput(r, 1, r.original, d) || !CheckInput(r, 2, r.karaoke, d)) return false;

    if (orig.OpenRead(r.original) != 0) {
        d.ShowWarning(QuotedFileName(r.original) + JobText::kCannotOpen);
        return false;
    }
    if (kar.OpenRead(r.karaoke) != 0) {
        d.ShowWarning(QuotedFileName(r.karaoke) + JobText::kCannotOpen);
        orig.Close();
        return false;
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

    r.output = ReplaceExtension(r.output, ".wav");
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
    if (out.CreateWrite(r.output) != 0) return fail(QuotedFileName(r.output) + JobText::kCannotCreate);
    return true;
}

std::string DebugLogPath(const JobRequest& r) {
    std::string path = ReplaceExtension(r.original, ".txt");
    for (const std::string& f : {r.original, r.karaoke, r.output})
        if (path == f || SameFile(path, f)) return {};
    return path;
}

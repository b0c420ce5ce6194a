#include "JobSetup.h"

#include "Decoder.h"
#include "KaraokeSearch.h"
#include "TempAudio.h"
#include "Twave.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

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

// An input that is decoded before the run: into a temporary 16-bit WAVE
// file at `rate` and `channels`, on a thread of its own.
struct InputDecode {
    std::string path, temp;
    int rate = 0, channels = 0;
    int result = kDecodeOk;
    std::string error;
    DecodeReport report;
    std::atomic<double> share{0.0};
};

// Runs the decodes side by side, each on a thread of its own, while this
// thread shows their progress and passes on the user's wish to stop about
// every 25 ms (the window handles its events there). One that fails stops
// the others. Returns once every thread has ended: true when the user
// stopped them.
bool DecodeSideBySide(const std::vector<InputDecode*>& decodes, JobDialogs& d) {
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable ended;
    size_t running = 0;
    auto decode = [&](InputDecode& in) {
        in.result = DecodeToWave(in.path, in.temp, in.rate, in.channels, &in.error, [&](double share) {
            in.share.store(share, std::memory_order_relaxed);
            return stop.load(std::memory_order_relaxed);
        }, &in.report);
        if (in.result != kDecodeOk) stop = true;
    };
    std::vector<std::thread> threads;
    for (InputDecode* in : decodes) {
        {
            std::lock_guard<std::mutex> guard(lock);
            ++running;
        }
        try {
            threads.emplace_back([&, in] {
                decode(*in);
                std::lock_guard<std::mutex> guard(lock);
                --running;
                ended.notify_one();
            });
        } catch (const std::system_error&) {
            {
                std::lock_guard<std::mutex> guard(lock);
                --running;
            }
            decode(*in); // no thread to be had: here, then
        }
    }
    bool userStopped = false;
    for (;;) {
        if (!userStopped && d.Cancelled()) {
            userStopped = true;
            stop = true;
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            if (ended.wait_for(guard, std::chrono::milliseconds(25), [&] { return running == 0; })) break;
        }
        double share = 0;
        for (const InputDecode* in : decodes) share += in->share.load(std::memory_order_relaxed);
        d.ShowDecoding(share / double(decodes.size()));
    }
    for (std::thread& t : threads) t.join();
    return userStopped;
}

// Removes the temporaries that are left when it goes.
struct Temporaries {
    std::vector<std::string*> paths;
    ~Temporaries() {
        for (std::string* p : paths)
            if (!p->empty()) TempAudio::Remove(*p);
    }
};

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
    // The karaoke takes the original's rate and channel count. A 16-bit WAVE
    // file of that layout is read as it is (the check left it open);
    // anything else is decoded into a temporary first, both inputs at once.
    const int rate = int(co.info.sampleRate), channels = co.info.channels;
    InputDecode inputs[2];
    for (InputDecode& in : inputs) {
        in.path = &in == inputs ? r.original : r.karaoke;
        in.rate = rate;
        in.channels = channels;
    }
    std::vector<InputDecode*> decodes;
    if (!orig.IsOpen()) decodes.push_back(&inputs[0]);
    if (r.runMode == 0 && !(kar.IsOpen() && int(ck.info.sampleRate) == rate && ck.info.channels == channels)) {
        kar.Close();
        decodes.push_back(&inputs[1]);
    }
    Temporaries temporaries;
    for (InputDecode* in : decodes) {
        in->temp = TempAudio::NewPath();
        if (in->temp.empty()) {
            d.ShowFileWarning({in->path, WaveCheckText::kCannotOpen,
                               "no temporary folder for its decoded samples in " + TempAudio::Folder(),
                               std::strerror(errno)});
            return CloseInputs(orig, kar, d, "");
        }
        temporaries.paths.push_back(&in->temp);
    }
    // A stop asked for while decoding ends the preparation, even when the
    // decodes got to their end first.
    if (!decodes.empty() && DecodeSideBySide(decodes, d)) return CloseInputs(orig, kar, d, "");
    // In order, the original first: a decode stopped because the other
    // failed says nothing, the failure does.
    for (InputDecode* in : decodes) {
        if (in->result == kDecodeCancelled) continue;
        TWaveData& wave = in == &inputs[0] ? orig : kar;
        bool opened = in->result == kDecodeOk && wave.OpenRead(in->temp) == 0;
        // The same file as both inputs is read twice, each with its own position.
        if (opened && r.runMode == 1 && kar.OpenRead(in->temp) != 0) {
            wave.Close();
            opened = false;
        }
        if (in->result == kDecodeOk && !opened) in->error = "cannot read the decoded samples in " + TempAudio::Folder();
        TempAudio::Remove(in->temp);
        in->temp.clear();
        if (!opened) {
            d.ShowFileWarning({in->path, WaveCheckText::kCannotOpen, in->error, ""});
            return CloseInputs(orig, kar, d, "");
        }
        if (in->report.Incomplete()) {
            const std::string damage = DamageText(in->report);
            r.inputWarnings.push_back(QuotedFileName(in->path) + ": " + damage);
            d.ShowFileWarning({in->path, "\n" + damage, "", ""});
        }
    }
    if (r.runMode == 1 && !kar.IsOpen() && kar.OpenRead(r.original) != 0) {
        d.ShowFileWarning({r.original, WaveCheckText::kCannotOpen, "", std::strerror(kar.LastError())});
        return CloseInputs(orig, kar, d, "");
    }
    if (r.runMode == 0) {
        if (int(ck.info.sampleRate) != rate)
            r.notes.push_back("karaoke resampled from " + std::to_string(ck.info.sampleRate) + " Hz to " +
                              std::to_string(rate) + " Hz");
        if (ck.info.channels != channels)
            r.notes.push_back("karaoke converted from " + ChannelWord(ck.info.channels) + " to " +
                              ChannelWord(channels));
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

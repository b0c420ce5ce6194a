#include "Commands.h"

#include "KaraokeSearch.h"
#include "TerminalHost.h"
#include "Twave.h"
#include "Vocalmain.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace {

struct Job {
    std::string original, karaoke, output;
};

// One extraction, start to end, with its own engine and files. Returns the
// exit status for this file.
int ExtractOne(const Job& job, const CommittedOptions& committed, const ExtractArgs& args, bool progressBar) {
    CommittedOptions options = committed; // a mono original changes its copy only
    TVocalMain engine;
    TWaveData original, karaoke, output;
    TerminalHost host(&engine.Cancel, progressBar, args.yes);
    JobRequest request;
    request.original = job.original;
    request.karaoke = job.karaoke;
    request.output = job.output;
    request.allowFlac = true;
    // A Ctrl-C while an input is decoded also ends the preparation.
    if (!PrepareJob(request, original, karaoke, output, host)) return g_interrupted ? kExitInterrupted : kExitRejected;

    if (args.log) {
        host.log.DebugMode = true;
        const std::string logPath = DebugLogPath(request);
        if (!logPath.empty()) host.log.OpenDebugLog(logPath);
    }
    const auto start = std::chrono::steady_clock::now();
    engine.Attach(&host, &options, &original, &karaoke, &output);
    engine.Run(request.runMode);
    const int64_t frames = output.Format.nBlockAlign ? (output.Tell() - TWaveData::kHeaderSize) / output.Format.nBlockAlign : 0;
    original.Close();
    karaoke.Close();
    int closed = output.Close();
    std::string flacError;
    if (!FinishOutput(request, closed == 0, &flacError) && closed == 0) {
        PrintMessage(QuotedFileName(request.output) + "\n" + flacError);
        return kExitFailed;
    }
    host.log.CloseDebugLog();
    host.EndLine();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (host.warnings > 0) return kExitFailed;
    if (closed != 0) {
        PrintMessage(QuotedFileName(request.output) + "\n" + EngineText::kWriteFailed);
        return kExitFailed;
    }
    if (!args.quiet) {
        std::lock_guard lock(OutputMutex());
        std::printf("%s: %s%s (%.1f s of audio in %.1f s)\n", request.output.c_str(),
                    engine.Cancel ? "stopped, kept what was written" : "voice written",
                    request.runMode == 1 ? " from the original alone" : "",
                    double(frames) / std::max(1u, original.Format.nSamplesPerSec), seconds);
        std::fflush(stdout);
    }
    return engine.Cancel ? kExitInterrupted : kExitOk;
}

} // namespace

int RunExtract(ExtractArgs& args) {
    SettingsModel settings;
    std::string error;
    if (!args.options.Load(settings, error)) {
        std::cerr << error << "\n";
        return kExitUsage;
    }
    const CommittedOptions& o = settings.Options;

    // ORIGINAL [KARAOKE]; with -j or more than two names, every name is an
    // original whose karaoke is searched beside it.
    const bool originalsOnly = args.originalsOnly || args.inputs.size() > 2;
    if (!args.output.empty() && (originalsOnly && args.inputs.size() > 1)) {
        std::cerr << "-o names one output: give one ORIGINAL [KARAOKE] with it\n";
        return kExitUsage;
    }
    std::vector<Job> jobs;
    int rejected = kExitOk;
    if (!originalsOnly && args.inputs.size() == 2) {
        Job j{args.inputs[0], args.inputs[1], args.output};
        if (j.output.empty()) j.output = FindKaraokeAndOutput(j.original, o).outputPath;
        jobs.push_back(j);
    } else {
        for (const std::string& in : args.inputs) {
            KaraokeSearchResult found = FindKaraokeAndOutput(in, o);
            if (found.karaokePath.empty()) {
                PrintMessage(QuotedFileName(in) + "\nno karaoke recording found beside it");
                rejected = kExitRejected;
                continue;
            }
            jobs.push_back({in, found.karaokePath, args.output.empty() ? found.outputPath : args.output});
        }
    }

    InstallInterruptHandler();
    const bool progressBar = jobs.size() == 1 && !args.quiet && ::isatty(2);
    std::vector<int> status(jobs.size(), kExitOk);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t k; (k = next++) < jobs.size();) {
            if (g_interrupted) {
                status[k] = kExitInterrupted;
                continue;
            }
            status[k] = ExtractOne(jobs[k], o, args, progressBar);
        }
    };
    std::vector<std::thread> threads;
    const int n = std::clamp(args.jobs, 1, int(std::max<size_t>(1, jobs.size())));
    for (int t = 1; t < n; ++t) threads.emplace_back(worker);
    worker();
    for (auto& t : threads) t.join();

    // An interruption outranks every other outcome, then the worst failure.
    int worst = rejected;
    for (int s : status)
        if (s == kExitInterrupted || (worst != kExitInterrupted && s > worst)) worst = s;
    return worst;
}

int RunAnalyse(AnalyseArgs& args) {
    SettingsModel settings;
    std::string error;
    if (!args.options.Load(settings, error)) {
        std::cerr << error << "\n";
        return kExitUsage;
    }
    CommittedOptions options = settings.Options;
    options.IntroMode = 0; // the analysis itself is what is asked for
    TVocalMain engine;
    TWaveData original, karaoke, unused;
    TerminalHost host(&engine.Cancel, !args.json && ::isatty(2), false);
    JobRequest request;
    request.original = args.original;
    request.karaoke = args.karaoke;
    if (!PrepareInputs(request, original, karaoke, host, false)) return kExitRejected;
    if (std::min(original.DataBytes, karaoke.DataBytes) == 0) {
        PrintMessage("nothing to analyse: a data chunk is empty");
        return kExitRejected;
    }
    InstallInterruptHandler();
    engine.Attach(&host, &options, &original, &karaoke, &unused);
    const int result = engine.Analyse();
    host.EndLine();
    if (result != 0) {
        PrintMessage(EngineText::kNoMemory);
        return kExitFailed;
    }
    if (engine.Cancel) return kExitInterrupted;
    if (args.json) {
        std::printf("{\"offset\": %d, \"inverted\": %s, \"drift\": %d, \"range\": %d, \"gain\": %.6f}\n",
                    engine.IntroOffset, engine.KaraokeInverted ? "true" : "false", engine.BaseOfs, engine.Range,
                    engine.SavedVol);
    } else {
        std::printf("offset:   %d frames (karaoke minus original)\n", engine.IntroOffset);
        std::printf("phase:    %s\n", engine.KaraokeInverted ? "inverted" : "normal");
        std::printf("drift:    %d frames per block\n", engine.BaseOfs);
        std::printf("range:    %d frames\n", engine.Range);
        std::printf("gain:     %.6f\n", engine.SavedVol);
    }
    return kExitOk;
}

#include "Commands.h"

#include "Decoder.h"
#include "JobRunner.h"
#include "JobSetup.h"
#include "KaraokeSearch.h"
#include "OutputFile.h"
#include "Summary.h"
#include "TerminalHost.h"
#include "Twave.h"
#include "Vocalmain.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr const char* kNoKaraokeBeside = "\nno karaoke recording found beside it";

struct Job {
    std::string original, karaoke, output;
    bool karaokeFound = false;
    std::vector<std::string> warnings; // known before the run
};

std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

std::string Quoted(const std::string& path) { return "\"" + NameOf(path) + "\""; }

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

// Whether two output names lead to one file, existing or not.
bool SameTarget(const std::string& a, const std::string& b) {
    if (a == "-" || b == "-") return a == b;
    std::error_code ec1, ec2;
    const fs::path pa = fs::absolute(a, ec1).lexically_normal(), pb = fs::absolute(b, ec2).lexically_normal();
    return (!ec1 && !ec2 && pa == pb) || SameFile(a, b);
}

void Warn(std::vector<std::string>& list, const std::string& file, const std::string& text) {
    list.push_back(text);
    PrintText("warning: " + Quoted(file) + ": " + text + "\n");
}

// A recording that was empty or ended before its header's length: said on
// standard error, with the status to exit with. What was written is kept.
int ReportShortInput(const RunReport& report, const TWaveData& original, const TWaveData& karaoke) {
    if (report.emptyInput) {
        const TWaveData& empty = original.DataBytes == 0 ? original : karaoke;
        PrintMessage(QuotedFileName(empty.FileName) + "\nthe data chunk is empty: nothing to extract");
        return kExitRejected;
    }
    if (report.inputEndedEarly) {
        for (const TWaveData* w : {&original, &karaoke}) {
            std::error_code ec;
            const auto size = std::filesystem::file_size(w->FileName, ec);
            if (ec || int64_t(size) < w->DataStart + int64_t(w->DataBytes))
                PrintMessage(QuotedFileName(w->FileName) +
                             "\nthe recording ended before the length its header gives: the voice is incomplete");
        }
        return kExitFailed;
    }
    return kExitOk;
}

// How the jobs show their progress.
struct Ui {
    bool progressBar = false;        // one job on a terminal
    ProgressBoard* board = nullptr;  // several jobs on a terminal
    bool startLines = false;         // several jobs elsewhere: a line as each starts
    int total = 0;
    std::atomic<int> started{0};
};

// One extraction, start to end, with its own engine and files.
JobResult ExtractOne(const Job& job, const CommittedOptions& committed, const ExtractArgs& args, Ui& ui,
                     bool spectralOnCaller = false) {
    JobResult res;
    res.original = job.original;
    res.karaoke = job.karaoke;
    res.output = job.output;
    res.karaokeFound = job.karaokeFound;
    res.warnings = job.warnings;
    auto stop = [&](const char* state, int status, const std::string& message) {
        res.state = state;
        res.exitStatus = status;
        res.message = StripPadding(message);
        return res;
    };

    CommittedOptions options = committed; // a mono original changes its copy only
    TVocalMain engine;
    engine.RunSpectralOnCaller(spectralOnCaller);
    TWaveData original, karaoke, output;
    TerminalHost host(&engine.Cancel, ui.progressBar, args.yes);
    JobRequest request;
    request.original = job.original;
    request.karaoke = job.karaoke;
    request.output = job.output;
    request.allowFlac = true;
    // A Ctrl-C while an input is decoded also ends the preparation.
    if (!PrepareInputs(request, original, karaoke, host))
        return g_interrupted ? stop("not written", kExitInterrupted, "stopped while reading the inputs")
                             : stop("rejected", kExitRejected, host.lastWarning);
    res.originalAlone = request.runMode == 1;
    auto rejectOutput = [&](const std::string& message, bool print = true) {
        original.Close();
        karaoke.Close();
        if (print) PrintMessage(message);
        return stop("rejected", kExitRejected, message);
    };

    // The output: a regular file or a new name in an existing folder, never
    // one of the inputs, replaced only when asked.
    std::string target = job.output;
    if (target != "-") {
        std::string why = CheckOutputTarget(target);
        if (why.empty() && !IsFlacName(target)) {
            target = ReplaceExtension(target, ".wav");
            why = CheckOutputTarget(target);
        }
        res.output = target;
        if (!why.empty()) return rejectOutput("\"" + target + "\": " + why + "; the voice was not written");
        if (target == job.original || target == job.karaoke || SameFile(target, job.original) ||
            SameFile(target, job.karaoke))
            return rejectOutput(JobText::kDuplicateNames);
        std::error_code ec;
        if (fs::exists(target, ec) && !host.Confirm(QuotedFileName(target) + JobText::kOverwrite))
            return rejectOutput(host.lastWarning, false);
    }
    request.output = target;

    const uint16_t align = original.Format.nBlockAlign;
    if (request.runMode == 0 && align > 0) {
        const std::string w = LengthWarning(original.DataBytes / align, karaoke.DataBytes / align,
                                            int(original.Format.nSamplesPerSec));
        if (!w.empty()) Warn(res.warnings, job.karaoke, w);
    }
    if (args.strict && !res.warnings.empty()) {
        original.Close();
        karaoke.Close();
        PrintText(Quoted(job.original) + ": not extracted (--strict and a warning)\n");
        return stop("not written", kExitWarning, "not extracted: --strict and a warning");
    }

    PendingOutput pending(target);
    RemoveStaleTemporaries(fs::path(pending.Temporary()).parent_path().string());
    output.Format = original.Format;
    if (output.CreateWrite(pending.Temporary()) != 0)
        return rejectOutput(QuotedFileName(target == "-" ? pending.Temporary() : target) + JobText::kCannotCreate);

    if (args.log) host.log.DebugMode = true;
    const int number = ++ui.started;
    int slot = -1;
    if (ui.board) {
        slot = ui.board->Start(NameOf(job.original));
        host.UseBoard(ui.board, slot);
    } else if (ui.startLines) {
        PrintText("[" + std::to_string(number) + "/" + std::to_string(ui.total) + "] " + Quoted(job.original) +
                  "\n");
    }
    const int warningsBefore = host.warnings;
    const int closed = RunPreparedJob(engine, host, host.log, &options, request, original, karaoke, output);
    host.EndLine();
    if (ui.board) ui.board->Finish(slot);
    res.ran = true;
    res.report = engine.LastReport();
    const RunReport& r = res.report;

    // A write that failed (a full disk, a file-size limit) keeps what reached
    // the disk, a valid WAVE file, under the target's name, as a stop does.
    const bool writeFailed = r.result == TVocalMain::kWriteFailed || closed != 0;
    if (writeFailed && r.framesWritten > 0 && !pending.ToStdout()) {
        std::string error;
        pending.Commit(error);
    }
    if (host.warnings > warningsBefore) return stop("failed", kExitFailed, host.lastWarning);
    if (closed != 0) {
        PrintMessage(QuotedFileName(target) + "\n" + EngineText::kWriteFailed);
        return stop("failed", kExitFailed, EngineText::kWriteFailed);
    }
    if (r.emptyInput) {
        ReportShortInput(r, original, karaoke);
        return stop("rejected", kExitRejected, Quoted(job.original) + ": nothing to extract, a data chunk is empty");
    }
    if (r.stopped && r.framesWritten == 0)
        return stop("not written", kExitInterrupted, "stopped before any voice was written; the output was left as it was");
    // A recording that ended before its header's length: said, and the
    // incomplete voice is kept, with a failure status.
    const bool incomplete = r.inputEndedEarly && ReportShortInput(r, original, karaoke) != kExitOk;
    const std::string removal = RemovalWarning(r);
    if (!removal.empty()) Warn(res.warnings, job.karaoke, removal);
    if (args.strict && !res.warnings.empty()) {
        PrintText(Quoted(job.original) + ": voice not written (--strict and a warning)\n");
        return stop("not written", kExitWarning, "voice not written: --strict and a warning");
    }
    std::string error;
    if (IsFlacName(target)) {
        // The voice written as WAVE is encoded beside the target and then
        // takes its place.
        const std::string flac = pending.Temporary() + ".flac";
        if (EncodeWaveToFlac(pending.Temporary(), flac, &error) != kDecodeOk) {
            std::remove(flac.c_str());
            pending.Discard();
            const std::string m = "\"" + target + "\": " + error;
            PrintText(m + "\n");
            return stop("failed", kExitFailed, m);
        }
        std::error_code ec;
        fs::rename(flac, target, ec);
        pending.Discard();
        if (ec) {
            std::remove(flac.c_str());
            const std::string m = "\"" + target + "\": " + ec.message();
            PrintText(m + "\n");
            return stop("failed", kExitFailed, m);
        }
    } else if (!pending.Commit(error)) {
        const std::string m = "\"" + target + "\": " + error;
        PrintText(m + "\n");
        return stop("failed", kExitFailed, m);
    }
    if (incomplete) return stop("incomplete, kept what was written", kExitFailed, "a recording ended early");
    return stop(r.stopped ? "stopped, kept what was written" : "voice written", r.stopped ? kExitInterrupted : kExitOk,
                "");
}

// Prints what a job did: the summary on standard error, the JSON object or
// the result line on standard output.
void Report(const JobResult& res, const ExtractArgs& args) {
    if (res.ran && !args.quiet) PrintText(FormatSummary(res));
    std::lock_guard lock(OutputMutex());
    if (args.json) {
        std::printf("%s\n", FormatJson(res).c_str());
    } else if (res.ran && !args.quiet && res.output != "-" && (res.exitStatus == kExitOk || res.exitStatus == kExitInterrupted) &&
               res.state != "not written") {
        const RunReport& r = res.report;
        std::printf("%s: %s%s (%.1f s of audio in %.1f s)\n", res.output.c_str(), res.state.c_str(),
                    res.originalAlone ? " from the original alone" : "",
                    double(r.framesWritten) / std::max(1, r.sampleRate), r.elapsedSeconds);
    }
    std::fflush(stdout);
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
    if (args.output == "-") {
        if (args.json) {
            std::cerr << "-o - writes the voice to standard output: it cannot go with --json\n";
            return kExitUsage;
        }
        if (::isatty(1)) {
            std::cerr << "-o - writes the voice to standard output, which is a terminal: redirect it\n";
            return kExitUsage;
        }
        std::signal(SIGPIPE, SIG_IGN); // a closed pipe is a write error, not the end
    }

    std::vector<Job> jobs;
    int rejected = kExitOk;
    auto weakWarning = [](Job& j) {
        Warn(j.warnings, j.original,
             "the karaoke found, " + Quoted(j.karaoke) + ", shares little of the original's name: is it the same song?");
    };
    if (!originalsOnly && args.inputs.size() == 2) {
        Job j{args.inputs[0], args.inputs[1], args.output, false, {}};
        const KaraokeSearchResult found = FindKaraokeForOriginal(j.original, o);
        if (j.output.empty()) j.output = found.outputPath;
        // Two originals given without -j would be subtracted from each other.
        if (j.original != j.karaoke && !HasKaraokeWord(NameOf(j.karaoke)) &&
            !(!found.karaokePath.empty() && (found.karaokePath == j.karaoke || SameFile(found.karaokePath, j.karaoke))))
            Warn(j.warnings, j.karaoke,
                 "does not look like the karaoke of " + Quoted(j.original) +
                     " (no karaoke word in its name, and the search beside the original picks another file); "
                     "to extract two originals, give -j");
        jobs.push_back(j);
    } else if (!originalsOnly && args.inputs.size() == 1) {
        const std::string& in = args.inputs[0];
        const KaraokeSearchResult found = FindKaraokeForOriginal(in, o);
        if (found.karaokePath.empty()) {
            PrintMessage(QuotedFileName(in) + kNoKaraokeBeside);
            return kExitRejected;
        }
        Job j{in, found.karaokePath, args.output.empty() ? found.outputPath : args.output, true, {}};
        if (found.WeakMatch()) weakWarning(j);
        jobs.push_back(j);
    } else {
        for (const BatchEntry& e : PairOriginals(args.inputs, o)) {
            switch (e.role) {
            case BatchEntry::EarlierOutput:
                PrintText("note: " + Quoted(e.input) + " skipped: its name ends in the output suffix \"" + o.VnameTxt +
                          "\"\n");
                break;
            case BatchEntry::KaraokeOfOther:
                PrintText("note: " + Quoted(e.input) + " skipped: it is the karaoke of " + Quoted(e.other) + "\n");
                break;
            case BatchEntry::NoKaraoke:
                PrintMessage(QuotedFileName(e.input) + kNoKaraokeBeside);
                rejected = kExitRejected;
                break;
            case BatchEntry::Original: {
                Job j{e.input, e.found.karaokePath, args.output.empty() ? e.found.outputPath : args.output, true, {}};
                if (e.found.WeakMatch()) weakWarning(j);
                jobs.push_back(j);
                break;
            }
            }
        }
    }

    // Two jobs writing one file, or one writing over another's input, would
    // lose a result or damage an input: refuse the batch before anything runs.
    bool collide = false;
    std::vector<std::string> targets;
    for (const Job& j : jobs) targets.push_back(j.output == "-" ? "-" : ReplaceExtension(j.output, ".wav"));
    for (size_t a = 0; a < jobs.size(); ++a)
        for (size_t b = 0; b < jobs.size(); ++b) {
            if (a == b) continue;
            if (a < b && SameTarget(targets[a], targets[b])) {
                PrintText(Quoted(jobs[a].original) + " and " + Quoted(jobs[b].original) + " would both write \"" +
                          targets[a] + "\"\n");
                collide = true;
            }
            for (const std::string& in : {jobs[b].original, jobs[b].karaoke})
                if (SameTarget(targets[a], in)) {
                    PrintText(Quoted(jobs[a].original) + " would write over \"" + in + "\", an input of " +
                              Quoted(jobs[b].original) + "\n");
                    collide = true;
                }
        }
    if (collide) {
        PrintText("nothing was extracted: give the songs separately or name their outputs\n");
        return kExitRejected;
    }

    InstallInterruptHandler();
    Ui ui;
    ui.total = int(jobs.size());
    const bool terminal = !args.quiet && ::isatty(2);
    std::unique_ptr<ProgressBoard> board;
    if (jobs.size() == 1) {
        ui.progressBar = terminal;
    } else if (terminal) {
        board = std::make_unique<ProgressBoard>(ui.total);
        ui.board = board.get();
    } else {
        ui.startLines = !args.quiet;
    }
    std::vector<int> status(jobs.size(), kExitOk);
    std::atomic<size_t> next{0};
    const int n = std::clamp(args.jobs, 1, int(std::max<size_t>(1, jobs.size())));
    // Songs at least as many as the cores keep every core busy by themselves:
    // each then runs its frequency merge on its own thread, which spares the
    // workers' hand-over and keeps the threads at one per core.
    const unsigned cores = std::thread::hardware_concurrency();
    const bool spectralOnCaller = n > 1 && cores > 0 && unsigned(n) >= cores;
    auto worker = [&] {
        for (size_t k; (k = next++) < jobs.size();) {
            if (g_interrupted) {
                status[k] = kExitInterrupted;
                continue;
            }
            const JobResult res = ExtractOne(jobs[k], o, args, ui, spectralOnCaller);
            Report(res, args);
            status[k] = res.exitStatus;
        }
    };
    std::vector<std::thread> threads;
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
    const RunReport& r = engine.LastReport();
    const Analysis& a = r.analysis;
    const std::string text = args.json ? FormatAnalysisJson(r, a.driftFramesPerBlock, a.searchHalfWidthFrames) + "\n"
                                       : FormatAnalysis(r, a.driftFramesPerBlock, a.searchHalfWidthFrames);
    std::fputs(text.c_str(), stdout);
    return kExitOk;
}

#include "Commands.h"

#include "BatchPlan.h"
#include "JobRunner.h"
#include "JobSetup.h"
#include "OutputFile.h"
#include "PairWarnings.h"
#include "RunPicture.h"
#include "Summary.h"
#include "TerminalHost.h"
#include "Twave.h"
#include "Vocalmain.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

void PrintPlanMessage(const PlanMessage& m) {
    const char* kind = m.kind == PlanMessage::kNote ? "note: " : m.kind == PlanMessage::kWarning ? "warning: " : "";
    PrintError(kind + MessageLine(m.file, m.text));
}

// A warning about the pair, printed and kept with the job's result.
void PrintWarning(std::vector<std::string>& list, const PlanMessage& w) {
    list.push_back(w.text);
    PrintPlanMessage(w);
}

// Why the picture of a run cannot be written at `path` (--plot), as a
// message line; empty when it can. It never replaces one of the run's
// `files`, nor an existing file unless `replace`.
std::string PlotProblem(const std::string& path, bool replace, const std::vector<std::string>& files) {
    const char* what = "cannot write the picture of the run here";
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (fs::is_directory(fs::status(path, ec))) return MessageLine(path, what, std::strerror(EISDIR));
    const fs::path whole = fs::absolute(path, ec).lexically_normal();
    for (const std::string& f : files) {
        std::error_code same;
        if (!f.empty() && f != "-" &&
            (fs::absolute(f, same).lexically_normal() == whole || fs::equivalent(path, f, same)))
            return MessageLine(path, "is one of the run's files: the picture does not replace it");
    }
    if (fs::exists(st)) {
        if (!fs::is_regular_file(fs::status(path, ec)) && !fs::is_symlink(st))
            return MessageLine(path, what, "not a regular file");
        if (!replace) return MessageLine(path, "exists: the picture does not replace it (--yes does)");
    }
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    // The picture is made beside its name and renamed to it.
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return MessageLine(path, what, std::strerror(errno));
    return "";
}

// Whether --plot, when given, names a picture that can be written; the
// message when it does not.
bool PlotAccepted(const std::string& path, bool replace, const std::vector<std::string>& files) {
    const std::string problem = path.empty() ? "" : PlotProblem(path, replace, files);
    if (!problem.empty()) PrintError(problem);
    return problem.empty();
}

// The picture for --plot, drawn at the size the command line writes and
// saved; empty, or the message line of why it was not.
std::string WritePicture(const RunPicture& picture, const std::string& path, bool replace) {
    const std::string why = SaveRunPicture(DrawRunPicture(picture, kPlotSize, CurrentLanguage()), path, replace);
    return why.empty() ? "" : MessageLine(path, why);
}

int PlotColumns(const RunPicture& picture) { return LayoutRunPicture(picture, kPlotSize).lanes[0].width(); }

// How the jobs show their progress.
struct Ui {
    bool progressBar = false;        // one job on a terminal
    ProgressBoard* board = nullptr;  // several jobs on a terminal
    bool startLines = false;         // several jobs elsewhere: a line as each starts
    int total = 0;
    std::atomic<int> started{0};
};

// One extraction, start to end, with its own engine and files. Each step
// returns false when the job has ended, with its result in `res`.
class Extraction {
public:
    Extraction(const PlannedJob& job, const CommittedOptions& committed, const ExtractArgs& args, Ui& ui,
               bool spectralOnCaller)
        : job_(job), options_(committed), args_(args), ui_(ui),
          host_(&engine_.Cancel, ui.progressBar, args.yes, job.original, job.output) {
        engine_.RunSpectralOnCaller(spectralOnCaller);
        res.original = job.original;
        res.karaoke = job.karaoke;
        res.output = job.output;
        res.karaokeFound = job.karaokeFound;
        for (const PlanMessage& w : job.warnings) res.warnings.push_back(w.text);
        request_.original = job.original;
        request_.karaoke = job.karaoke;
        request_.output = job.output;
    }

    JobResult Run() {
        if (OpenInputs() && SettleOutput() && CheckPair() && CreateOutput()) {
            RunEngine();
            PlaceVoice();
            if (res.exitStatus == kExitOk) PlacePicture();
        }
        original_.Close();
        karaoke_.Close();
        return res;
    }

    JobResult res;

private:
    bool End(const char* state, int status, const std::string& message) {
        res.state = state;
        res.exitStatus = status;
        res.message = message;
        return false;
    }
    // A message of the command line's own about `path`, printed and kept.
    bool Fail(const char* state, int status, const std::string& path, const std::string& what,
              const std::string& cause = "") {
        const std::string line = MessageLine(path, what, cause);
        PrintError(line);
        return End(state, status, line);
    }

    bool OpenInputs() {
        // A Ctrl-C while an input is decoded also ends the preparation.
        if (!PrepareInputs(request_, original_, karaoke_, host_))
            return g_interrupted ? End("not written", kExitInterrupted, "stopped while reading the inputs")
                                 : End("rejected", kExitRejected, host_.lastWarning);
        res.originalAlone = request_.runMode == 1;
        // An input decoded only in part was warned about as it was read.
        res.warnings.insert(res.warnings.end(), request_.inputWarnings.begin(), request_.inputWarnings.end());
        return true;
    }

    // The output: a regular file or a new name in an existing folder, under
    // the rule of both front ends.
    bool SettleOutput() {
        std::string target = job_.output;
        if (target != "-") {
            std::string why = CheckOutputTarget(target);
            if (why.empty() && target != SettledOutputName(target)) {
                target = SettledOutputName(target);
                why = CheckOutputTarget(target);
            }
            res.output = target;
            if (!why.empty()) return Fail("rejected", kExitRejected, target, why + "; the voice was not written");
            host_.SetOutput(target, &output_);
            if (!AcceptOutput(request_, target, host_)) return End("rejected", kExitRejected, host_.lastWarning);
        }
        request_.output = target;
        pending_ = std::make_unique<PendingOutput>(target, args_.yes);
        return true;
    }

    // What can be said about the pair before the run.
    bool CheckPair() {
        const uint16_t align = original_.Format.nBlockAlign;
        if (request_.runMode == 0 && align > 0) {
            const std::string w = LengthWarning(original_.DataBytes / align, karaoke_.DataBytes / align,
                                                int(original_.Format.nSamplesPerSec), CurrentLanguage());
            if (!w.empty()) PrintWarning(res.warnings, {PlanMessage::kWarning, job_.karaoke, w});
        }
        if (args_.strict && !res.warnings.empty())
            return Fail("not written", kExitWarning, job_.original, "not extracted (--strict and a warning)");
        return true;
    }

    bool CreateOutput() {
        output_.Format = original_.Format;
        const int error = pending_->Create(output_);
        if (error != 0)
            return Fail("rejected", kExitRejected, pending_->ToStdout() ? "standard output" : res.output,
                        CliText(JobText::kCannotCreate), std::strerror(error));
        return true;
    }

    void RunEngine() {
        if (args_.log) host_.log.DebugMode = true;
        const int number = ++ui_.started;
        int slot = -1;
        if (ui_.board) {
            slot = ui_.board->Start(fs::path(job_.original).filename().string());
            host_.UseBoard(ui_.board, slot);
        } else if (ui_.startLines) {
            PrintText("[" + std::to_string(number) + "/" + std::to_string(ui_.total) + "] " + job_.original + "\n");
        }
        const int warningsBefore = host_.warnings;
        closed_ = RunPreparedJob(engine_, host_, host_.log, &options_, request_, original_, karaoke_, output_,
                                 [this](int closed) {
                                     if (closed == 0) ReadPicture();
                                 });
        engineWarned_ = host_.warnings > warningsBefore;
        host_.EndLine();
        if (ui_.board) ui_.board->Finish(slot);
        res.ran = true;
        res.report = engine_.LastReport();
    }

    // Where the voice goes, by what the run did.
    bool PlaceVoice() {
        const RunReport& r = res.report;
        const bool writeFailed = r.result == TVocalMain::kWriteFailed || closed_ != 0;
        if (writeFailed) {
            if (!engineWarned_) host_.ShowWarning(EngineText::kWriteFailed);
            // What reached the disk, a valid WAVE file, goes to a new target.
            const bool kept = r.framesWritten > 0 && !pending_->ToStdout() && Placed(pending_->Finish(false));
            return End(kept ? "failed, kept what was written" : "failed", kExitFailed, host_.lastWarning);
        }
        if (engineWarned_) return End("failed", kExitFailed, host_.lastWarning);
        if (r.emptyInput) {
            const bool first = original_.DataBytes < original_.Format.nBlockAlign;
            const TWaveData& w = first ? original_ : karaoke_;
            return Fail("rejected", kExitRejected, first ? job_.original : job_.karaoke,
                        w.DataBytes == 0 ? "the data chunk is empty: nothing to extract"
                                         : "the data chunk holds less than one frame: nothing to extract");
        }
        if (r.stopped && r.framesWritten == 0)
            return End("not written", kExitInterrupted,
                       "stopped before any voice was written; the output was left as it was");
        // A recording that ended before its header's length: said, and the
        // voice of what there was is kept, with a failure status.
        const bool incomplete = r.inputEndedEarly && ReportShortInputs();
        const std::string removal = RemovalWarning(r, CurrentLanguage());
        if (!removal.empty()) PrintWarning(res.warnings, {PlanMessage::kWarning, job_.karaoke, removal});
        if (args_.strict && !res.warnings.empty())
            return Fail("not written", kExitWarning, job_.original, "voice not written (--strict and a warning)");
        if (!Placed(pending_->Finish(!r.stopped))) return false;
        if (incomplete) return End("incomplete, kept what was written", kExitFailed, "a recording ended early");
        return End(r.stopped ? "stopped, kept what was written" : "voice written",
                   r.stopped ? kExitInterrupted : kExitOk, "");
    }

    // The spectrograms for --plot of a run that wrote its voice, read while
    // the original is open and the voice whole in its temporary.
    void ReadPicture() {
        const RunReport& r = engine_.LastReport();
        if (args_.plot.empty() || r.stopped || r.result != 0 || r.framesWritten == 0) return;
        picture_ = std::make_unique<RunPicture>();
        picture_->report = r;
        picture_->karaokeName = fs::path(job_.karaoke).filename().string();
        TWaveData voice;
        const bool voiceOpen = voice.OpenRead(pending_->ReadDescriptor(), res.output) == 0;
        ReadRunPictureSpectrograms(*picture_, original_, voiceOpen ? &voice : nullptr, PlotColumns(*picture_));
    }

    // The picture of a run whose voice took its name; a picture that cannot
    // be written fails the job.
    void PlacePicture() {
        if (!picture_) return;
        const std::string line = WritePicture(*picture_, args_.plot, args_.yes);
        if (line.empty()) return;
        PrintError(line);
        res.exitStatus = kExitFailed;
        res.message = line;
    }

    // Says what became of the voice when it did not take the target's name;
    // false then, with the job's result set.
    bool Placed(const OutputOutcome& o) {
        const std::string& target = res.output;
        switch (o.state) {
        case OutputOutcome::kWritten:
            return true;
        case OutputOutcome::kLeftAsItWas:
            return Fail(res.report.stopped ? "stopped, the existing file left as it was" : "failed",
                        res.report.stopped ? kExitInterrupted : kExitFailed, target,
                        "left as it was: the voice of the unfinished run was discarded");
        case OutputOutcome::kKept:
            res.keptAs = o.keptAs;
            return Fail("kept under another name", kExitFailed, target,
                        o.error == EEXIST ? "appeared during the run and was not replaced (--yes replaces it); "
                                            "the voice was kept as " + QuotedPath(o.keptAs)
                                          : std::string("the voice cannot take this name (") +
                                                std::strerror(o.error) + "); it was kept as " + QuotedPath(o.keptAs));
        case OutputOutcome::kFailed:
            break;
        }
        return Fail("failed", kExitFailed, pending_->ToStdout() ? "standard output" : target, o.problem,
                    o.error != 0 ? std::strerror(o.error) : "");
    }

    // Names each recording that ended before its header's length; whether
    // one did.
    bool ReportShortInputs() {
        bool any = false;
        for (const auto& [wave, path] : {std::pair{&original_, job_.original}, std::pair{&karaoke_, job_.karaoke}}) {
            if (wave->FileName != path) continue; // a decoded temporary cannot shrink
            std::error_code ec;
            const auto size = fs::file_size(wave->FileName, ec);
            if (!ec && int64_t(size) >= wave->DataStart + int64_t(wave->DataBytes)) continue;
            PrintError(MessageLine(
                path, "the recording ended before the length its header gives: the voice is incomplete"));
            any = true;
        }
        return any;
    }

    const PlannedJob& job_;
    CommittedOptions options_; // a mono original changes this copy only
    const ExtractArgs& args_;
    Ui& ui_;
    TVocalMain engine_;
    TWaveData original_, karaoke_, output_;
    TerminalHost host_;
    JobRequest request_;
    std::unique_ptr<PendingOutput> pending_;
    std::unique_ptr<RunPicture> picture_;
    int closed_ = 0;
    bool engineWarned_ = false;
};

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
        PrintError(error);
        return kExitUsage;
    }
    const CommittedOptions& o = settings.Options;

    const bool originalsOnly = args.originalsOnly || args.inputs.size() > 2;
    if (!args.output.empty() && (originalsOnly && args.inputs.size() > 1)) {
        PrintError("-o names one output: give one ORIGINAL [KARAOKE] with it");
        return kExitUsage;
    }
    if (!args.plot.empty() && (originalsOnly && args.inputs.size() > 1)) {
        PrintError("--plot names one picture: give one ORIGINAL [KARAOKE] with it");
        return kExitUsage;
    }
    if (args.output == "-") {
        if (args.json) {
            PrintError("-o - writes the voice to standard output: it cannot go with --json");
            return kExitUsage;
        }
        if (::isatty(1)) {
            PrintError("-o - writes the voice to standard output, which is a terminal: redirect it");
            return kExitUsage;
        }
        std::signal(SIGPIPE, SIG_IGN); // a closed pipe is a write error, not the end
    }

    const BatchPlan plan = PlanJobs(args.inputs, args.output, originalsOnly, o);
    for (const PlanMessage& m : plan.messages) PrintPlanMessage(m);
    for (const PlannedJob& j : plan.jobs)
        for (const PlanMessage& w : j.warnings) PrintPlanMessage(w);
    if (plan.rejected && plan.jobs.empty()) return kExitRejected;
    // Two jobs writing one file, or one writing over another's input, would
    // lose a result or damage an input: refuse the batch before anything runs.
    const std::vector<std::string> collisions = Collisions(plan.jobs);
    if (!collisions.empty()) {
        for (const std::string& c : collisions) PrintError(c);
        PrintError("nothing was extracted: give the songs separately or name their outputs");
        return kExitRejected;
    }
    const std::vector<PlannedJob>& jobs = plan.jobs;
    if (!jobs.empty() && !PlotAccepted(args.plot, args.yes, {jobs[0].original, jobs[0].karaoke, jobs[0].output}))
        return kExitRejected;

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
            const JobResult res = Extraction(jobs[k], o, args, ui, spectralOnCaller).Run();
            Report(res, args);
            status[k] = res.exitStatus;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < n; ++t) threads.emplace_back(worker);
    worker();
    for (auto& t : threads) t.join();

    // An interruption outranks every other outcome, then the worst failure.
    int worst = plan.rejected ? kExitRejected : kExitOk;
    for (int s : status)
        if (s == kExitInterrupted || (worst != kExitInterrupted && s > worst)) worst = s;
    return worst;
}

int RunAnalyse(AnalyseArgs& args) {
    SettingsModel settings;
    std::string error;
    if (!args.options.Load(settings, error)) {
        PrintError(error);
        return kExitUsage;
    }
    if (!PlotAccepted(args.plot, args.yes, {args.original, args.karaoke})) return kExitRejected;
    CommittedOptions options = settings.Options;
    options.IntroMode = 0; // the analysis itself is what is asked for
    TVocalMain engine;
    TWaveData original, karaoke, unused;
    TerminalHost host(&engine.Cancel, !args.json && ::isatty(2), false, args.original);
    JobRequest request;
    request.original = args.original;
    request.karaoke = args.karaoke;
    if (!PrepareInputs(request, original, karaoke, host, false)) return kExitRejected;
    if (std::min(original.DataBytes, karaoke.DataBytes) < original.Format.nBlockAlign) {
        PrintError("nothing to analyse: a data chunk is empty");
        return kExitRejected;
    }
    InstallInterruptHandler();
    engine.Attach(&host, &options, &original, &karaoke, &unused);
    const int result = engine.Analyse();
    host.EndLine();
    if (result != 0) {
        PrintError(CliText(EngineText::kNoMemory));
        return kExitFailed;
    }
    if (engine.Cancel) return kExitInterrupted;
    const RunReport& r = engine.LastReport();
    const Analysis& a = r.analysis;
    const std::string text = args.json ? FormatAnalysisJson(r, a.driftFramesPerBlock, a.searchHalfWidthFrames) + "\n"
                                       : FormatAnalysis(r, a.driftFramesPerBlock, a.searchHalfWidthFrames);
    std::fputs(text.c_str(), stdout);
    if (!args.plot.empty()) {
        RunPicture picture;
        picture.report = r;
        picture.karaokeName = fs::path(args.karaoke).filename().string();
        ReadRunPictureSpectrograms(picture, original, nullptr, PlotColumns(picture));
        const std::string line = WritePicture(picture, args.plot, args.yes);
        if (!line.empty()) {
            PrintError(line);
            return kExitFailed;
        }
    }
    return kExitOk;
}

// The engine's host on a terminal: a progress bar on standard error, warnings
// as command-line messages, Ctrl-C (or SIGTERM, SIGHUP) as the stop request.
#pragma once

#include "DebugLog.h"
#include "Host.h"
#include "JobSetup.h"
#include "StopFlag.h"
#include "WaveCheck.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Set by the SIGINT, SIGTERM and SIGHUP handler; every running job stops at
// its next block.
extern std::atomic<bool> g_interrupted;
void InstallInterruptHandler();
// SIGXFSZ ignored, so that a file-size limit is an ordinary write error.
void IgnoreFileSizeLimitSignal();
// Serialises lines written by parallel jobs.
std::mutex& OutputMutex();
// Prints text as it is on standard error, clearing a progress line first.
void PrintText(const std::string& text);

// The messages of the command line on standard error, as such tools word
// them: "sonvelt-cli: PATH: what happened (cause)".
//
// A text of the system's own (a defined message of the checks or the
// engine) in the command line's language (CurrentLanguage()), on one line:
// in English lower-case and without a full stop, as part of a sentence.
std::string CliText(const std::string& systemText);
// "PATH: what (cause)": the path as given, left out when empty; the
// parentheses only with a cause.
std::string MessageLine(const std::string& path, const std::string& what, const std::string& cause = "");
// The same for a message about a file: its text, then its detail and cause.
std::string MessageLine(const FileMessage& message);
// Prints "sonvelt-cli: " and the line.
void PrintError(const std::string& line);

// One progress line for several jobs on a terminal: "[done/total]" and the
// jobs running with their percentage.
class ProgressBoard {
public:
    explicit ProgressBoard(int total) : total_(total) {}
    // A job starts in a free place on the line; its index there.
    int Start(const std::string& name);
    void Update(int slot, int percent);
    void Finish(int slot);

private:
    void Draw(); // with OutputMutex held
    struct Entry {
        std::string name;
        int percent = 0;
        bool running = false;
    };
    std::vector<Entry> entries_;
    int total_, done_ = 0;
};

class TerminalHost : public EngineHost, public JobDialogs {
public:
    // `subject`: the file a job's messages are about unless they name one
    // (the original); `output`: the job's output as named.
    TerminalHost(StopFlag* cancel, bool progressBar, bool overwrite, const std::string& subject = "",
                 const std::string& output = "")
        : subject_(subject), output_(output), cancel_(cancel), progressBar_(progressBar), overwrite_(overwrite) {}
    // The output's final name and the file the run writes, whose error a
    // write failure gives as its cause.
    void SetOutput(const std::string& target, const TWaveData* written) {
        output_ = target;
        written_ = written;
    }
    // Progress goes to the shared line of several jobs instead of a bar.
    void UseBoard(ProgressBoard* board, int slot) {
        board_ = board;
        slot_ = slot;
    }

    void SetProgressRange(int64_t maximum) override { max_ = maximum; }
    void SetProgressPosition(int64_t position) override;
    void SetStatusText(const std::string& text) override;
    void SetTitle(const std::string&) override {}
    void ProcessMessages() override;
    void ShowWarning(const std::string& text) override;
    void DebugLog(const std::string& text) override { log.Write(text); }
    void LogTimestamp() override { log.WriteLogTimestamp(); }
    void StartStatusTimer(int intervalMs, std::function<void()> tick) override;
    void StopStatusTimer() override { tick_ = nullptr; }

    // The only question is whether to replace an output: --yes answers it.
    bool Confirm(const std::string&) override { return overwrite_; }
    void ShowFileWarning(const FileMessage& message) override;
    bool ConfirmReplace(const std::string& path) override;
    void ShowNote(const std::string& text) override { PrintError("note: " + text); }
    bool Cancelled() override { return g_interrupted; }

    // Clears the progress line, if one is shown.
    void EndLine();

    class DebugLog log;
    int warnings = 0;  // warnings shown by the engine or the checks
    std::string lastWarning; // the last message, as MessageLine gives it

private:
    void Draw();
    void Report(const std::string& line);

    std::string subject_, output_;
    const TWaveData* written_ = nullptr;
    StopFlag* cancel_;
    bool progressBar_;
    bool overwrite_;
    ProgressBoard* board_ = nullptr;
    int slot_ = -1;
    int64_t max_ = 0, pos_ = 0;
    std::string status_;
    bool drawn_ = false;
    std::function<void()> tick_;
    int tickMs_ = 1000;
    std::chrono::steady_clock::time_point lastTick_{};
};

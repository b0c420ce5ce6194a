// The engine's host on a terminal: a progress bar on standard error, warnings
// as text, Ctrl-C (or SIGTERM, SIGHUP) as the stop request.
#pragma once

#include "DebugLog.h"
#include "Host.h"
#include "JobSetup.h"
#include "StopFlag.h"

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
// Prints a message of the system's own on standard error, without its padding.
void PrintMessage(const std::string& text);
// Prints text as it is on standard error, clearing a progress line first.
void PrintText(const std::string& text);

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
    TerminalHost(StopFlag* cancel, bool progressBar, bool overwrite)
        : cancel_(cancel), progressBar_(progressBar), overwrite_(overwrite) {}
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

    bool Confirm(const std::string& text) override;
    void ShowNote(const std::string& text) override { PrintMessage(text); }
    bool Cancelled() override { return g_interrupted; }

    // Clears the progress line, if one is shown.
    void EndLine();

    class DebugLog log;
    int warnings = 0;  // warnings shown by the engine or the checks
    std::string lastWarning;

private:
    void Draw();

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

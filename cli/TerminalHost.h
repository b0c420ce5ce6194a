// The engine's host on a terminal: a progress bar on standard error, warnings
// as text, Ctrl-C as the stop request.
#pragma once

#include "DebugLog.h"
#include "Host.h"
#include "JobSetup.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

// Set by the SIGINT handler; every running job stops at its next block.
extern std::atomic<bool> g_interrupted;
void InstallInterruptHandler();
// Serialises lines written by parallel jobs.
std::mutex& OutputMutex();
// Prints a message of the system's own on standard error, without its padding.
void PrintMessage(const std::string& text);

class TerminalHost : public EngineHost, public JobDialogs {
public:
    TerminalHost(volatile int32_t* cancel, bool progressBar, bool overwrite)
        : cancel_(cancel), progressBar_(progressBar), overwrite_(overwrite) {}

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
    bool declinedOverwrite = false;

private:
    void Draw();

    volatile int32_t* cancel_;
    bool progressBar_;
    bool overwrite_;
    int64_t max_ = 0, pos_ = 0;
    std::string status_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::function<void()> tick_;
    int tickMs_ = 1000;
    std::chrono::steady_clock::time_point lastTick_{};
};

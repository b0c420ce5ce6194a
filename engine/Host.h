// What the engine needs from the program that drives it: the window or the
// terminal. The engine runs on the caller's thread and calls these between
// blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class EngineHost {
public:
    virtual ~EngineHost() = default;

    // The progress counts bytes of the original recording consumed.
    virtual void SetProgressRange(int64_t maximumBytes) = 0;
    virtual void SetProgressPosition(int64_t progressBytes) = 0;
    // The status text next to the progress bar, shown at once.
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // Handles whatever the user did since the last call (clicks, a close, a
    // stop request); may re-enter the caller.
    virtual void ProcessMessages() = 0;
    // A warning with one OK button; returns when it has been dismissed.
    virtual void ShowWarning(const std::string& text) = 0;
    // One formatted piece of the debug log, and its timestamp line; both do
    // nothing unless a debug log is open.
    virtual void DebugLog(const std::string& text) = 0;
    virtual void LogTimestamp() = 0;
    // A repeating timer whose ticks arrive only inside ProcessMessages().
    virtual void StartStatusTimer(int intervalMs, std::function<void()> tick) = 0;
    virtual void StopStatusTimer() = 0;
};

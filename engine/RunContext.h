// What every pass of a run shares: the host it reports to, the stop request
// it polls after each pump, the progress it advances and the debug log it
// writes. The run owns the values the front ends show (the progress count
// and the animated status); the context works on them.
#pragma once

#include "Host.h"
#include "StopFlag.h"

#include <cstdint>
#include <string>

class RunContext {
public:
    // progressBytes, statusText and statusStep are the run's own (they
    // outlive the context); progressMaxBytes is what 100 % stands for.
    RunContext(EngineHost& host, const StopFlag& stop, int64_t& progressBytes, int64_t progressMaxBytes,
               std::string& statusText, int32_t& statusStep);

    EngineHost& Host() { return host_; }
    // The user asked to stop.
    bool Stopped() const { return stop_ != 0; }
    // Handles the user's input since the last call.
    void Pump() { host_.ProcessMessages(); }

    // One line of the debug log (nothing unless a log is open), and the
    // log's timestamp line.
    void DebugPrint(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogTimestamp() { host_.LogTimestamp(); }

    // Bytes of the original consumed, and what 100 % stands for.
    int64_t& Progress() { return progress_; }
    int64_t ProgressMax() const { return progressMax_; }
    // Shows the progress on the bar, in the status text and in the title.
    void ShowProgress();
    // Counts a processed block and shows the progress after every 12th.
    void ProgressStep(int& counter);
    // A run that went to the end of its input shows 100 % before the
    // display is reset; the updates every 12 blocks would stop short of it.
    void ShowFinished(int result);

    // The animated status: `text` followed by 0 to 4 spaces and "->",
    // changing once a second while the passes pump; StopStatus clears it.
    void StartStatus(const std::string& text);
    void StopStatus();

private:
    EngineHost& host_;
    const StopFlag& stop_;
    int64_t& progress_;
    int64_t progressMax_;
    std::string& statusText_;
    int32_t& statusStep_;
};

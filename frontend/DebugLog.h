// The hidden debug log: one plain text file per run, next to the original.
// Each front end owns one; the engine writes to it through its host.
#pragma once

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

class DebugLog {
public:
    using Clock = std::chrono::system_clock;

    DebugLog();
    ~DebugLog();
    DebugLog(const DebugLog&) = delete;
    DebugLog& operator=(const DebugLog&) = delete;

    // Creates the log anew when debug mode is on (a new file that takes the
    // name, see NewFile::CreateReplacing) and writes the first timestamp
    // line. A file that cannot be created leaves no log open.
    void OpenDebugLog(const std::string& path);
    // "<date> <time>  <seconds since open>二阶段"
    void WriteLogTimestamp();
    void DebugPrint(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void DebugPrintV(const char* format, va_list args);
    // Writes text as it is.
    void Write(const std::string& text);
    void CloseDebugLog();

    bool IsOpen() const { return LogFile != nullptr; }

    bool DebugMode = false;
    std::FILE* LogFile = nullptr;
    Clock::time_point LogStart{};

    // The clock and the date-time text, replaceable so tests need not wait.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    // The local date and time in the locale's short date and long time form.
    std::function<std::string(Clock::time_point)> dateTimeText;
};

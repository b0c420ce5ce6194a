#include "DebugLog.h"

#include "NewFile.h"

#include <cmath>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

std::string LocaleDateTime(DebugLog::Clock::time_point t) {
    std::time_t tt = DebugLog::Clock::to_time_t(t);
    std::tm local{};
    localtime_r(&tt, &local);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, "%x %X", &local);
    return std::string(buf, n);
}

} // namespace

DebugLog::DebugLog() : dateTimeText(LocaleDateTime) {}

DebugLog::~DebugLog() {
    if (LogFile) std::fclose(LogFile);
}

void DebugLog::OpenDebugLog(const std::string& path) {
    // A log left open by an earlier run is finished here, never written again.
    if (LogFile) {
        std::fclose(LogFile);
        LogFile = nullptr;
    }
    if (!DebugMode) return;
    // A file of the program's own: made new, whatever had its name (an
    // earlier log, a link someone planted) is replaced, never written through.
    const int fd = NewFile::CreateReplacing(path);
    if (fd >= 0 && !(LogFile = ::fdopen(fd, "w"))) ::close(fd);
    LogStart = now();
    WriteLogTimestamp();
}

void DebugLog::WriteLogTimestamp() {
    if (!DebugMode) return;
    const Clock::time_point t = now();
    const double seconds = std::fabs(std::chrono::duration<double>(t - LogStart).count());
    DebugPrint("%s  %lld二阶段\n", dateTimeText(t).c_str(), static_cast<long long>(seconds));
}

void DebugLog::DebugPrintV(const char* format, va_list args) {
    if (!DebugMode || !LogFile) return;
    std::vfprintf(LogFile, format, args);
}

void DebugLog::DebugPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    DebugPrintV(format, args);
    va_end(args);
}

void DebugLog::Write(const std::string& text) {
    if (!DebugMode || !LogFile) return;
    std::fwrite(text.data(), 1, text.size(), LogFile);
}

// A log whose mode was switched off during the run is closed without a
// last line, so nothing can write into it later.
void DebugLog::CloseDebugLog() {
    if (!LogFile) return;
    WriteLogTimestamp();
    std::fclose(LogFile);
    LogFile = nullptr;
}

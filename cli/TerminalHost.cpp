#include "TerminalHost.h"

#include "WaveCheck.h"

#include <csignal>
#include <cstdio>
#include <iostream>

std::atomic<bool> g_interrupted{false};

namespace {
void OnInterrupt(int sig) {
    g_interrupted = true;
    // A second signal of the same kind ends the program at once.
    std::signal(sig, SIG_DFL);
}
} // namespace

void InstallInterruptHandler() {
    // Ctrl-C, a kill and a closed terminal all stop the run the same way, so
    // the output is closed as a valid file of what was written.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnInterrupt);
    IgnoreFileSizeLimitSignal();
}

void IgnoreFileSizeLimitSignal() {
    // Past a file-size limit, write() then fails with EFBIG and the run ends
    // on the write-error path instead of the process dying mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
}

std::mutex& OutputMutex() {
    static std::mutex m;
    return m;
}

void PrintMessage(const std::string& text) {
    std::lock_guard lock(OutputMutex());
    std::cerr << StripPadding(text) << std::endl;
}

void TerminalHost::SetProgressPosition(int64_t position) {
    pos_ = position;
    Draw();
}

void TerminalHost::SetStatusText(const std::string& text) {
    status_ = text;
    Draw();
}

void TerminalHost::Draw() {
    if (!progressBar_) return;
    constexpr int kWidth = 30;
    const double frac = max_ > 0 ? std::min(1.0, double(pos_) / double(max_)) : 0.0;
    const int filled = int(frac * kWidth);
    std::string bar(size_t(filled), '#');
    bar.resize(kWidth, '.');
    std::lock_guard lock(OutputMutex());
    std::fprintf(stderr, "\r[%s] %3d%%  %-16s", bar.c_str(), int(frac * 100), status_.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalHost::EndLine() {
    if (!drawn_) return;
    std::lock_guard lock(OutputMutex());
    std::fprintf(stderr, "\r%*s\r", 60, "");
    std::fflush(stderr);
    drawn_ = false;
}

void TerminalHost::ProcessMessages() {
    if (g_interrupted) *cancel_ = 1;
    const auto now = std::chrono::steady_clock::now();
    if (tick_ && now - lastTick_ >= std::chrono::milliseconds(tickMs_)) {
        lastTick_ = now;
        auto tick = tick_;
        tick();
    }
}

void TerminalHost::StartStatusTimer(int intervalMs, std::function<void()> tick) {
    tick_ = std::move(tick);
    tickMs_ = intervalMs;
    lastTick_ = std::chrono::steady_clock::now();
}

void TerminalHost::ShowWarning(const std::string& text) {
    EndLine();
    ++warnings;
    PrintMessage(text);
}

bool TerminalHost::Confirm(const std::string& text) {
    if (overwrite_) return true;
    declinedOverwrite = true;
    EndLine();
    PrintMessage(text.substr(0, text.find('\n')) + ": the output file exists; use --yes to overwrite it");
    return false;
}

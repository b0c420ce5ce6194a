#include "TerminalHost.h"

#include "Language.h"
#include "OutputFile.h"
#include "Twave.h"
#include "Vocalmain.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>

std::atomic<bool> g_interrupted{false};

namespace {
void OnInterrupt(int sig) {
    if (!g_interrupted.exchange(true)) return;
    // A second Ctrl-C (or SIGTERM, SIGHUP) ends the program at once, leaving each output as a
    // run stopped at this point would.
    FinishPendingOutputsNow();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
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

namespace {
bool g_lineShown = false; // a progress line is on the terminal; guarded by OutputMutex

void ClearLine() {
    if (!g_lineShown) return;
    std::fputs("\r\033[K", stderr);
    g_lineShown = false;
}

// The engine's own percentage text ("43 %"), which the bar already shows.
bool IsPercentText(const std::string& s) {
    return s.size() > 2 && s.compare(s.size() - 2, 2, " %") == 0 &&
           s.find_first_not_of("0123456789") == s.size() - 2;
}
} // namespace

std::string CliText(const std::string& systemText) {
    const bool english = CurrentLanguage() == Language::English;
    std::string text = english ? LocalisedText(systemText, Language::English) : StripPadding(systemText);
    const size_t first = text.find_first_not_of("\n "), last = text.find_last_not_of("\n ");
    text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    for (char& c : text)
        if (c == '\n') c = ' ';
    if (english && !text.empty() && text.back() == '.') text.pop_back();
    // "Cannot open" starts a sentence of its own; "WAVE" stays as it is.
    if (english && text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
        std::islower(static_cast<unsigned char>(text[1])))
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::string MessageLine(const std::string& path, const std::string& what, const std::string& cause) {
    return (path.empty() ? "" : path + ": ") + what + (cause.empty() ? "" : " (" + cause + ")");
}

std::string MessageLine(const FileMessage& m) {
    std::string why = m.detail;
    if (!m.cause.empty()) why += (why.empty() ? "" : "; ") + m.cause;
    return MessageLine(m.path, CliText(m.text), why);
}

void PrintError(const std::string& line) { PrintText("sonvelt-cli: " + line + "\n"); }

void PrintText(const std::string& text) {
    std::lock_guard lock(OutputMutex());
    ClearLine();
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

int ProgressBoard::Start(const std::string& name) {
    std::lock_guard lock(OutputMutex());
    size_t slot = 0;
    while (slot < entries_.size() && entries_[slot].running) ++slot;
    if (slot == entries_.size()) entries_.emplace_back();
    entries_[slot] = {name, 0, true};
    Draw();
    return int(slot);
}

void ProgressBoard::Update(int slot, int percent) {
    std::lock_guard lock(OutputMutex());
    if (slot < 0 || size_t(slot) >= entries_.size() || entries_[slot].percent == percent) return;
    entries_[slot].percent = percent;
    Draw();
}

void ProgressBoard::Finish(int slot) {
    std::lock_guard lock(OutputMutex());
    if (slot >= 0 && size_t(slot) < entries_.size()) entries_[slot].running = false;
    ++done_;
    Draw();
}

void ProgressBoard::Draw() {
    std::string line = "[" + std::to_string(done_) + "/" + std::to_string(total_) + "]";
    for (const Entry& e : entries_)
        if (e.running) line += "  " + e.name + " " + std::to_string(e.percent) + "%";
    // One terminal line: long names are cut, never inside a UTF-8 character.
    constexpr size_t kMax = 100;
    if (line.size() > kMax) {
        size_t cut = kMax - 3;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        line = line.substr(0, cut) + "...";
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    g_lineShown = true;
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
    const double frac = max_ > 0 ? std::min(1.0, double(pos_) / double(max_)) : 0.0;
    if (board_) {
        board_->Update(slot_, int(frac * 100));
        return;
    }
    if (!progressBar_) return;
    constexpr int kWidth = 30;
    const int filled = int(frac * kWidth);
    std::string bar(size_t(filled), '#');
    bar.resize(kWidth, '.');
    const std::string status = IsPercentText(status_) ? "" : status_;
    std::lock_guard lock(OutputMutex());
    std::fprintf(stderr, "\r\033[K[%s] %3d%%  %s", bar.c_str(), int(frac * 100), status.c_str());
    std::fflush(stderr);
    drawn_ = true;
    g_lineShown = true;
}

void TerminalHost::EndLine() {
    if (!drawn_) return;
    std::lock_guard lock(OutputMutex());
    ClearLine();
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

void TerminalHost::Report(const std::string& line) {
    EndLine();
    ++warnings;
    lastWarning = line;
    PrintError(line);
}

void TerminalHost::ShowWarning(const std::string& text) {
    // The messages about the output name it; the others are about the job.
    std::string path = subject_, cause;
    if (text == EngineText::kWriteFailed || text == JobText::kDuplicateNames) path = output_;
    if (text == EngineText::kWriteFailed && written_ && written_->LastError() != 0)
        cause = std::strerror(written_->LastError());
    Report(MessageLine(path, CliText(text), cause));
}

void TerminalHost::ShowFileWarning(const FileMessage& message) { Report(MessageLine(message)); }

bool TerminalHost::ConfirmReplace(const std::string& path) {
    if (overwrite_) return true;
    EndLine();
    lastWarning = MessageLine(path, "the file exists; use --yes to replace it");
    PrintError(lastWarning);
    return false;
}

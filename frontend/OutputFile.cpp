#include "OutputFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kMark = ".sonvelt-tmp-";

// The outputs in the making, readable from a signal handler: fixed storage,
// a slot is claimed and released through its state.
struct Slot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 live
    bool toStdout = false;
    char temp[PATH_MAX] = {};
    char target[PATH_MAX] = {};
};
constexpr int kSlots = 64;
Slot g_slots[kSlots];

int Claim(const std::string& temp, const std::string& target) {
    if (temp.size() >= PATH_MAX || target.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
        Slot& s = g_slots[i];
        std::memcpy(s.temp, temp.c_str(), temp.size() + 1);
        std::memcpy(s.target, target.c_str(), target.size() + 1);
        s.toStdout = target == "-";
        s.state = 2;
        return i;
    }
    return -1;
}

void Release(int slot) {
    if (slot >= 0) g_slots[slot].state = 0;
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Copies a file to standard output; false on a write error (a closed pipe).
bool CopyToStdout(const std::string& path) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    char buf[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(STDOUT_FILENO, buf + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) ok = false;
            else done += w;
        }
        if (!ok) break;
    }
    ::close(in);
    return ok;
}

} // namespace

std::string TemporaryFor(const std::string& target, pid_t pid) {
    const fs::path t(target);
    return (t.parent_path() / ("." + t.filename().string() + kMark + std::to_string(pid))).string();
}

bool IsOurTemporary(const std::string& name, pid_t* pid) {
    const size_t at = name.rfind(kMark);
    if (name.empty() || name[0] != '.' || at == std::string::npos || at < 2) return false;
    const std::string digits = name.substr(at + std::strlen(kMark));
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (pid) *pid = pid_t(std::stol(digits));
    return true;
}

int RemoveStaleTemporaries(const std::string& folder) {
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        pid_t pid = 0;
        std::error_code e2;
        if (!IsOurTemporary(it->path().filename().string(), &pid) || !it->is_regular_file(e2)) continue;
        if (pid == ::getpid() || ProcessAlive(pid)) continue;
        if (fs::remove(it->path(), e2)) ++removed;
    }
    return removed;
}

std::string CheckOutputTarget(const std::string& target) {
    std::error_code ec;
    const fs::file_status st = fs::status(target, ec);
    if (fs::exists(st)) return fs::is_regular_file(st) ? "" : "is not a regular file";
    if (fs::is_symlink(fs::symlink_status(target, ec))) return "is a link to nothing";
    fs::path parent = fs::path(target).parent_path();
    if (parent.empty()) parent = ".";
    if (!fs::is_directory(parent, ec)) return "is not in an existing folder";
    return "";
}

PendingOutput::PendingOutput(const std::string& target) : target_(target) {
    if (ToStdout()) {
        static std::atomic<int> counter{0};
        const fs::path dir = fs::temp_directory_path();
        temp_ = TemporaryFor((dir / ("stdout-" + std::to_string(counter++) + ".wav")).string(), ::getpid());
    } else {
        // Through a link, the file it names is the one replaced.
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(target_, ec))) {
            fs::path real = fs::canonical(target_, ec);
            if (!ec) target_ = real.string();
        }
        temp_ = TemporaryFor(target_, ::getpid());
    }
    slot_ = Claim(temp_, target_);
}

PendingOutput::~PendingOutput() { Discard(); }

void PendingOutput::Discard() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
    Release(slot_);
    slot_ = -1;
    temp_.clear();
}

bool PendingOutput::Commit(std::string& error) {
    if (temp_.empty()) {
        error = "no output was made";
        return false;
    }
    bool ok;
    if (ToStdout()) {
        ok = CopyToStdout(temp_);
        if (!ok) error = "writing to standard output failed";
    } else {
        // Keep the permissions an existing output had.
        struct stat st{};
        if (::stat(target_.c_str(), &st) == 0) ::chmod(temp_.c_str(), st.st_mode & 07777);
        ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
        if (ok) {
            temp_.clear();
        } else {
            error = std::strerror(errno);
        }
    }
    Discard();
    return ok;
}

void FinishPendingOutputsNow() {
    for (Slot& s : g_slots) {
        if (s.state.load() != 2) continue;
        struct stat st{};
        const bool hasAudio = ::stat(s.temp, &st) == 0 && st.st_size > 46;
        if (hasAudio && !s.toStdout) {
            if (::rename(s.temp, s.target) != 0) ::unlink(s.temp);
        } else {
            ::unlink(s.temp);
        }
        s.state = 0;
    }
}

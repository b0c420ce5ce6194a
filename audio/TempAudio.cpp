#include "TempAudio.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TempAudio {

namespace {

constexpr const char* kPrefix = ".sonvelt-dec-";

std::mutex& Lock() {
    static std::mutex m;
    return m;
}

std::set<std::string>& Registered() {
    static std::set<std::string> files;
    return files;
}

bool ProcessAlive(long pid) {
    if (pid <= 0) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

std::string Folder() {
    const char* t = std::getenv("TMPDIR");
    std::error_code ec;
    if (t && *t && fs::is_directory(t, ec)) return t;
    return "/tmp";
}

int RemoveStale(const std::string& folder) {
    int removed = 0;
    std::error_code ec;
    const std::string prefix = kPrefix;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        char* after = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &after, 10);
        if (after == name.c_str() + prefix.size() || *after != '-') continue;
        if (pid == long(::getpid()) || ProcessAlive(pid)) continue;
        std::error_code rm;
        if (it->is_regular_file(rm) && fs::remove(it->path(), rm)) ++removed;
    }
    return removed;
}

std::string NewPath() {
    static std::once_flag once;
    std::call_once(once, [] {
        RemoveStale(Folder());
        std::atexit(RemoveRegisteredTempFiles);
    });
    static std::atomic<unsigned> counter{0};
    const std::string base = (fs::path(Folder()) / kPrefix).string() + std::to_string(::getpid()) + "-";
    std::lock_guard lock(Lock());
    for (;;) {
        std::string path = base + std::to_string(counter++) + ".wav";
        std::error_code ec;
        if (fs::exists(path, ec)) continue;
        Registered().insert(path);
        return path;
    }
}

void Remove(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
    Forget(path);
}

void Forget(const std::string& path) {
    std::lock_guard lock(Lock());
    Registered().erase(path);
}

void RemoveRegisteredTempFiles() {
    std::lock_guard lock(Lock());
    for (const std::string& p : Registered()) ::unlink(p.c_str());
    Registered().clear();
}

} // namespace TempAudio

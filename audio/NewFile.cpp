#include "NewFile.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NewFile {

namespace {
constexpr const char* kMark = ".sonvelt-tmp-";
constexpr size_t kRandomCount = 8; // what CreateUnique adds
} // namespace

int CreateExclusive(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

int CreateUnique(const std::string& stem, std::string& path) {
    // 62^8 names: a taken one is someone's guess or leftover, so a few more
    // tries are plenty.
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = stem + RandomPart(kRandomCount);
        const int fd = CreateExclusive(path);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

std::string TemporaryStem(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + kMark + std::to_string(::getpid()) + "-";
}

bool IsTemporaryName(const std::string& name, pid_t* pid) {
    const size_t at = name.rfind(kMark);
    if (name.empty() || name[0] != '.' || at == std::string::npos || at < 2) return false;
    return MatchesPattern(name, name.substr(0, at + std::strlen(kMark)), '-', kRandomCount, pid);
}

int CreateReplacing(const std::string& path) {
    std::string temp;
    const int fd = CreateUnique(TemporaryStem(path), temp);
    if (fd < 0) return -1;
    if (::fchmod(fd, UsualFileMode()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::string CreatePrivateFolder(const std::string& stem) {
    std::string pattern = stem + "XXXXXX";
    if (!::mkdtemp(pattern.data())) return {};
    return pattern;
}

std::string RandomPart(size_t count) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string out;
    unsigned char bytes[64];
    while (out.size() < count) {
        const ssize_t got = ::getrandom(bytes, sizeof bytes, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) std::abort(); // no randomness: nothing safe can be named
        // Bytes above the largest multiple of 62 would favour some letters.
        for (ssize_t i = 0; i < got && out.size() < count; ++i)
            if (bytes[i] < 248) out += kAlphabet[bytes[i] % 62];
    }
    return out;
}

int RenameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (::link(from, to) != 0) return -1;
    ::unlink(from);
    return 0;
}

bool IsOpenFile(int fd, const char* path) {
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::lstat(path, &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

mode_t UsualFileMode() {
    static const mode_t mode = [] {
        // The kernel shows the umask without changing it; umask() itself
        // would set it for a moment, under the feet of other threads.
        unsigned mask = 022;
        if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, f))
                if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
            std::fclose(f);
        }
        return mode_t(0666 & ~mask);
    }();
    return mode;
}

bool MatchesPattern(const std::string& name, const std::string& prefix, char separator, size_t randomCount,
                    pid_t* pid) {
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    const size_t digits = name.find(separator, prefix.size());
    if (digits == std::string::npos || digits == prefix.size() || digits - prefix.size() > 9) return false;
    for (size_t i = prefix.size(); i < digits; ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    if (name.size() != digits + 1 + randomCount) return false;
    for (size_t i = digits + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    if (pid) *pid = pid_t(std::strtol(name.c_str() + prefix.size(), nullptr, 10));
    return true;
}

void ForEachName(int dir, const std::function<void(int dir, const char* name)>& visit) {
    if (dir < 0) return;
    DIR* d = ::fdopendir(dir);
    if (!d) {
        ::close(dir);
        return;
    }
    while (const dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) visit(dir, e->d_name);
    ::closedir(d); // closes `dir` too
}

bool ProcessRuns(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

} // namespace NewFile

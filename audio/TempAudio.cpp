#include "TempAudio.h"

#include "NewFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TempAudio {

namespace {

constexpr const char* kPrefix = ".sonvelt-dec-";
constexpr const char* kFileName = "decoded.wav";
constexpr size_t kRandomCount = 6; // mkdtemp's part

std::mutex& Lock() {
    static std::mutex m;
    return m;
}

std::set<std::string>& Registered() {
    static std::set<std::string> files;
    return files;
}

// The file and then its folder.
void Unlink(const std::string& path) {
    ::unlink(path.c_str());
    ::rmdir(fs::path(path).parent_path().c_str());
}

// Removes the regular files of the user's in the folder open at `dir`.
void EmptyFolder(int dir) {
    NewFile::ForEachName(dir, [](int folder, const char* name) {
        struct stat st {};
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid())
            ::unlinkat(folder, name, 0);
    });
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
    NewFile::ForEachName(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), [&](int parent, const char* name) {
        pid_t pid = 0;
        if (!NewFile::MatchesPattern(name, kPrefix, '-', kRandomCount, &pid)) return;
        if (pid == ::getpid() || NewFile::ProcessRuns(pid)) return;
        // Only a folder of the user's, entered without following a link.
        const int dir = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir < 0) return;
        struct stat st {};
        if (::fstat(dir, &st) != 0 || st.st_uid != ::getuid()) {
            ::close(dir);
            return;
        }
        EmptyFolder(dir);
        if (::unlinkat(parent, name, AT_REMOVEDIR) == 0) ++removed;
    });
    return removed;
}

std::string NewPath() {
    static std::once_flag once;
    std::call_once(once, [] {
        RemoveStale(Folder());
        std::atexit(RemoveRegisteredTempFiles);
    });
    const std::string folder =
        NewFile::CreatePrivateFolder((fs::path(Folder()) / kPrefix).string() + std::to_string(::getpid()) + "-");
    if (folder.empty()) return {};
    const std::string path = (fs::path(folder) / kFileName).string();
    std::lock_guard lock(Lock());
    Registered().insert(path);
    return path;
}

void Remove(const std::string& path) {
    Unlink(path);
    std::lock_guard lock(Lock());
    Registered().erase(path);
}

void RemoveRegisteredTempFiles() {
    std::lock_guard lock(Lock());
    for (const std::string& p : Registered()) Unlink(p);
    Registered().clear();
}

int CreateAnonymous() {
    const std::string folder = Folder();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
    // A file system without unnamed files: a private folder whose file
    // leaves it at once.
    const std::string path = NewPath();
    if (path.empty()) return -1;
    fd = NewFile::CreateExclusive(path);
    const int saved = errno;
    Remove(path);
    errno = saved;
    return fd;
}

} // namespace TempAudio

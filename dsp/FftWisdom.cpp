#include "FftWisdom.h"

#include <fftw3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace fftwisdom {

namespace {

// A wisdom file is a few kilobytes; anything much larger is not ours.
constexpr off_t kMaxFileBytes = 1 << 20;
constexpr double kMeasureSeconds = 0.15;

struct State {
    std::string folder;
    std::string file;
    bool loaded = false;
    std::string known; // the wisdom as last read or written
};

State& Shared()
{
    static State state;
    return state;
}

struct Closer {
    void operator()(char* p) const { std::free(p); }
};

std::string Exported()
{
    std::unique_ptr<char, Closer> text(fftwf_export_wisdom_to_string());
    return text ? std::string(text.get()) : std::string();
}

// The version and precision in a file name: "fftw-3.3.10" -> "fftw-3.3.10-float".
std::string FileName()
{
    std::string v = fftwf_version;
    for (char& c : v)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-')) c = '_';
    return "wisdom-" + v + "-float";
}

// Opens (creating) the lock file beside the wisdom and takes the lock; -1
// when that is not possible, in which case the wisdom is not used.
int Lock(const State& s, int operation)
{
    const std::string path = s.folder + "/wisdom.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, operation) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// False when the folder cannot hold the wisdom (no lock file can be made).
bool Read(State& s)
{
    const int lock = Lock(s, LOCK_SH);
    if (lock < 0) return false;
    struct stat st {};
    const int fd = ::open(s.file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= kMaxFileBytes) {
        std::string text(static_cast<size_t>(st.st_size), '\0');
        size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
        // A file FFTW cannot parse (damaged, or of another version) may have
        // been taken in part: forget all of it.
        if (fftwf_import_wisdom_from_string(text.c_str()) == 0) fftwf_forget_wisdom();
    }
    if (fd >= 0) ::close(fd);
    ::close(lock);
    s.known = Exported();
    return true;
}

void Write(State& s, const std::string& text)
{
    const int lock = Lock(s, LOCK_EX);
    if (lock < 0) return;
    // Made new, never an existing file or a link; under the lock only a
    // killed process of this id can have left one of this name.
    const std::string temp = s.file + ".tmp-" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = fd >= 0;
    size_t put = 0;
    while (ok && put < text.size()) {
        const ssize_t n = ::write(fd, text.data() + put, text.size() - put);
        ok = n > 0;
        if (ok) put += static_cast<size_t>(n);
    }
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), s.file.c_str()) == 0) {
        s.known = text;
    } else {
        ::unlink(temp.c_str());
    }
    ::close(lock);
}

bool MakeFolder(const std::string& folder)
{
    // Each missing level, as `mkdir -p` would, private to the user.
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void Enable(const std::string& folder)
{
    State& s = Shared();
    s = State{};
    const char* env = std::getenv("SONVELT_FFT_WISDOM");
    if (folder.empty() || (env && std::strcmp(env, "0") == 0)) return;
    s.folder = folder;
    s.file = folder + "/" + FileName();
}

std::string DefaultFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/SonveltRip";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/SonveltRip";
    return {};
}

std::string File()
{
    return Shared().file;
}

unsigned PlannerFlags()
{
    State& s = Shared();
    if (s.file.empty()) return FFTW_ESTIMATE;
    if (!s.loaded) {
        s.loaded = true;
        // A folder that cannot keep what is measured (not made, not
        // writable) would have every run measure again: plans stay estimated.
        if (!MakeFolder(s.folder) || !Read(s)) {
            s = State{};
            return FFTW_ESTIMATE;
        }
        // A size the file does not hold is measured now, at most this long
        // per plan, so the first run on a machine stays quick.
        fftwf_set_timelimit(kMeasureSeconds);
    }
    return FFTW_MEASURE;
}

void AfterPlanning()
{
    State& s = Shared();
    if (s.file.empty() || !s.loaded) return;
    const std::string now = Exported();
    if (!now.empty() && now != s.known) Write(s, now);
}

} // namespace fftwisdom

#include "OutputFile.h"

#include "Decoder.h"
#include "NewFile.h"
#include "TempAudio.h"
#include "Twave.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr mode_t kMadeMode = 0600; // what a temporary is created with

// The outputs in the making, readable from a signal handler: fixed storage,
// a slot is claimed and released through its state.
struct Slot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 live
    bool mayTakeName = false;  // a WAVE voice that may go to a free target
    int fd = -1;
    mode_t mode = 0;           // of a new file of the user's
    char temp[PATH_MAX] = {};
    char target[PATH_MAX] = {};
};
constexpr int kSlots = 64;
Slot g_slots[kSlots];

int Claim(const std::string& temp, const std::string& target, int fd, bool mayTakeName) {
    if (temp.size() >= PATH_MAX || target.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
        Slot& s = g_slots[i];
        std::memcpy(s.temp, temp.c_str(), temp.size() + 1);
        std::memcpy(s.target, target.c_str(), target.size() + 1);
        s.fd = fd;
        s.mayTakeName = mayTakeName;
        s.mode = NewFile::UsualFileMode();
        s.state = 2;
        return i;
    }
    return -1;
}

void Release(int& slot) {
    if (slot >= 0) g_slots[slot].state = 0;
    slot = -1;
}

// Copies the file open at `fd` to standard output; false on an error (a
// closed pipe), with errno set.
bool CopyToStdout(int fd) {
    char buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        at += n;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(STDOUT_FILENO, buf + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

// "<stem>.kept-<n><ext>" beside the target.
std::string KeptName(const std::string& target, int n) {
    const fs::path t(target);
    return (t.parent_path() / (t.stem().string() + ".kept-" + std::to_string(n) + t.extension().string())).string();
}

OutputOutcome Failed(const std::string& problem, int error = 0) {
    OutputOutcome o;
    o.problem = problem;
    o.error = error;
    return o;
}

} // namespace

bool IsFlacName(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".flac";
}

int RemoveStaleTemporaries(const std::string& folder) {
    int removed = 0;
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    NewFile::ForEachName(dir, [&](int parent, const char* name) {
        pid_t pid = 0;
        if (!NewFile::IsTemporaryName(name, &pid) || pid == ::getpid() || NewFile::ProcessRuns(pid)) return;
        // A kept voice was made read-only: only unfinished temporaries have
        // the mode they were made with.
        struct stat st {};
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::getuid() && (st.st_mode & 07777) == kMadeMode && ::unlinkat(parent, name, 0) == 0)
            ++removed;
    });
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

PendingOutput::PendingOutput(const std::string& target, bool replace) : target_(target), replace_(replace) {
    // Through a link, the file it names is the one replaced.
    std::error_code ec;
    if (!ToStdout() && fs::is_symlink(fs::symlink_status(target_, ec))) {
        const fs::path real = fs::canonical(target_, ec);
        if (!ec) target_ = real.string();
    }
}

PendingOutput::~PendingOutput() { Discard(); }

int PendingOutput::Create(TWaveData& wave) {
    Discard();
    if (ToStdout()) {
        fd_ = TempAudio::CreateAnonymous();
    } else {
        RemoveStaleTemporaries(fs::path(target_).parent_path().string());
        fd_ = NewFile::CreateUnique(NewFile::TemporaryStem(target_), temp_);
    }
    if (fd_ < 0) {
        const int error = errno;
        temp_.clear();
        return error;
    }
    if (!ToStdout()) slot_ = Claim(temp_, target_, fd_, !IsFlacName(target_));
    const int own = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (own < 0 || wave.CreateWrite(own, temp_.empty() ? "-" : temp_) != 0) {
        const int error = own < 0 ? errno : wave.LastError();
        Discard();
        return error != 0 ? error : EIO;
    }
    return 0;
}

int PendingOutput::ReadDescriptor() const {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

void PendingOutput::Discard() {
    Release(slot_);
    // Only the file this process made: a name someone else took over stays.
    if (fd_ >= 0 && !temp_.empty() && NewFile::IsOpenFile(fd_, temp_.c_str())) ::unlink(temp_.c_str());
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    temp_.clear();
}

OutputOutcome PendingOutput::Finish(bool complete) {
    if (fd_ < 0) return Failed("no output was made");
    OutputOutcome out;
    if (ToStdout()) {
        out = CopyToStdout(fd_) ? OutputOutcome{OutputOutcome::kWritten, "", "", 0}
                                : Failed("writing to standard output failed", errno);
    } else if (IsFlacName(target_) && (out = Encode()).state == OutputOutcome::kFailed) {
        // Encode() said why.
    } else {
        out = Place(complete);
    }
    Discard();
    return out;
}

// The voice, written as WAVE, encoded into a second temporary, which then
// stands in for the first.
OutputOutcome PendingOutput::Encode() {
    std::string flacPath;
    const int flac = NewFile::CreateUnique(NewFile::TemporaryStem(target_), flacPath);
    if (flac < 0) return Failed("cannot create a temporary file beside it", errno);
    const int slot = Claim(flacPath, target_, flac, false);
    std::string error;
    const int encoded = EncodeWaveToFlac(fd_, flac, &error);
    Discard();
    temp_ = flacPath;
    fd_ = flac;
    slot_ = slot;
    if (encoded != kDecodeOk) return Failed("cannot encode FLAC: " + error);
    if (slot_ >= 0) g_slots[slot_].mayTakeName = true;
    return {OutputOutcome::kWritten, "", "", 0};
}

OutputOutcome PendingOutput::Place(bool complete) {
    // The file that takes the name must be the one this process made.
    if (!NewFile::IsOpenFile(fd_, temp_.c_str())) {
        temp_.clear(); // someone else's now: not removed either
        return Failed("the temporary file was replaced during the run");
    }
    // The permissions an existing output had, else those of a new file.
    struct stat st {};
    const bool existed = ::stat(target_.c_str(), &st) == 0;
    ::fchmod(fd_, existed ? st.st_mode & 07777 : NewFile::UsualFileMode());

    OutputOutcome out;
    const bool replace = complete && replace_;
    if ((replace ? ::rename(temp_.c_str(), target_.c_str())
                 : NewFile::RenameNoReplace(temp_.c_str(), target_.c_str())) == 0) {
        out.state = OutputOutcome::kWritten;
        temp_.clear();
        return out;
    }
    out.error = errno;
    if (out.error == EEXIST && !complete) {
        out.state = OutputOutcome::kLeftAsItWas;
        return out;
    }
    out.state = OutputOutcome::kKept;
    for (int n = 1; n < 100; ++n) {
        const std::string kept = KeptName(target_, n);
        if (NewFile::RenameNoReplace(temp_.c_str(), kept.c_str()) == 0) {
            out.keptAs = kept;
            temp_.clear();
            return out;
        }
        if (errno != EEXIST) break;
    }
    // Nothing can be named here: the voice stays where it is, read-only, which
    // tells every later clean-up that it is finished.
    ::fchmod(fd_, (NewFile::UsualFileMode() & 0444) | 0400);
    out.keptAs = temp_;
    temp_.clear();
    return out;
}

void FinishPendingOutputsNow() {
    for (Slot& s : g_slots) {
        if (s.state.load() != 2) continue;
        if (!NewFile::IsOpenFile(s.fd, s.temp)) continue;
        struct stat st {};
        const bool hasAudio = ::fstat(s.fd, &st) == 0 && st.st_size > TWaveData::kHeaderSize;
        if (hasAudio && s.mayTakeName) ::fchmod(s.fd, s.mode);
        if (!(hasAudio && s.mayTakeName && NewFile::RenameNoReplace(s.temp, s.target) == 0)) ::unlink(s.temp);
        s.state = 0;
    }
}

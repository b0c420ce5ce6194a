// In-memory files with a path, for the fuzzing harnesses: each input is
// written to an anonymous memory file that code under test opens by name
// like any other file, without touching the disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

class MemoryFile {
public:
    explicit MemoryFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
        if (fd_ < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Replaces the whole content.
    void Fill(const uint8_t* data, size_t size) {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        size_t done = 0;
        while (done < size) {
            ssize_t w = ::pwrite(fd_, data + done, size - done, off_t(done));
            if (w <= 0) std::abort();
            done += size_t(w);
        }
    }
    const std::string& Path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

// Creates or replaces an ordinary file with `text`.
inline void WriteWholeFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w <= 0) std::abort();
        done += size_t(w);
    }
    ::close(fd);
}

// Stops the run with a message when a property of the code under test fails;
// the fuzzer keeps the input that did it.
#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

} // namespace fuzz

#include "Twave.h"

#include "NewFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(std::endian::native == std::endian::little,
              "WAVE headers are copied as little-endian structures");

namespace {

// The RIFF size field is unsigned 32-bit and counts everything after itself.
constexpr int64_t kMaxDataBytes = 0xFFFFFFFFll - (TWaveData::kHeaderSize - 8) - 1;

uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

void PutU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool WriteAll(int fd, const uint8_t* p, int64_t n, int64_t* written) {
    *written = 0;
    while (*written < n) {
        ssize_t w = ::write(fd, p + *written, size_t(n - *written));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        *written += w;
    }
    return true;
}

bool PWriteAll(int fd, const uint8_t* p, size_t n, int64_t pos) {
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, pos);
        if (w < 0 && errno == EINTR) continue;
        if (w == 0) errno = EIO;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
        pos += w;
    }
    return true;
}

} // namespace

TWaveData::TWaveData() = default;

TWaveData::~TWaveData() { Close(); }

void TWaveData::CloseHandle() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    bufLen_ = 0;
    bufPos_ = 0;
    // The buffer stays for the next file: the window opens and closes the
    // same objects for every run.
}

int64_t TWaveData::FileSize() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

// Reads up to `bytes` bytes at `pos`, bypassing the buffer. -1 on error.
int32_t TWaveData::ReadRaw(int64_t pos, void* dest, int32_t bytes) {
    int32_t got = 0;
    while (got < bytes) {
        ssize_t r = ::pread(fd_, static_cast<uint8_t*>(dest) + got, size_t(bytes - got), pos + got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += int32_t(r);
    }
    return got;
}

// Small reads of the chunk headers, served from the buffer, which then holds
// the head of the file for the first reads of sample data. -1 on error.
int32_t TWaveData::ReadHead(int64_t pos, void* dest, int32_t bytes) {
    if (pos < bufPos_ || pos + bytes > bufPos_ + bufLen_) {
        const int32_t r = ReadRaw(pos, buf_.data(), kBufferSize);
        if (r < 0) return -1;
        bufPos_ = pos;
        bufLen_ = r;
    }
    const int32_t n = int32_t(std::min<int64_t>(bytes, bufPos_ + bufLen_ - pos));
    std::memcpy(dest, buf_.data() + (pos - bufPos_), size_t(n));
    return n;
}

bool TWaveData::FindChunk(const char id[4], int64_t from, int64_t end, ChunkInfo& out) {
    int64_t p = from;
    while (p + 8 <= end) {
        uint8_t hdr[8];
        if (ReadHead(p, hdr, 8) != 8) return false;
        uint32_t size = GetU32(hdr + 4);
        if (std::memcmp(hdr, id, 4) == 0) {
            std::memcpy(out.ckid, hdr, 4);
            out.cksize = size;
            std::memset(out.fccType, 0, 4);
            out.dwDataOffset = p + 8;
            out.dwFlags = 0;
            return true;
        }
        p += 8 + int64_t(size) + (size & 1);
    }
    return false;
}

int TWaveData::OpenRead(const std::string& name) {
    lastError_ = 0;
    if (name.empty()) return 1;
    // Non-blocking so that a FIFO or device named by mistake cannot hang the open.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        lastError_ = errno;
        return 1;
    }
    return OpenRead(fd, name);
}

int TWaveData::OpenRead(int fd, const std::string& name) {
    if (fd < 0) return 1;
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        // A folder has a reason of the system's; a FIFO or a device has none.
        lastError_ = !statted ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
        ::close(fd);
        return 1;
    }
    fd_ = fd;
    const int64_t size = st.st_size;
    buf_.resize(kBufferSize);
    bufPos_ = 0;
    bufLen_ = 0;

    // The first top-level chunk "RIFF" of form "WAVE"; other chunks are skipped.
    bool found = false;
    int64_t p = 0;
    while (p + 12 <= size) {
        uint8_t hdr[12];
        if (ReadHead(p, hdr, 12) != 12) break;
        uint32_t ck = GetU32(hdr + 4);
        if (std::memcmp(hdr, "RIFF", 4) == 0 && std::memcmp(hdr + 8, "WAVE", 4) == 0) {
            std::memcpy(RiffChunk.ckid, hdr, 4);
            RiffChunk.cksize = ck;
            std::memcpy(RiffChunk.fccType, hdr + 8, 4);
            RiffChunk.dwDataOffset = p + 8;
            RiffChunk.dwFlags = 0;
            found = true;
            break;
        }
        p += 8 + int64_t(ck) + (ck & 1);
    }
    if (!found) {
        CloseHandle();
        return 2;
    }
    const int64_t riffEnd = RiffChunk.dwDataOffset + RiffChunk.cksize;

    ChunkInfo fmt;
    if (!FindChunk("fmt ", RiffChunk.dwDataOffset + 4, riffEnd, fmt)) {
        CloseHandle();
        return 2;
    }
    // Exactly the 16 bytes up to wBitsPerSample, whatever the declared size.
    uint8_t f[16];
    if (ReadHead(fmt.dwDataOffset, f, 16) != 16) {
        CloseHandle();
        return 1;
    }
    Format.wFormatTag = GetU16(f);
    Format.nChannels = GetU16(f + 2);
    Format.nSamplesPerSec = GetU32(f + 4);
    Format.nAvgBytesPerSec = GetU32(f + 8);
    Format.nBlockAlign = GetU16(f + 12);
    Format.wBitsPerSample = GetU16(f + 14);

    ChunkInfo data;
    const int64_t afterFmt = fmt.dwDataOffset + fmt.cksize + (fmt.cksize & 1);
    if (!FindChunk("data", afterFmt, riffEnd, data)) {
        CloseHandle();
        return 2;
    }
    Chunk = data;
    DataBytes = data.cksize;
    DataStart = data.dwDataOffset;
    FileName = name;
    Mode = 0;
    readEnd_ = std::min<int64_t>(DataStart + int64_t(DataBytes), size);
    pos_ = DataStart;
    // Runs read front to back: a larger read-ahead lets the disk work while
    // the blocks already read are processed.
    ::posix_fadvise(fd_, DataStart, readEnd_ - DataStart, POSIX_FADV_SEQUENTIAL);
    return 0;
}

int TWaveData::CreateWrite(const std::string& name) {
    lastError_ = 0;
    if (name.empty()) return 1;
    // Know whether the file is new, so that a failure removes only what this
    // call made.
    bool created = true;
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        lastError_ = errno;
        return 1;
    }
    const int result = StartWrite(fd, name);
    if (result != 0 && created) ::unlink(name.c_str());
    return result;
}

int TWaveData::CreateNew(const std::string& name) {
    lastError_ = 0;
    if (name.empty()) return 1;
    const int fd = NewFile::CreateExclusive(name);
    if (fd < 0) {
        lastError_ = errno;
        return 1;
    }
    const int result = StartWrite(fd, name);
    if (result != 0) ::unlink(name.c_str());
    return result;
}

int TWaveData::CreateWrite(int fd, const std::string& name) {
    if (fd < 0) return 1;
    return StartWrite(fd, name);
}

int TWaveData::StartWrite(int fd, const std::string& name) {
    fd_ = fd;
    buf_.resize(kBufferSize);
    bufLen_ = 0;
    fileEnd_ = 0;
    writeFailed_ = false;
    lastError_ = 0;

    // The sizes of an empty file, so that even a run killed before its first
    // sample leaves a valid WAVE file.
    uint8_t h[kHeaderSize];
    std::memcpy(h, "RIFF", 4);
    PutU32(h + 4, kHeaderSize - 8);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutU32(h + 16, sizeof(WaveFormat));
    std::memcpy(h + 20, &Format, sizeof(WaveFormat));
    std::memcpy(h + 38, "data", 4);
    PutU32(h + 42, 0);
    int64_t written = 0;
    if (!WriteAll(fd_, h, kHeaderSize, &written)) {
        lastError_ = errno;
        CloseHandle();
        return 1;
    }
    fileEnd_ = kHeaderSize;
    lastUpdate_ = std::chrono::steady_clock::now();

    std::memcpy(RiffChunk.ckid, "RIFF", 4);
    RiffChunk.cksize = kHeaderSize - 8;
    std::memcpy(RiffChunk.fccType, "WAVE", 4);
    RiffChunk.dwDataOffset = 8;
    RiffChunk.dwFlags = 1;
    std::memcpy(Chunk.ckid, "data", 4);
    Chunk.cksize = 0;
    std::memset(Chunk.fccType, 0, 4);
    Chunk.dwDataOffset = kHeaderSize;
    Chunk.dwFlags = 1;
    FileName = name;
    Mode = 1;
    return 0;
}

// Writes the sizes of the whole frames that have reached the disk into the
// header, so that the file is valid if the program dies now. A failure here
// is left for Close to find.
void TWaveData::UpdateHeader() {
    lastUpdate_ = std::chrono::steady_clock::now();
    int64_t data = std::max<int64_t>(0, fileEnd_ - kHeaderSize);
    if (Format.nBlockAlign > 0) data -= data % Format.nBlockAlign;
    data = std::min(data, kMaxDataBytes);
    uint8_t v[4];
    PutU32(v, uint32_t(kHeaderSize - 8 + data + (data & 1)));
    if (!PWriteAll(fd_, v, 4, 4)) return;
    PutU32(v, uint32_t(data));
    PWriteAll(fd_, v, 4, 42);
}

int TWaveData::FlushWrite() {
    if (bufLen_ == 0) return 0;
    int64_t written = 0;
    bool ok = WriteAll(fd_, buf_.data(), bufLen_, &written);
    fileEnd_ += written;
    bufLen_ = 0;
    if (!ok) {
        lastError_ = errno;
        writeFailed_ = true;
        return -1;
    }
    UpdateHeader();
    return 0;
}

int32_t TWaveData::Write(const void* src, int32_t bytes) {
    if (fd_ < 0 || Mode != 1 || bytes < 0 || writeFailed_) return -1;
    if (fileEnd_ + bufLen_ + bytes - kHeaderSize > kMaxDataBytes) {
        lastError_ = EFBIG;
        return -1;
    }
    const uint8_t* s = static_cast<const uint8_t*>(src);
    int32_t left = bytes;
    while (left > 0) {
        int32_t n = std::min(left, kBufferSize - bufLen_);
        std::memcpy(buf_.data() + bufLen_, s, size_t(n));
        bufLen_ += n;
        s += n;
        left -= n;
        if (bufLen_ == kBufferSize && FlushWrite() != 0) return -1;
    }
    // A slow run still puts what it wrote on disk, counted by the header, in
    // good time; one clock reading per call keeps this cheap.
    if (bufLen_ > 0 && std::chrono::steady_clock::now() - lastUpdate_ >= HeaderInterval && FlushWrite() != 0)
        return -1;
    return bytes;
}

int32_t TWaveData::Read(void* dest, int32_t bytes) {
    if (fd_ < 0 || Mode != 0 || bytes < 0) return -1;
    uint8_t* d = static_cast<uint8_t*>(dest);
    int32_t out = 0;
    while (out < bytes) {
        if (pos_ < DataStart) {
            int32_t n = int32_t(std::min<int64_t>(bytes - out, DataStart - pos_));
            std::memset(d + out, 0, size_t(n));
            pos_ += n;
            out += n;
            continue;
        }
        if (pos_ >= readEnd_) break;
        int32_t want = int32_t(std::min<int64_t>(bytes - out, readEnd_ - pos_));
        if (pos_ >= bufPos_ && pos_ < bufPos_ + bufLen_) {
            int32_t n = int32_t(std::min<int64_t>(want, bufPos_ + bufLen_ - pos_));
            std::memcpy(d + out, buf_.data() + (pos_ - bufPos_), size_t(n));
            pos_ += n;
            out += n;
            continue;
        }
        if (want >= kBufferSize) {
            int32_t r = ReadRaw(pos_, d + out, want);
            if (r < 0) return -1;
            if (r == 0) {
                readEnd_ = pos_; // the file ended early
                break;
            }
            pos_ += r;
            out += r;
            continue;
        }
        int32_t r = ReadRaw(pos_, buf_.data(), kBufferSize);
        if (r < 0) return -1;
        bufPos_ = pos_;
        bufLen_ = r;
        if (r == 0) {
            readEnd_ = pos_;
            break;
        }
    }
    return out;
}

int64_t TWaveData::Tell() {
    if (fd_ < 0) return -1;
    return Mode == 1 ? fileEnd_ + bufLen_ : pos_;
}

int64_t TWaveData::SeekFrame(int64_t frame) {
    // Output files are written strictly in sequence.
    if (fd_ < 0 || Mode != 0) return -1;
    constexpr int64_t kLimit = int64_t(1) << 40;
    if (frame > kLimit || frame < -kLimit) return -1;
    pos_ = DataStart + frame * Format.nBlockAlign;
    return pos_;
}

int64_t TWaveData::CurrentFrame() {
    if (fd_ < 0) return -1;
    if (Format.nBlockAlign == 0) return 0;
    return (Tell() - DataStart) / Format.nBlockAlign;
}

int64_t TWaveData::ReadableFrames() const {
    if (fd_ < 0 || Mode != 0 || Format.nBlockAlign == 0) return 0;
    return std::max<int64_t>(readEnd_ - DataStart, 0) / Format.nBlockAlign;
}

int TWaveData::Close() {
    if (fd_ < 0) return 0;
    int result = 0;
    if (Mode == 1) {
        if (!writeFailed_) FlushWrite();
        // Size the chunks by what really reached the disk, so that a run that
        // ended on a write error still leaves a valid file of whole frames.
        int64_t data = std::max<int64_t>(0, fileEnd_ - kHeaderSize);
        bool ok = fileEnd_ >= kHeaderSize;
        if (ok && writeFailed_) {
            if (Format.nBlockAlign > 0) data -= data % Format.nBlockAlign;
            ok = ::ftruncate(fd_, kHeaderSize + data) == 0;
        }
        if (ok && (data & 1)) {
            const uint8_t zero = 0;
            if (!PWriteAll(fd_, &zero, 1, kHeaderSize + data)) {
                data -= Format.nBlockAlign > 0 ? Format.nBlockAlign : 1;
                ok = ::ftruncate(fd_, kHeaderSize + data) == 0 && !(data & 1);
            }
        }
        if (ok) {
            uint8_t v[4];
            PutU32(v, uint32_t(kHeaderSize - 8 + data + (data & 1)));
            ok = PWriteAll(fd_, v, 4, 4);
            PutU32(v, uint32_t(data));
            ok = ok && PWriteAll(fd_, v, 4, 42);
            RiffChunk.cksize = uint32_t(kHeaderSize - 8 + data + (data & 1));
            Chunk.cksize = uint32_t(data);
        }
        if (!ok) {
            if (lastError_ == 0) lastError_ = errno;
            result = -1;
        }
    }
    if (::close(fd_) != 0) {
        if (lastError_ == 0) lastError_ = errno;
        result = -1;
    }
    fd_ = -1;
    CloseHandle();
    return result;
}

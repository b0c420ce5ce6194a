// RIFF WAVE file access: one file open for reading or writing at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#pragma pack(push, 1)
// The 18-byte format block of a WAVE "fmt " chunk, little-endian on disk.
struct WaveFormat {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18, "format block must be 18 bytes");

// Where one chunk sits in the file.
struct ChunkInfo {
    char ckid[4] = {0, 0, 0, 0};
    uint32_t cksize = 0;      // payload bytes, without header or pad byte
    char fccType[4] = {0, 0, 0, 0};
    int64_t dwDataOffset = 0; // offset of the payload from the start of the file
    uint32_t dwFlags = 0;
};

class TWaveData {
public:
    static constexpr int kBufferSize = 131072;
    static constexpr int kHeaderSize = 46; // size of the header CreateWrite writes

    TWaveData();
    ~TWaveData();
    TWaveData(const TWaveData&) = delete;
    TWaveData& operator=(const TWaveData&) = delete;

    // 0 success; 1 cannot open / short format chunk; 2 not a RIFF WAVE file with
    // "fmt " followed by "data".
    int OpenRead(const std::string& name);
    // The same for a file already open at `fd`, which this object takes over
    // (and closes, also on failure); `name` is what FileName shows.
    int OpenRead(int fd, const std::string& name);
    // Format must be filled first. 0 success; 1 cannot create / write failed;
    // 2 a chunk could not be started. An existing file is emptied and
    // written, through a link the file it names: this is for the file the
    // user named. A file this call created is removed again when it fails.
    // From here on the file on disk is a valid WAVE file of the whole frames
    // written so far: its sizes are brought up to date whenever buffered data
    // goes to disk, and at least every HeaderInterval.
    int CreateWrite(const std::string& name);
    // The same for a temporary: `name` is created new, never an existing file
    // or a link (NewFile::CreateExclusive), and only the user may read it.
    int CreateNew(const std::string& name);
    // The same on an empty file already open for writing at `fd`, which this
    // object takes over (and closes, also on failure).
    int CreateWrite(int fd, const std::string& name);
    // Finishes the chunk sizes of a written file. 0 if not open, else 0 or
    // non-zero for the result of closing.
    int Close();

    // Byte transfers at the current position. Reading stops at the end of the
    // data chunk (or of the file, if that comes first); positions before the
    // data chunk read as silence. -1 on a closed object or an I/O error.
    int32_t Read(void* dest, int32_t bytes);
    int32_t Write(const void* src, int32_t bytes);
    int64_t Tell();
    // DataStart + frame * nBlockAlign; a negative frame gives a position before
    // the sample data, which reads as silence. -1 on a closed object.
    int64_t SeekFrame(int64_t frame);
    // (Tell() - DataStart) / nBlockAlign, truncating toward zero; 0 when the
    // format declares no frame size.
    int64_t CurrentFrame();
    // The whole frames a file open for reading holds: the data chunk as far
    // as the file reaches. 0 when not open for reading or the format declares
    // no frame size.
    int64_t ReadableFrames() const;

    bool IsOpen() const { return fd_ >= 0; }
    // The system's error number (errno) of the last open, create, write or
    // close that failed, e.g. ENOSPC or EFBIG; 0 when none did.
    int LastError() const { return lastError_; }

    int32_t Mode = 0;      // 0 read, 1 write
    ChunkInfo RiffChunk;
    ChunkInfo Chunk;       // "fmt ", then "data"
    int64_t DataStart = 0; // offset of the first sample byte
    std::string FileName;
    WaveFormat Format;
    uint32_t DataBytes = 0; // size field of the data chunk, as stored
    // Longest time written data may wait in the buffer before it goes to disk
    // with the header sizes that count it.
    std::chrono::steady_clock::duration HeaderInterval = std::chrono::milliseconds(500);

private:
    int StartWrite(int fd, const std::string& name);
    int FlushWrite();
    void UpdateHeader();
    int64_t FileSize() const;
    int32_t ReadRaw(int64_t pos, void* dest, int32_t bytes);
    int32_t ReadHead(int64_t pos, void* dest, int32_t bytes);
    bool FindChunk(const char id[4], int64_t from, int64_t end, ChunkInfo& out);
    void CloseHandle();

    int fd_ = -1;
    std::vector<uint8_t> buf_;
    // Reading: buf_ holds file bytes [bufPos_, bufPos_ + bufLen_).
    // Writing: buf_ holds bufLen_ bytes not yet written, to go at fileEnd_.
    int64_t bufPos_ = 0;
    int32_t bufLen_ = 0;
    int64_t pos_ = 0;       // logical position (reading)
    int64_t readEnd_ = 0;   // reading stops here
    int64_t fileEnd_ = 0;   // bytes written successfully (writing)
    bool writeFailed_ = false;
    int lastError_ = 0;
    std::chrono::steady_clock::time_point lastUpdate_{};
};

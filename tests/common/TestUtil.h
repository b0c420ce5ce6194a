// Small helpers shared by the tests: temporary folders and hand-built files.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sonvelt-test-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

using Bytes = std::vector<uint8_t>;

inline void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline void WriteText(const std::string& path, const std::string& s) {
    std::ofstream(path, std::ios::binary) << s;
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadText(const std::string& path) {
    Bytes b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

inline void PutU16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void PutU32(Bytes& b, uint32_t v) {
    PutU16(b, uint16_t(v));
    PutU16(b, uint16_t(v >> 16));
}
inline uint32_t GetU32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// One chunk: identifier, size field (the payload's size unless given), payload
// and a pad byte when the payload's size is odd.
inline Bytes Chunk(const std::string& id, const Bytes& payload, int64_t sizeField = -1) {
    Bytes b(id.begin(), id.end());
    PutU32(b, sizeField < 0 ? uint32_t(payload.size()) : uint32_t(sizeField));
    b.insert(b.end(), payload.begin(), payload.end());
    if (payload.size() & 1) b.push_back(0);
    return b;
}

// A "fmt " payload of `size` bytes (16, 18 or 40) for integer PCM.
inline Bytes FmtPayload(uint16_t channels, uint32_t rate, uint16_t bits, size_t size = 16,
                        uint16_t tag = 1, int blockAlign = -1) {
    Bytes b;
    uint16_t align = blockAlign < 0 ? uint16_t(channels * ((bits + 7) / 8)) : uint16_t(blockAlign);
    PutU16(b, tag);
    PutU16(b, channels);
    PutU32(b, rate);
    PutU32(b, rate * align);
    PutU16(b, align);
    PutU16(b, bits);
    while (b.size() < size) b.push_back(0);
    return b;
}

// A RIFF WAVE file made of the given sub-chunks.
inline Bytes Riff(const std::vector<Bytes>& chunks, const std::string& form = "WAVE") {
    Bytes payload(form.begin(), form.end());
    for (const Bytes& c : chunks) payload.insert(payload.end(), c.begin(), c.end());
    return Chunk("RIFF", payload);
}

// 16-bit little-endian samples as bytes.
inline Bytes Pcm16(const std::vector<int16_t>& s) {
    Bytes b;
    for (int16_t v : s) PutU16(b, uint16_t(v));
    return b;
}

// A canonical 16-bit PCM WAVE file with the given interleaved samples.
inline Bytes Wave16(uint16_t channels, uint32_t rate, const std::vector<int16_t>& samples) {
    return Riff({Chunk("fmt ", FmtPayload(channels, rate, 16)), Chunk("data", Pcm16(samples))});
}

} // namespace testutil

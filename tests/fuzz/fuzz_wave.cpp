// Fuzzing harness of the WAVE reader and writer. The input is a file: open
// it, take its format, seek, read its data to the end in uneven pieces (the
// bytes must be the file's own), use the object after closing, then write the
// data to a new file with the same format and read it back.
#include "FuzzFile.h"
#include "Twave.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> ReadToEnd(TWaveData& w) {
    static const int32_t pieces[] = {1, 7, 4096, 200000, 3};
    static std::vector<uint8_t> buf(200000);
    std::vector<uint8_t> got;
    for (size_t i = 0;; ++i) {
        const int32_t want = pieces[i % std::size(pieces)];
        const int32_t n = w.Read(buf.data(), want);
        FUZZ_CHECK(n >= 0 && n <= want);
        if (n == 0) break;
        got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    return got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::MemoryFile in("wave-in"), out("wave-out");
    in.Fill(data, size);
    // Reused for every input, as the window reuses its three objects.
    static TWaveData w, o, back;
    const int opened = w.OpenRead(in.Path());
    FUZZ_CHECK(opened >= 0 && opened <= 2);
    if (opened != 0) {
        FUZZ_CHECK(!w.IsOpen());
        FUZZ_CHECK(w.Close() == 0);
        return 0;
    }
    FUZZ_CHECK(w.Mode == 0);
    // "RIFF" + size + "WAVE", a "fmt " header, the "data" header at least.
    FUZZ_CHECK(w.DataStart >= 28 && w.DataStart <= int64_t(size));
    const WaveFormat format = w.Format;
    const int64_t align = format.nBlockAlign;

    // Everything between DataStart and the end of the data chunk or the file.
    const size_t avail = size_t(std::min<int64_t>(w.DataBytes, int64_t(size) - w.DataStart));
    FUZZ_CHECK(w.SeekFrame(0) == w.DataStart);
    if (align > 0) FUZZ_CHECK(w.CurrentFrame() == 0);
    const std::vector<uint8_t> samples = ReadToEnd(w);
    FUZZ_CHECK(samples.size() == avail);
    FUZZ_CHECK(std::equal(samples.begin(), samples.end(), data + w.DataStart));
    if (align > 0) FUZZ_CHECK(w.CurrentFrame() == int64_t(avail) / align);

    // Before the data: silence. Past its end: nothing.
    static uint8_t frame[65536];
    if (align > 0) {
        FUZZ_CHECK(w.SeekFrame(-1) == w.DataStart - align);
        FUZZ_CHECK(w.Read(frame, int32_t(align)) == align);
        FUZZ_CHECK(std::all_of(frame, frame + align, [](uint8_t b) { return b == 0; }));
        FUZZ_CHECK(w.SeekFrame(int64_t(w.DataBytes) / align + 1) >= 0);
        FUZZ_CHECK(w.Read(frame, 16) == 0);
    }
    w.SeekFrame(int64_t(1) << 62);
    w.Read(frame, 16);
    w.SeekFrame(-(int64_t(1) << 62));
    w.Read(frame, 16);

    FUZZ_CHECK(w.Close() == 0);
    FUZZ_CHECK(w.Read(frame, 4) == -1 && w.Write(frame, 4) == -1);
    FUZZ_CHECK(w.Tell() == -1 && w.SeekFrame(0) == -1);
    FUZZ_CHECK(w.Close() == 0);

    // Written with the same format and read back: the same samples.
    o.Format = format;
    o.Format.cbSize = 0;
    FUZZ_CHECK(o.CreateWrite(out.Path()) == 0);
    size_t at = 0;
    for (size_t piece = 3; at < samples.size(); piece = piece * 7 % 5003 + 1) {
        const int32_t n = int32_t(std::min(piece, samples.size() - at));
        FUZZ_CHECK(o.Write(samples.data() + at, n) == n);
        at += size_t(n);
    }
    FUZZ_CHECK(o.Tell() == TWaveData::kHeaderSize + int64_t(samples.size()));
    FUZZ_CHECK(o.Close() == 0);

    FUZZ_CHECK(back.OpenRead(out.Path()) == 0);
    FUZZ_CHECK(back.DataStart == TWaveData::kHeaderSize);
    FUZZ_CHECK(back.DataBytes == samples.size());
    FUZZ_CHECK(std::memcmp(&back.Format, &o.Format, 16) == 0);
    FUZZ_CHECK(ReadToEnd(back) == samples);
    FUZZ_CHECK(back.Close() == 0);
    return 0;
}

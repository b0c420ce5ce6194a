#include "FaultHarness.h"
#include "TestUtil.h"
#include "Twave.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace testutil;

namespace {

struct ReadCase {
    const char* name;
    Bytes file;
    int result;
    int64_t dataStart;  // checked when result is 0
    uint32_t dataBytes;
};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<ReadCase> ReadCases() {
    const Bytes fmt16 = Chunk("fmt ", FmtPayload(2, 44100, 16));
    const Bytes data8 = Chunk("data", Pcm16({1, 2, 3, 4}));
    Bytes truncatedFmt = Join({Bytes{'R', 'I', 'F', 'F'}, {}, Bytes{'W', 'A', 'V', 'E'}});
    {
        // RIFF header, "fmt " header declaring 16 bytes, then only 10 bytes.
        Bytes t{'R', 'I', 'F', 'F'};
        PutU32(t, 4 + 8 + 16);
        Bytes rest{'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
        PutU32(rest, 16);
        Bytes part = FmtPayload(2, 44100, 16);
        part.resize(10);
        truncatedFmt = Join({t, rest, part});
    }
    Bytes mp3{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0x21, 0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    return {
        {"canonical16ByteFormat", Riff({fmt16, data8}), 0, 44, 8},
        {"format18Bytes", Riff({Chunk("fmt ", FmtPayload(2, 44100, 16, 18)), data8}), 0, 46, 8},
        {"format40Bytes", Riff({Chunk("fmt ", FmtPayload(2, 44100, 16, 40)), data8}), 0, 68, 8},
        {"listAndFactBetween", Riff({fmt16, Chunk("fact", Bytes(4, 9)), Chunk("LIST", Bytes(6, 7)), data8}), 0,
         12 + 24 + 12 + 14 + 8, 8},
        {"oddChunkWithPadBetween", Riff({fmt16, Chunk("junk", Bytes(5, 0xAA)), data8}), 0, 12 + 24 + 14 + 8, 8},
        {"oddChunkBeforeFormat", Riff({Chunk("bext", Bytes(3, 0x55)), fmt16, data8}), 0, 12 + 12 + 24 + 8, 8},
        {"topLevelChunkBeforeRiff", Join({Chunk("JUNK", Bytes(7, 1)), Riff({fmt16, data8})}), 0, 16 + 44, 8},
        {"otherRiffFormBeforeWave", Join({Riff({Chunk("avih", Bytes(4, 0))}, "AVI "), Riff({fmt16, data8})}), 0,
         24 + 44, 8},
        {"emptyDataChunk", Riff({fmt16, Chunk("data", {})}), 0, 44, 0},
        {"dataLargerThanFile", Riff({fmt16, Chunk("data", Pcm16({1, 2}), 1000)}), 0, 44, 1000},
        {"dataBeforeFormat", Riff({data8, fmt16}), 2, 0, 0},
        {"noDataChunk", Riff({fmt16, Chunk("LIST", Bytes(4, 0))}), 2, 0, 0},
        {"noFormatChunk", Riff({data8}), 2, 0, 0},
        {"notRiff", mp3, 2, 0, 0},
        {"riffButNotWave", Riff({fmt16, data8}, "AVI "), 2, 0, 0},
        {"emptyFile", Bytes{}, 2, 0, 0},
        {"formatCutShort", truncatedFmt, 1, 0, 0},
    };
}

} // namespace

TEST(WaveRead, OpensOrRejectsCraftedFiles) {
    TempDir dir;
    for (const ReadCase& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        std::string path = dir / (std::string(c.name) + ".wav");
        WriteFile(path, c.file);
        TWaveData w;
        ASSERT_EQ(w.OpenRead(path), c.result);
        if (c.result != 0) {
            EXPECT_FALSE(w.IsOpen());
            EXPECT_EQ(w.Close(), 0);
            continue;
        }
        EXPECT_EQ(w.DataStart, c.dataStart);
        EXPECT_EQ(w.DataBytes, c.dataBytes);
        EXPECT_EQ(w.Format.wFormatTag, 1);
        EXPECT_EQ(w.Format.nChannels, 2);
        EXPECT_EQ(w.Format.nSamplesPerSec, 44100u);
        EXPECT_EQ(w.Format.wBitsPerSample, 16);
        EXPECT_EQ(w.Format.cbSize, 0);
        EXPECT_EQ(w.Mode, 0);
        EXPECT_EQ(w.FileName, path);
        EXPECT_EQ(w.Tell(), c.dataStart);
        EXPECT_EQ(w.Close(), 0);
    }
}

TEST(WaveRead, MissingEmptyNamedOrNonRegularFilesCannotBeOpened) {
    TempDir dir;
    TWaveData w;
    EXPECT_EQ(w.OpenRead(dir / "missing.wav"), 1);
    EXPECT_EQ(w.OpenRead(""), 1);
    EXPECT_EQ(w.OpenRead(dir.path().string()), 1);
    std::string fifo = dir / "pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(w.OpenRead(fifo), 1); // must not block waiting for a writer
    EXPECT_EQ(w.Close(), 0);
}

TEST(WaveRead, ReadsStopAtTheEndOfTheSampleData) {
    TempDir dir;
    std::string path = dir / "trailing.wav";
    // A metadata chunk after the samples must not be read as sound.
    WriteFile(path, Riff({Chunk("fmt ", FmtPayload(1, 8000, 16)), Chunk("data", Pcm16({10, -20, 30})),
                          Chunk("LIST", Bytes(64, 0x7F))}));
    TWaveData w;
    ASSERT_EQ(w.OpenRead(path), 0);
    int16_t s[40] = {};
    EXPECT_EQ(w.Read(s, sizeof s), 6);
    EXPECT_EQ(s[0], 10);
    EXPECT_EQ(s[1], -20);
    EXPECT_EQ(s[2], 30);
    EXPECT_EQ(w.Read(s, sizeof s), 0);
}

TEST(WaveRead, DataSizeBeyondTheFileReadsWhatIsThere) {
    TempDir dir;
    std::string path = dir / "short.wav";
    WriteFile(path, Riff({Chunk("fmt ", FmtPayload(1, 8000, 16)), Chunk("data", Pcm16({5, 6, 7}), 100000)}));
    TWaveData w;
    ASSERT_EQ(w.OpenRead(path), 0);
    EXPECT_EQ(w.DataBytes, 100000u);
    int16_t s[8];
    EXPECT_EQ(w.Read(s, 4), 4);
    EXPECT_EQ(w.Read(s, 16), 2); // one sample is all that is left
    EXPECT_EQ(w.Read(s, 16), 0);
}

TEST(WaveRead, SeekFramePositionsByFramesAndBeforeTheStartReadsSilence) {
    TempDir dir;
    std::string path = dir / "stereo.wav";
    WriteFile(path, Wave16(2, 44100, {1, -1, 2, -2, 3, -3, 4, -4}));
    TWaveData w;
    ASSERT_EQ(w.OpenRead(path), 0);
    EXPECT_EQ(w.SeekFrame(0), 44);
    EXPECT_EQ(w.CurrentFrame(), 0);
    EXPECT_EQ(w.SeekFrame(2), 52);
    EXPECT_EQ(w.CurrentFrame(), 2);
    int16_t s[6] = {};
    EXPECT_EQ(w.Read(s, 4), 4);
    EXPECT_EQ(s[0], 3);
    EXPECT_EQ(s[1], -3);
    EXPECT_EQ(w.CurrentFrame(), 3);

    // Frames before the first read as silence, never as header bytes.
    EXPECT_EQ(w.SeekFrame(-2), 36);
    EXPECT_EQ(w.CurrentFrame(), -2);
    EXPECT_EQ(w.Read(s, 12), 12);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s[4], 1);
    EXPECT_EQ(s[5], -1);
    EXPECT_EQ(w.SeekFrame(-1000), 44 - 4000);
    EXPECT_EQ(w.Read(s, 12), 12);
    EXPECT_EQ(s[5], 0);

    // Past the end: nothing to read.
    w.SeekFrame(10);
    EXPECT_EQ(w.Read(s, 4), 0);
}

TEST(WaveRead, ZeroFrameSizeNeitherCrashesNorMoves) {
    TempDir dir;
    std::string path = dir / "align0.wav";
    WriteFile(path, Riff({Chunk("fmt ", FmtPayload(0, 44100, 16, 16, 1, 0)), Chunk("data", Pcm16({1, 2}))}));
    TWaveData w;
    ASSERT_EQ(w.OpenRead(path), 0);
    EXPECT_EQ(w.SeekFrame(5), w.DataStart);
    EXPECT_EQ(w.CurrentFrame(), 0);
}

TEST(WaveRead, LongReadsAndSeeksMatchTheFileExactly) {
    TempDir dir;
    std::string path = dir / "long.wav";
    std::mt19937 rng(7);
    std::vector<int16_t> samples(2 * 150000);
    for (auto& v : samples) v = int16_t(rng());
    WriteFile(path, Wave16(2, 44100, samples));
    TWaveData w;
    ASSERT_EQ(w.OpenRead(path), 0);
    std::vector<int16_t> got(samples.size());
    for (int trial = 0; trial < 200; ++trial) {
        int64_t frame = int64_t(rng() % 150000);
        int32_t frames = int32_t(rng() % (trial % 10 == 0 ? 90000 : 5000));
        w.SeekFrame(frame);
        int32_t want = int32_t(std::min<int64_t>(frames, 150000 - frame)) * 4;
        ASSERT_EQ(w.Read(got.data(), frames * 4), want);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + want / 2, samples.begin() + frame * 2)) << trial;
        ASSERT_EQ(w.CurrentFrame(), frame + want / 4);
    }
}

TEST(WaveWrite, CreateAndCloseGivesTheExactEmptyHeader) {
    TempDir dir;
    std::string path = dir / "empty.wav";
    TWaveData w;
    w.Format = {1, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(w.CreateWrite(path), 0);
    EXPECT_EQ(w.Mode, 1);
    EXPECT_EQ(w.Tell(), 46);
    EXPECT_EQ(w.Close(), 0);

    Bytes expected{'R', 'I', 'F', 'F'};
    PutU32(expected, 38);
    for (char c : std::string("WAVEfmt ")) expected.push_back(uint8_t(c));
    PutU32(expected, 18);
    Bytes fmt = FmtPayload(2, 44100, 16, 18);
    expected.insert(expected.end(), fmt.begin(), fmt.end());
    for (char c : std::string("data")) expected.push_back(uint8_t(c));
    PutU32(expected, 0);
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(WaveWrite, ThousandStereoFramesRoundTrip) {
    TempDir dir;
    std::string path = dir / "out.wav";
    std::vector<int16_t> samples(2000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(i * 37 - 30000);
    TWaveData w;
    w.Format = {1, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(w.CreateWrite(path), 0);
    // In pieces of uneven size, as the engine writes.
    EXPECT_EQ(w.Write(samples.data(), 1000), 1000);
    EXPECT_EQ(w.Write(samples.data() + 500, 3000), 3000);
    EXPECT_EQ(w.Tell(), 4046);
    EXPECT_EQ(w.Close(), 0);

    Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 4046u);
    EXPECT_EQ(GetU32(file, 4), 4038u);
    EXPECT_EQ(GetU32(file, 42), 4000u);

    TWaveData r;
    ASSERT_EQ(r.OpenRead(path), 0);
    EXPECT_EQ(r.DataStart, 46);
    EXPECT_EQ(r.DataBytes, 4000u);
    std::vector<int16_t> back(2000);
    EXPECT_EQ(r.Read(back.data(), 4000), 4000);
    EXPECT_EQ(back, samples);
}

TEST(WaveWrite, OddSampleBytesGetAPadByte) {
    TempDir dir;
    std::string path = dir / "odd.wav";
    TWaveData w;
    w.Format = {1, 1, 8000, 8000, 1, 8, 0};
    ASSERT_EQ(w.CreateWrite(path), 0);
    const uint8_t s[3] = {1, 2, 3};
    EXPECT_EQ(w.Write(s, 3), 3);
    EXPECT_EQ(w.Close(), 0);
    Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 50u);
    EXPECT_EQ(GetU32(file, 42), 3u);
    EXPECT_EQ(GetU32(file, 4), 42u);
    EXPECT_EQ(file[49], 0);
}

TEST(WaveWrite, ClosedObjectsRefuseEverythingAndTouchNoFile) {
    TempDir dir;
    std::string path = dir / "in.wav";
    WriteFile(path, Wave16(1, 8000, {1, 2, 3}));
    const Bytes before = ReadFile(path);

    TWaveData never;
    char b[4] = {};
    EXPECT_EQ(never.Read(b, 4), -1);
    EXPECT_EQ(never.Write(b, 4), -1);
    EXPECT_EQ(never.Tell(), -1);
    EXPECT_EQ(never.SeekFrame(0), -1);
    EXPECT_EQ(never.Close(), 0);

    TWaveData w;
    ASSERT_EQ(w.OpenRead(path), 0);
    EXPECT_EQ(w.Write(b, 4), -1); // opened for reading
    EXPECT_EQ(w.Close(), 0);
    EXPECT_EQ(w.Read(b, 4), -1);
    EXPECT_EQ(w.Write(b, 4), -1);
    EXPECT_EQ(w.SeekFrame(1), -1);
    EXPECT_EQ(w.Tell(), -1);
    EXPECT_EQ(w.Close(), 0);
    EXPECT_EQ(w.DataBytes, 6u); // kept while closed
    EXPECT_EQ(ReadFile(path), before);
}

TEST(WaveWrite, CreateFailures) {
    TempDir dir;
    TWaveData w;
    w.Format = {1, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(w.CreateWrite(dir / "no/such/folder/out.wav"), 1);
    EXPECT_EQ(w.LastError(), ENOENT);
    EXPECT_EQ(w.CreateWrite(""), 1);
    EXPECT_NE(w.CreateWrite("/dev/full"), 0); // the header cannot be written
    EXPECT_EQ(w.LastError(), ENOSPC);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(w.Close(), 0);
}

// A temporary is made new, private to the user, and never through a link
// someone planted at its name: the link's target stays as it was.
TEST(WaveWrite, ATemporaryIsCreatedNewAndNeverThroughALink) {
    TempDir dir, decoys;
    TWaveData w;
    w.Format = {1, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(w.CreateNew(dir / "temp.wav"), 0);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "temp.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(w.Close(), 0);
    EXPECT_EQ(w.CreateNew(dir / "temp.wav"), 1); // it exists now
    EXPECT_EQ(w.LastError(), EEXIST);
    EXPECT_EQ(ReadFile(dir / "temp.wav").size(), 46u);

    for (PlantedLink kind : kPlantedLinks) {
        SCOPED_TRACE(Describe(kind));
        const std::string at = dir / ("planted-" + std::to_string(int(kind)) + ".wav");
        const std::string target = Plant(kind, at, decoys.path());
        EXPECT_EQ(w.CreateNew(at), 1);
        EXPECT_FALSE(w.IsOpen());
        EXPECT_TRUE(Untouched(kind, target));
        EXPECT_TRUE(std::filesystem::is_symlink(at)); // not removed either
    }
}

// A disk that fills up in mid-run: the write that fails reports -1 and the
// file that is left is a valid WAVE file of whole frames holding what was
// written before.
TEST(WaveWrite, FullDiskLeavesAValidPartialFile) {
    TempDir dir;
    std::string path = dir / "partial.wav";
    const int frames = 70000; // 280,000 bytes, more than the limit below
    const int status = RunUnderFileSizeLimit(200003, [&] {
        TWaveData w;
        w.Format = {1, 2, 44100, 176400, 4, 16, 0};
        if (w.CreateWrite(path) != 0) return 10;
        bool failed = false;
        for (int i = 0; i < frames && !failed; i += 1000) {
            std::vector<int16_t> block(2000);
            for (int k = 0; k < 2000; ++k) block[size_t(k)] = int16_t(i + k / 2);
            failed = w.Write(block.data(), 4000) == -1;
        }
        w.Close();
        return failed && w.LastError() == EFBIG ? 0 : 11;
    });
    ASSERT_EQ(status, 0);

    Bytes file = ReadFile(path);
    ASSERT_GT(file.size(), 46u);
    ASSERT_LE(file.size(), 200003u);
    const uint32_t data = GetU32(file, 42);
    EXPECT_EQ(data % 4, 0u);
    EXPECT_EQ(file.size(), 46u + data);
    EXPECT_EQ(GetU32(file, 4), 38u + data);
    TWaveData r;
    ASSERT_EQ(r.OpenRead(path), 0);
    std::vector<int16_t> back(data / 2);
    ASSERT_EQ(r.Read(back.data(), int32_t(data)), int32_t(data));
    for (size_t f = 0; f < back.size() / 2; ++f) ASSERT_EQ(back[2 * f], int16_t(f)) << f;
}

// What a reader finds in the file while it is still being written: the header
// counts exactly the whole frames that are on disk, so a kill at any moment
// leaves a valid file.
TEST(WaveWrite, TheHeaderOnDiskFollowsTheWrittenFrames) {
    TempDir dir;
    auto onDisk = [&](const std::string& path) {
        Bytes f = ReadFile(path);
        EXPECT_GE(f.size(), 46u);
        const uint32_t data = GetU32(f, 42);
        EXPECT_LE(46u + data, f.size());
        EXPECT_EQ(GetU32(f, 4), 38u + data + (data & 1));
        return data;
    };
    // Three-byte frames, so that a buffer's worth is not whole frames.
    TWaveData w;
    w.Format = {1, 1, 44100, 132300, 3, 24, 0};
    const std::string path = dir / "growing.wav";
    ASSERT_EQ(w.CreateWrite(path), 0);
    EXPECT_EQ(onDisk(path), 0u);
    std::vector<uint8_t> block(3000, 7);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(w.Write(block.data(), 3000), 3000);
    // 150,000 bytes written, one 131,072-byte buffer of them on disk.
    EXPECT_EQ(onDisk(path), 131070u);

    // A slow writer: with no time to wait, every write reaches the disk.
    w.HeaderInterval = {};
    ASSERT_EQ(w.Write(block.data(), 3), 3);
    EXPECT_EQ(onDisk(path), 150003u);
    EXPECT_EQ(ReadFile(path).size(), 46u + 150003u);
    EXPECT_EQ(w.Close(), 0);
    EXPECT_EQ(onDisk(path), 150003u);
}

// A create that fails half-way (here a file-size limit below the header's 46
// bytes) removes the file it made, but never one that was there before.
TEST(WaveWrite, AFailedCreateRemovesOnlyWhatItMade) {
    TempDir dir;
    const std::string made = dir / "new.wav", existing = dir / "old.wav";
    WriteText(existing, "old");
    const int status = RunUnderFileSizeLimit(10, [&] {
        TWaveData w;
        w.Format = {1, 2, 44100, 176400, 4, 16, 0};
        const int a = w.CreateWrite(made), b = w.CreateWrite(existing);
        return a == 1 && b == 1 && !w.IsOpen() ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::exists(made));
    EXPECT_TRUE(std::filesystem::exists(existing));
}

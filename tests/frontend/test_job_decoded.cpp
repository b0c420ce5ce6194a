// Preparing a run with inputs that are decoded first.
#include "AudioFixtures.h"
#include "Decoder.h"
#include "ScriptedDialogs.h"
#include "TestUtil.h"
#include "Twave.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testutil;

namespace {

std::vector<int16_t> Sine(int rate, int channels, int frames, double hz = 1000) {
    std::vector<int16_t> s(size_t(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i) * channels + c] = int16_t(std::lrint(10000 * std::sin(2 * 3.14159265358979 * hz * i / rate)));
    return s;
}

// Decoded temporaries go to a folder of the test's own, which must be empty
// again once the inputs are open.
class JobDecoded : public ::testing::Test {
protected:
    TempDir dir, tmp;
    TWaveData o, k, w;
    ScriptedDialogs d;
    std::string savedTmp;

    void SetUp() override {
        if (const char* t = std::getenv("TMPDIR")) savedTmp = t;
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
        d.answer = true;
        WriteFile(dir / "song.wav", Wave16(2, 44100, Sine(44100, 2, 4410)));
        WriteFile(dir / "48k.wav", Wave16(2, 48000, Sine(48000, 2, 4800)));
        WriteFile(dir / "mono.wav", Wave16(1, 44100, Sine(44100, 1, 4410)));
        WriteFile(dir / "8bit.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 8)), Chunk("data", Bytes(200, 0x90))}));
        WriteFile(dir / "24bit.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 24)), Chunk("data", Bytes(600, 1))}));
    }
    void TearDown() override {
        if (savedTmp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", savedTmp.c_str(), 1);
    }
    bool TempFolderEmpty() { return std::filesystem::is_empty(tmp.path()); }
    JobRequest Req(const std::string& orig, const std::string& kar, const std::string& out) {
        JobRequest r;
        r.original = dir / orig;
        r.karaoke = dir / kar;
        r.output = dir / out;
        return r;
    }
};

} // namespace

TEST_F(JobDecoded, TheKaraokeTakesTheOriginalsLayoutAndTheUserIsTold) {
    struct Case {
        const char* orig;
        const char* kar;
        std::vector<std::string> notes;
        int karFrames; // frames of the karaoke as the run reads it
        bool origDirect, karDirect;
    } cases[] = {
        {"song.wav", "song2.wav", {}, 4410, true, true},
        {"song.wav", "48k.wav", {"karaoke resampled from 48000 Hz to 44100 Hz"}, 4410, true, false},
        {"song.wav", "mono.wav", {"karaoke converted from mono to stereo"}, 4410, true, false},
        {"mono.wav", "48k.wav",
         {"karaoke resampled from 48000 Hz to 44100 Hz", "karaoke converted from stereo to mono"}, 4410, true,
         false},
        {"song.wav", "8bit.wav", {}, 100, true, false},
        {"24bit.wav", "song.wav", {}, 4410, false, true},
    };
    std::filesystem::copy_file(dir / "song.wav", dir / "song2.wav");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.orig) + " + " + c.kar);
        d.notes.clear();
        std::vector<std::string> karLabels;
        JobRequest r = Req(c.orig, c.kar, "v.wav");
        r.onChecked = [&](int which, const WaveCheckResult& res) {
            if (which == 2) karLabels.push_back(res.label);
        };
        ASSERT_TRUE(PrepareJob(r, o, k, w, d));
        EXPECT_TRUE(d.warnings.empty());
        EXPECT_EQ(d.notes, c.notes);
        EXPECT_EQ(r.notes, c.notes);
        for (TWaveData* f : {&o, &k, &w}) {
            EXPECT_TRUE(f->IsOpen());
            EXPECT_EQ(f->Format.wBitsPerSample, 16);
            EXPECT_EQ(f->Format.nSamplesPerSec, o.Format.nSamplesPerSec);
            EXPECT_EQ(f->Format.nChannels, o.Format.nChannels);
        }
        // 16-bit WAVE files are read as they are, the rest from a decoded
        // copy that has already left the folder.
        EXPECT_EQ(o.FileName == r.original, c.origDirect);
        EXPECT_EQ(k.FileName == r.karaoke, c.karDirect);
        EXPECT_TRUE(TempFolderEmpty());
        EXPECT_EQ(int(k.DataBytes / k.Format.nBlockAlign), c.karFrames);
        // The window's karaoke label shows what the karaoke becomes.
        ASSERT_EQ(karLabels.size(), c.notes.empty() ? 1u : 2u);
        if (!c.notes.empty()) {
            EXPECT_NE(karLabels[1].find(" \u219244.100kHz"), std::string::npos) << karLabels[1];
        }
        o.Close();
        k.Close();
        w.Close();
        std::filesystem::remove(dir / "v.wav");
    }
}

TEST_F(JobDecoded, ADecodedOriginalGivenTwiceIsDecodedOnce) {
    JobRequest r = Req("24bit.wav", "24bit.wav", "v.wav");
    ASSERT_TRUE(PrepareJob(r, o, k, w, d));
    EXPECT_EQ(r.runMode, 1);
    EXPECT_EQ(o.FileName, k.FileName);
    EXPECT_EQ(k.DataBytes, 400u); // 100 frames of 16-bit stereo
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(JobDecoded, AStopWhileDecodingEndsQuietlyWithNothingLeft) {
    d.cancel = true;
    JobRequest r = Req("song.wav", "48k.wav", "v.wav");
    EXPECT_FALSE(PrepareJob(r, o, k, w, d));
    EXPECT_TRUE(d.warnings.empty());
    EXPECT_FALSE(o.IsOpen() || k.IsOpen() || w.IsOpen());
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_FALSE(std::filesystem::exists(dir / "v.wav"));
}

// The window writes WAVE: a FLAC name is rewritten like any other.
TEST_F(JobDecoded, TheWindowsOutputIsWaveWhateverItsName) {
    JobRequest wave = Req("song.wav", "song.wav", "v.flac");
    ASSERT_TRUE(PrepareJob(wave, o, k, w, d));
    EXPECT_EQ(wave.output, dir / "v.wav");
    EXPECT_EQ(w.FileName, dir / "v.wav");
}

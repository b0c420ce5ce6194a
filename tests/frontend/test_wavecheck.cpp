#include "TestUtil.h"
#include "Twave.h"
#include "WaveCheck.h"

#include <gtest/gtest.h>

using namespace testutil;

TEST(WaveCheck, AcceptsPcmAndShowsItsFormat) {
    struct Case {
        const char* name;
        Bytes file;
        const char* label;
    } cases[] = {
        {"stereo.wav", Wave16(2, 44100, {1, 2}), "44.100kHz 16位\u3000\u3000 立体声\u3000"},
        {"mono.wav", Wave16(1, 48000, {1}), "48.000kHz 16位\u3000\u3000 单声道\u3000"},
        {"odd-rate.wav", Wave16(2, 22050, {}), "22.050kHz 16位\u3000\u3000 立体声\u3000"},
        // Other depths and float are decoded before a run.
        {"float.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 32, 16, 3)), Chunk("data", Bytes(8, 0))}),
         "44.100kHz 32位\u3000\u3000 立体声\u3000float"},
        {"24bit.wav", Riff({Chunk("fmt ", FmtPayload(2, 96000, 24)), Chunk("data", Bytes(6, 0))}),
         "96.000kHz 24位\u3000\u3000 立体声\u3000"},
        {"8bit.wav", Riff({Chunk("fmt ", FmtPayload(1, 8000, 8)), Chunk("data", Bytes(3, 0x80))}),
         "8.000kHz 8位\u3000\u3000 单声道\u3000"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir / c.name, c.file);
        WaveCheckResult r = CheckWaveFileText(dir / c.name);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.warning, "");
        EXPECT_EQ(r.label, c.label);
    }
}

TEST(WaveCheck, RejectionsCarryTheirMessages) {
    struct Case {
        const char* name;
        Bytes file; // empty name stays missing
        bool create;
        std::string message;
    } cases[] = {
        {"missing.wav", {}, false, "\"missing.wav\"\n无法打开文件\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"},
        {"song.mp3.wav", Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0xFF, 0xFB}, true,
         "\"song.mp3.wav\"\n这是不能被处理的文件格式\u3000\n或文件被损坏"
         "\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"
         "\nnot a WAVE, FLAC, MP3, AAC/M4A, Ogg Vorbis, Opus or AIFF file"},
        {"surround.wav", Riff({Chunk("fmt ", FmtPayload(6, 48000, 16)), Chunk("data", Bytes(12, 0))}), true,
         "\"surround.wav\"\n这是不能被处理的WAVE文件格式\u3000丅\n48000 Hz, 6 channels: at most 2 channels"},
        {"surround24.wav", Riff({Chunk("fmt ", FmtPayload(6, 48000, 24)), Chunk("data", Bytes(18, 0))}), true,
         "\"surround24.wav\"\n这是不能被处理的WAVE文件格式\u3000丅\n48000 Hz, 6 channels: at most 2 channels"},
        {"nochannels.wav", Riff({Chunk("fmt ", FmtPayload(0, 44100, 16)), Chunk("data", Bytes(4, 0))}), true,
         "\"nochannels.wav\"\n这是不能被处理的WAVE文件格式\u3000丅"
         "\n0 channels of 16 bits in frames of 0 bytes: the header is damaged"},
        {"align0.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 16, 16, 1, 0)), Chunk("data", Bytes(4, 0))}), true,
         "\"align0.wav\"\n这是不能被处理的WAVE文件格式\u3000丅"
         "\n2 channels of 16 bits in frames of 0 bytes: the header is damaged"},
        {"align3.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 16, 16, 1, 3)), Chunk("data", Bytes(4, 0))}), true,
         "\"align3.wav\"\n这是不能被处理的WAVE文件格式\u3000丅"
         "\n2 channels of 16 bits in frames of 3 bytes: the header is damaged"},
        {"40bit.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 40)), Chunk("data", Bytes(10, 0))}), true,
         "\"40bit.wav\"\n请使用１６位采样位数\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"
         "\n40-bit PCM cannot be read: 8, 16, 24 or 32 bits can; convert it to 16-bit PCM WAVE"},
        {"tag1234.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 16, 16, 0x1234)), Chunk("data", Bytes(4, 0))}),
         true,
         "\"tag1234.wav\"\n这是不能被处理的WAVE文件格式\u3000丅"
         "\nformat tag 0x1234, audio in a coding that cannot be decoded: convert it to 16-bit PCM WAVE"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.create) WriteFile(dir / c.name, c.file);
        WaveCheckResult r = CheckWaveFileText(dir / c.name);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.warning, c.message);
        EXPECT_EQ(r.label, "");
    }
}

// An input is opened once: a file read as it is stays open from its check,
// anything else is left closed for the decoder; a file that cannot be read
// gives the system's reason for the command line.
TEST(WaveCheck, TheCheckHandsBackTheOpenInputOrLeavesItToTheDecoder) {
    TempDir dir;
    WriteFile(dir / "16.wav", Wave16(2, 44100, {1, 2, 3, 4}));
    WriteFile(dir / "24.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 24)), Chunk("data", Bytes(6, 0))}));
    std::filesystem::create_directory(dir / "folder.wav");
    struct Case {
        std::string path;
        int result;
        bool open;
        std::string cause;
    } cases[] = {
        {dir / "16.wav", 0, true, ""},
        {dir / "24.wav", 0, false, ""},
        {dir / "missing.wav", 1, false, "No such file or directory"},
        {dir / "folder.wav", 1, false, "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TWaveData wave;
        const WaveCheckResult r = CheckInputFile(c.path, wave);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.direct, c.open);
        EXPECT_EQ(wave.IsOpen(), c.open);
        EXPECT_EQ(r.problem.cause, c.cause);
        if (c.result != 0) {
            EXPECT_EQ(r.problem.path, c.path);
            EXPECT_EQ(r.warning, r.problem.WindowText());
        }
    }
}

TEST(WaveCheck, StripPaddingRemovesOnlyTrailingIdeographicSpaces) {
    EXPECT_EQ(StripPadding("\"a.wav\"\n这是不能被处理的文件格式\u3000\n或文件被损坏\u3000\u3000"),
              "\"a.wav\"\n这是不能被处理的文件格式\n或文件被损坏");
    EXPECT_EQ(StripPadding("\u3000x\u3000y\u3000"), "\u3000x\u3000y");
    EXPECT_EQ(StripPadding(""), "");
}

TEST(WaveCheck, DropsAcceptTheExtensionsOfTheAudioFilter) {
    for (const char* yes : {"a.wav", "B.WAV", "c.flac", "d.Mp3", "e.m4a", "f.aac", "g.ogg", "h.opus", "i.aiff",
                            "j.aif", "k.mp4", "dir.x/l.wave"})
        EXPECT_TRUE(IsAudioExtension(yes)) << yes;
    for (const char* no : {"a.txt", "a.wav.bak", "a", "a.", ".wav", "a.mp", "a.flac2", "a.w"})
        EXPECT_FALSE(IsAudioExtension(no)) << no;
}

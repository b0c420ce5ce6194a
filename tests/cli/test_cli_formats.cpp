// The command line with the formats people hold: info, extraction from FLAC
// and MP3 inputs of different rates, and FLAC output.
#include "AudioFixtures.h"
#include "CliRun.h"
#include "Decoder.h"
#include "EngineFixture.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

class CliFormats : public ::testing::Test {
protected:
    TempDir dir, tmp;
    std::string Q(const std::string& name) { return ShellQuote(dir / name); }
    std::string Env() { return "TMPDIR=" + ShellQuote(tmp.path().string()); }
};

} // namespace

TEST_F(CliFormats, InfoDescribesEveryFormatAndRefusesWhatExtractWould) {
    const std::vector<int16_t> s = TestSignal(44100, 2, 44100);
    ASSERT_EQ(EncodeFixture(dir / "song.flac", "flac", "flac", 44100, 2, s), "");
    ASSERT_EQ(EncodeFixture(dir / "song.mp3", "mp3", "libmp3lame", 48000, 2, TestSignal(48000, 2, 48000), 192000), "");
    WriteFile(dir / "24bit.wav", Riff({Chunk("fmt ", FmtPayload(2, 96000, 24)), Chunk("data", Bytes(6 * 9600, 0))}));
    WriteFile(dir / "8bit.wav", Riff({Chunk("fmt ", FmtPayload(1, 8000, 8)), Chunk("data", Bytes(8000, 0x80))}));
    WriteFile(dir / "six.wav", Riff({Chunk("fmt ", FmtPayload(6, 48000, 16)), Chunk("data", Bytes(12, 0))}));

    CliResult ok = RunCli("info " + Q("song.flac") + " " + Q("song.mp3") + " " + Q("24bit.wav") + " " + Q("8bit.wav"));
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.err, "");
    EXPECT_NE(ok.out.find(dir / "song.flac" + ": FLAC (flac), 44100 Hz, 16 bits, 2 channels, 0:00:01.000\n"),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find(dir / "song.mp3" + ": MP3 (mp3), 48000 Hz, lossy 192 kbit/s, 2 channels, 0:00:01.0"),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find(dir / "24bit.wav" + ": WAVE (pcm_s24le), 96000 Hz, 24 bits, 2 channels, 0:00:00.100\n"),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find(dir / "8bit.wav" + ": WAVE (pcm_u8), 8000 Hz, 8 bits, 1 channel, 0:00:01.000\n"),
              std::string::npos)
        << ok.out;

    CliResult bad = RunCli("info " + Q("six.wav"));
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "sonvelt-cli: " + dir / "six.wav" +
                           ": this WAVE format cannot be processed (48000 Hz, 6 channels: at most 2 channels)\n");
}

// A FLAC original and a 48 kHz MP3 karaoke give the same voice as the pair
// converted to 44.1 kHz 16-bit WAVE first, as WAVE or, when asked, as FLAC;
// the conversion is told and no temporary file remains.
TEST_F(CliFormats, ExtractsFromFlacAndA48kMp3Karaoke) {
    const size_t frames = 4 * 44100;
    const auto accomp = Accompaniment(frames, 2, 41);
    const auto voice = Voice(frames, 2, 44100);
    auto kar = Delay(accomp, 4410, 2);
    ASSERT_EQ(EncodeFixture(dir / "song.flac", "flac", "flac", 44100, 2, Mix(accomp, voice)), "");
    WriteFile(dir / "kar44.wav", Wave16(2, 44100, kar));
    ASSERT_EQ(DecodeToWave(dir / "kar44.wav", dir / "kar48.wav", 48000, 2), kDecodeOk);
    ASSERT_EQ(EncodeFixture(dir / "kar.mp3", "mp3", "libmp3lame", 48000, 2, ReadSamples(dir / "kar48.wav"), 192000),
              "");

    CliResult r = RunCli("extract " + Q("song.flac") + " " + Q("kar.mp3") + " -o " + Q("voice.wav") +
                             " --defaults --set MergeMode=1",
                         Env());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("karaoke resampled from 48000 Hz to 44100 Hz"), std::string::npos) << r.err;
    TWaveData out;
    ASSERT_EQ(out.OpenRead(dir / "voice.wav"), 0);
    EXPECT_EQ(out.Format.nSamplesPerSec, 44100u);
    EXPECT_EQ(out.Format.wBitsPerSample, 16);
    out.Close();
    const std::vector<int16_t> got = ReadSamples(dir / "voice.wav");
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));

    // The same as converting both to 44.1 kHz 16-bit WAVE first.
    ASSERT_EQ(DecodeToWave(dir / "song.flac", dir / "song16.wav", 44100, 2), kDecodeOk);
    ASSERT_EQ(DecodeToWave(dir / "kar.mp3", dir / "kar16.wav", 44100, 2), kDecodeOk);
    CliResult ref = RunCli("extract " + Q("song16.wav") + " " + Q("kar16.wav") + " -o " + Q("ref.wav") +
                           " --defaults --set MergeMode=1");
    ASSERT_EQ(ref.status, 0) << ref.err;
    EXPECT_EQ(got, ReadSamples(dir / "ref.wav"));
    EXPECT_GE(got.size(), voice.size());

    CliResult f = RunCli("extract " + Q("song.flac") + " " + Q("kar.mp3") + " -o " + Q("voice.flac") +
                             " --defaults --set MergeMode=1",
                         Env());
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_NE(f.out.find(dir / "voice.flac"), std::string::npos) << f.out;
    ASSERT_EQ(DecodeToWave(dir / "voice.flac", dir / "back.wav", 44100, 2), kDecodeOk);
    EXPECT_EQ(ReadSamples(dir / "back.wav"), got);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
}

// The decoding libraries are loaded only for a file that needs them: a
// 16-bit WAVE run starts without them, and without the module a compressed
// file is refused with the reason.
TEST_F(CliFormats, TheDecoderIsLoadedOnlyWhenAFileNeedsIt) {
    const std::vector<int16_t> s = TestSignal(44100, 2, 4410);
    WriteFile(dir / "song.wav", Wave16(2, 44100, s));
    ASSERT_EQ(EncodeFixture(dir / "song.flac", "flac", "flac", 44100, 2, s), "");
    // The dynamic loader names every library it maps.
    CliResult wave = RunCli("info " + Q("song.wav"), Env() + " LD_DEBUG=files");
    EXPECT_EQ(wave.status, 0) << wave.err;
    EXPECT_EQ(wave.err.find("libavcodec"), std::string::npos);
    CliResult flac = RunCli("info " + Q("song.flac"), Env() + " LD_DEBUG=files");
    EXPECT_EQ(flac.status, 0) << flac.err;
    EXPECT_NE(flac.err.find("libsonvelt_ffmpeg"), std::string::npos);
    EXPECT_NE(flac.err.find("libavcodec"), std::string::npos);

    CliResult missing = RunCli("info " + Q("song.flac"), Env() + " SONVELT_DECODER_MODULE=" + Q("no-such-module.so"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("audio decoding is not available (" + dir / "no-such-module.so" + ": not found)"),
              std::string::npos)
        << missing.err;
}

// A header rate no recording has (0, 0xFFFFFFFF, 1 Hz) is refused by info and
// by extract alike, naming the file that has it; a 12 KB karaoke at 1 Hz is
// never expanded to 44.1 kHz.
TEST_F(CliFormats, RatesNoRecordingHasAreRefusedNamingTheFile) {
    const std::vector<int16_t> s = TestSignal(44100, 2, 44100);
    WriteFile(dir / "song.wav", Wave16(2, 44100, s));
    WriteFile(dir / "kar.wav", Wave16(2, 44100, s));
    const std::vector<int16_t> frames(2 * 3000, 1000);
    WriteFile(dir / "zero.wav", Wave16(2, 0, frames));
    WriteFile(dir / "all-ones.wav", Wave16(2, 0xFFFFFFFF, frames));
    WriteFile(dir / "one.wav", Wave16(2, 1, frames));
    WriteFile(dir / "float-one.wav", Riff({Chunk("fmt ", FmtPayload(2, 1, 32, 16, 3)), Chunk("data", Bytes(12000, 0))}));
    const std::string reason = "the sampling rate must be 1000 to 768000 Hz)";
    struct Case {
        const char* file;
        std::string rate;
    } cases[] = {{"zero.wav", "0 Hz"}, {"all-ones.wav", "4294967295 Hz"}, {"one.wav", "1 Hz"}, {"float-one.wav", "1 Hz"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string named = "sonvelt-cli: " + (dir / c.file) + ": ";
        CliResult info = RunCli("info " + Q(c.file));
        EXPECT_EQ(info.status, 2);
        EXPECT_EQ(info.out, "");
        EXPECT_EQ(info.err, named + "this WAVE format cannot be processed (" + c.rate + ": " + reason + "\n");
        for (const std::string& pair : {Q("song.wav") + " " + Q(c.file), Q(c.file) + " " + Q("kar.wav")}) {
            CliResult r = RunCli("extract " + pair + " -o " + Q("v.wav") + " --defaults", Env());
            EXPECT_EQ(r.status, 2) << pair;
            EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.rate + ": " + reason), std::string::npos) << r.err;
            EXPECT_FALSE(std::filesystem::exists(dir / "v.wav"));
        }
    }
}

// A data chunk shorter than one frame holds nothing to extract, whether the
// file is read as it is or decoded, and the message names that file.
TEST_F(CliFormats, LessThanOneFrameIsNothingToExtract) {
    const std::vector<int16_t> s = TestSignal(44100, 2, 44100);
    WriteFile(dir / "song.wav", Wave16(2, 44100, s));
    WriteFile(dir / "kar.wav", Wave16(2, 44100, s));
    WriteFile(dir / "three.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 16)), Chunk("data", Bytes{1, 2, 3})}));
    WriteFile(dir / "five24.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 24)), Chunk("data", Bytes(5, 1))}));
    struct Case {
        std::string original, karaoke, named, message;
    } cases[] = {
        {"three.wav", "kar.wav", "three.wav", "the data chunk holds less than one frame"},
        {"song.wav", "three.wav", "three.wav", "the data chunk holds less than one frame"},
        {"song.wav", "five24.wav", "five24.wav", "the data chunk is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.original + " " + c.karaoke);
        CliResult r = RunCli("extract " + Q(c.original) + " " + Q(c.karaoke) + " -o " + Q("v.wav") + " --defaults",
                             Env());
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find((dir / c.named) + ": " + c.message + ": nothing to extract"), std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("voice written"), std::string::npos) << r.out;
        EXPECT_FALSE(std::filesystem::exists(dir / "v.wav"));
    }
}

// An Opus karaoke with bytes flipped in its middle decodes only in part: the
// warning names it and says how much was read; the voice is written, unless
// --strict was given.
TEST_F(CliFormats, ADamagedKaraokeIsNamedAndRefusedUnderStrict) {
    const size_t frames = 2 * 48000;
    const auto accomp = Accompaniment(frames, 2, 43);
    WriteFile(dir / "song.wav", Wave16(2, 48000, Mix(accomp, Voice(frames, 2, 48000))));
    ASSERT_EQ(EncodeFixture(dir / "song karaoke.opus", "opus", "libopus", 48000, 2, accomp, 128000), "");
    Bytes bytes = ReadFile(dir / "song karaoke.opus");
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] ^= 0x5A;
    WriteFile(dir / "song karaoke.opus", bytes);
    const std::string args = "extract " + Q("song.wav") + " " + Q("song karaoke.opus") + " -o " + Q("v.wav") +
                             " --defaults --set MergeMode=1 --json";

    CliResult strict = RunCli(args + " --strict", Env());
    EXPECT_EQ(strict.status, 4) << strict.err;
    EXPECT_NE(strict.err.find((dir / "song karaoke.opus") + ": damaged or cut: "), std::string::npos) << strict.err;
    EXPECT_NE(strict.err.find(" s of 2.0"), std::string::npos) << strict.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "v.wav"));

    CliResult r = RunCli(args, Env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find((dir / "song karaoke.opus") + ": damaged or cut: "), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("song karaoke.opus\\\": damaged or cut: "), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir / "v.wav"));

    // The same file whole gives no warning.
    ASSERT_EQ(EncodeFixture(dir / "song karaoke.opus", "opus", "libopus", 48000, 2, accomp, 128000), "");
    CliResult whole = RunCli(args + " --strict --yes", Env());
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(whole.err.find("damaged"), std::string::npos) << whole.err;
}

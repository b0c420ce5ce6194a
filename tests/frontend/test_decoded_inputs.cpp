// Inputs in the formats people hold: each is accepted with the right label
// and decodes to the 16-bit source within the codec's error.
#include "AudioFixtures.h"
#include "Decoder.h"
#include "TempAudio.h"
#include "TestUtil.h"
#include "Twave.h"
#include "WaveCheck.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

std::vector<int16_t> ReadWave16(const std::string& path, WaveFormat* format = nullptr) {
    TWaveData w;
    if (w.OpenRead(path) != 0) return {};
    if (format) *format = w.Format;
    std::vector<int16_t> s(w.DataBytes / 2);
    const int32_t got = w.Read(s.data(), int32_t(s.size() * 2));
    s.resize(size_t(std::max(got, 0)) / 2);
    w.Close();
    return s;
}

// A 16-bit WAVE_FORMAT_EXTENSIBLE file (what many editors write).
Bytes Extensible16(int channels, int rate, const std::vector<int16_t>& pcm) {
    Bytes fmt = FmtPayload(uint16_t(channels), uint32_t(rate), 16, 16, 0xFFFE);
    PutU16(fmt, 22);                       // cbSize
    PutU16(fmt, 16);                       // valid bits
    PutU32(fmt, channels == 1 ? 4 : 3);    // channel mask
    const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), pcmGuid, pcmGuid + 16);
    return Riff({Chunk("fmt ", fmt), Chunk("data", Pcm16(pcm))});
}

} // namespace

TEST(DecodedInputs, EveryFormatIsAcceptedLabelledAndDecodedFaithfully) {
    struct Case {
        const char* file;
        const char* muxer;   // nullptr: hand-made extensible WAVE
        const char* encoder;
        int rate, channels;
        int64_t bitRate;
        const char* label;
        double minSdr;       // dB against the 16-bit source
        int maxLengthDiff;   // frames the decoded length may differ (codec padding)
    } cases[] = {
        {"s24.wav", "wav", "pcm_s24le", 44100, 2, 0, "44.100kHz 24位\u3000\u3000 立体声\u3000", 100, 0},
        {"s32.wav", "wav", "pcm_s32le", 48000, 1, 0, "48.000kHz 32位\u3000\u3000 单声道\u3000", 100, 0},
        {"f32.wav", "wav", "pcm_f32le", 44100, 2, 0, "44.100kHz 32位\u3000\u3000 立体声\u3000float", 100, 0},
        {"u8.wav", "wav", "pcm_u8", 22050, 1, 0, "22.050kHz 8位\u3000\u3000 单声道\u3000", 30, 0},
        {"ext16.wav", nullptr, nullptr, 44100, 2, 0, "44.100kHz 16位\u3000\u3000 立体声\u3000", 100, 0},
        {"song.flac", "flac", "flac", 44100, 2, 0, "44.100kHz 16位\u3000\u3000 立体声\u3000FLAC", 100, 0},
        {"song.aiff", "aiff", "pcm_s16be", 44100, 2, 0, "44.100kHz 16位\u3000\u3000 立体声\u3000AIFF", 100, 0},
        {"song.mp3", "mp3", "libmp3lame", 44100, 2, 128000, "44.100kHz 128kbps\u3000\u3000 立体声\u3000MP3", 15,
         1152},
        {"song.m4a", "ipod", "aac", 44100, 2, 128000, nullptr, 15, 1024},
        {"song.ogg", "ogg", "libvorbis", 44100, 2, 128000, nullptr, 15, 1024},
        {"song.opus", "opus", "libopus", 48000, 2, 128000, nullptr, 15, 960},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const int frames = c.rate * 3 / 2;
        const std::vector<int16_t> source = TestSignal(c.rate, c.channels, frames);
        const std::string path = dir / c.file;
        if (c.muxer)
            ASSERT_EQ(EncodeFixture(path, c.muxer, c.encoder, c.rate, c.channels, source, c.bitRate), "");
        else
            WriteFile(path, Extensible16(c.channels, c.rate, source));

        const WaveCheckResult check = CheckWaveFileText(path);
        EXPECT_EQ(check.warning, "");
        ASSERT_EQ(check.result, 0);
        EXPECT_FALSE(check.direct);
        EXPECT_EQ(check.info.sampleRate, c.rate);
        EXPECT_EQ(check.info.channels, c.channels);
        if (c.label) {
            EXPECT_EQ(check.label, c.label);
        }
        EXPECT_NE(check.label.find(c.channels == 1 ? "单声道" : "立体声"), std::string::npos);

        const std::string out = dir / (std::string(c.file) + ".dec.wav");
        std::string error;
        ASSERT_EQ(DecodeToWave(path, out, c.rate, c.channels, &error), kDecodeOk) << error;
        WaveFormat f;
        const std::vector<int16_t> decoded = ReadWave16(out, &f);
        EXPECT_EQ(f.wFormatTag, 1);
        EXPECT_EQ(f.wBitsPerSample, 16);
        EXPECT_EQ(int(f.nSamplesPerSec), c.rate);
        EXPECT_EQ(f.nChannels, c.channels);
        const int decodedFrames = int(decoded.size()) / c.channels;
        EXPECT_LE(std::abs(decodedFrames - frames), c.maxLengthDiff) << decodedFrames << " frames";
        // The decoder delay is removed from the file's own information: what
        // is left lines up with the source.
        const int lag = BestLag(source, decoded, c.channels, 2400);
        EXPECT_EQ(lag, 0);
        EXPECT_GE(SdrDb(source, decoded, c.channels, lag), c.minSdr);
    }
}

TEST(DecodedInputs, LabelsNameTheLossyContainers) {
    const std::vector<int16_t> s = TestSignal(48000, 2, 4800);
    TempDir dir;
    struct Case {
        const char* file;
        const char* muxer;
        const char* encoder;
        const char* container;
    } cases[] = {{"a.m4a", "ipod", "aac", "AAC"}, {"a.ogg", "ogg", "libvorbis", "Vorbis"},
                 {"a.opus", "opus", "libopus", "Opus"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(EncodeFixture(dir / c.file, c.muxer, c.encoder, 48000, 2, s, 128000), "");
        const WaveCheckResult r = CheckWaveFileText(dir / c.file);
        ASSERT_EQ(r.result, 0) << r.warning;
        EXPECT_EQ(r.info.container, c.container);
        EXPECT_EQ(r.label.rfind(std::string("48.000kHz "), 0), 0u) << r.label;
        EXPECT_EQ(r.label.substr(r.label.size() - std::string(c.container).size()), c.container);
    }
}

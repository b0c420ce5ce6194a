// Decoding to 16-bit WAVE: rounding, conversion of rate and channels,
// damaged files, FLAC output.
#include "AudioFixtures.h"
#include "Decoder.h"
#include "TestUtil.h"
#include "Twave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <random>
#include <unistd.h>

using namespace testutil;

namespace {

// The decoder makes its output new, as it does a temporary: a test that
// decodes to one name again clears it first.
std::string Fresh(const std::string& path) {
    std::filesystem::remove(path);
    return path;
}

} // namespace

namespace {

std::vector<int16_t> ReadWave16(const std::string& path) {
    TWaveData w;
    if (w.OpenRead(path) != 0) return {};
    std::vector<int16_t> s(w.DataBytes / 2);
    const int32_t got = w.Read(s.data(), int32_t(s.size() * 2));
    s.resize(size_t(std::max(got, 0)) / 2);
    return s;
}

Bytes Pcm24(const std::vector<int32_t>& v) {
    Bytes b;
    for (int32_t x : v) {
        b.push_back(uint8_t(x));
        b.push_back(uint8_t(x >> 8));
        b.push_back(uint8_t(x >> 16));
    }
    return b;
}

Bytes Float32(const std::vector<float>& v) {
    Bytes b;
    for (float x : v) {
        uint32_t u;
        std::memcpy(&u, &x, 4);
        PutU32(b, u);
    }
    return b;
}

Bytes FloatWave(int channels, int rate, const std::vector<float>& v) {
    return Riff({Chunk("fmt ", FmtPayload(uint16_t(channels), uint32_t(rate), 32, 16, 3)), Chunk("data", Float32(v))});
}

Bytes DoubleWave(int channels, int rate, const std::vector<double>& v) {
    Bytes data;
    for (double x : v) {
        uint64_t u;
        std::memcpy(&u, &x, 8);
        PutU32(data, uint32_t(u));
        PutU32(data, uint32_t(u >> 32));
    }
    return Riff({Chunk("fmt ", FmtPayload(uint16_t(channels), uint32_t(rate), 64, 16, 3)), Chunk("data", data)});
}

// Amplitude of the component at `hz` in mono samples (least squares fit of a
// sine and a cosine over whole cycles of the middle of the signal).
double Amplitude(const std::vector<int16_t>& s, int rate, double hz) {
    const size_t from = s.size() / 4, to = s.size() * 3 / 4;
    double c = 0, si = 0;
    for (size_t i = from; i < to; ++i) {
        const double ph = 2 * 3.14159265358979 * hz * double(i) / rate;
        c += s[i] * std::cos(ph);
        si += s[i] * std::sin(ph);
    }
    return 2 * std::hypot(c, si) / double(to - from);
}

} // namespace

TEST(Decoder, SamplesAreRoundedToSixteenBitsAndClipped) {
    TempDir dir;
    // 24-bit: 16-bit value times 256 plus a remainder.
    WriteFile(dir / "s24.wav", Riff({Chunk("fmt ", FmtPayload(1, 8000, 24)),
                                     Chunk("data", Pcm24({0x0000FF, 0x000080, 0x00007F, -0x81, -0x80, -0x7F,
                                                          0x7FFFFF, -0x800000, 0x123456}))}));
    ASSERT_EQ(DecodeToWave(dir / "s24.wav", Fresh(dir / "o24.wav"), 8000, 1), kDecodeOk);
    EXPECT_EQ(ReadWave16(dir / "o24.wav"), (std::vector<int16_t>{1, 0, 0, -1, 0, 0, 32767, -32768, 0x1234}));

    WriteFile(dir / "f32.wav", FloatWave(1, 8000, {1.5f, -1.5f, 1.0f, -1.0f, 0.5f / 32768, 1.5f / 32768,
                                                   -1.5f / 32768, 100.25f / 32768}));
    ASSERT_EQ(DecodeToWave(dir / "f32.wav", Fresh(dir / "of.wav"), 8000, 1), kDecodeOk);
    EXPECT_EQ(ReadWave16(dir / "of.wav"), (std::vector<int16_t>{32767, -32768, 32767, -32768, 0, 2, -2, 100}));

    // Stereo float frames long enough for the vectorised loops: halves round
    // to even, everything else to the nearest step, on both channels.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> step(-40000, 40000);
    std::vector<float> many(2002);
    std::vector<int16_t> want;
    for (size_t i = 0; i < many.size(); ++i) {
        const double v = (step(rng) + (i % 3 == 0 ? 0.5 : i % 3 == 1 ? 0.25 : -0.75)) / 32768.0;
        many[i] = float(v);
        const double scaled = std::clamp(double(many[i]), -1.0, 1.0) * 32768.0;
        want.push_back(int16_t(std::min(std::nearbyint(scaled), 32767.0)));
    }
    WriteFile(dir / "many.wav", FloatWave(2, 8000, many));
    ASSERT_EQ(DecodeToWave(dir / "many.wav", Fresh(dir / "om.wav"), 8000, 2), kDecodeOk);
    EXPECT_EQ(ReadWave16(dir / "om.wav"), want);
}

// NaN is silence and an infinity full scale, sample for sample: also through
// the resampler, where they would otherwise spread over their neighbours.
TEST(Decoder, NonFiniteSamplesBecomeSilenceOrFullScale) {
    TempDir dir;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::vector<double> odd = {nan, inf, -inf, 0.5, -nan, 0.25};
    const std::vector<int16_t> want = {0, 32767, -32768, 16384, 0, 8192};
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "64-bit float" : "32-bit float");
        auto file = [&](int rate, const std::vector<double>& v) {
            return wide ? DoubleWave(1, rate, v) : FloatWave(1, rate, std::vector<float>(v.begin(), v.end()));
        };
        WriteFile(dir / "odd.wav", file(8000, odd));
        ASSERT_EQ(DecodeToWave(dir / "odd.wav", Fresh(dir / "o.wav"), 8000, 1), kDecodeOk);
        EXPECT_EQ(ReadWave16(dir / "o.wav"), want);

        // A tone with NaN and infinities in it, resampled, gives what the same
        // tone with silence and full scale in their places gives.
        std::vector<double> tone(4800), fixed;
        for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.3 * std::sin(0.05 * double(i));
        fixed = tone;
        for (size_t at : {1000, 2000, 2001, 3000}) {
            const double v = at == 2000 ? inf : at == 3000 ? -inf : nan;
            tone[at] = v;
            fixed[at] = std::isnan(v) ? 0.0 : v > 0 ? 1.0 : -1.0;
        }
        WriteFile(dir / "tone.wav", file(48000, tone));
        WriteFile(dir / "fixed.wav", file(48000, fixed));
        ASSERT_EQ(DecodeToWave(dir / "tone.wav", Fresh(dir / "t.wav"), 44100, 2), kDecodeOk);
        ASSERT_EQ(DecodeToWave(dir / "fixed.wav", Fresh(dir / "f.wav"), 44100, 2), kDecodeOk);
        const std::vector<int16_t> t = ReadWave16(dir / "t.wav");
        EXPECT_EQ(t.size(), 2u * 4410);
        EXPECT_EQ(t, ReadWave16(dir / "f.wav"));
    }
}

// Rates no recording has are refused with the rate named; within the range,
// the largest expansion (1 kHz to 768 kHz) is converted in bounded pieces
// and keeps the signal.
TEST(Decoder, SamplingRatesOutsideTheRangeAreRefused) {
    TempDir dir;
    for (int rate : {1, 999, 768001}) {
        SCOPED_TRACE(rate);
        WriteFile(dir / "odd.wav", FloatWave(1, rate, std::vector<float>(3000, 0.25f)));
        std::string error, probeError;
        AudioInfo info;
        EXPECT_EQ(ProbeAudio(dir / "odd.wav", info, &probeError), kDecodeNotAudio);
        EXPECT_EQ(DecodeToWave(dir / "odd.wav", Fresh(dir / "o.wav"), 44100, 2, &error), kDecodeNotAudio);
        const std::string want = std::to_string(rate) + " Hz: the sampling rate must be 1000 to 768000 Hz";
        EXPECT_EQ(error, want);
        EXPECT_EQ(probeError, want);
    }
    EXPECT_EQ(SampleRateProblem(0xFFFFFFFFll), "4294967295 Hz: the sampling rate must be 1000 to 768000 Hz");
    std::vector<float> tone(1000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = float(0.5 * std::sin(2 * 3.14159265358979 * 50 * double(i) / 1000));
    WriteFile(dir / "low.wav", FloatWave(1, 1000, tone));
    DecodeReport report;
    ASSERT_EQ(DecodeToWave(dir / "low.wav", Fresh(dir / "high.wav"), 768000, 1, nullptr, {}, &report), kDecodeOk);
    const std::vector<int16_t> s = ReadWave16(dir / "high.wav");
    EXPECT_NEAR(double(s.size()), 768000, 2);
    EXPECT_EQ(report.frames, int64_t(s.size()));
    EXPECT_NEAR(Amplitude(s, 768000, 50), 0.5 * 32768, 0.01 * 32768);
    EXPECT_EQ(DecodeToWave(dir / "low.wav", Fresh(dir / "x.wav"), 768001, 1), kDecodeFailed);
}

TEST(Decoder, ChannelsAreCopiedOrAveraged) {
    TempDir dir;
    WriteFile(dir / "mono.wav", Wave16(1, 8000, {100, -200, 32767}));
    WriteFile(dir / "stereo.wav", Wave16(2, 8000, {100, 300, -200, -201, 32767, 32767}));
    ASSERT_EQ(DecodeToWave(dir / "mono.wav", Fresh(dir / "m2.wav"), 8000, 2), kDecodeOk);
    EXPECT_EQ(ReadWave16(dir / "m2.wav"), (std::vector<int16_t>{100, 100, -200, -200, 32767, 32767}));
    // The mean is rounded: -200.5 becomes -200 (halves go to even).
    ASSERT_EQ(DecodeToWave(dir / "stereo.wav", Fresh(dir / "s1.wav"), 8000, 1), kDecodeOk);
    EXPECT_EQ(ReadWave16(dir / "s1.wav"), (std::vector<int16_t>{200, -200, 32767}));
}

TEST(Decoder, RateConversionKeepsThePassbandAndRemovesWhatCannotBeHeld) {
    TempDir dir;
    const int in = 48000, out = 44100, frames = 48000;
    struct Case {
        double hz;
        double minDb, maxDb; // output level against input level
    } cases[] = {
        {1000, -0.05, 0.05},
        {19000, -0.1, 0.1},
        {21000, -0.1, 0.1},  // inside the passband (0.97 of 22050 Hz)
        {22500, -400, -90},  // just above the output's Nyquist frequency
        {23000, -400, -90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hz);
        std::vector<float> v(frames);
        for (int i = 0; i < frames; ++i) v[size_t(i)] = float(0.5 * std::sin(2 * 3.14159265358979 * c.hz * i / in));
        WriteFile(dir / "in.wav", FloatWave(1, in, v));
        std::filesystem::remove(dir / "out.wav");
        ASSERT_EQ(DecodeToWave(dir / "in.wav", Fresh(dir / "out.wav"), out, 1), kDecodeOk);
        const std::vector<int16_t> s = ReadWave16(dir / "out.wav");
        EXPECT_NEAR(double(s.size()), double(frames) * out / in, 2.0);
        double level;
        if (c.hz < out / 2.0) {
            level = 20 * std::log10(Amplitude(s, out, c.hz) / (0.5 * 32768));
        } else {
            // Whatever is left, at any frequency: the whole signal's power.
            double p = 0;
            for (size_t i = s.size() / 4; i < s.size() * 3 / 4; ++i) p += double(s[i]) * s[i];
            level = 10 * std::log10(std::max(p / double(s.size() / 2), 1e-20) / (0.5 * 0.5 * 32768 * 32768 / 2));
        }
        EXPECT_GE(level, c.minDb);
        EXPECT_LE(level, c.maxDb);
    }
}

TEST(Decoder, RefusesMoreThanTwoChannelsAndWhatIsNotAudio) {
    TempDir dir;
    WriteFile(dir / "six.wav", Riff({Chunk("fmt ", FmtPayload(6, 48000, 24)), Chunk("data", Bytes(18 * 4, 0))}));
    WriteFile(dir / "text.wav", Bytes{'h', 'e', 'l', 'l', 'o'});
    std::string error;
    EXPECT_EQ(DecodeToWave(dir / "six.wav", Fresh(dir / "o.wav"), 48000, 2, &error), kDecodeNotAudio);
    EXPECT_EQ(error, "48000 Hz, 6 channels: at most 2 channels");
    EXPECT_EQ(DecodeToWave(dir / "text.wav", Fresh(dir / "o.wav"), 48000, 2, &error), kDecodeNotAudio);
    EXPECT_EQ(DecodeToWave(dir / "missing.wav", Fresh(dir / "o.wav"), 48000, 2, &error), kDecodeCannotOpen);
    AudioInfo info;
    EXPECT_EQ(ProbeAudio(dir / "text.wav", info, &error), kDecodeNotAudio);
    EXPECT_FALSE(error.empty());
}

// Every container cut in its header, cut in the middle, and with random bytes
// after a valid start: the decoder gives a clear refusal or a shorter result,
// and always returns.
TEST(Decoder, DamagedFilesGiveARefusalOrAShorterResult) {
    TempDir dir;
    const int rate = 44100, frames = 44100;
    const std::vector<int16_t> s = TestSignal(rate, 2, frames);
    struct Format {
        const char* file;
        const char* muxer;
        const char* encoder;
        int rate;
    } formats[] = {
        {"a.wav", "wav", "pcm_s24le", rate},   {"a.flac", "flac", "flac", rate},
        {"a.mp3", "mp3", "libmp3lame", rate},  {"a.m4a", "ipod", "aac", rate},
        {"a.ogg", "ogg", "libvorbis", rate},   {"a.opus", "opus", "libopus", 48000},
        {"a.aiff", "aiff", "pcm_s16be", rate},
    };
    std::mt19937 rng(11);
    for (const Format& f : formats) {
        const std::string good = dir / f.file;
        ASSERT_EQ(EncodeFixture(good, f.muxer, f.encoder, f.rate, 2, f.rate == rate ? s : TestSignal(f.rate, 2, frames),
                                128000),
                  "");
        const Bytes whole = ReadFile(good);
        struct Damage {
            const char* what;
            Bytes bytes;
        };
        Bytes noise = whole;
        for (size_t i = whole.size() / 5; i < noise.size(); ++i) noise[i] = uint8_t(rng());
        Bytes flipped = whole;
        for (size_t i = whole.size() / 3; i < flipped.size(); i += 97) flipped[i] ^= 0x5A;
        const Damage damages[] = {
            {"cut in the header", Bytes(whole.begin(), whole.begin() + std::min<size_t>(20, whole.size()))},
            {"cut in the middle", Bytes(whole.begin(), whole.begin() + long(whole.size() / 2))},
            {"random bytes after the start", noise},
            {"flipped bytes", flipped},
        };
        for (const Damage& d : damages) {
            SCOPED_TRACE(std::string(f.file) + ": " + d.what);
            const std::string bad = dir / (std::string("bad-") + f.file);
            WriteFile(bad, d.bytes);
            AudioInfo info;
            std::string probeError, error;
            const int probed = ProbeAudio(bad, info, &probeError);
            if (probed != kDecodeOk) {
                EXPECT_FALSE(probeError.empty());
            }
            std::filesystem::remove(dir / "out.wav");
            const int r = DecodeToWave(bad, Fresh(dir / "out.wav"), rate, 2, &error);
            if (r == kDecodeOk) {
                const size_t got = ReadWave16(dir / "out.wav").size() / 2;
                EXPECT_LE(got, size_t(frames) + 4096);
            } else {
                EXPECT_FALSE(error.empty());
            }
        }
    }
}

// A whole file reports nothing wrong. A file cut in the middle, or with bytes
// flipped in the middle, reports the packets skipped or fewer seconds than it
// states, wherever the container lets that be seen.
TEST(Decoder, ReportsWhatADamagedOrCutFileGave) {
    TempDir dir;
    const int rate = 44100, frames = 2 * rate;
    const std::vector<int16_t> s = TestSignal(rate, 2, frames);
    Bytes extensible = FmtPayload(2, rate, 24, 40, 0xFFFE);
    extensible[16] = 22;              // cbSize
    extensible[18] = 24;              // valid bits
    extensible[20] = 3;               // front left and right
    const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    std::copy(pcmGuid, pcmGuid + 16, extensible.begin() + 24);
    std::vector<int32_t> s24(s.begin(), s.end());
    for (int32_t& v : s24) v *= 256;
    WriteFile(dir / "ext.wav", Riff({Chunk("fmt ", extensible), Chunk("data", Pcm24(s24))}));
    std::vector<float> sf(s.begin(), s.end());
    for (float& v : sf) v /= 32768;
    WriteFile(dir / "float.wav", FloatWave(2, rate, sf));
    struct Format {
        const char* file;
        const char* muxer;   // null: written above
        const char* encoder;
        int rate;
        bool cutSeen, flipSeen;
    } formats[] = {
        {"ext.wav", nullptr, nullptr, rate, true, false},
        {"float.wav", nullptr, nullptr, rate, true, false},
        {"a.aiff", "aiff", "pcm_s16be", rate, true, false},
        {"a.flac", "flac", "flac", rate, true, true},
        {"a.mp3", "mp3", "libmp3lame", rate, true, false},
        {"a.m4a", "ipod", "aac", rate, false, false},
        {"a.ogg", "ogg", "libvorbis", rate, false, true},
        {"a.opus", "opus", "libopus", 48000, false, true},
    };
    for (const Format& f : formats) {
        SCOPED_TRACE(f.file);
        const std::string good = dir / f.file;
        if (f.muxer) {
            ASSERT_EQ(EncodeFixture(good, f.muxer, f.encoder, f.rate, 2, TestSignal(f.rate, 2, 2 * f.rate), 128000),
                      "");
        }
        DecodeReport r;
        ASSERT_EQ(DecodeToWave(good, Fresh(dir / "out.wav"), rate, 2, nullptr, {}, &r), kDecodeOk);
        EXPECT_FALSE(r.Incomplete());
        EXPECT_EQ(r.packetsSkipped, 0);
        EXPECT_NEAR(r.Seconds(), 2.0, 0.1);
        EXPECT_EQ(r.rate, rate);
        EXPECT_EQ(r.frames, int64_t(ReadWave16(dir / "out.wav").size() / 2));

        const Bytes whole = ReadFile(good);
        Bytes flipped = whole;
        for (size_t i = whole.size() / 2; i < whole.size() / 2 + 64; ++i) flipped[i] ^= 0x5A;
        const struct {
            const char* what;
            Bytes bytes;
            bool seen;
        } damages[] = {
            {"cut in the middle", Bytes(whole.begin(), whole.begin() + long(whole.size() / 2)), f.cutSeen},
            {"flipped in the middle", flipped, f.flipSeen},
        };
        for (const auto& d : damages) {
            if (!d.seen) continue;
            SCOPED_TRACE(d.what);
            WriteFile(dir / "bad", d.bytes);
            ASSERT_EQ(DecodeToWave(dir / "bad", Fresh(dir / "out.wav"), rate, 2, nullptr, {}, &r), kDecodeOk);
            EXPECT_TRUE(r.Incomplete());
            EXPECT_NEAR(r.statedSeconds, 2.0, 0.1);
            EXPECT_TRUE(r.packetsSkipped > 0 || r.Seconds() < r.statedSeconds - 0.2)
                << r.Seconds() << " of " << r.statedSeconds;
        }
    }
    // No damage, whatever a codec's padding makes of the length.
    EXPECT_FALSE((DecodeReport{88200 - 4000, 44100, 2.0, 0, false}.Incomplete()));
    EXPECT_TRUE((DecodeReport{88200 - 8000, 44100, 2.0, 0, false}.Incomplete()));
    EXPECT_TRUE((DecodeReport{88200, 44100, 2.0, 0, true}.Incomplete()));
}

TEST(Decoder, FlacOutputHoldsExactlyTheWaveSamples) {
    TempDir dir;
    const std::vector<int16_t> s = TestSignal(22050, 2, 10000);
    WriteFile(dir / "v.wav", Wave16(2, 22050, s));
    std::string error;
    // The encoder writes into descriptors opened here: it opens no path.
    const int wave = ::open((dir / "v.wav").c_str(), O_RDONLY | O_CLOEXEC);
    const int flac = ::open((dir / "v.flac").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_EQ(EncodeWaveToFlac(wave, flac, &error), kDecodeOk) << error;
    ::close(wave);
    ::close(flac);
    AudioInfo info;
    ASSERT_EQ(ProbeAudio(dir / "v.flac", info), kDecodeOk);
    EXPECT_EQ(info.codec, "flac");
    EXPECT_EQ(info.bits, 16);
    EXPECT_NEAR(info.seconds, 10000.0 / 22050, 0.001);
    ASSERT_EQ(DecodeToWave(dir / "v.flac", Fresh(dir / "back.wav"), 22050, 2), kDecodeOk);
    EXPECT_EQ(ReadWave16(dir / "back.wav"), s);

    // A file that is not 16-bit WAVE is refused; a full disk names its cause.
    WriteFile(dir / "f.wav", FloatWave(1, 8000, {0.5f}));
    const int floatWave = ::open((dir / "f.wav").c_str(), O_RDONLY | O_CLOEXEC);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    EXPECT_EQ(EncodeWaveToFlac(floatWave, full, &error), kDecodeCannotOpen);
    EXPECT_FALSE(error.empty());
    const int good = ::open((dir / "v.wav").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(EncodeWaveToFlac(good, full, &error), kDecodeFailed);
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    for (int fd : {floatWave, full, good}) ::close(fd);
}


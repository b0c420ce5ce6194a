// Every extraction mode on one synthetic pair whose karaoke is known exactly
// at any time: a fractional offset, a slow drift, gain 0.85 and channels that
// differ. Each row must give a voice that lines up with the original (lag 0,
// the original's length) and reaches its minimum SDR against the true voice.
// With precise alignment off the classic methods are pinned as well: the
// waveform merge's rows (integer arithmetic throughout) by a checksum of the
// output, the frequency merge's rows (single-precision transforms, whose last
// bits depend on the code the FFT library picks for the CPU) by a stored
// reference within a stated tolerance.
#include "EngineFixture.h"
#include "Extraction.h"
#include "Trajectory.h"
#include "VoiceWriter.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

using namespace testutil;

namespace {

constexpr int kRate = 16000;
constexpr double kSeconds = 6.0;
constexpr double kOffset = 1234.37; // karaoke frame minus original frame at the start
constexpr double kDrift = 1.00003;  // karaoke frames per original frame
constexpr double kGain = 0.85;

// Tones with slow, tone-by-tone envelopes; each channel has tones of its own
// besides the shared ones.
struct Mix {
    struct Tone {
        double f, a, p, rate, envPhase;
        int channel; // -1 both
    };
    std::vector<Tone> tones;
    explicit Mix(uint32_t seed)
    {
        std::mt19937 rng(seed);
        // Frequencies spread evenly on a log scale up to 0.3 of the rate, the
        // higher ones quieter, as in music.
        std::uniform_real_distribution<double> lf(std::log(60.0), std::log(0.3 * kRate)), a(500, 1500),
            p(0, 2 * M_PI), r(0.1, 0.9);
        for (int i = 0; i < 36; ++i) {
            const double f = std::exp(lf(rng));
            tones.push_back({f, a(rng) * std::sqrt(200.0 / (200.0 + f)), p(rng), r(rng), p(rng), i % 3 - 1});
        }
    }
    double At(double t, int c) const
    {
        double v = 0;
        const double s = t / kRate;
        for (const Tone& x : tones)
            if (x.channel < 0 || x.channel == c)
                v += x.a * (0.55 + 0.45 * std::sin(2 * M_PI * x.rate * s + x.envPhase)) *
                     std::sin(2 * M_PI * x.f * s + x.p);
        return v;
    }
};

// A centred voice: a sung vowel in phrases of 1.2 s with pauses of 0.8 s.
double VoiceAt(int64_t n)
{
    const double s = double(n) / kRate;
    if (std::fmod(s, 2.0) >= 1.2 || s < 0.5) return 0;
    const double f0 = 180 + 30 * std::sin(2 * M_PI * 0.7 * s);
    double v = 0;
    for (int h = 1; h <= 8; ++h) v += 900.0 / h * std::sin(2 * M_PI * f0 * h * s + h);
    return v * std::sin(M_PI * std::fmod(s, 2.0) / 1.2);
}

struct Pair {
    std::vector<int16_t> original, karaoke, voice;
};

Pair MakePair(double offset, double drift, double gain, double seconds = kSeconds)
{
    {
        const Mix mix(11);
        const size_t frames = size_t(seconds * kRate);
        const size_t karFrames = size_t((seconds + 0.3) * kRate);
        Pair p;
        p.original.resize(frames * 2);
        p.voice.resize(frames * 2);
        p.karaoke.resize(karFrames * 2);
        for (size_t n = 0; n < frames; ++n) {
            const double v = VoiceAt(int64_t(n));
            for (int c = 0; c < 2; ++c) {
                p.voice[n * 2 + size_t(c)] = int16_t(std::lround(v));
                p.original[n * 2 + size_t(c)] = int16_t(std::lround(mix.At(double(n), c) + v));
            }
        }
        // kar_pos = drift * (orig_pos + offset)
        for (size_t k = 0; k < karFrames; ++k)
            for (int c = 0; c < 2; ++c)
                p.karaoke[k * 2 + size_t(c)] = int16_t(std::lround(gain * mix.At(double(k) / drift - offset, c)));
        return p;
    }
}

const Pair& SyntheticPair()
{
    static const Pair pair = MakePair(kOffset, kDrift, kGain);
    return pair;
}

struct Row {
    int procMode, merge, ovsp, level, align;
    int clean = 0; // CleanMode
};

std::string Name(const Row& r)
{
    char b[96];
    std::snprintf(b, sizeof b, "ProcMode %d, MergeMode %d, OvspFlg %d, LevelAdpt %d, AlignFlg %d", r.procMode, r.merge,
                  r.ovsp, r.level, r.align);
    return b;
}

uint64_t Fnv(const std::vector<int16_t>& s)
{
    uint64_t h = 1469598103934665603ull;
    for (int16_t v : s)
        for (int b = 0; b < 2; ++b) {
            h ^= uint8_t(uint16_t(v) >> (8 * b));
            h *= 1099511628211ull;
        }
    return h;
}

// SDR of the output against the voice from 1 s on (the lead-in and the first
// quarter block are the untouched original), at lag `lag`.
double SdrAt(const std::vector<int16_t>& out, const std::vector<int16_t>& voice, int lag)
{
    double e = 0, s = 0;
    for (size_t i = size_t(kRate) * 2; i + 2 * size_t(std::abs(lag)) + 2 < voice.size() && i < out.size(); ++i) {
        const long j = long(i) + 2L * lag;
        if (j < 0 || size_t(j) >= out.size()) continue;
        const double d = double(out[size_t(j)]) - voice[i];
        e += d * d;
        s += double(voice[i]) * voice[i];
    }
    return 10 * std::log10(s / std::max(e, 1e-9));
}

// The frequency merge's reference: every kReferenceStride-th frame of the
// output, both channels, per ProcMode (classic alignment; LevelAdpt does not
// change the frequency merge).
constexpr size_t kReferenceStride = 97;
const int16_t kFreqReference[3][1980] = {
#include "FreqMergeReference.inc"
};

std::vector<int16_t> ReferenceFrames(const std::vector<int16_t>& out)
{
    std::vector<int16_t> r;
    for (size_t f = 0; 2 * f + 1 < out.size(); f += kReferenceStride) {
        r.push_back(out[2 * f]);
        r.push_back(out[2 * f + 1]);
    }
    return r;
}

// A sample may differ from the reference by one step: a float that another
// FFT code path rounds differently can truncate to the neighbouring whole
// value. Beyond that at most 0.5 % of the samples may differ, and the
// difference must stay 60 dB under the reference. An empty result means
// within tolerance; otherwise it names the first sample beyond one step.
std::string CompareWithReference(const std::vector<int16_t>& got, const int16_t* want, size_t count)
{
    if (got.size() != count) return "length " + std::to_string(got.size()) + ", reference " + std::to_string(count);
    size_t beyond = 0, first = count;
    double diff = 0, energy = 0;
    for (size_t i = 0; i < count; ++i) {
        const double d = double(got[i]) - want[i];
        diff += d * d;
        energy += double(want[i]) * want[i];
        if (std::fabs(d) > 1) {
            ++beyond;
            first = std::min(first, i);
        }
    }
    if (beyond * 200 <= count && diff <= energy * 1e-6) return {};
    char text[200];
    std::snprintf(text, sizeof text,
                  "%zu of %zu samples differ by more than one step, the difference at %.1f dB; first at frame %zu "
                  "channel %zu: %d, reference %d",
                  beyond, count, 10 * std::log10(std::max(diff, 1e-9) / std::max(energy, 1e-9)),
                  first / 2 * kReferenceStride, first % 2, first < count ? got[first] : 0,
                  first < count ? want[first] : 0);
    return text;
}

class ModeTable : public ::testing::Test {
protected:
    TempDir dir;
    RecordingHost host;

    void SetUp() override
    {
        const Pair& p = SyntheticPair();
        WriteFile(dir / "song.wav", Wave16(2, kRate, p.original));
        WriteFile(dir / "kar.wav", Wave16(2, kRate, p.karaoke));
    }

    std::vector<int16_t> Run(TVocalMain& engine, const Row& r, RunReport* report = nullptr)
    {
        ProcessingOptions edited;
        edited.ProcMode = r.procMode;
        edited.MergeMode = r.merge;
        edited.OvspFlg = r.ovsp;
        edited.OvspMx = 8;
        edited.LevelAdpt = r.level;
        edited.AlignFlg = r.align;
        edited.CleanMode = r.clean;
        edited.BlkSize = 100;
        CommittedOptions options;
        CommitOptions(edited, options);
        return RunOnFiles(engine, host, options, dir.path().string(), report);
    }
};

} // namespace

TEST_F(ModeTable, EveryModeLinesUpAndRemovesTheKaraoke)
{
    struct Expect {
        Row row;
        double minSdr;
        uint64_t checksum; // classic waveform rows; 0 for the others
    };
    // Precise alignment reads the karaoke within a fraction of a frame along
    // the drift; the classic modes move by whole frames (or 1/8 frame
    // oversampled) from block to block.
    const Expect table[] = {
#include "ModeTableExpect.inc"
    };
    // SONVELT_WRITE_FREQ_REFERENCE=FILE writes the frequency merge's
    // reference anew (for FreqMergeReference.inc) instead of comparing.
    const char* writeReference = std::getenv("SONVELT_WRITE_FREQ_REFERENCE");
    std::vector<int16_t> newReference[3];
    const Pair& p = SyntheticPair();
    std::map<std::pair<int, int>, TVocalMain> engines; // one per analysis (ProcMode, AlignFlg): the cache serves the rest
    for (const Expect& x : table) {
        SCOPED_TRACE(Name(x.row));
        RunReport report;
        const auto out = Run(engines[{x.row.procMode, x.row.align}], x.row, &report);
        ASSERT_EQ(out.size(), p.original.size());
        double best = -1e9;
        int bestLag = 0;
        for (int lag = -3; lag <= 3; ++lag) {
            const double s = SdrAt(out, p.voice, lag);
            if (s > best) {
                best = s;
                bestLag = lag;
            }
        }
        EXPECT_EQ(bestLag, 0);
        const double sdr = SdrAt(out, p.voice, 0);
        EXPECT_GE(sdr, x.minSdr);
        EXPECT_EQ(report.merge, x.row.merge);
        EXPECT_EQ(report.preciseAlignment, x.row.align == 1);
        if (x.row.align == 1) continue;
        if (x.row.merge == 1) {
            EXPECT_EQ(Fnv(out), x.checksum) << std::hex << Fnv(out);
        } else if (writeReference) {
            newReference[x.row.procMode] = ReferenceFrames(out);
        } else {
            const std::string failure = CompareWithReference(ReferenceFrames(out), kFreqReference[x.row.procMode],
                                                             std::size(kFreqReference[x.row.procMode]));
            EXPECT_EQ(failure, "") << "against the frequency merge's reference";
        }
    }
    if (writeReference) {
        std::ofstream file(writeReference);
        file << "// Every " << kReferenceStride << "th frame of the frequency merge's output in the mode table's\n"
             << "// classic rows, both channels, for ProcMode 0, 1 and 2 (test_precise.cpp; written by\n"
             << "// SONVELT_WRITE_FREQ_REFERENCE=FILE test_engine --gtest_filter=ModeTable.EveryMode*).\n";
        for (const auto& r : newReference) {
            file << "{";
            for (size_t i = 0; i < r.size(); ++i) file << (i % 16 == 0 ? "\n" : " ") << r[i] << ",";
            file << "\n},\n";
        }
        ADD_FAILURE() << "wrote the reference to " << writeReference << " instead of comparing";
    }
}

TEST_F(ModeTable, PreciseAlignmentFindsOffsetDriftAndGain)
{
    TVocalMain engine;
    RunReport report;
    Run(engine, {0, 1, 0, 0, 1}, &report);
    const Trajectory& track = report.analysis.map.track;
    ASSERT_TRUE(track.Valid());
    // kar_pos = drift * (orig_pos + offset)
    EXPECT_NEAR(track.At(0), kDrift * kOffset, 0.01);
    EXPECT_NEAR(track.At(100000), kDrift * (100000 + kOffset), 0.01);
    EXPECT_NEAR(report.driftPpm, (kDrift - 1) * 1e6, 0.5);
    EXPECT_NEAR(report.analysis.karaokeGain, 1 / kGain, 0.002);
    EXPECT_NEAR(report.gainDb, -20 * std::log10(kGain), 0.02);
    EXPECT_LT(report.cancellationDb, kWaveformCancellationDb);
    // The blocks of the final pass sit on the fitted position, apart from
    // those the voice pulls.
    ASSERT_GT(report.analysis.blocks.size(), 40u); // of some 60 blocks
    std::vector<double> off;
    for (const BlockPosition& b : report.analysis.blocks) off.push_back(std::fabs(b.offFitFrames));
    std::nth_element(off.begin(), off.begin() + long(off.size() / 2), off.end());
    EXPECT_LT(off[off.size() / 2], 0.01);
    // And the removal second by second, around the removal in all.
    const std::vector<double>& perSecond = report.removalDbPerSecond;
    ASSERT_EQ(perSecond.size(), size_t(kSeconds));
    for (double db : perSecond) EXPECT_LT(db, -3.0);
    EXPECT_GE(report.removalDb, *std::min_element(perSecond.begin(), perSecond.end()));
    EXPECT_LE(report.removalDb, *std::max_element(perSecond.begin(), perSecond.end()));
}

TEST_F(ModeTable, AFastDriftIsFollowedToAThousandthOfAFrame)
{
    // 250 ppm over 20 s: the blocks' own fractional fits are biased as the
    // fraction sweeps through them (0.002 frame off at the ends); reading
    // the quietest blocks again corrects the drift as well as the offset.
    const double drift = 1.00025, offset = -321.6;
    const Pair p = MakePair(offset, drift, 1.0, 20.0);
    WriteFile(dir / "song.wav", Wave16(2, kRate, p.original));
    WriteFile(dir / "kar.wav", Wave16(2, kRate, p.karaoke));
    TVocalMain engine;
    RunReport report;
    const auto out = Run(engine, {0, 1, 0, 0, 1}, &report);
    const Trajectory& track = report.analysis.map.track;
    ASSERT_TRUE(track.Valid());
    for (int64_t t : {int64_t(kRate), int64_t(10 * kRate), int64_t(19.5 * kRate)})
        EXPECT_NEAR(track.At(t), drift * (double(t) + offset), 0.001) << t;
    EXPECT_GE(SdrAt(out, p.voice, 0), 50.0);
}

TEST_F(ModeTable, AKaraokeMasteredDifferentlyIsMatchedBeforeItIsRemoved)
{
    // The karaoke through a gentle treble cut ([0.15 0.7 0.15], another
    // equaliser): no gain cancels it, the matching filter does.
    Pair p = SyntheticPair();
    std::vector<int16_t> eq(p.karaoke.size());
    for (size_t i = 2; i + 2 < p.karaoke.size(); ++i)
        eq[i] = int16_t(std::lround(0.15 * p.karaoke[i - 2] + 0.7 * p.karaoke[i] + 0.15 * p.karaoke[i + 2]));
    WriteFile(dir / "kar.wav", Wave16(2, kRate, eq));
    TVocalMain engine;
    RunReport report;
    const auto out = Run(engine, {0, 2, 0, 0, 1}, &report);
    EXPECT_EQ(report.analysis.map.matchTaps.size(), size_t(2 * kMatchHalfTaps + 1));
    EXPECT_TRUE(report.analysisTrace.matchingFilter);
    EXPECT_EQ(report.merge, 1);
    EXPECT_GE(SdrAt(out, p.voice, 0), 40.0);
}

TEST_F(ModeTable, AutomaticMergeFollowsTheCancellation)
{
    // The exact pair cancels: the waveform merge. The same karaoke with a
    // slight echo (another mastering) does not: with clean pauses off, the
    // frequency merge.
    TVocalMain engine;
    RunReport report;
    Run(engine, {0, 2, 0, 0, 1}, &report);
    EXPECT_TRUE(report.mergeChosenAutomatically);
    EXPECT_EQ(report.merge, 1);
    EXPECT_NE(report.mergeReason.find("waveform merge"), std::string::npos);

    std::vector<int16_t> kar = SyntheticPair().karaoke;
    for (size_t i = kar.size(); i-- > 40;) kar[i] = int16_t(std::clamp(kar[i] + kar[i - 40] / 8, -32768, 32767));
    WriteFile(dir / "kar.wav", Wave16(2, kRate, kar));
    TVocalMain other;
    Run(other, {0, 2, 0, 0, 1, 2}, &report);
    EXPECT_EQ(report.merge, 0);
    EXPECT_GT(report.cancellationDb, kWaveformCancellationDb);
    EXPECT_NE(report.mergeReason.find("frequency merge"), std::string::npos);
}

TEST(Trajectory, RobustFitIgnoresBlocksPulledByTheVoiceAndFollowsSlowWander)
{
    // 1000 blocks (50 s) on a line with small errors, a fifth of them pulled
    // far off by the voice.
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 0.01);
    std::vector<AlignPoint> points;
    for (int i = 0; i < 1000; ++i) {
        AlignPoint p;
        p.t = int64_t(i) * 2205;
        p.var = 1e-4;
        p.p = 500.25 + 1.00004 * double(p.t) + noise(rng) + (i % 5 == 0 ? 0.6 : 0.0);
        p.oo = 1;
        points.push_back(p);
    }
    Trajectory t;
    ASSERT_TRUE(t.Fit(points, 1.0));
    EXPECT_NEAR(t.At(0), 500.25, 0.002);
    EXPECT_NEAR(t.Slope(), 1.00004, 1e-8);
    EXPECT_EQ(t.Inliers(), 800);
    t.FitWander(points, 44100);
    EXPECT_EQ(t.MaxWander(), 0.0); // a straight line needs no correction

    // The same line wandering by 0.3 frame over 25 s: followed.
    auto wander = [](int64_t f) { return 0.3 * std::sin(2 * M_PI * double(f) / (25.0 * 44100)); };
    for (AlignPoint& p : points) p.p += wander(p.t);
    ASSERT_TRUE(t.Fit(points, 1.0));
    t.FitWander(points, 44100);
    EXPECT_GT(t.MaxWander(), 0.1);
    double worst = 0;
    for (int64_t f = 44100; f < 48 * 44100; f += 4410)
        worst = std::max(worst, std::fabs(t.At(f) - (500.25 + 1.00004 * double(f) + wander(f))));
    EXPECT_LT(worst, 0.03);

    EXPECT_FALSE(t.Fit(std::vector<AlignPoint>(points.begin(), points.begin() + 5), 1.0));
    EXPECT_FALSE(t.Valid());
}

TEST(VoiceWriter, DropsTheLatencyAndStopsAtTheOriginalsLength)
{
    TempDir dir;
    TWaveData out;
    out.Format.wFormatTag = 1;
    out.Format.nChannels = 1;
    out.Format.nSamplesPerSec = 8000;
    out.Format.nAvgBytesPerSec = 16000;
    out.Format.nBlockAlign = 2;
    out.Format.wBitsPerSample = 16;
    ASSERT_EQ(out.CreateWrite(dir / "w.wav"), 0);
    VoiceWriter w(&out, 1, 5, 12);
    std::vector<int16_t> block(4);
    int16_t next = 0;
    while (!w.Done()) {
        for (int16_t& v : block) v = next++;
        ASSERT_TRUE(w.Write(block.data(), 4));
    }
    w.LimitTotal(20); // never lengthens
    EXPECT_TRUE(w.Done());
    out.Close();
    const auto s = ReadSamples(dir / "w.wav");
    ASSERT_EQ(s.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(s[size_t(i)], i + 5);
}

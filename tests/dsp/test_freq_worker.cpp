// The frequency merge: the per-bin rules (gain caps, the strict magnitude
// test, the phase test and its thresholds, all-zero bins), the fast rules
// against the literal ones, and the worker threads with their hand-over.
#include "IsaLevels.h"
#include "BinKernels.h"
#include "FreqSignals.h"
#include "SampleMath.h"
#include "SpectralHandover.h"
#include "SpectralMerge.h"
#include "Thvofft.h"
#include "Vfunc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

using namespace spectraltest;

namespace {

constexpr int kBins = kFrame / 2;

// One channel's stream with workers of its own, for calling its parts directly.
struct LoneWorker {
    ThVocalFFT worker;
    SpectralWorkers threads;
    bool started = threads.Start();

    // Runs one job on worker 0's thread and waits for it.
    bool Job(const int32_t* orig, const int32_t* kar, double gain, int32_t* out, int count)
    {
        threads.Submit(0, {&worker, orig, kar, gain, out, count});
        return threads.Wait(std::chrono::seconds(60));
    }
};

struct Bin {
    float re, im;
};

// Spectra of kBins zero bins except bin j.
struct Spectra {
    std::vector<float> o = std::vector<float>(2 * kBins, 0.0f);
    std::vector<float> k = std::vector<float>(2 * kBins, 0.0f);
    Spectra(int j, Bin ob, Bin kb)
    {
        o[2 * j] = ob.re;
        o[2 * j + 1] = ob.im;
        k[2 * j] = kb.re;
        k[2 * j + 1] = kb.im;
    }
};

std::vector<float> Bounds(const float* threshold)
{
    std::vector<float> c(kBins);
    for (int j = 0; j < kBins; ++j) c[j] = spectral::PhaseBound(threshold[j]);
    return c;
}

} // namespace

TEST(SpectralWorker, PhaseThresholdsRiseFromTheFloorToPiTimesStrength)
{
    LoneWorker w;
    ASSERT_TRUE(w.started);
    ASSERT_EQ(w.worker.Configure(kFrame, 8, 0, 2.0f), 0);
    EXPECT_EQ(w.worker.Hop(), kHop);
    EXPECT_FLOAT_EQ(w.worker.CappedStrength(), 1.5f);
    const float* t = w.worker.PhaseThreshold();
    EXPECT_FLOAT_EQ(t[0], 0.15f * 2.0f);
    EXPECT_FLOAT_EQ(t[194], 0.15f * 2.0f);  // pi * 195 / 4096 is still below the floor
    EXPECT_FLOAT_EQ(t[195], static_cast<float>(std::numbers::pi * 196 / 4096) * 2.0f);
    EXPECT_FLOAT_EQ(t[kBins - 1], static_cast<float>(std::numbers::pi) * 2.0f);
    EXPECT_EQ(w.worker.Configure(6000, 8, 0, 1.0f), 1);
    EXPECT_FALSE(w.worker.Configured());
}

struct BinCase {
    const char* what;
    int mode;
    float strength;
    double gain;  // already capped
    int bin;
    Bin o, k, expected;
};

TEST(SpectralWorker, BinRules)
{
    const BinCase cases[] = {
        // Equal magnitudes: the test |k| * s > |o| is strict.
        {"equal magnitudes, strength 1.0 keeps the difference", 1, 1.0f, 1.0, 100, {0, 5}, {5, 0}, {-5, 5}},
        {"equal magnitudes, strength 1.2 silences", 1, 1.2f, 1.0, 100, {0, 5}, {5, 0}, {0, 0}},
        {"identical bins, strength 1.0, mode 0 keeps the difference", 0, 1.0f, 0.5, 100, {3, 4}, {3, 4}, {1.5f, 2}},
        {"identical bins, strength 1.2, mode 0 silences", 0, 1.2f, 0.5, 100, {3, 4}, {3, 4}, {0, 0}},
        // Mode 0 also asks for agreement in phase.
        {"opposite phase at a low bin is kept in mode 0", 0, 1.2f, 1.0, 0, {1, 0}, {-2, 0}, {3, 0}},
        {"opposite phase at a low bin is silenced in mode 1", 1, 1.2f, 1.0, 0, {1, 0}, {-2, 0}, {0, 0}},
        {"opposite phase at the top bin (threshold above pi) is silenced", 0, 1.2f, 1.0, kBins - 1,
         {1, 0}, {-2, 0}, {0, 0}},
        {"quarter turn beyond the low threshold is kept", 0, 1.2f, 1.0, 10, {0, 1}, {2, 0}, {-2, 1}},
        {"quarter turn within the high threshold is silenced", 0, 1.2f, 1.0, 3000, {0, 1}, {2, 0}, {0, 0}},
        // Exact zeros count as phase 0.
        {"both zero stays zero", 0, 1.2f, 1.0, 5, {0, 0}, {0, 0}, {0, 0}},
        {"both zero stays zero (mode 1)", 1, 1.2f, 1.0, 5, {0, 0}, {0, 0}, {0, 0}},
        {"zero original against karaoke at phase 0 is silenced", 0, 1.0f, 0.8, 5, {0, 0}, {1, 0}, {0, 0}},
        {"zero original against karaoke at phase pi is kept", 0, 1.0f, 0.8, 5, {0, 0}, {-1, 0}, {0.8f, 0}},
        {"negative zeros are zeros", 0, 1.0f, 0.8, 5, {-0.0f, -0.0f}, {-1, -0.0f}, {0.8f, 0}},
        {"silent karaoke keeps the original", 0, 4.8f, 1.0, 5, {-2, 7}, {0, 0}, {-2, 7}},
    };
    for (const BinCase& c : cases) {
        SCOPED_TRACE(c.what);
        LoneWorker w;
        ASSERT_EQ(w.worker.Configure(kFrame, 8, c.mode, c.strength), 0);
        const float* t = w.worker.PhaseThreshold();
        const std::vector<float> bounds = Bounds(t);
        for (int version = 0; version < 2; ++version) {
            SCOPED_TRACE(version == 0 ? "reference" : "fast");
            ForEachIsa([&] {
                Spectra s(c.bin, c.o, c.k);
                if (c.mode == 0 && version == 0)
                    spectral::QualityBinsReference(s.o.data(), s.k.data(), kBins, c.gain, w.worker.CappedStrength(), t);
                else if (c.mode == 0)
                    spectral::QualityBinsFast(s.o.data(), s.k.data(), kBins, c.gain, w.worker.CappedStrength(),
                                              bounds.data());
                else if (version == 0)
                    spectral::ExtractionBinsReference(s.o.data(), s.k.data(), kBins, c.gain, c.strength);
                else
                    spectral::ExtractionBins(s.o.data(), s.k.data(), kBins, c.gain, c.strength);
                EXPECT_FLOAT_EQ(s.o[2 * c.bin], c.expected.re);
                EXPECT_FLOAT_EQ(s.o[2 * c.bin + 1], c.expected.im);
                EXPECT_EQ(std::count(s.o.begin(), s.o.end(), 0.0f), 2 * kBins - 2 + (c.expected.re == 0) +
                                                                        (c.expected.im == 0));
            });
        }
    }
}

// Random bins, plus bins built to sit on the phase threshold and the awkward
// ones (zeros, axis directions, exact opposites).
void FillAwkwardSpectra(std::vector<float>& o, std::vector<float>& k, const float* threshold, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> u(0.0f, 1000.0f);
    std::uniform_int_distribution<int> pick(0, 9);
    for (int j = 0; j < kBins; ++j) {
        float ore = u(rng), oim = u(rng), kre = u(rng), kim = u(rng);
        switch (pick(rng)) {
        case 0: {  // karaoke louder and turned by the threshold itself
            const double a = std::atan2(oim, ore) + (j % 2 ? 1 : -1) * static_cast<double>(threshold[j]);
            const double m = 1.3 * std::hypot(ore, oim);
            kre = static_cast<float>(m * std::cos(a));
            kim = static_cast<float>(m * std::sin(a));
            break;
        }
        case 1: ore = oim = 0.0f; break;
        case 2: kre = kim = 0.0f; break;
        case 3: oim = 0.0f; kim = -0.0f; break;
        case 4: kre = -ore * 1.5f; kim = -oim * 1.5f; break;
        case 5: kre = ore * 2.0f; kim = oim * 2.0f; break;
        default: break;
        }
        o[2 * j] = ore;
        o[2 * j + 1] = oim;
        k[2 * j] = kre;
        k[2 * j + 1] = kim;
    }
}

TEST(SpectralWorker, FastPhaseTestDiffersOnlyOnTheThreshold)
{
    for (float strength : {0.6f, 1.0f, 1.2f, 2.0f, 4.8f}) {
        SCOPED_TRACE(strength);
        LoneWorker w;
        ASSERT_EQ(w.worker.Configure(kFrame, 8, 0, strength), 0);
        const float* t = w.worker.PhaseThreshold();
        const std::vector<float> bounds = Bounds(t);
        const float cs = w.worker.CappedStrength();
        for (unsigned seed = 1; seed <= 4; ++seed) {
            std::vector<float> o(2 * kBins), k(2 * kBins);
            FillAwkwardSpectra(o, k, t, seed);
            std::vector<float> ref = o;
            spectral::QualityBinsReference(ref.data(), k.data(), kBins, 0.9, cs, t);
            ForEachIsa([&] {
                std::vector<float> fast = o;
                spectral::QualityBinsFast(fast.data(), k.data(), kBins, 0.9, cs, bounds.data());
                int silenced = 0;
                for (int j = 0; j < kBins; ++j) {
                    const bool refZero = ref[2 * j] == 0.0f && ref[2 * j + 1] == 0.0f;
                    const bool fastZero = fast[2 * j] == 0.0f && fast[2 * j + 1] == 0.0f;
                    silenced += refZero;
                    if (refZero == fastZero) {
                        // The same decision: the difference in single precision.
                        const double scale = std::hypot(o[2 * j], o[2 * j + 1]) + std::hypot(k[2 * j], k[2 * j + 1]);
                        EXPECT_NEAR(fast[2 * j], ref[2 * j], 1e-6 * scale) << "bin " << j;
                        EXPECT_NEAR(fast[2 * j + 1], ref[2 * j + 1], 1e-6 * scale) << "bin " << j;
                        continue;
                    }
                    // A different decision: only where the phase distance is
                    // the threshold up to single-precision rounding.
                    double pd = std::fabs(std::atan2(double(o[2 * j + 1]), double(o[2 * j])) -
                                          std::atan2(double(k[2 * j + 1]), double(k[2 * j])));
                    if (pd > std::numbers::pi) pd = 2.0 * std::numbers::pi - pd;
                    EXPECT_NEAR(pd, t[j], 1e-5) << "bin " << j;
                }
                EXPECT_GT(silenced, kBins / 20);
                EXPECT_LT(silenced, kBins);
            });
        }
    }
}

// The rule run inside the packed transforms' split and merge gives what the
// separate passes give (split, rule, the scheme's one-sided step, merge),
// float for float, at sizes where the pairs are all scalar, one vector and
// many.
TEST(SpectralWorker, RuleInsideTheTransformsIsTheSeparatePasses)
{
    for (int n : {64, 128, 256, kFrame}) {
        SCOPED_TRACE(n);
        const size_t count = static_cast<size_t>(n);
        ThVocalFFT rules;
        ASSERT_EQ(rules.Configure(n, 8, 0, 1.2f), 0);
        std::vector<float> bounds(count / 2);
        for (size_t j = 0; j < bounds.size(); ++j) bounds[j] = spectral::PhaseBound(rules.PhaseThreshold()[j]);
        CPackedRealFFT fft;
        ASSERT_EQ(fft.Init(n), 0);
        // The karaoke is part of the original, so that many bins are silenced
        // and many kept.
        const std::vector<int32_t> accomp = Music(n, 5, 8000.0), voice = Music(n, 6, 4000.0);
        SampleArray<float> o, k, zo, zk, ho, hk, fused, separate;
        for (SampleArray<float>* a : {&o, &k, &fused, &separate}) ASSERT_TRUE(buffer_util::AllocateAligned(*a, count));
        for (SampleArray<float>* a : {&zo, &zk, &ho, &hk}) ASSERT_TRUE(buffer_util::AllocateAligned(*a, count + 2));
        for (size_t j = 0; j < count; ++j) {
            k[j] = static_cast<float>(accomp[j]);
            o[j] = static_cast<float>(accomp[j] + (j % 3 == 0 ? voice[j] : 0));
        }
        ForEachIsa([&] {
            fft.ForwardPoints(o.get(), zo.get());
            fft.ForwardPoints(k.get(), zk.get());
            spectral::QualityFramePass(zo.get(), zk.get(), fft.TwiddleCos(), fft.TwiddleSin(), n / 2, 0.9,
                                       rules.CappedStrength(), bounds.data());
            fft.InversePoints(zo.get(), fused.get());

            fft.Forward(o.get(), ho.get());
            fft.Forward(k.get(), hk.get());
            spectral::QualityBinsFast(ho.get(), hk.get(), n / 2, 0.9, rules.CappedStrength(), bounds.data());
            int silenced = 0;
            for (int j = 1; j < n / 2; ++j) silenced += ho[2 * j] == 0.0f && ho[2 * j + 1] == 0.0f;
            EXPECT_GT(silenced, n / 16);
            EXPECT_LT(silenced, n / 2 - n / 16);
            ho[count] = ho[count + 1] = 0.0f;
            ho[0] *= 2.0f;
            ho[1] = 0.0f;
            fft.Inverse(ho.get(), separate.get());
            EXPECT_EQ(std::vector<float>(fused.get(), fused.get() + count),
                      std::vector<float>(separate.get(), separate.get() + count));
        });
    }
}

// The whole stream, fast, against the literal rules on complex transforms:
// the same voice up to single-precision rounding.
TEST(SpectralWorker, FastStreamFollowsTheLiteralOne)
{
    const int count = 12 * kFrame;
    const std::vector<int32_t> accomp = Music(count, 7, 8000.0), voice = Music(count, 8, 3000.0);
    std::vector<int32_t> orig(count);
    for (int i = 0; i < count; ++i) orig[i] = accomp[i] + voice[i];
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        std::vector<int32_t> out[2];
        for (int reference = 0; reference < 2; ++reference) {
            ThVocalFFT w;
            ASSERT_EQ(w.Configure(kFrame, 8, mode, 1.2f), 0);
            w.UseReferenceKernels(reference == 1);
            out[reference].assign(count, 0);
            w.Run(orig.data(), accomp.data(), 0.97, out[reference].data(), count);
        }
        double voiceEnergy = 0, error = 0;
        int32_t worst = 0;
        for (int i = kFrame; i < count; ++i) {
            voiceEnergy += double(out[1][i]) * out[1][i];
            error += double(out[0][i] - out[1][i]) * (out[0][i] - out[1][i]);
            worst = std::max(worst, std::abs(out[0][i] - out[1][i]));
        }
        EXPECT_GT(voiceEnergy, 0.0);
        EXPECT_LT(10 * std::log10(std::max(error, 1e-9) / voiceEnergy), -80.0);
        EXPECT_LE(worst, 4);
    }
}

TEST(SpectralWorker, ExtractionRuleIsTheSameOnEveryInstructionSet)
{
    LoneWorker w;
    ASSERT_EQ(w.worker.Configure(kFrame, 8, 1, 1.2f), 0);
    std::vector<float> o(2 * kBins), k(2 * kBins);
    FillAwkwardSpectra(o, k, w.worker.PhaseThreshold(), 9);
    std::vector<float> ref = o;
    spectral::ExtractionBinsReference(ref.data(), k.data(), kBins, 1.1, 1.2f);
    ForEachIsa([&] {
        std::vector<float> fast = o;
        spectral::ExtractionBins(fast.data(), k.data(), kBins, 1.1, 1.2f);
        EXPECT_EQ(fast, ref);
    });
}

struct CapCase {
    int mode;
    double jobGain;
    float strength;
    double used;
};

TEST(SpectralWorker, SubtractedGainIsCappedByStrengthAndInModeZeroBy1_5)
{
    // Karaoke a tenth of the original and in phase: never silenced (the
    // karaoke cannot outweigh the original by the strength), so the output is
    // the original times 1 - 0.1 g, with g the gain actually used.
    const int total = kLatency + 3 * kFrame;
    const double amplitude = 10000.0;
    std::vector<int32_t> x(total);
    for (int i = 0; i < total; ++i) x[i] = static_cast<int32_t>(std::lround(amplitude * std::sin(i / 23.7)));
    const auto kar = Scaled(x, 0.1);
    const CapCase cases[] = {
        {0, 1.2, 1.0f, 1.0}, {0, 1.2, 4.8f, 1.2}, {0, 1.7, 2.0f, 1.5}, {1, 1.7, 2.0f, 1.7}, {1, 1.2, 1.0f, 1.0},
    };
    for (const CapCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " gain " << c.jobGain << " strength " << c.strength);
        LoneWorker w;
        ASSERT_EQ(w.worker.Configure(kFrame, 8, c.mode, c.strength), 0);
        std::vector<int32_t> y(total);
        ASSERT_TRUE(w.Job(x.data(), kar.data(), c.jobGain, y.data(), total));
        const double factor = 1.0 - 0.1 * c.used;
        for (int t = kLatency + kFrame; t < total; ++t)
            ASSERT_NEAR(y[t], x[t - kLatency] * factor, 0.0075 * amplitude * factor + 0.001 * amplitude) << t;
    }
}

TEST(SpectralWorker, JobOfCountZeroCountsDownAndTouchesNothing)
{
    for (bool configure : {true, false}) {
        SCOPED_TRACE(configure ? "configured" : "unconfigured");
        LoneWorker w;
        if (configure) {
            ASSERT_EQ(w.worker.Configure(kFrame, 8, 0, 1.0f), 0);
        }
        std::vector<int32_t> in(100, 1234), out(100, -7);
        // An unconfigured worker must not run a stream even when given samples.
        ASSERT_TRUE(w.Job(in.data(), in.data(), 1.0, out.data(), configure ? 0 : 100));
        EXPECT_TRUE(w.threads.Wait(std::chrono::milliseconds(0)));  // nothing left pending
        EXPECT_EQ(out, std::vector<int32_t>(100, -7));
        if (configure) {
            EXPECT_EQ(w.worker.Stream().WritePos(), kLatency);
            EXPECT_EQ(w.worker.Stream().ReadPos(), 0);
        }
    }
}

namespace {

// A stereo buffer of 0.5 s blocks with different material per channel.
struct SpectralBuffer {
    TVocalFunc f;
    std::vector<int32_t> orig[2], kar[2];

    explicit SpectralBuffer(int channels = 2)
    {
        if (f.Setup(channels, 44100, 0.5, 1) != 0) return;
        for (int c = 0; c < 2; ++c) {
            const auto accomp = Music(f.karaokeLen, 20 + c, 8000.0);
            const auto voice = Music(f.blockLen, 30 + c, 3000.0);
            kar[c] = accomp;
            orig[c].resize(f.blockLen);
            for (int i = 0; i < f.blockLen; ++i) orig[c][i] = accomp[i + 100] + voice[i];
        }
    }
    void Load()
    {
        for (int c = 0; c < 2; ++c) {
            std::copy(orig[c].begin(), orig[c].end(), f.orig[c].get());
            std::copy(kar[c].begin(), kar[c].end(), f.kar[c].get());
            std::fill(f.out[c].get(), f.out[c].get() + f.blockLen, -1);
        }
    }
};

// One channel through a worker run on the calling thread, in one piece.
std::vector<int32_t> Direct(int mode, float strength, const int32_t* orig, const int32_t* kar, double gain, int count)
{
    LoneWorker w;
    std::vector<int32_t> y(count);
    if (w.worker.Configure(kFrame, 8, mode, strength) != 0) return {};
    w.worker.Run(orig, kar, gain, y.data(), count);
    return y;
}

} // namespace

TEST(SpectralWorker, HandOverRunsOnlySubmittedJobsWhileStartedAndSurvivesARestart)
{
    const int n = kLatency + kFrame;
    const auto x0 = Music(n, 40, 9000.0), x1 = Music(n, 41, 9000.0);
    const auto k0 = Scaled(x0, 0.8), k1 = Scaled(x1, 1.1);
    ThVocalFFT units[2];
    for (auto& u : units) ASSERT_EQ(u.Configure(kFrame, 8, 1, 1.2f), 0);
    std::vector<int32_t> y0(n, -7), y1(n, -7);
    SpectralWorkers threads;
    EXPECT_TRUE(threads.Wait(std::chrono::milliseconds(0)));  // nothing submitted
    threads.Submit(0, {&units[0], x0.data(), k0.data(), 1.0, y0.data(), n});  // not started: ignored
    EXPECT_TRUE(threads.Wait(std::chrono::milliseconds(0)));
    EXPECT_EQ(y0, std::vector<int32_t>(n, -7));

    ASSERT_TRUE(threads.Start());
    ASSERT_TRUE(threads.Start());  // already running
    threads.Submit(2, {&units[0], x0.data(), k0.data(), 1.0, y0.data(), n});  // no such worker
    threads.Submit(-1, {&units[0], x0.data(), k0.data(), 1.0, y0.data(), n});
    EXPECT_TRUE(threads.Wait(std::chrono::milliseconds(0)));
    // Half of each stream, a restart, then the other half: the streams are
    // the units', so they continue.
    const int half = n / 2;
    threads.Submit(0, {&units[0], x0.data(), k0.data(), 1.0, y0.data(), half});
    threads.Submit(1, {&units[1], x1.data(), k1.data(), 1.0, y1.data(), half});
    ASSERT_TRUE(threads.Wait(std::chrono::seconds(60)));
    threads.Stop();
    threads.Stop();
    ASSERT_TRUE(threads.Start());
    threads.Submit(1, {&units[1], x1.data() + half, k1.data() + half, 1.0, y1.data() + half, n - half});
    threads.Submit(0, {&units[0], x0.data() + half, k0.data() + half, 1.0, y0.data() + half, n - half});
    ASSERT_TRUE(threads.Wait(std::chrono::seconds(60)));
    EXPECT_EQ(y0, Direct(1, 1.2f, x0.data(), k0.data(), 1.0, n));
    EXPECT_EQ(y1, Direct(1, 1.2f, x1.data(), k1.data(), 1.0, n));
    EXPECT_NE(std::count(y0.begin(), y0.end(), 0), n);
}

// A job the owner takes back runs on its thread, one its worker has begun
// runs there: either way each piece of the stream runs exactly once and in
// order, and nothing is left to take back once the wait returns.
TEST(SpectralWorker, AJobTakenBackRunsOnceWhereverItRuns)
{
    const int piece = 3000, pieces = 40, n = piece * pieces;
    const auto x = Music(n, 43, 9000.0), k = Scaled(x, 0.9);
    ThVocalFFT unit;
    ASSERT_EQ(unit.Configure(kFrame, 8, 0, 1.0f), 0);
    std::vector<int32_t> y(n, -7);
    SpectralWorkers threads;
    EXPECT_FALSE(threads.TakeBack(0));  // not started
    ASSERT_TRUE(threads.Start(1));
    int takenBack = 0;
    for (int p = 0; p < pieces; ++p) {
        const int at = p * piece;
        threads.Submit(0, {&unit, x.data() + at, k.data() + at, 1.0, y.data() + at, piece});
        // Every other piece is left to the worker for a moment first.
        if (p % 2) std::this_thread::yield();
        takenBack += threads.TakeBack(0);
        ASSERT_TRUE(threads.Wait(std::chrono::seconds(60)));
        EXPECT_FALSE(threads.TakeBack(0));
        EXPECT_FALSE(threads.TakeBack(1));  // no such worker
    }
    EXPECT_EQ(y, Direct(0, 1.0f, x.data(), k.data(), 1.0, n));
    RecordProperty("takenBack", takenBack);
}

// On the workers in parallel, or one after the other on the calling thread
// (as a batch that fills the cores runs them): the same separate streams.
TEST(SpectralWorker, StereoRunsBothChannelsInParallelAsSeparateStreams)
{
    for (int run = 0; run < 4; ++run) {
        const int mode = run % 2;
        const bool onCaller = run >= 2;
        SCOPED_TRACE(testing::Message() << "mode " << mode << (onCaller ? " on the caller" : " on the workers"));
        SpectralBuffer b;
        b.f.SpectralOnCaller(onCaller);
        ASSERT_EQ(b.f.SetupSpectral(mode, 1.2f), 0);
        b.Load();
        // Jobs cut as the engine cuts them: a quarter block, then halves.
        const int n = b.f.blockLen;
        const int cuts[][2] = {{0, n / 4}, {n / 4, n / 2}, {n / 4 + n / 2, n - n / 4 - n / 2}};
        for (const auto& cut : cuts) b.f.SpectralSubtractStereo(cut[0], cut[1], 0.95, 100);
        for (int c = 0; c < 2; ++c) {
            SCOPED_TRACE(c);
            const auto expected = Direct(mode, 1.2f, b.orig[c].data(), b.kar[c].data() + 100, 0.95, n);
            ASSERT_EQ(std::vector<int32_t>(b.f.out[c].get(), b.f.out[c].get() + n), expected);
            EXPECT_NE(std::count(expected.begin(), expected.end(), 0), n);
        }
        EXPECT_TRUE(b.f.SpectralIdle());
    }
}

// A wait that runs out while a worker is still at work says so and leaves
// the job running; waiting again returns once its output is complete.
TEST(SpectralWorker, AWaitThatRunsOutLeavesTheJobToFinish)
{
    const int n = kLatency + 60 * kFrame;
    const auto x = Music(n, 42, 9000.0), k = Scaled(x, 0.9);
    const auto expected = Direct(0, 1.0f, x.data(), k.data(), 1.0, n);
    SpectralWorkers threads;
    ASSERT_TRUE(threads.Start(1));
    bool ranOut = false;
    // The job takes milliseconds; a retry covers this thread being held up
    // for all of them right after handing it over.
    for (int attempt = 0; attempt < 10 && !ranOut; ++attempt) {
        ThVocalFFT unit;
        ASSERT_EQ(unit.Configure(kFrame, 8, 0, 1.0f), 0);
        std::vector<int32_t> y(n, -7);
        threads.Submit(0, {&unit, x.data(), k.data(), 1.0, y.data(), n});
        threads.Submit(1, {&unit, x.data(), k.data(), 1.0, y.data(), n});  // one thread started: ignored
        ranOut = !threads.Wait(std::chrono::milliseconds(0));
        ASSERT_TRUE(threads.Wait(std::chrono::seconds(60)));
        EXPECT_EQ(y, expected);
    }
    EXPECT_TRUE(ranOut);
}

// Stretches through the buffer with waits that run out unless the worker is
// done: each is waited out before the outputs are read.
TEST(SpectralWorker, ExpiredWaitIsWaitedOutBeforeTheOutputIsRead)
{
    SpectralBuffer b;
    ASSERT_EQ(b.f.SetupSpectral(0, 1.0f), 0);
    b.f.spectralWaitSlice = std::chrono::milliseconds(0);
    const int n = 1024, blocks = 200;
    std::vector<int32_t> got[2];
    for (int block = 0; block < blocks; ++block) {
        b.Load();
        b.f.SpectralSubtractStereo(0, n, 1.0, 0);
        for (int c = 0; c < 2; ++c) got[c].insert(got[c].end(), b.f.out[c].get(), b.f.out[c].get() + n);
    }
    for (int c = 0; c < 2; ++c) {
        std::vector<int32_t> orig, kar;
        for (int k = 0; k < blocks; ++k) {
            orig.insert(orig.end(), b.orig[c].begin(), b.orig[c].begin() + n);
            kar.insert(kar.end(), b.kar[c].begin(), b.kar[c].begin() + n);
        }
        EXPECT_EQ(got[c], Direct(0, 1.0f, orig.data(), kar.data(), 1.0, blocks * n));
    }
}

TEST(SpectralWorker, MidAveragesBothChannelsAndCopiesTheResult)
{
    SpectralBuffer b;
    ASSERT_EQ(b.f.SetupSpectral(1, 1.0f), 0);
    b.Load();
    const int start = 1000, count = 20000, shift = 37;
    b.f.SpectralSubtractMid(start, count, 0.9, shift);

    std::vector<int32_t> o(count), k(count);
    for (int i = 0; i < count; ++i) {
        o[i] = (b.orig[0][start + i] + b.orig[1][start + i]) / 2;
        k[i] = (b.kar[0][start + shift + i] + b.kar[1][start + shift + i]) / 2;
        ASSERT_EQ(b.f.orig[0][start + i], o[i]);
        ASSERT_EQ(b.f.kar[0][start + shift + i], k[i]);
    }
    const auto expected = Direct(1, 1.0f, o.data(), k.data(), 0.9, count);
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ(std::vector<int32_t>(b.f.out[c].get() + start, b.f.out[c].get() + start + count), expected);
    EXPECT_EQ(b.f.out[0][start - 1], -1);  // outside the range: untouched
    EXPECT_EQ(b.f.out[1][start + count], -1);
    EXPECT_EQ(b.f.orig[0][start - 1], b.orig[0][start - 1]);
}

TEST(SpectralWorker, KaraokeOutsideItsBlockCountsAsSilence)
{
    // Shifts reaching past either end of the karaoke block, and a range
    // beyond the block, are served without reading or writing outside.
    SpectralBuffer b(1);
    ASSERT_EQ(b.f.SetupSpectral(1, 1.0f), 0);
    b.Load();
    const int n = b.f.blockLen;
    const int shift = b.f.karaokeLen - n / 2;
    b.f.SpectralSubtractStereo(0, n + 5000, 1.0, shift);
    std::vector<int32_t> k(n, 0);
    std::copy(b.kar[0].begin() + shift, b.kar[0].end(), k.begin());
    EXPECT_EQ(std::vector<int32_t>(b.f.out[0].get(), b.f.out[0].get() + n), Direct(1, 1.0f, b.orig[0].data(), k.data(), 1.0, n));
    EXPECT_EQ(b.f.out[1][0], -1);  // one channel: the second is left alone

    b.f.SpectralSubtractStereo(0, 1000, 1.0, -1000000);
    b.f.SpectralSubtractMid(n - 10, 1000, 1.0, 2000000000);
    b.f.SpectralSubtractStereo(-50, 0, 1.0, 0);
    EXPECT_TRUE(b.f.SpectralIdle());
}

TEST(SpectralWorker, StartAndStopWithoutHangsOrLeaks)
{
    for (int round = 0; round < 10; ++round) {
        TVocalFunc f;  // never sized: nothing to stop
        if (round % 3 == 0) continue;
        ASSERT_EQ(f.Setup(2, 8000, 0.5, 1), 0);
        ASSERT_EQ(f.SetupSpectral(round % 2, 1.0f), 0);
        std::fill(f.out[0].get(), f.out[0].get() + f.blockLen, -1);
        if (round % 3 == 1) {
            // Destroyed right after a job.
            f.SpectralSubtractStereo(0, f.blockLen, 1.0, 0);
            EXPECT_NE(f.out[0][0], -1);
        }
    }

    // A new Setup stops the workers; the frequency merge then does nothing
    // until it is set up again.
    TVocalFunc f;
    ASSERT_EQ(f.Setup(2, 8000, 0.5, 1), 0);
    ASSERT_EQ(f.SetupSpectral(0, 1.0f), 0);
    ASSERT_EQ(f.Setup(2, 8000, 0.5, 1), 0);
    EXPECT_EQ(f.Latency(), 0);
    std::fill(f.out[0].get(), f.out[0].get() + f.blockLen, -1);
    f.SpectralSubtractStereo(0, f.blockLen, 1.0, 0);
    f.SpectralSubtractMid(0, f.blockLen, 1.0, 0);
    EXPECT_EQ(f.out[0][0], -1);
    ASSERT_EQ(f.SetupSpectral(1, 1.0f), 0);
    ASSERT_EQ(f.SetupSpectral(0, 2.0f), 0);  // configured again while running
    f.SpectralSubtractStereo(0, f.blockLen, 1.0, 0);
    EXPECT_EQ(f.out[0][0], 0);  // the stream's first output
    EXPECT_EQ(f.expiredSpectralWaits, 0);
}

// The aligned karaoke the streams read, rounded to whole sample values as
// RoundToInt32 rounds (halves away from zero, the int32 limits, NaN as 0),
// alone or as the mean of both channels, on every instruction set.
TEST(SpectralWorker, AlignedKaraokeIsStagedRoundedToWholeSamples)
{
    const float values[] = {0.0f, 0.5f, -0.5f, 1.5f, -1.5f, 2.4999998f, -2.5f, 1e9f, -1e9f, 2147483648.0f,
                            -2147483648.0f, 3e9f, -3e9f, std::nanf(""), 7.25f, -7.75f, 32767.5f, -32768.5f};
    const int count = 3 * int(std::size(values)) + 5;  // a vector's worth and a rest
    std::vector<float> a0(count), a1(count);
    for (int i = 0; i < count; ++i) {
        a0[i] = values[i % std::size(values)];
        a1[i] = values[(i * 5 + 3) % std::size(values)];
    }
    BufferView view;
    view.channels = 2;
    view.blockLen = count + 4;
    view.aligned[0] = a0.data();
    view.aligned[1] = a1.data();
    SpectralMerge merge;
    merge.RunOnCaller(true);
    ASSERT_EQ(merge.Setup(view, 0, 1.2f), 0);
    ForEachIsa([&] {
        for (int from : {0, 3}) {
            const int n = count - from;
            const int32_t* left = merge.StageAligned(0, from, n, false);
            for (int i = 0; i < n; ++i) ASSERT_EQ(left[i], RoundToInt32(a0[from + i])) << a0[from + i];
            const int32_t* right = merge.StageAligned(1, from, n, false);
            for (int i = 0; i < n; ++i) ASSERT_EQ(right[i], RoundToInt32(a1[from + i])) << a1[from + i];
            const int32_t* mean = merge.StageAligned(0, from, n, true);
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(mean[i], RoundToInt32((double(a0[from + i]) + a1[from + i]) * 0.5)) << i;
        }
    });
}

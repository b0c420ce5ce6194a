// The fractional-delay interpolator and differentiator, and the buffer's
// precise-alignment operations built on them.
#include "FracDelay.h"
#include "IsaLevels.h"
#include "Vfunc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// A sum of sines up to 0.45 of the sampling rate, known at any time.
struct Tones {
    std::vector<double> freq, amp, phase; // freq in cycles per sample
    explicit Tones(uint32_t seed, double top = 0.45, int count = 24)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> f(0.002, top), a(200, 1200), p(0, 2 * M_PI);
        for (int i = 0; i < count; ++i) {
            freq.push_back(f(rng));
            amp.push_back(a(rng));
            phase.push_back(p(rng));
        }
    }
    double At(double t) const
    {
        double v = 0;
        for (size_t i = 0; i < freq.size(); ++i) v += amp[i] * std::sin(2 * M_PI * freq[i] * t + phase[i]);
        return v;
    }
    double SlopeAt(double t) const
    {
        double v = 0;
        for (size_t i = 0; i < freq.size(); ++i)
            v += amp[i] * 2 * M_PI * freq[i] * std::cos(2 * M_PI * freq[i] * t + phase[i]);
        return v;
    }
    std::vector<float> Samples(int n) const
    {
        std::vector<float> s;
        s.resize(size_t(n));
        for (int i = 0; i < n; ++i) s[size_t(i)] = float(At(i));
        return s;
    }
};

double ErrorDb(const std::vector<double>& want, const std::vector<double>& got)
{
    double e = 0, s = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        e += (want[i] - got[i]) * (want[i] - got[i]);
        s += want[i] * want[i];
    }
    return 10 * std::log10(e / s);
}

} // namespace

TEST(FracDelay, ReadsABandLimitedSignalBetweenItsSamples)
{
    // Away from the ends (where the signal is taken as zero outside), the
    // interpolated signal matches the exact one at any fraction and along a
    // drifting position.
    const Tones tones(1);
    const int n = 4000;
    const std::vector<float> x = tones.Samples(n);
    struct Case {
        double pos0, step;
    } cases[] = {{1000.0, 1.0}, {1000.25, 1.0}, {1000.5, 1.0}, {999.9, 1.00005}, {1200.3, 0.9998}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos0 << " step " << c.step);
        std::vector<float> out(1500);
        fracdelay::ReadAlong(x.data(), n, c.pos0, c.step, 1500, out.data());
        std::vector<double> want(1500), got(out.begin(), out.end());
        for (int i = 0; i < 1500; ++i) want[size_t(i)] = tones.At(c.pos0 + c.step * i);
        EXPECT_LT(ErrorDb(want, got), -75.0);
    }
}

// Every row of the table holds the taps at its own phase, to the bit (half
// the rows are made from their mirror images).
TEST(FracDelay, TableRowsAreTheTapsAtTheirPhase)
{
    for (int p = 0; p < fracdelay::kPhases; ++p) {
        const double frac = double(p) / fracdelay::kPhases;
        const float* row = fracdelay::Row(p);
        for (int j = 0; j < fracdelay::kTaps; ++j)
            ASSERT_EQ(row[j], float(fracdelay::Tap(frac - (j - fracdelay::kBefore)))) << p << " " << j;
    }
}

TEST(FracDelay, WholeSamplePositionsReadBackExactly)
{
    const std::vector<float> x = Tones(2).Samples(300);
    std::vector<float> out(200);
    fracdelay::ReadAlong(x.data(), 300, 50.0, 1.0, 200, out.data());
    for (int i = 0; i < 200; ++i) ASSERT_EQ(out[size_t(i)], x[size_t(50 + i)]) << i;
}

TEST(FracDelay, FastKernelsMatchTheReferenceOnEveryInstructionSet)
{
    // At fractions on the table's grid both compute the same taps; the fast
    // kernel sums in single precision. Positions include the ends, where
    // samples outside the array count as zero.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-30000, 30000);
    std::vector<float> x(700);
    for (float& v : x) v = u(rng);
    struct Case {
        double pos0, step;
    } cases[] = {{-40.0, 1.0}, {10.0 + 1.0 / 4096, 1.0}, {600.5, 1.0}, {100.0, 1.0 + 3.0 / 4096}};
    ForEachIsa([&] {
        for (const Case& c : cases) {
            std::vector<float> fast(200), ref(200);
            fracdelay::ReadAlong(x.data(), 700, c.pos0, c.step, 200, fast.data());
            fracdelay::ReadAlongReference(x.data(), 700, c.pos0, c.step, 200, ref.data());
            for (int i = 0; i < 200; ++i) ASSERT_NEAR(fast[size_t(i)], ref[size_t(i)], 0.05) << c.pos0 << " " << i;
        }
    });
}

// Runs of outputs read together where one phase holds must give what each
// output split on its own gives, bit for bit: positions far into a long song,
// before its start, drifting so slowly that the phase changes once in
// thousands of outputs, sitting a hair from a rounding boundary between two
// phases, and moving backwards.
TEST(FracDelay, RunsReadTogetherEqualEachOutputReadAlone)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const int64_t len = 200000;
    std::vector<float> x(static_cast<size_t>(len));
    for (float& v : x) v = u(rng);
    const double half = 0.5 / fracdelay::kPhases;
    struct Case {
        double pos0, step;
    } cases[] = {{1000.0, 1.0},
                 {1000.0 + half, 1.0},
                 {1000.0 + half - 1e-12, 1.0},
                 {1000.0 + half, 1.0 + 1e-13},
                 {1000.0 + half, 1.0 - 1e-13},
                 {-5000.25, 1.0 + 2e-7},
                 {150000.3, 1.0 - 3e-6},
                 {199000.0 + half, 1.0 + 1e-9},
                 {12345.678, 1.0 + 1.0 / (3.0 * fracdelay::kPhases)},
                 {150000.0 + half, -1.0},
                 {90000.1, 0.5}};
    ForEachIsa([&] {
        for (const Case& c : cases) {
            const int count = 8000;
            std::vector<float> fast(static_cast<size_t>(count)), alone(static_cast<size_t>(count));
            fracdelay::ReadAlong(x.data(), len, c.pos0, c.step, count, fast.data());
            fracdelay::ReadAlongOneByOne(x.data(), len, c.pos0, c.step, count, alone.data());
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(fast[size_t(i)], alone[size_t(i)]) << c.pos0 << " step " << c.step << " at " << i;
        }
    });
}

TEST(FracDelay, SlopeOfTheSignalThroughItsSamples)
{
    const Tones tones(4, 0.4);
    const std::vector<float> x = tones.Samples(2000);
    std::vector<float> s(1000);
    ForEachIsa([&] {
        fracdelay::Slope(x.data(), 2000, 500, 1000, s.data());
        std::vector<double> want(1000), got(s.begin(), s.end());
        for (int i = 0; i < 1000; ++i) want[size_t(i)] = tones.SlopeAt(500 + i);
        EXPECT_LT(ErrorDb(want, got), -55.0);
    });
    // Antisymmetric taps with nothing at the centre.
    const float* d = fracdelay::SlopeTaps();
    EXPECT_EQ(d[fracdelay::kBefore], 0.0f);
    for (int m = 1; m <= fracdelay::kBefore; ++m) EXPECT_EQ(d[fracdelay::kBefore + m], -d[fracdelay::kBefore - m]);
}

// The fast slope against its plain twin, inside the signal and where the
// taps reach past either end (those samples count as zero).
TEST(FracDelay, SlopeMatchesItsPlainTwin)
{
    const Tones tones(6, 0.45);
    const std::vector<float> x = tones.Samples(1200);
    struct Case {
        int64_t first;
        int count;
    } cases[] = {{0, 700}, {-20, 90}, {400, 300}, {1100, 120}, {37, 1}, {200, 600}};
    ForEachIsa([&] {
        for (const Case& c : cases) {
            std::vector<float> fast(size_t(c.count)), ref(size_t(c.count));
            fracdelay::Slope(x.data(), 1200, c.first, c.count, fast.data());
            fracdelay::SlopeReference(x.data(), 1200, c.first, c.count, ref.data());
            for (int i = 0; i < c.count; ++i)
                ASSERT_NEAR(fast[size_t(i)], ref[size_t(i)], 0.05) << c.first << " " << i;
        }
    });
}

namespace {

// A buffer holding one block of a tone mix as the original and the same
// mix `delay` frames later as the karaoke (times `gain`), both channels.
void FillDelayed(TVocalFunc& f, const Tones& t, double delay, double gain, int shiftBase)
{
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < f.blockLen; ++i) f.orig[c][i] = int32_t(std::lround(t.At(i + 100 * c)));
        // kar[shiftBase + i] aligns with orig[i] when delay is 0.
        for (int i = 0; i < f.karaokeLen; ++i)
            f.kar[c][i] = int32_t(std::lround(gain * t.At(i - shiftBase - delay + 100 * c)));
    }
}

} // namespace

TEST(PreciseBuffer, FitBlockFindsTheFractionAndTheGain)
{
    TVocalFunc f;
    ASSERT_EQ(f.Setup(2, 8000, 0.2, 1), 0);
    ASSERT_EQ(f.SetupPrecise(), 0);
    const Tones tones(5, 0.3);
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    for (double delay : {-0.45, -0.2, 0.0, 0.13, 0.37}) {
        SCOPED_TRACE(delay);
        FillDelayed(f, tones, delay, 0.8, 200);
        // The karaoke sample aligned with orig[i] is kar[200 + i + delay].
        const TVocalFunc::BlockFit fit = f.FitBlock(200, quarter, half, false);
        const double det = fit.kk * fit.ss - fit.ks * fit.ks;
        const double g = (fit.ok * fit.ss - fit.os * fit.ks) / det;
        const double h = (fit.kk * fit.os - fit.ks * fit.ok) / det;
        // The fit is linear in the fraction: exact near whole frames, a few
        // per cent short or long of it (and of the gain) near half a frame,
        // which the analysis corrects by reading the quietest blocks again.
        EXPECT_NEAR(h / g, delay, 0.001 + 0.03 * std::fabs(delay));
        EXPECT_NEAR(g, 1 / 0.8, 0.001 + 0.6 * delay * delay);
    }
}

TEST(PreciseBuffer, AlignedSubtractionRemovesADelayedKaraoke)
{
    // Karaoke 0.3 frame late at gain 0.8: read along position 200.3 + i and
    // subtracted at 1 / 0.8 it leaves only rounding, per channel and on the
    // mid signal; the frequency merge needs its workers first.
    TVocalFunc f;
    ASSERT_EQ(f.Setup(2, 8000, 0.2, 1), 0);
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    f.ReadKaraokeAligned(200.3 + quarter, 1.0, quarter, half); // before SetupPrecise: nothing
    ASSERT_EQ(f.SetupPrecise(), 0);
    const Tones tones(6, 0.3);
    FillDelayed(f, tones, 0.3, 0.8, 200);
    f.ReadKaraokeAligned(200.3 + quarter, 1.0, quarter, half);
    f.SubtractAlignedStereo(quarter, half, 1 / 0.8);
    double e = 0, s = 0;
    for (int c = 0; c < 2; ++c)
        for (int i = quarter; i < quarter + half; ++i) {
            e += double(f.out[c][i]) * f.out[c][i];
            s += double(f.orig[c][i]) * f.orig[c][i];
        }
    EXPECT_LT(10 * std::log10(e / s), -70.0);
    f.SubtractAlignedMid(quarter, half, 1 / 0.8);
    for (int i = quarter; i < quarter + half; ++i) {
        ASSERT_EQ(f.out[0][i], f.out[1][i]);
        ASSERT_LE(std::abs(f.out[0][i]), 2) << i;
    }
    // The gain search on the aligned karaoke lands on the grid point nearest 1.25.
    EXPECT_NEAR(f.FindGainAlignedStereo(quarter, half, 0.002, 0.1, 1.2), 1.25, 0.0011);
    EXPECT_NEAR(f.FindGainAlignedMono(quarter, half, 0.002, 0.1, 1.3), 1.25, 0.0011);
}

TEST(PreciseBuffer, MatchEquationsMatchTheirPlainTwin)
{
    // The windowed Gram matrix built by stepping along its diagonals against
    // the one built from every product, per channel and on the mid signal.
    TVocalFunc f;
    ASSERT_EQ(f.Setup(2, 8000, 0.2, 1), 0);
    ASSERT_EQ(f.SetupPrecise(), 0);
    const Tones tones(9, 0.4);
    const int quarter = f.blockLen / 4, half = f.blockLen / 2, h = 8, taps = 2 * h + 1;
    FillDelayed(f, tones, 0.27, 0.9, 200);
    f.ReadKaraokeAligned(200.27 + quarter - h, 1.0, quarter - h, half + 2 * h);
    for (bool mid : {false, true}) {
        std::vector<double> gram[2], cross[2];
        for (int r = 0; r < 2; ++r) {
            gram[r].assign(size_t(taps * taps), 1.0);
            cross[r].assign(size_t(taps), 1.0);
            f.UseReferenceKernels(r == 1);
            f.AccumulateMatch(quarter, half, h, mid, 0.5, gram[r].data(), cross[r].data());
        }
        f.UseReferenceKernels(false);
        for (size_t i = 0; i < gram[0].size(); ++i)
            ASSERT_NEAR(gram[0][i], gram[1][i], 1e-9 * std::fabs(gram[1][i])) << mid << " " << i;
        for (size_t i = 0; i < cross[0].size(); ++i)
            ASSERT_NEAR(cross[0][i], cross[1][i], 1e-9 * std::fabs(cross[1][i])) << mid << " " << i;
    }
}

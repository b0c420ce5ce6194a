// Kaiser-window FIR filters: design orders and shapes, impulse responses,
// streaming across calls, the fast kernel against the reference loop, and the
// buffer's treble and bass cut.
#include "FirUnit.h"
#include "IsaLevels.h"
#include "Vfunc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr auto kLowPass = CFIRUnit::FilterType::LowPass;
constexpr auto kHighPass = CFIRUnit::FilterType::HighPass;

// Designs as the processing buffer does: low-pass edges cutoff and 1.2 x
// cutoff, high-pass edges 0.75 x cutoff and cutoff.
void DesignLike(CFIRUnit& f, int rate, CFIRUnit::FilterType type, float db, float cutoff)
{
    if (type == kLowPass)
        ASSERT_EQ(f.Design(rate, kLowPass, db, cutoff * 1.2f, cutoff), 0);
    else
        ASSERT_EQ(f.Design(rate, kHighPass, db, cutoff, cutoff * 0.75f), 0);
}

// |H| at frequency hz of taps h.
double Magnitude(const std::vector<double>& h, double hz, int rate)
{
    const double w = 2.0 * std::numbers::pi * hz / rate;
    std::complex<double> sum = 0.0;
    for (size_t m = 0; m < h.size(); ++m) sum += h[m] * std::polar(1.0, -w * double(m));
    return std::abs(sum);
}

// The response of the whole path: the high-pass output is negated by the buffer.
std::vector<double> PathTaps(const CFIRUnit& f)
{
    std::vector<double> h(static_cast<size_t>(f.TapCount()));
    for (int m = 0; m < f.TapCount(); ++m) h[size_t(m)] = f.Type() == kHighPass ? -f.Coeffs()[m] : f.Coeffs()[m];
    return h;
}

std::vector<int32_t> Noise(int n, int32_t amplitude, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> d(-amplitude, amplitude);
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (auto& x : v) x = d(rng);
    return v;
}

} // namespace

TEST(FirDesign, OrdersAndPolarityAtTheListedCutoffs)
{
    struct Row {
        int rate;
        CFIRUnit::FilterType type;
        float db, cutoff;
        int taps;
        bool evenHalf;
    };
    const Row rows[] = {
        {44100, kLowPass, 80.0f, 10000.0f, 113, true},   // order 111 rounded up to 112
        {44100, kHighPass, 60.0f, 230.0f, 1001, true},   // capped at 1000: half 500
        {44100, kHighPass, 60.0f, 649.0f, 987, false},   // 985 rounded up to 986: half 493
        {44100, kHighPass, 60.0f, 710.0f, 901, true},    // half 450
        {44100, kHighPass, 60.0f, 50.0f, 1001, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.cutoff << " Hz");
        CFIRUnit f;
        DesignLike(f, r.rate, r.type, r.db, r.cutoff);
        EXPECT_EQ(f.TapCount(), r.taps);
        EXPECT_EQ(f.Half() % 2 == 0, r.evenHalf);
        // Linear phase: symmetric taps.
        for (int m = 0; m < f.TapCount(); ++m) ASSERT_EQ(f.Coeffs()[m], f.Coeffs()[f.TapCount() - 1 - m]) << m;
        // Through the buffer an impulse comes out after half samples with its
        // own sign, whatever the parity of half.
        TVocalFunc vf;
        ASSERT_EQ(vf.Setup(1, r.rate, 0.1, 1), 0);
        std::fill_n(vf.out[0].get(), vf.blockLen, 0);
        vf.out[0][0] = 10000;
        ASSERT_EQ(r.type == kLowPass ? vf.SetupLowPass(r.db, r.cutoff) : vf.SetupHighPass(r.db, r.cutoff), 0);
        if (r.type == kLowPass)
            vf.ApplyLowPass(0, vf.blockLen);
        else
            vf.ApplyHighPass(0, vf.blockLen);
        const int32_t peak = vf.out[0][f.Half()];
        EXPECT_GT(peak, 0);
        for (int i = 0; i < vf.blockLen; ++i) ASSERT_LE(std::abs(vf.out[0][i]), std::abs(peak)) << i;
    }
}

TEST(FirDesign, LowPassAt10kHzHasItsCutoffInTheMiddleOfTheTransition)
{
    CFIRUnit f;
    DesignLike(f, 44100, kLowPass, 80.0f, 10000.0f);
    // The centre tap is the cut-off over pi: 11 kHz of 22.05 kHz.
    EXPECT_NEAR(f.Coeffs()[f.Half()], 11000.0 / 22050.0, 1e-6);
    EXPECT_FLOAT_EQ(f.HalfRateHz(), 22050.0f);
    EXPECT_FLOAT_EQ(f.EdgeLowHz(), 10000.0f);
    EXPECT_FLOAT_EQ(f.EdgeHighHz(), 12000.0f);
    const float dw = (f.EdgeHighHz() - f.EdgeLowHz()) / f.HalfRateHz() * CFIRUnit::kPi;
    EXPECT_NEAR(dw, 0.2850, 1e-4);
    EXPECT_EQ(CFIRUnit::RawOrder(80.0f, dw), 111);
}

TEST(FirDesign, KaiserBetaAndBessel)
{
    EXPECT_NEAR(CFIRUnit::KaiserBeta(80.0f), 0.1102 * 71.3, 1e-5);
    EXPECT_NEAR(CFIRUnit::KaiserBeta(60.0f), 0.1102 * 51.3, 1e-5);
    EXPECT_EQ(CFIRUnit::KaiserBeta(21.0f), 0.0f);
    EXPECT_EQ(CFIRUnit::KaiserBeta(10.0f), 0.0f);
    EXPECT_NEAR(CFIRUnit::KaiserBeta(40.0f), 0.5842 * std::pow(19.0, 0.4) + 0.07886 * 19.0, 1e-5);
    EXPECT_NEAR(CFIRUnit::KaiserBeta(50.0f), 0.5842 * std::pow(29.0, 0.4) + 0.07886 * 29.0, 1e-5);
    EXPECT_EQ(CFIRUnit::BesselI0(0.0f), 1.0f);
    EXPECT_NEAR(CFIRUnit::BesselI0(1.0f), 1.2660658777, 1e-6);
    EXPECT_NEAR(CFIRUnit::BesselI0(5.0f), 27.239871823, 1e-4);
    EXPECT_NEAR(CFIRUnit::BesselI0(7.857f) / 1000.0, std::cyl_bessel_i(0.0, 7.857) / 1000.0, 1e-5);
}

TEST(FirDesign, ResponsesMeetTheirAttenuation)
{
    struct Row {
        int rate;
        CFIRUnit::FilterType type;
        float db, cutoff;
    };
    // Designs whose Kaiser order fits under the cap.
    const Row rows[] = {
        {44100, kLowPass, 80.0f, 10000.0f}, {44100, kLowPass, 80.0f, 2000.0f},
        {48000, kLowPass, 80.0f, 18000.0f}, {44100, kHighPass, 60.0f, 710.0f},
        {44100, kHighPass, 60.0f, 649.0f},  {22050, kHighPass, 60.0f, 433.0f},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz type " << static_cast<int>(r.type) << " cut " << r.cutoff);
        CFIRUnit f;
        DesignLike(f, r.rate, r.type, r.db, r.cutoff);
        ASSERT_LT(f.TapCount(), 1001);
        const std::vector<double> h = PathTaps(f);
        const double stopLimit = std::pow(10.0, -(r.db - 6.0) / 20.0);  // Kaiser's estimate, a little slack
        const double nyquist = r.rate / 2.0;
        const double pass0 = r.type == kLowPass ? 0.0 : r.cutoff;
        const double pass1 = r.type == kLowPass ? r.cutoff : nyquist;
        const double stop0 = r.type == kLowPass ? r.cutoff * 1.2 : 0.0;
        const double stop1 = r.type == kLowPass ? nyquist : r.cutoff * 0.75;
        for (int k = 0; k <= 200; ++k) {
            const double p = pass0 + (pass1 - pass0) * k / 200.0;
            ASSERT_NEAR(Magnitude(h, p, r.rate), 1.0, 0.01) << "pass " << p;
            const double s = stop0 + (stop1 - stop0) * k / 200.0;
            ASSERT_LT(Magnitude(h, s, r.rate), stopLimit) << "stop " << s;
        }
    }
}

TEST(FirDesign, DegenerateArgumentsStillGiveASafeFilter)
{
    struct Row {
        int rate;
        CFIRUnit::FilterType type;
        float db, high, low;
    };
    const Row rows[] = {
        {44100, kLowPass, 80.0f, 0.0f, 0.0f},       // no transition band: the cap
        {44100, kHighPass, 60.0f, 100.0f, 200.0f},  // edges swapped: negative order
        {44100, kLowPass, 5.0f, 12000.0f, 10000.0f}, // attenuation below 8 dB
        {0, kLowPass, 80.0f, 12000.0f, 10000.0f},    // no sampling rate
        {44100, kLowPass, std::nanf(""), 12000.0f, 10000.0f},
    };
    const std::vector<int32_t> in = Noise(3000, 30000, 5);
    for (const Row& r : rows) {
        CFIRUnit f;
        ASSERT_EQ(f.Design(r.rate, r.type, r.db, r.high, r.low), 0);
        EXPECT_GE(f.TapCount(), 1);
        EXPECT_LE(f.TapCount(), 1001);
        EXPECT_EQ(f.TapCount() % 2, 1);
        std::vector<int32_t> a(in.size()), b(in.size());
        f.Filter(in.data(), int(in.size()), a.data());
        CFIRUnit g;
        ASSERT_EQ(g.Design(r.rate, r.type, r.db, r.high, r.low), 0);
        g.FilterReference(in.data(), int(in.size()), b.data());
        EXPECT_EQ(a, b);
    }
}

TEST(FirFilter, ImpulseResponseIsTheTruncatedCoefficients)
{
    for (auto type : {kLowPass, kHighPass}) {
        CFIRUnit f;
        DesignLike(f, 44100, type, type == kLowPass ? 80.0f : 60.0f, type == kLowPass ? 10000.0f : 649.0f);
        std::vector<int32_t> x(size_t(f.TapCount()) + 20, 0), y(x.size());
        x[5] = 10000;
        f.Filter(x.data(), int(x.size()), y.data());
        for (size_t i = 0; i < y.size(); ++i) {
            const int j = int(i) - 5;
            const int32_t expected = j >= 0 && j < f.TapCount() ? int32_t(f.Coeffs()[j] * 10000.0f) : 0;
            ASSERT_EQ(y[i], expected) << i;
        }
    }
}

TEST(FirFilter, SplitStreamsEqualOneCall)
{
    const std::vector<int32_t> in = Noise(20000, 40000, 9);
    struct Design {
        CFIRUnit::FilterType type;
        float db, cutoff;
    };
    const Design designs[] = {{kLowPass, 80.0f, 10000.0f}, {kHighPass, 60.0f, 230.0f}, {kHighPass, 60.0f, 649.0f}};
    // Splits of 1000 + 3000, pieces shorter than the filter, and pieces that
    // cross the fast kernel's inner segments.
    const std::vector<std::vector<int>> splits = {
        {1000, 3000}, {4000}, {1, 2, 3, 500, 7, 3487}, {4095, 1, 4096, 4097, 3}, {0, 9000, 0, 3000},
    };
    for (const Design& d : designs) {
        for (bool reference : {false, true}) {
            CFIRUnit whole;
            DesignLike(whole, 44100, d.type, d.db, d.cutoff);
            for (const auto& split : splits) {
                const int total = std::accumulate(split.begin(), split.end(), 0);
                std::vector<int32_t> once(static_cast<size_t>(total)), pieces(static_cast<size_t>(total));
                CFIRUnit a, b;
                DesignLike(a, 44100, d.type, d.db, d.cutoff);
                DesignLike(b, 44100, d.type, d.db, d.cutoff);
                reference ? a.FilterReference(in.data(), total, once.data()) : a.Filter(in.data(), total, once.data());
                int at = 0;
                for (int n : split) {
                    reference ? b.FilterReference(in.data() + at, n, pieces.data() + at)
                              : b.Filter(in.data() + at, n, pieces.data() + at);
                    at += n;
                }
                ASSERT_EQ(pieces, once) << "taps " << a.TapCount() << " reference " << reference;
                // Reset forgets the history: the same input again gives the same output.
                b.Reset();
                std::vector<int32_t> again(static_cast<size_t>(total));
                reference ? b.FilterReference(in.data(), total, again.data()) : b.Filter(in.data(), total, again.data());
                ASSERT_EQ(again, once) << "after Reset, taps " << b.TapCount();
            }
        }
    }
}

TEST(FirFilter, FastKernelEqualsReference)
{
    // Ordinary audio levels, the largest levels a subtraction produces, and
    // values near the int32 limits where the sum saturates.
    struct Row {
        int rate;
        CFIRUnit::FilterType type;
        float db, cutoff;
        int32_t amplitude;
    };
    const Row rows[] = {
        {44100, kLowPass, 80.0f, 10000.0f, 32768},  {44100, kHighPass, 60.0f, 230.0f, 131072},
        {44100, kHighPass, 60.0f, 649.0f, 32768},   {48000, kLowPass, 80.0f, 2000.0f, 2000000000},
        {44100, kHighPass, 60.0f, 50.0f, 2147483647}, {8000, kLowPass, 80.0f, 3000.0f, 100},
    };
    ForEachIsa([&] {
        unsigned seed = 100;
        for (const Row& r : rows) {
            CFIRUnit fast, ref;
            DesignLike(fast, r.rate, r.type, r.db, r.cutoff);
            DesignLike(ref, r.rate, r.type, r.db, r.cutoff);
            for (int block : {10000, 37, 4096}) {
                const std::vector<int32_t> in = Noise(block, r.amplitude, seed++);
                std::vector<int32_t> a(in.size()), b(in.size());
                fast.Filter(in.data(), block, a.data());
                ref.FilterReference(in.data(), block, b.data());
                ASSERT_EQ(a, b) << "taps " << fast.TapCount() << " amplitude " << r.amplitude << " block " << block;
            }
            // In place gives the same as into another array.
            std::vector<int32_t> x = Noise(5000, r.amplitude, seed++), y(x.size());
            fast.Filter(x.data(), int(x.size()), y.data());
            ref.Filter(x.data(), int(x.size()), x.data());
            EXPECT_EQ(x, y);
        }
    });
}

TEST(FirFilter, UndesignedFilterPassesInputThrough)
{
    CFIRUnit f;
    EXPECT_FALSE(f.Designed());
    const std::vector<int32_t> in = Noise(100, 1000, 1);
    std::vector<int32_t> out(in.size());
    f.Filter(in.data(), 100, out.data());
    EXPECT_EQ(out, in);
}

class BufferFilters : public testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Channels, BufferFilters, testing::Values(1, 2));

TEST_P(BufferFilters, ApplyFiltersTheRangeOfTheDesignedChannels)
{
    const int ch = GetParam();
    TVocalFunc vf, twin;
    ASSERT_EQ(vf.Setup(ch, 44100, 0.2, 1), 0);
    const std::vector<int32_t> x0 = Noise(vf.blockLen, 20000, 3), x1 = Noise(vf.blockLen, 20000, 4);
    const int start = vf.blockLen / 4, count = vf.blockLen / 2;
    for (bool high : {false, true}) {
        SCOPED_TRACE(high ? "high-pass" : "low-pass");
        std::copy(x0.begin(), x0.end(), vf.out[0].get());
        std::copy(x1.begin(), x1.end(), vf.out[1].get());
        ASSERT_EQ(high ? vf.SetupHighPass(60.0f, 230.0f) : vf.SetupLowPass(80.0f, 10000.0f), 0);
        EXPECT_EQ((high ? vf.highPass : vf.lowPass).Unit(1).Designed(), ch == 2);
        high ? vf.ApplyHighPass(start, count) : vf.ApplyLowPass(start, count);

        CFIRUnit f;
        DesignLike(f, 44100, high ? kHighPass : kLowPass, high ? 60.0f : 80.0f, high ? 230.0f : 10000.0f);
        std::vector<int32_t> expected(static_cast<size_t>(count));
        f.FilterReference(x0.data() + start, count, expected.data());
        for (int i = 0; i < vf.blockLen; ++i) {
            const bool inside = i >= start && i < start + count;
            const int32_t filtered = inside ? expected[size_t(i - start)] : 0;
            const int32_t want = inside ? (high ? -filtered : filtered) : x0[size_t(i)];
            ASSERT_EQ(vf.out[0][i], want) << i;
            // Channel 1 of a one-channel buffer is never filtered.
            if (ch == 1) {
                ASSERT_EQ(vf.out[1][i], x1[size_t(i)]);
            }
        }
        if (ch == 2) {
            EXPECT_NE(vf.out[1][start + 10], x1[size_t(start + 10)]);
        }
    }
    // Ranges reaching outside the block are clipped to it.
    vf.ApplyLowPass(-100, 200);
    vf.ApplyHighPass(vf.blockLen - 5, 1000);
    vf.ApplyLowPass(vf.blockLen + 10, 10);
    vf.ApplyHighPass(0, -4);
    // A buffer without filters leaves the output alone.
    ASSERT_EQ(twin.Setup(ch, 44100, 0.2, 1), 0);
    std::copy(x0.begin(), x0.end(), twin.out[0].get());
    twin.ApplyLowPass(0, twin.blockLen);
    twin.ApplyHighPass(0, twin.blockLen);
    EXPECT_TRUE(std::equal(x0.begin(), x0.end(), twin.out[0].get()));
}

TEST(BufferFilters, StreamAcrossBlocksLikeOneLongCall)
{
    // The engine filters the middle half of every block; the filter's history
    // joins the halves into one stream.
    TVocalFunc vf;
    ASSERT_EQ(vf.Setup(2, 44100, 0.2, 1), 0);
    ASSERT_EQ(vf.SetupHighPass(60.0f, 649.0f), 0);
    const int quarter = vf.blockLen / 4, half = vf.blockLen / 2;
    const std::vector<int32_t> stream = Noise(half * 5, 25000, 8);
    std::vector<int32_t> got;
    for (int b = 0; b < 5; ++b) {
        for (int i = 0; i < half; ++i) vf.out[0][quarter + i] = vf.out[1][quarter + i] = stream[size_t(b * half + i)];
        vf.ApplyHighPass(quarter, half);
        got.insert(got.end(), vf.out[0].get() + quarter, vf.out[0].get() + quarter + half);
    }
    CFIRUnit f;
    DesignLike(f, 44100, kHighPass, 60.0f, 649.0f);
    std::vector<int32_t> expected(stream.size());
    f.FilterReference(stream.data(), int(stream.size()), expected.data());
    // Half-order 493 is odd: the design alone keeps the polarity, so the
    // output is not negated.
    ASSERT_EQ(f.Half() % 2, 1);
    EXPECT_EQ(got, expected);
}

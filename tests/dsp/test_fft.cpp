// The complex transform's conventions and the properties of the streaming
// frame scheme: latency, gain, the constant's 5/3, independence of how the
// stream is cut, and agreement of the real-transform and complex paths.
#include "FFT.h"
#include "FreqSignals.h"
#include "IsaLevels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace spectraltest;

namespace {

std::vector<float> Complex(int n)
{
    return std::vector<float>(2 * static_cast<size_t>(n), 0.0f);
}

} // namespace

TEST(ComplexFft, ImpulseAndAllOnesAreATransformPair)
{
    for (int n : {2, 16, 8192}) {
        SCOPED_TRACE(n);
        CFFT fwd, inv;
        ASSERT_EQ(fwd.Init(n, true), 0);
        ASSERT_EQ(inv.Init(n, false), 0);
        EXPECT_EQ(fwd.size, n);
        EXPECT_TRUE(fwd.forward);
        EXPECT_FALSE(inv.forward);

        std::vector<float> x = Complex(n);
        x[0] = 1.0f;
        fwd.Transform(x.data());
        for (int k = 0; k < n; ++k) {
            ASSERT_FLOAT_EQ(x[2 * k], 1.0f) << k;
            ASSERT_FLOAT_EQ(x[2 * k + 1], 0.0f) << k;
        }
        // The inverse includes the 1/n scaling.
        inv.Transform(x.data());
        EXPECT_NEAR(x[0], 1.0f, 1e-6f);
        for (int k = 1; k < 2 * n; ++k) ASSERT_NEAR(x[k], 0.0f, 1e-6f) << k;
    }
}

TEST(ComplexFft, ForwardUsesTheNegativeExponent)
{
    // x[j] = exp(+2 pi i 5 j / n) lands in bin 5 (not n - 5) with weight n.
    const int n = 64;
    CFFT fwd;
    ASSERT_EQ(fwd.Init(n, true), 0);
    std::vector<float> x = Complex(n);
    for (int j = 0; j < n; ++j) {
        x[2 * j] = static_cast<float>(std::cos(2.0 * std::numbers::pi * 5 * j / n));
        x[2 * j + 1] = static_cast<float>(std::sin(2.0 * std::numbers::pi * 5 * j / n));
    }
    fwd.Transform(x.data());
    for (int k = 0; k < n; ++k) {
        const float expected = k == 5 ? static_cast<float>(n) : 0.0f;
        ASSERT_NEAR(x[2 * k], expected, 1e-4f) << k;
        ASSERT_NEAR(x[2 * k + 1], 0.0f, 1e-4f) << k;
    }
}

TEST(ComplexFft, RoundTripRestoresDataAtAnyAlignment)
{
    const int n = 8192;
    CFFT fwd, inv;
    ASSERT_EQ(fwd.Init(n, true), 0);
    ASSERT_EQ(inv.Init(n, false), 0);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
    std::vector<float> original = Complex(n);
    for (float& v : original) v = u(rng);

    // Offsets of 0 and 1 float: 16-byte aligned data and data that is not.
    std::vector<float> spectrumAt[2];
    for (int offset = 0; offset < 2; ++offset) {
        SCOPED_TRACE(offset);
        SampleArray<float> buffer;
        ASSERT_TRUE(buffer_util::AllocateAligned(buffer, original.size() + 1));
        float* x = buffer.get() + offset;
        std::copy(original.begin(), original.end(), x);
        fwd.Transform(x);
        spectrumAt[offset].assign(x, x + original.size());
        inv.Transform(x);
        for (size_t i = 0; i < original.size(); ++i) ASSERT_NEAR(x[i], original[i], 2e-3f) << i;
    }
    for (size_t i = 0; i < original.size(); ++i)
        ASSERT_NEAR(spectrumAt[1][i], spectrumAt[0][i], 0.1f) << i;  // values up to about 1e5
}

TEST(ComplexFft, RejectsSizesThatAreNotPowersOfTwo)
{
    for (int n : {0, -8, 3, 6, 1000}) {
        SCOPED_TRACE(n);
        CFFT f;
        EXPECT_EQ(f.Init(n, true), 1);
        EXPECT_EQ(f.size, 0);
        std::vector<float> x(16, 2.5f);
        f.Transform(x.data());  // does nothing
        EXPECT_TRUE(std::all_of(x.begin(), x.end(), [](float v) { return v == 2.5f; }));
    }
    FrameStream s;
    EXPECT_EQ(s.Configure(6000, 8, 1, FrameStream::WindowAngle::Double), 1);
    EXPECT_EQ(s.Configure(8192, 0, 1, FrameStream::WindowAngle::Double), 1);
    EXPECT_EQ(s.Configure(8192, 8, 3, FrameStream::WindowAngle::Double), 1);
    EXPECT_FALSE(s.Configured());
}

namespace {

// An array of count floats from AllocateAligned holding v.
SampleArray<float> Aligned(const std::vector<float>& v)
{
    SampleArray<float> a;
    if (buffer_util::AllocateAligned(a, v.size())) std::copy(v.begin(), v.end(), a.get());
    return a;
}

// The largest difference of two arrays, relative to the largest value of want.
double RelativeDifference(const float* got, const float* want, size_t count)
{
    double largest = 0, worst = 0;
    for (size_t j = 0; j < count; ++j) {
        largest = std::max(largest, std::fabs(double(want[j])));
        worst = std::max(worst, std::fabs(double(got[j]) - want[j]));
    }
    return worst / largest;
}

} // namespace

TEST(PackedRealFft, AgreesWithTheRealPlansAndIsTheSameOnEveryInstructionSet)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-3000.0f, 3000.0f);
    // Sizes below and above one vector of pairs (16 points from each end).
    for (int n : {4, 8, 32, 64, 128, 8192}) {
        SCOPED_TRACE(n);
        const size_t count = static_cast<size_t>(n);
        CRealFFT plans;
        CPackedRealFFT packed;
        ASSERT_EQ(plans.Init(n), 0);
        ASSERT_EQ(packed.Init(n), 0);
        EXPECT_EQ(packed.size, n);
        std::vector<float> x(count), edited(count + 2);
        for (float& v : x) v = u(rng);
        for (float& v : edited) v = u(rng) * 50.0f;
        // The imaginary parts at 0 and n/2 do not count.
        SampleArray<float> want = Aligned(std::vector<float>(count + 2)), wantBack = Aligned(x);
        SampleArray<float> in = Aligned(x), scratch = Aligned(edited);
        plans.Forward(in.get(), want.get());
        plans.Inverse(scratch.get(), wantBack.get());

        std::vector<float> firstForward, firstInverse;
        ForEachIsa([&] {
            SampleArray<float> spectrum = Aligned(std::vector<float>(count + 2, 9.0f)), half = Aligned(edited),
                               back = Aligned(x);
            packed.Forward(in.get(), spectrum.get());
            packed.Inverse(half.get(), back.get());
            EXPECT_LT(RelativeDifference(spectrum.get(), want.get(), count + 2), 1e-6 * std::log2(n));
            EXPECT_EQ(spectrum[1], 0.0f);
            EXPECT_EQ(spectrum[count + 1], 0.0f);
            EXPECT_LT(RelativeDifference(back.get(), wantBack.get(), count), 1e-6 * std::log2(n));
            EXPECT_EQ(std::vector<float>(half.get(), half.get() + count + 2), edited);  // left as it was
            // Every level computes the same floats.
            const std::vector<float> f(spectrum.get(), spectrum.get() + count + 2), b(back.get(), back.get() + count);
            if (firstForward.empty()) {
                firstForward = f;
                firstInverse = b;
            }
            EXPECT_EQ(f, firstForward);
            EXPECT_EQ(b, firstInverse);
        });
    }
    CPackedRealFFT bad;
    EXPECT_EQ(bad.Init(2), 1);
    EXPECT_EQ(bad.Init(96), 1);
    EXPECT_EQ(bad.size, 0);
}

// Each output sample t has received the frames at window positions r + hop k,
// k = 1 .. 7, with r = t mod hop: its gain is (3 - w(r)^2) / 3.
double SevenOfEight(const FrameStream& s, int t)
{
    const double w = s.WindowCurve()[t % kHop];
    return (3.0 - w * w) / 3.0;
}

TEST(FrameStream, SinusoidComesOutDelayedAtUnitGain)
{
    const int total = kLatency + 5 * kFrame;
    const double amplitude = 12000.0;
    std::vector<int32_t> x(total);
    for (int i = 0; i < total; ++i)
        x[i] = static_cast<int32_t>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * i / 100.3 + 0.4)));

    for (bool reference : {false, true}) {
        SCOPED_TRACE(reference ? "complex transforms" : "real transforms");
        FrameStream s;
        ASSERT_EQ(s.Configure(kFrame, 8, 1, FrameStream::WindowAngle::Double), 0);
        EXPECT_EQ(s.Hop(), kHop);
        EXPECT_EQ(s.WritePos(), kLatency);
        s.UseReferenceTransforms(reference);
        std::vector<int32_t> y(total);
        s.Run(x.data(), x.data(), y.data(), nullptr, total, [](float*, float*, int) {});

        double worstGain = 1.0;
        for (int t = kLatency + kFrame; t < total; ++t) {
            const double in = x[t - kLatency];
            // Within 0.7 % (the 7-of-8 dip reaches 0.713 % at its deepest) ...
            ASSERT_NEAR(y[t], in, 0.00714 * amplitude + 1.0) << t;
            // ... and following the 7-of-8 gain closely.
            ASSERT_NEAR(y[t], in * SevenOfEight(s, t), 2e-4 * amplitude + 1.0) << t;
            worstGain = std::min(worstGain, SevenOfEight(s, t));
        }
        EXPECT_GT(worstGain, 0.9928);
        EXPECT_LT(worstGain, 0.9930);
    }
}

TEST(FrameStream, ConstantSettlesAtFiveThirds)
{
    // One-sided synthesis keeps the DC bin whole: per output sample
    // v (5/3 - w(r)^2 / 3 - w(r) / 6), i.e. 5v/3 where the missing frame's window is 0.
    const int v = 3000;
    const int total = kLatency + 3 * kFrame;
    std::vector<int32_t> x(total, v);
    FrameStream s;
    ASSERT_EQ(s.Configure(kFrame, 8, 1, FrameStream::WindowAngle::Double), 0);
    std::vector<int32_t> y(total);
    s.Run(x.data(), x.data(), y.data(), nullptr, total, [](float*, float*, int) {});
    for (int t = kLatency + kFrame; t < total; ++t) {
        const double w = s.WindowCurve()[t % kHop];
        ASSERT_NEAR(y[t], v * (5.0 / 3.0 - w * w / 3.0 - w / 6.0), 2.0) << t;
    }
    EXPECT_NEAR(y[kLatency + 2 * kFrame], 5000, 1);  // r = 0
    // Nothing comes out before the first input has been through a frame.
    EXPECT_EQ(y[0], 0);
    EXPECT_EQ(y[kHop - 1], 0);
}

TEST(FrameStream, OutputDoesNotDependOnHowTheStreamIsCut)
{
    const int total = 40000;
    const auto a = Music(total, 3, 9000.0);
    const auto b = Music(total, 4, 7000.0);
    // Per-bin work that mixes both spectra, so both inputs matter.
    auto perBin = [](float* sa, float* sb, int bins) {
        for (int j = 0; j < bins; ++j) {
            sa[2 * j] = 0.7f * sa[2 * j] - 0.2f * sb[2 * j + 1];
            sb[2 * j + 1] = 0.5f * sb[2 * j + 1] + 0.1f * sa[2 * j];
        }
    };
    auto run = [&](const std::vector<int>& pieces) {
        FrameStream s;
        std::vector<int32_t> ya(total), yb(total);
        if (s.Configure(kFrame, 8, 2, FrameStream::WindowAngle::SinglePi) != 0) return ya;
        int at = 0;
        for (size_t p = 0; at < total; ++p) {
            const int m = std::min(pieces[p % pieces.size()], total - at);
            s.Run(a.data() + at, b.data() + at, ya.data() + at, yb.data() + at, m, perBin);
            at += m;
        }
        ya.insert(ya.end(), yb.begin(), yb.end());
        return ya;
    };
    const auto whole = run({total});
    ASSERT_NE(std::count(whole.begin(), whole.end(), 0), static_cast<long>(whole.size()));
    for (const auto& pieces : std::vector<std::vector<int>>{{1}, {1000}, {1024}, {5000}, {1, 1000, 1024, 5000, 0, 7}}) {
        SCOPED_TRACE(pieces.size() == 1 ? pieces[0] : -1);
        EXPECT_EQ(run(pieces), whole);
    }
}

TEST(FrameStream, ResetStartsAFreshStream)
{
    const int total = kLatency + 2 * kFrame;
    const auto a = Music(total, 5, 9000.0);
    const auto b = Music(total, 6, 7000.0);
    auto halve = [](float* sa, float* sb, int bins) {
        for (int j = 0; j < 2 * bins; ++j) sa[j] = 0.5f * sa[j] + 0.25f * sb[j];
    };
    for (bool reference : {false, true}) {
        SCOPED_TRACE(reference ? "complex transforms" : "real transforms");
        std::vector<int32_t> fresh[2], again[2];
        for (auto* y : {fresh, again})
            for (int k = 0; k < 2; ++k) y[k].resize(total);
        FrameStream s;
        ASSERT_EQ(s.Configure(kFrame, 8, 2, FrameStream::WindowAngle::Double), 0);
        s.UseReferenceTransforms(reference);
        s.Run(a.data(), b.data(), fresh[0].data(), fresh[1].data(), total, halve);
        // Part of another signal, stopped mid-frame, then started anew.
        s.Reset();
        s.Run(b.data(), a.data(), again[0].data(), again[1].data(), kFrame + 300, halve);
        s.Reset();
        EXPECT_EQ(s.WritePos(), kLatency);
        EXPECT_EQ(s.ReadPos(), 0);
        s.Run(a.data(), b.data(), again[0].data(), again[1].data(), total, halve);
        EXPECT_EQ(again[0], fresh[0]);
        EXPECT_EQ(again[1], fresh[1]);
    }
}

TEST(FrameStream, RealAndComplexPathsAgree)
{
    // Edits every bin including DC (with an imaginary part, which the real
    // part of a one-sided inverse ignores); each path drops bin n/2 on its own.
    const int total = kLatency + 4 * kFrame;
    const auto a = Music(total, 11, 10000.0);
    const auto b = Music(total, 12, 10000.0);
    auto perBin = [](float* sa, float* sb, int bins) {
        for (int j = 0; j < bins; ++j) {
            const float re = sa[2 * j], im = sa[2 * j + 1];
            const float c = std::cos(0.01f * j), s = std::sin(0.013f * j);
            sa[2 * j] = re * c - im * s + 0.1f * sb[2 * j];
            sa[2 * j + 1] = re * s + im * c;
        }
        sa[1] += 5000.0f;
    };
    std::vector<int32_t> y[2];
    for (int reference = 0; reference < 2; ++reference) {
        FrameStream s;
        ASSERT_EQ(s.Configure(kFrame, 8, 1, FrameStream::WindowAngle::Double), 0);
        s.UseReferenceTransforms(reference == 1);
        y[reference].resize(total);
        s.Run(a.data(), b.data(), y[reference].data(), nullptr, total, perBin);
    }
    int largest = 0;
    for (int t = 0; t < total; ++t) {
        ASSERT_NEAR(y[0][t], y[1][t], 2) << t;
        largest = std::max(largest, std::abs(y[1][t]));
    }
    EXPECT_GT(largest, 3000);
}

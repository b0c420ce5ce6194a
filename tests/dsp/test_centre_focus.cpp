// The centre focus: what sits in the centre passes, what is opposite in
// phase vanishes, a channel alone is pulled down by levelMix; the per-bin
// rule's fast form against the literal one.
#include "Cntrfocus.h"
#include "IsaLevels.h"
#include "BinKernels.h"
#include "FreqSignals.h"
#include "Vfunc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace spectraltest;

namespace {

constexpr int kBins = kFrame / 2;

// A buffer with 1 s blocks whose output channels hold left and right.
struct FocusBuffer {
    TVocalFunc f;
    bool Start(float strength)
    {
        return f.Setup(2, 44100, 1.0, 1) == 0 && f.SetupCenterFocus(strength) == 0;
    }
    void Load(const std::vector<int32_t>& left, const std::vector<int32_t>& right)
    {
        std::copy(left.begin(), left.end(), f.out[0].get());
        std::copy(right.begin(), right.end(), f.out[1].get());
    }
    std::vector<int32_t> Out(int c) const { return {f.out[c].get(), f.out[c].get() + f.blockLen}; }
};

// Runs the block through ApplyCenterFocus in the engine's pieces.
void ApplyInPieces(TVocalFunc& f)
{
    const int q = f.blockLen / 4, h = f.blockLen / 2;
    f.ApplyCenterFocus(0, q);
    f.ApplyCenterFocus(q, h);
    f.ApplyCenterFocus(q + h, f.blockLen - q - h);
}

} // namespace

TEST(CenterFocus, LevelMixFollowsStrength)
{
    const std::pair<float, float> cases[] = {{0.5f, 0.35f}, {2.0f, 0.2f}, {3.0f, 0.1f}, {4.0f, 0.0f}, {5.5f, 0.0f}};
    for (auto [c, mix] : cases) {
        CenterFocus cf;
        ASSERT_EQ(cf.Configure(kFrame, 8, c), 0);
        EXPECT_NEAR(cf.LevelMix(), mix, 1e-7f) << c;
        EXPECT_GE(cf.LevelMix(), 0.0f);
    }
    CenterFocus cf;
    ASSERT_EQ(cf.Configure(kFrame, 8, 2.0f), 0);
    EXPECT_NEAR(cf.PhaseThreshold()[0], 0.5, 1e-3);
    EXPECT_NEAR(cf.PhaseThreshold()[kBins - 1], (std::numbers::pi / 2 + 1) / 2, 1e-6);
    EXPECT_EQ(cf.Configure(100, 8, 2.0f), 1);
    EXPECT_FALSE(cf.Configured());
}

TEST(CenterFocus, IdenticalChannelsPassUnchanged)
{
    FocusBuffer b;
    ASSERT_TRUE(b.Start(2.0f));
    const auto x = Music(b.f.blockLen, 5, 12000.0);
    b.Load(x, x);
    ApplyInPieces(b.f);
    // Exactly what the untouched frame stream gives: the input delayed by
    // 7168 at the scheme's gain.
    const auto expected = Untouched(x, FrameStream::WindowAngle::SinglePi);
    EXPECT_EQ(b.Out(0), expected);
    EXPECT_EQ(b.Out(1), expected);
    for (int t = kLatency + kFrame; t < b.f.blockLen; ++t) ASSERT_NEAR(expected[t], x[t - kLatency], 0.0072 * 12000 + 1);
}

TEST(CenterFocus, OppositeChannelsVanish)
{
    for (float c : {2.0f, 5.5f}) {
        SCOPED_TRACE(c);
        FocusBuffer b;
        ASSERT_TRUE(b.Start(c));
        const auto x = Music(b.f.blockLen, 6, 12000.0);
        b.Load(x, Scaled(x, -1.0));
        ApplyInPieces(b.f);
        EXPECT_EQ(b.Out(0), std::vector<int32_t>(b.f.blockLen, 0));
        EXPECT_EQ(b.Out(1), std::vector<int32_t>(b.f.blockLen, 0));
    }
}

TEST(CenterFocus, LeftAloneIsScaledByLevelMix)
{
    // With c = 0.3 every phase threshold lies above pi, so nothing fades and
    // the left channel comes out at levelMix (0.37) times the untouched stream.
    FocusBuffer b;
    ASSERT_TRUE(b.Start(0.3f));
    ASSERT_NEAR(b.f.centerFocus.Focus().LevelMix(), 0.37f, 1e-7f);
    const auto x = Music(b.f.blockLen, 7, 12000.0);
    b.Load(x, std::vector<int32_t>(b.f.blockLen, 0));
    ApplyInPieces(b.f);
    const auto untouched = Untouched(x, FrameStream::WindowAngle::SinglePi);
    const auto left = b.Out(0);
    for (int t = 0; t < b.f.blockLen; ++t) ASSERT_NEAR(left[t], 0.37 * untouched[t], 1.5) << t;
    EXPECT_GT(*std::max_element(left.begin(), left.end()), 2000);
    EXPECT_EQ(b.Out(1), std::vector<int32_t>(b.f.blockLen, 0));
}

struct FocusBinCase {
    const char* what;
    float c;
    int bin;
    float l[2], r[2], expectedL[2], expectedR[2];
};

TEST(CenterFocus, BinRules)
{
    const FocusBinCase cases[] = {
        {"left alone at phase 0 is scaled by levelMix", 2.0f, 100, {3, 0}, {0, 0}, {0.6f, 0}, {0, 0}},
        {"left alone a quarter turn from phase 0 fades out", 2.0f, 0, {0, 3}, {0, 0}, {0, 0}, {0, 0}},
        {"c = 5.5 brings the louder channel to the quieter one", 5.5f, 100, {3, 4}, {0.6f, 0.8f}, {0.6f, 0.8f},
         {0.6f, 0.8f}},
        {"right louder is pulled down, equal phases pass", 2.0f, 7, {1, 1}, {3, 3}, {1, 1}, {1.4f, 1.4f}},
        {"both zero stay zero", 2.0f, 9, {-0.0f, 0}, {0, -0.0f}, {0, 0}, {0, 0}},
    };
    for (const FocusBinCase& k : cases) {
        SCOPED_TRACE(k.what);
        CenterFocus cf;
        ASSERT_EQ(cf.Configure(kFrame, 8, k.c), 0);
        const float* t = cf.PhaseThreshold();
        std::vector<double> cosT(kBins), cosEnd(kBins);
        for (int j = 0; j < kBins; ++j) {
            cosT[j] = spectral::PhaseTestCosine(t[j]);
            cosEnd[j] = spectral::PhaseTestCosine(t[j] + std::numbers::pi / (2.0 * k.c));
        }
        std::vector<double> scratch(3 * kBins);
        for (int fast = 0; fast < 2; ++fast) {
            SCOPED_TRACE(fast ? "fast" : "reference");
            std::vector<float> l(2 * kBins, 0.0f), r(2 * kBins, 0.0f);
            l[2 * k.bin] = k.l[0];
            l[2 * k.bin + 1] = k.l[1];
            r[2 * k.bin] = k.r[0];
            r[2 * k.bin + 1] = k.r[1];
            if (fast)
                spectral::CenterBinsFast(l.data(), r.data(), kBins, k.c, cf.LevelMix(), t, cosT.data(), cosEnd.data(),
                                         scratch.data());
            else
                spectral::CenterBinsReference(l.data(), r.data(), kBins, k.c, cf.LevelMix(), t);
            for (int i = 0; i < 2; ++i) {
                EXPECT_NEAR(l[2 * k.bin + i], k.expectedL[i], 1e-6f);
                EXPECT_NEAR(r[2 * k.bin + i], k.expectedR[i], 1e-6f);
            }
            EXPECT_EQ(std::count(l.begin(), l.end(), 0.0f) + std::count(r.begin(), r.end(), 0.0f),
                      4 * kBins - 4 + std::count(k.expectedL, k.expectedL + 2, 0.0f) +
                          std::count(k.expectedR, k.expectedR + 2, 0.0f));
        }
    }
}

TEST(CenterFocus, FastRuleMatchesTheLiteralOne)
{
    // The fade is continuous, so the two forms agree to rounding everywhere,
    // including bins on the threshold and at the end of the fade.
    for (float c : {0.5f, 2.0f, 5.5f}) {
        SCOPED_TRACE(c);
        CenterFocus cf;
        ASSERT_EQ(cf.Configure(kFrame, 8, c), 0);
        const float* t = cf.PhaseThreshold();
        std::vector<double> cosT(kBins), cosEnd(kBins);
        for (int j = 0; j < kBins; ++j) {
            cosT[j] = spectral::PhaseTestCosine(t[j]);
            cosEnd[j] = spectral::PhaseTestCosine(t[j] + std::numbers::pi / (2.0 * c));
        }
        std::mt19937 rng(static_cast<unsigned>(c * 10));
        std::normal_distribution<double> u(0.0, 1000.0);
        std::uniform_int_distribution<int> pick(0, 7);
        std::vector<float> l(2 * kBins), r(2 * kBins);
        for (int j = 0; j < kBins; ++j) {
            double lre = u(rng), lim = u(rng), rre = u(rng), rim = u(rng);
            const double a = std::atan2(lim, lre), m = std::hypot(rre, rim);
            switch (pick(rng)) {
            case 0: rre = m * std::cos(a + t[j]); rim = m * std::sin(a + t[j]); break;
            case 1: {
                const double end = t[j] + std::numbers::pi / (2.0 * c);
                rre = m * std::cos(a - end);
                rim = m * std::sin(a - end);
                break;
            }
            case 2: lre = lim = 0.0; break;
            case 3: rre = rim = 0.0; break;
            case 4: rre = -lre; rim = -lim; break;
            case 5: rre = lre; rim = lim; break;
            default: break;
            }
            l[2 * j] = static_cast<float>(lre);
            l[2 * j + 1] = static_cast<float>(lim);
            r[2 * j] = static_cast<float>(rre);
            r[2 * j + 1] = static_cast<float>(rim);
        }
        std::vector<float> lRef = l, rRef = r;
        spectral::CenterBinsReference(lRef.data(), rRef.data(), kBins, c, cf.LevelMix(), t);
        std::vector<float> l0 = l, r0 = r;
        std::vector<double> scratch(3 * kBins);
        ForEachIsa([&] {
            l = l0;
            r = r0;
            spectral::CenterBinsFast(l.data(), r.data(), kBins, c, cf.LevelMix(), t, cosT.data(), cosEnd.data(),
                                     scratch.data());
            int faded = 0;
            for (int i = 0; i < 2 * kBins; ++i) {
                ASSERT_NEAR(l[i], lRef[i], 1e-3f + 1e-5f * std::fabs(lRef[i])) << i;
                ASSERT_NEAR(r[i], rRef[i], 1e-3f + 1e-5f * std::fabs(rRef[i])) << i;
                faded += lRef[i] == 0.0f;
            }
            EXPECT_GT(faded, kBins / 10);
        });
    }
}

TEST(CenterFocus, StreamPathsAgreeAndUnconfiguredLeavesTheOutputAlone)
{
    const int total = kLatency + 4 * kFrame;
    const auto left = Music(total, 8, 10000.0);
    auto right = Music(total, 9, 6000.0);
    for (int i = 0; i < total; ++i) right[i] += left[i] / 2;
    std::vector<int32_t> out[2][2];
    for (int reference = 0; reference < 2; ++reference) {
        CenterFocus cf;
        ASSERT_EQ(cf.Configure(kFrame, 8, 2.0f), 0);
        cf.UseReferenceKernels(reference == 1);
        out[reference][0].resize(total);
        out[reference][1].resize(total);
        cf.Process(left.data(), right.data(), out[reference][1].data(), out[reference][0].data(), total);
    }
    int largest = 0;
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < total; ++t) {
            ASSERT_NEAR(out[0][c][t], out[1][c][t], 2) << c << " " << t;
            largest = std::max(largest, std::abs(out[1][c][t]));
        }
    EXPECT_GT(largest, 1000);

    TVocalFunc f;
    ASSERT_EQ(f.Setup(2, 8000, 0.5, 1), 0);
    std::fill(f.out[0].get(), f.out[0].get() + f.blockLen, 55);
    f.ApplyCenterFocus(0, f.blockLen);
    EXPECT_EQ(f.out[0][f.blockLen - 1], 55);
}

// The processing buffer: sizing, unpacking, mid/side, subtraction, packing and
// oversampling.
#include "IsaLevels.h"
#include "Vfunc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <unistd.h>

namespace {

// A small buffer: 40-frame blocks, 60-frame karaoke blocks.
constexpr int kRate = 100;
constexpr double kSeconds = 0.4;

void SetPcm(int16_t* pcm, int channels, int frame, int16_t left, int16_t right)
{
    pcm[frame * channels] = left;
    if (channels == 2) pcm[frame * channels + 1] = right;
}

} // namespace

struct SizeCase {
    int channels, rate;
    double seconds;
    int factor;
    int32_t blockLen, karaokeLen, origBytes, karBytes;
};

TEST(VocalFuncSetup, SizesFollowRateAndBlockLength)
{
    const SizeCase cases[] = {
        {2, 44100, 0.2, 1, 8820, 13230, 35280, 52920},
        {1, 44100, 1.0, 1, 44100, 66150, 88200, 132300},
        {2, 44100, 0.1 * 2.0, 32, 8820, 13230, 35280, 52920},
        {2, 48000, 1.6, 128, 76800, 115200, 307200, 460800},
        {1, 8000, 0.2, 8, 1600, 2400, 3200, 4800},
        {1, 3, 0.5, 1, 1, 2, 2, 4},  // 1.5 frames, 2.25 karaoke frames: both truncated
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " ch " << c.rate << " Hz " << c.seconds << " s x" << c.factor);
        TVocalFunc vf;
        ASSERT_EQ(vf.Setup(c.channels, c.rate, c.seconds, c.factor), 0);
        EXPECT_EQ(vf.blockLen, c.blockLen);
        EXPECT_EQ(vf.karaokeLen, c.karaokeLen);
        EXPECT_EQ(vf.origPcmBytes, c.origBytes);
        EXPECT_EQ(vf.outPcmBytes, c.origBytes);
        EXPECT_EQ(vf.karPcmBytes, c.karBytes);
        EXPECT_EQ(vf.karaokeSign, 1);
        EXPECT_EQ(vf.ovspFactor, c.factor);
        // Every array exists for both channels and starts zeroed, the
        // oversampled ones at their full length.
        for (int ch = 0; ch < 2; ++ch) {
            ASSERT_TRUE(vf.orig[ch] && vf.kar[ch] && vf.karOvsp[ch] && vf.out[ch]);
            EXPECT_EQ(vf.karOvsp[ch][int64_t(c.karaokeLen) * c.factor - 1], 0);
            EXPECT_EQ(vf.out[ch][c.blockLen - 1], 0);
        }
        EXPECT_EQ(vf.karMonoOvsp[int64_t(c.karaokeLen) * c.factor - 1], 0);
        EXPECT_EQ(vf.outPcm[c.blockLen * c.channels - 1], 0);
    }
}

TEST(VocalFuncSetup, RejectsSizesThatCannotBeHeld)
{
    struct Bad {
        const char* what;
        int channels, rate;
        double seconds;
        int factor;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Bad cases[] = {
        {"BlkSize=2000000000", 2, 44100, 2000000000 * 0.001 * 2.0, 1},
        {"OvspMx=100000", 2, 44100, 0.2, 100000},
        {"karaoke bytes just beyond int32", 2, 1, 357913942.0, 1},
        {"oversampled array just beyond 2 GiB", 1, 1000, 2.0, 178957},
        {"one-channel karaoke array beyond 2 GiB", 1, 1, 357913942.0, 1},
        {"no channels", 0, 44100, 0.2, 1},
        {"three channels", 3, 44100, 0.2, 1},
        {"zero rate", 2, 0, 0.2, 1},
        {"negative rate", 2, -44100, 0.2, 1},
        {"factor zero", 2, 44100, 0.2, 0},
        {"negative factor", 2, 44100, 0.2, -32},
        {"zero seconds", 2, 44100, 0.0, 1},
        {"negative seconds", 2, 44100, -0.2, 1},
        {"under one frame", 2, 44100, 1e-6, 1},
        {"NaN seconds", 2, 44100, std::nan(""), 1},
        {"infinite seconds", 2, 44100, inf, 1},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        TVocalFunc vf;
        EXPECT_EQ(vf.Setup(c.channels, c.rate, c.seconds, c.factor), 1);
        EXPECT_EQ(vf.blockLen, 0);
        EXPECT_EQ(vf.karaokeLen, 0);
        EXPECT_EQ(vf.origPcmBytes, 0);
        EXPECT_EQ(vf.karPcmBytes, 0);
        EXPECT_FALSE(vf.orig[0] || vf.kar[1] || vf.karOvsp[0] || vf.outPcm || vf.karMonoOvsp);
        // Nothing on a failed buffer touches memory.
        vf.ClearBuffers();
        vf.UnpackInput();
        vf.MakeMid();
        vf.OversampleKaraoke();
        vf.OversampleKaraokeMono();
        vf.SubtractStereo(0, 1.0);
        vf.SubtractOvspMid(3, 1.0);
        vf.PackOutput();
        vf.ApplyLowPass(0, 100);
        EXPECT_EQ(vf.FindShiftStereo(5, 5, 1), 5);
        EXPECT_EQ(vf.FindGainOvspMono(2, 0.02, 0.2, 1.0), 1.0);
        // And it can be set up again.
        EXPECT_EQ(vf.Setup(2, 44100, 0.2, 1), 0);
        EXPECT_EQ(vf.blockLen, 8820);
    }
}

TEST(VocalFuncSetup, RejectsMoreMemoryThanInstalled)
{
    // Sizes that pass the 2 GiB check for every array but need 26,485,631,628
    // bytes in all: 357,913,941-frame blocks, 536,870,911-frame karaoke blocks.
    const uint64_t needed = 26485631628u;
    const uint64_t installed = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
    if (installed >= needed) GTEST_SKIP() << "this machine could hold the arrays";
    TVocalFunc vf;
    EXPECT_EQ(vf.Setup(2, 1, 357913941.0, 1), 1);
    EXPECT_EQ(vf.blockLen, 0);
}

class VocalFuncBlock : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        ch = GetParam();
        ASSERT_EQ(vf.Setup(ch, kRate, kSeconds, 4), 0);
        ASSERT_EQ(vf.blockLen, 40);
        ASSERT_EQ(vf.karaokeLen, 60);
    }
    TVocalFunc vf;
    int ch = 0;
};

INSTANTIATE_TEST_SUITE_P(Channels, VocalFuncBlock, testing::Values(1, 2));

TEST_P(VocalFuncBlock, UnpackSplitsChannelsAndAppliesKaraokeSign)
{
    for (int i = 0; i < vf.blockLen; ++i) SetPcm(vf.origPcm.get(), ch, i, int16_t(100 * i - 2000), int16_t(-7 * i));
    for (int i = 0; i < vf.karaokeLen; ++i) SetPcm(vf.karPcm.get(), ch, i, int16_t(3 * i + 1), int16_t(-50 * i));
    SetPcm(vf.karPcm.get(), ch, 5, -32768, -32768);
    SetPcm(vf.karPcm.get(), ch, 6, 32767, 32767);

    for (bool invert : {false, true}) {
        SCOPED_TRACE(invert ? "inverted" : "in phase");
        vf.SetKaraokeInvert(invert);
        EXPECT_EQ(vf.karaokeSign, invert ? -1 : 1);
        vf.UnpackInput();
        const int s = invert ? -1 : 1;
        for (int i = 0; i < vf.blockLen; ++i) {
            ASSERT_EQ(vf.orig[0][i], 100 * i - 2000);
            ASSERT_EQ(vf.orig[1][i], ch == 2 ? -7 * i : 0);
        }
        for (int i = 0; i < vf.karaokeLen; ++i) {
            if (i == 5 || i == 6) continue;
            ASSERT_EQ(vf.kar[0][i], s * (3 * i + 1));
            ASSERT_EQ(vf.kar[1][i], ch == 2 ? s * (-50 * i) : 0);
        }
        // -32768 inverted is +32768 in the 32-bit arrays.
        EXPECT_EQ(vf.kar[0][5], s * -32768);
        EXPECT_EQ(vf.kar[0][6], s * 32767);
        EXPECT_EQ(vf.kar[1][5], ch == 2 ? s * -32768 : 0);
    }
}

TEST_P(VocalFuncBlock, MidAndSideSumAndSubtractTheChannels)
{
    for (int i = 0; i < vf.blockLen; ++i) SetPcm(vf.origPcm.get(), ch, i, int16_t(i * 11), int16_t(-i * 5));
    for (int i = 0; i < vf.karaokeLen; ++i) SetPcm(vf.karPcm.get(), ch, i, int16_t(i), int16_t(i * 3));
    SetPcm(vf.origPcm.get(), ch, 0, 32767, 32767);
    SetPcm(vf.origPcm.get(), ch, 1, -32768, 32767);
    vf.UnpackInput();
    const int r = ch == 2 ? 1 : 0;  // right channel present
    vf.MakeMid();
    EXPECT_EQ(vf.origMono[0], 32767 + r * 32767);  // no halving, no 16-bit limit
    EXPECT_EQ(vf.origMono[1], -32768 + r * 32767);
    for (int i = 2; i < vf.blockLen; ++i) ASSERT_EQ(vf.origMono[i], i * 11 - r * i * 5);
    for (int i = 0; i < vf.karaokeLen; ++i) ASSERT_EQ(vf.karMono[i], i + r * i * 3);
    vf.MakeSide();
    EXPECT_EQ(vf.origMono[1], -32768 - r * 32767);
    for (int i = 2; i < vf.blockLen; ++i) ASSERT_EQ(vf.origMono[i], i * 11 + r * i * 5);
    for (int i = 0; i < vf.karaokeLen; ++i) ASSERT_EQ(vf.karMono[i], i - r * i * 3);
}

TEST_P(VocalFuncBlock, ClearBuffersZeroesInputsOnly)
{
    const auto fill = [](auto& a, size_t n) { std::memset(a.get(), 0x5a, n * sizeof(a[0])); };
    for (int c = 0; c < 2; ++c) {
        fill(vf.orig[c], 40), fill(vf.kar[c], 60), fill(vf.out[c], 40), fill(vf.karOvsp[c], 240);
    }
    fill(vf.origPcm, 40 * ch), fill(vf.karPcm, 60 * ch), fill(vf.outPcm, 40 * ch);
    fill(vf.origMono, 40), fill(vf.karMono, 60), fill(vf.karMonoOvsp, 240), fill(vf.filterScratch, 40);
    vf.ClearBuffers();
    const auto zero = [](const auto& a, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (a[i] != 0) return false;
        return true;
    };
    EXPECT_TRUE(zero(vf.orig[0], 40) && zero(vf.orig[1], 40) && zero(vf.kar[0], 60) && zero(vf.kar[1], 60));
    EXPECT_TRUE(zero(vf.origPcm, 40 * ch) && zero(vf.karPcm, 60 * ch));
    EXPECT_TRUE(zero(vf.origMono, 40) && zero(vf.karMono, 60));
    EXPECT_EQ(vf.out[1][39], 0x5a5a5a5a);
    EXPECT_EQ(vf.outPcm[40 * ch - 1], 0x5a5a);
    EXPECT_EQ(vf.karOvsp[0][239], 0x5a5a5a5a);
    EXPECT_EQ(vf.karMonoOvsp[0], 0x5a5a5a5a);
    EXPECT_EQ(vf.filterScratch[0], 0x5a5a5a5a);
}

TEST_P(VocalFuncBlock, SubtractionsTruncateTowardZero)
{
    // orig, kar at the shift, gain -> out (stereo form, both channels alike)
    struct Row {
        int32_t o, k;
        double gain;
        int32_t out;
    };
    const Row rows[] = {
        {0, 3, 0.5, -1},        // -1.5
        {0, -3, 0.5, 1},        // 1.5
        {10, 3, 0.5, 8},        // 8.5
        {-7, 3, 1.0, -10},
        {100, 99, 1.02, -0},    // 100 - 100.98 = -0.98
        {5, 7, 0.0, 5},
        {-32768, 32768, 1.2, -72089},  // -32768 - 39321.6
    };
    const int shift = 7;
    for (int i = 0; i < vf.blockLen; ++i) {
        const Row& r = rows[i % std::size(rows)];
        for (int c = 0; c < 2; ++c) {
            vf.orig[c][i] = r.o;
            vf.kar[c][shift + i] = r.k;
            vf.karOvsp[c][shift + 4 * i] = r.k;
        }
    }
    for (int i = 0; i < vf.blockLen; ++i) {
        const Row& r = rows[i % std::size(rows)];
        // All rows of one gain at a time.
        vf.SubtractStereo(shift, r.gain);
        ASSERT_EQ(vf.out[0][i], r.out) << i;
        ASSERT_EQ(vf.out[1][i], r.out) << i;
        vf.SubtractOvspStereo(shift, r.gain);
        ASSERT_EQ(vf.out[0][i], r.out) << i;
        ASSERT_EQ(vf.out[1][i], r.out) << i;
    }
}

TEST_P(VocalFuncBlock, MidSubtractionHalvesTheSumDifference)
{
    // (o0, o1, k0, k1, gain) -> out on both channels
    struct Row {
        int32_t o0, o1, k0, k1;
        double gain;
        int32_t out;
    };
    const Row rows[] = {
        {3, 4, 1, 2, 1.0, 2},            // (7 - 3) / 2
        {1, 0, 1, 1, 1.0, 0},            // -0.5
        {-1, -2, 0, 0, 1.0, -1},         // -1.5
        {32767, 32767, -32768, -32768, 1.0, 65535},
        {10, 10, 5, 5, 0.5, 7},          // (20 - 5) / 2 = 7.5
    };
    const int shift = 3;
    for (const Row& r : rows) {
        for (int i = 0; i < vf.blockLen; ++i) {
            vf.orig[0][i] = r.o0, vf.orig[1][i] = r.o1;
            vf.kar[0][shift + i] = r.k0, vf.kar[1][shift + i] = r.k1;
            vf.karOvsp[0][shift + 4 * i] = r.k0, vf.karOvsp[1][shift + 4 * i] = r.k1;
        }
        vf.SubtractMid(shift, r.gain);
        EXPECT_EQ(vf.out[0][0], r.out);
        EXPECT_EQ(vf.out[1][vf.blockLen - 1], r.out);
        vf.out[0][0] = vf.out[1][vf.blockLen - 1] = 12345;
        vf.SubtractOvspMid(shift, r.gain);
        EXPECT_EQ(vf.out[0][0], r.out);
        EXPECT_EQ(vf.out[1][vf.blockLen - 1], r.out);
    }
}

TEST_P(VocalFuncBlock, SubtractStereoWithZeroGainCopiesTheOriginal)
{
    for (int i = 0; i < vf.blockLen; ++i) SetPcm(vf.origPcm.get(), ch, i, int16_t(i * 700 - 9000), int16_t(i * -13));
    for (int i = 0; i < vf.karaokeLen; ++i) SetPcm(vf.karPcm.get(), ch, i, 1234, -4321);
    vf.UnpackInput();
    vf.SubtractStereo(0, 0.0);
    for (int i = 0; i < vf.blockLen; ++i) {
        ASSERT_EQ(vf.out[0][i], i * 700 - 9000);
        ASSERT_EQ(vf.out[1][i], ch == 2 ? i * -13 : 0);  // mono: channel 1 is silent
    }
    vf.PackOutput();
    for (int i = 0; i < vf.blockLen; ++i) {
        ASSERT_EQ(vf.outPcm[i * ch], i * 700 - 9000);
        if (ch == 2) {
            ASSERT_EQ(vf.outPcm[i * ch + 1], i * -13);
        }
    }
}

TEST_P(VocalFuncBlock, SubtractionReadsKaraokeBeyondTheArraysAsSilence)
{
    for (int i = 0; i < vf.blockLen; ++i) vf.orig[0][i] = vf.orig[1][i] = 1000 + i;
    for (int i = 0; i < vf.karaokeLen; ++i) vf.kar[0][i] = vf.kar[1][i] = 1;
    for (int i = 0; i < vf.karaokeLen * 4; ++i) vf.karOvsp[0][i] = vf.karOvsp[1][i] = 1;
    // The last 10 frames of the block have no karaoke behind them.
    vf.SubtractStereo(30, 1.0);
    for (int i = 0; i < vf.blockLen; ++i) ASSERT_EQ(vf.out[0][i], 1000 + i - (i < 30 ? 1 : 0)) << i;
    vf.SubtractMid(-5, 1.0);
    for (int i = 0; i < vf.blockLen; ++i) ASSERT_EQ(vf.out[1][i], 1000 + i - (i >= 5 ? 1 : 0)) << i;
    vf.SubtractOvspStereo(4 * 30 + 2, 1.0);  // 122 + 4i reaches the 240 entries up to i = 29
    for (int i = 0; i < vf.blockLen; ++i) ASSERT_EQ(vf.out[1][i], 1000 + i - (i < 30 ? 1 : 0)) << i;
}

TEST_P(VocalFuncBlock, PackOutputSoftLimitsAndSaturates)
{
    // out -> 16-bit
    const int32_t rows[][2] = {
        {0, 0}, {31129, 31129}, {31130, 31129}, {31131, 31130}, {32000, 31564}, {34405, 32767},
        {34406, 32767}, {40000, 32767}, {-31129, -31129}, {-31130, -31129}, {-31131, -31130},
        {-31132, -31130}, {-31133, -31131}, {-34407, -32768}, {-40000, -32768}, {65536, 32767},
        {65537, 32767}, {-65536, -32768}, {-65537, -32768}, {2147483647, 32767}, {-2147483647 - 1, -32768},
        {-5, -5},
    };
    for (int i = 0; i < vf.blockLen; ++i) {
        vf.out[0][i] = rows[i % std::size(rows)][0];
        vf.out[1][i] = rows[(i + 7) % std::size(rows)][0] / -2 - i % 2;
    }
    ForEachIsa([&] {
        std::memset(vf.outPcm.get(), 0x77, size_t(vf.outPcmBytes));
        vf.PackOutput();
        for (int i = 0; i < vf.blockLen; ++i) {
            ASSERT_EQ(vf.outPcm[i * ch], rows[i % std::size(rows)][1]) << rows[i % std::size(rows)][0];
            if (ch == 2) {
                const int32_t v = vf.out[1][i];
                int32_t expected = v > 31129 ? 31129 + (v - 31129) / 2 : v < -31129 ? -31129 + (v + 31129) / 2 : v;
                expected = std::clamp(expected, -32768, 32767);
                ASSERT_EQ(vf.outPcm[i * 2 + 1], expected) << v;
            }
        }
    });
}

// The energies over part of a block, against the plain sums in double: equal
// to the last bit for samples within +-2^19 (the sums are exact) and beyond
// (summed in double as the plain loop does).
TEST_P(VocalFuncBlock, SumSquaresIsThePlainSumInDouble)
{
    for (int32_t peak : {32767, (1 << 19) - 1, 1 << 19, 2147483647}) {
        SCOPED_TRACE(peak);
        for (int i = 0; i < vf.blockLen; ++i)
            for (int c = 0; c < 2; ++c) {
                vf.orig[c][i] = int32_t((int64_t(i) * 7919 + c * 104729) % (2 * int64_t(peak) + 1) - peak);
                vf.out[c][i] = i % 5 == 0 ? (i % 2 ? peak : -peak) : -vf.orig[c][i] / 3;
            }
        vf.orig[0][vf.blockLen - 1] = -peak - 1;  // the negative limit (int32's own below 2^31 - 1)
        const int from = 3;
        double wantOrig = 0, wantOut = 0;
        for (int c = 0; c < ch; ++c)
            for (int i = from; i < vf.blockLen; ++i) {
                wantOrig += double(vf.orig[c][i]) * vf.orig[c][i];
                wantOut += double(vf.out[c][i]) * vf.out[c][i];
            }
        ForEachIsa([&] {
            double gotOrig = -1, gotOut = -1;
            vf.SumSquares(from, vf.blockLen, gotOrig, gotOut);  // clipped to the block
            EXPECT_EQ(gotOrig, wantOrig);
            EXPECT_EQ(gotOut, wantOut);
        });
    }
}

TEST_P(VocalFuncBlock, OversamplingInterpolatesLinearly)
{
    for (int i = 0; i < vf.karaokeLen; ++i) {
        vf.kar[0][i] = (i % 2 == 0) ? 0 : -3;   // truncation toward zero of -0.75, -1.5, ...
        vf.kar[1][i] = i * 8 + (i % 3);
        vf.karMono[i] = 32768 - 65536 * (i % 2);
    }
    const int32_t sentinel = 0x1234567;
    const int64_t n = int64_t(vf.karaokeLen) * 4;
    for (int64_t j = n - 4; j < n; ++j) vf.karOvsp[0][j] = vf.karOvsp[1][j] = vf.karMonoOvsp[j] = sentinel;
    for (int64_t j = 0; j < n; ++j) vf.karOvsp[1][j] = ch == 1 ? sentinel : vf.karOvsp[1][j];
    vf.OversampleKaraoke();
    vf.OversampleKaraokeMono();
    // From 0 to -3: 0, -0.75, -1.5, -2.25; from -3 to 0: -3, -2.25, -1.5, -0.75.
    const int32_t up[4] = {0, 0, -1, -2}, down[4] = {-3, -2, -1, 0};
    for (int k = 0; k + 1 < vf.karaokeLen; ++k) {
        for (int l = 0; l < 4; ++l) {
            ASSERT_EQ(vf.karOvsp[0][k * 4 + l], k % 2 == 0 ? up[l] : down[l]) << k << "," << l;
            const double mono = vf.karMono[k] + (l / 4.0) * (vf.karMono[k + 1] - vf.karMono[k]);
            ASSERT_EQ(vf.karMonoOvsp[k * 4 + l], int32_t(std::trunc(mono)));
            if (ch == 2) {
                const double v = vf.kar[1][k] + (l / 4.0) * (vf.kar[1][k + 1] - vf.kar[1][k]);
                ASSERT_EQ(vf.karOvsp[1][k * 4 + l], int32_t(std::trunc(v)));
            }
        }
    }
    // The last factor entries keep what they held; a one-channel recording
    // leaves karOvsp[1] alone.
    for (int64_t j = n - 4; j < n; ++j) {
        EXPECT_EQ(vf.karOvsp[0][j], sentinel);
        EXPECT_EQ(vf.karMonoOvsp[j], sentinel);
    }
    if (ch == 1) {
        EXPECT_EQ(vf.karOvsp[1][0], sentinel);
    }
}

TEST(VocalFuncOversample, FactorOneCopiesAllButTheLastSample)
{
    TVocalFunc vf;
    ASSERT_EQ(vf.Setup(2, kRate, kSeconds, 1), 0);
    for (int i = 0; i < vf.karaokeLen; ++i) vf.kar[0][i] = vf.kar[1][i] = i * 37 - 1000;
    vf.karOvsp[0][vf.karaokeLen - 1] = 99;
    vf.OversampleKaraoke();
    for (int i = 0; i + 1 < vf.karaokeLen; ++i) ASSERT_EQ(vf.karOvsp[0][i], i * 37 - 1000);
    EXPECT_EQ(vf.karOvsp[0][vf.karaokeLen - 1], 99);
}

TEST(VocalFuncOversample, InterpolatedValuesStayBetweenTheirNeighbours)
{
    // Even the widest 32-bit steps give values between the two samples.
    TVocalFunc vf;
    ASSERT_EQ(vf.Setup(1, kRate, kSeconds, 7), 0);
    const int32_t big = std::numeric_limits<int32_t>::max(), small = std::numeric_limits<int32_t>::min();
    for (int i = 0; i < vf.karaokeLen; ++i) vf.kar[0][i] = i % 3 == 0 ? big : i % 3 == 1 ? small : small + 1;
    ForEachIsa([&] {
        std::fill_n(vf.karOvsp[0].get(), vf.karaokeLen * 7, 0);
        vf.OversampleKaraoke();
        for (int k = 0; k + 1 < vf.karaokeLen; ++k) {
            const int64_t a = vf.kar[0][k], b = vf.kar[0][k + 1];
            for (int l = 0; l < 7; ++l) {
                const int32_t v = vf.karOvsp[0][k * 7 + l];
                ASSERT_GE(v, std::min(a, b));
                ASSERT_LE(v, std::max(a, b));
                ASSERT_EQ(v, int32_t(std::trunc(double(a) + (l / 7.0) * double(b - a))));
            }
        }
    });
}

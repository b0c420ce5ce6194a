// Shift and gain searches: candidate order, planted matches in every variant,
// gain candidate sets, and the fast kernels against the reference loops.
#include "IsaLevels.h"
#include "SearchKernels.h"
#include "Vfunc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

using search::Cost;
using search::Impl;
using search::MatchSet;

namespace {

// A buffer of 0.4 s at 1000 Hz: 400-frame blocks, 600-frame karaoke blocks.
constexpr int kRate = 1000;
constexpr double kSeconds = 0.4;
constexpr int kFactor = 8;

// Band-limited noise in the 16-bit range: smooth enough that linear
// interpolation means something, rough enough that every shift differs.
std::vector<int32_t> Signal(int n, unsigned seed, int amplitude = 12000)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<int32_t> v(static_cast<size_t>(n));
    double a = 0.0, b = 0.0;
    for (int i = 0; i < n; ++i) {
        a = 0.8 * a + white(rng);
        b = 0.6 * b + a;
        v[size_t(i)] = int32_t(std::clamp(b * amplitude / 8.0, -32768.0, 32767.0));
    }
    return v;
}

std::vector<int64_t> ShiftCandidates(int center, int range, int step)
{
    std::vector<int64_t> got;
    search::ForEachShiftCandidate(center, range, step, [&](int64_t p) { got.push_back(p); });
    return got;
}

std::vector<double> CenterOutGains(double step, double range, double center)
{
    std::vector<double> got;
    search::ForEachGainCandidateCenterOut(step, range, center, [&](double g) { got.push_back(g); });
    return got;
}

std::vector<double> AscendingGains(double step, double range, double center)
{
    std::vector<double> got;
    search::ForEachGainCandidateAscending(step, range, center, [&](double g) { got.push_back(g); });
    return got;
}

} // namespace

TEST(ShiftCandidates, GoCenterOutPositiveSideFirstAndNeverBelowZero)
{
    struct Row {
        int center, range, step;
        std::vector<int64_t> expected;
    };
    const Row rows[] = {
        {5, 2, 1, {5, 6, 4, 7, 3}},
        {1, 3, 1, {1, 2, 0, 3, 4}},
        {0, 2, 1, {0, 1, 2}},
        {10, 4, 2, {10, 12, 8, 14, 6}},
        {10, 5, 2, {10, 12, 8, 14, 6}},
        {10, 1, 2, {10}},       // range below step: the center alone
        {10, 0, 1, {10}},
        {10, 3, 0, {10}},       // no step: the center alone
        {10, -1, 1, {}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ShiftCandidates(r.center, r.range, r.step), r.expected)
            << r.center << " " << r.range << " " << r.step;
    }
}

TEST(GainCandidates, CoarseAndFinePassesOfTheEngine)
{
    // Coarse: 21 gains, 1.0 first, then +-0.02 pairs out to 1.2 and 0.8.
    const std::vector<double> coarse = CenterOutGains(0.02, 0.2, 1.0);
    ASSERT_EQ(coarse.size(), 21u);
    EXPECT_EQ(coarse[0], 1.0);
    EXPECT_NEAR(coarse[1], 1.02, 1e-12);
    EXPECT_NEAR(coarse[2], 0.98, 1e-12);
    EXPECT_NEAR(coarse[19], 1.2, 1e-12);
    EXPECT_NEAR(coarse[20], 0.8, 1e-12);
    // Fine: the offset grows by repeated addition of 0.002 and passes 0.03
    // before reaching it, so the last pair is 0.028 away.
    const std::vector<double> fine = CenterOutGains(0.002, 0.03, 1.0);
    ASSERT_EQ(fine.size(), 29u);
    EXPECT_NEAR(fine[27], 1.028, 1e-12);
    EXPECT_NEAR(fine[28], 0.972, 1e-12);
    // Ascending (oversampled searches): from center - range while at most
    // center + range; the coarse pass never reaches 1.2.
    const std::vector<double> up = AscendingGains(0.02, 0.2, 1.0);
    ASSERT_EQ(up.size(), 20u);
    EXPECT_EQ(up.front(), 0.8);
    EXPECT_NEAR(up.back(), 1.18, 1e-12);
    EXPECT_EQ(AscendingGains(0.002, 0.03, 1.0).size(), 31u);
    // Steps that cannot advance try a single gain instead of looping forever.
    EXPECT_EQ(CenterOutGains(0.0, 0.2, 1.0), std::vector<double>{1.0});
    EXPECT_EQ(CenterOutGains(-0.02, 0.2, 1.0), std::vector<double>{1.0});
    EXPECT_EQ(AscendingGains(0.0, 0.2, 1.0), std::vector<double>{0.8});
    EXPECT_EQ(AscendingGains(std::nan(""), 0.2, 1.0), std::vector<double>{0.8});
    EXPECT_TRUE(CenterOutGains(0.02, std::nan(""), 1.0).empty());
}

// --- The TVocalFunc searches on planted matches -------------------------------

enum class Variant { Plain, Stereo, Mono, MonoN, OvspStereo, OvspMono };

struct VariantInfo {
    Variant v;
    const char* name;
    bool oversampled;
    bool mono;  // compares origMono with karMono
};

const VariantInfo kVariants[] = {
    {Variant::Plain, "Plain", false, true},           {Variant::Stereo, "Stereo", false, false},
    {Variant::Mono, "Mono", false, true},             {Variant::MonoN, "MonoN", false, true},
    {Variant::OvspStereo, "OvspStereo", true, false}, {Variant::OvspMono, "OvspMono", true, true},
};

int Find(const TVocalFunc& vf, Variant v, int center, int range, int step)
{
    switch (v) {
    case Variant::Plain: return vf.FindShiftPlain(center, range, step);
    case Variant::Stereo: return vf.FindShiftStereo(center, range, step);
    case Variant::Mono: return vf.FindShiftMono(center, range, step);
    case Variant::MonoN: return vf.FindShiftMonoN(center, range, vf.blockLen / 2, step);
    case Variant::OvspStereo: return vf.FindShiftOvspStereo(center, range, step);
    case Variant::OvspMono: return vf.FindShiftOvspMono(center, range, step);
    }
    return -1;
}

class SearchFixture : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        ch = GetParam();
        ASSERT_EQ(vf.Setup(ch, kRate, kSeconds, kFactor), 0);
        ASSERT_EQ(vf.blockLen, 400);
        ASSERT_EQ(vf.karaokeLen, 600);
    }

    // Random karaoke on every array; mid and the oversampled arrays formed
    // from it as the engine does.
    void FillKaraoke(unsigned seed)
    {
        const auto k0 = Signal(vf.karaokeLen, seed), k1 = Signal(vf.karaokeLen, seed + 1);
        for (int i = 0; i < vf.karaokeLen; ++i) {
            vf.kar[0][i] = k0[size_t(i)];
            vf.kar[1][i] = ch == 2 ? k1[size_t(i)] : 0;
            vf.karMono[i] = vf.kar[0][i] + vf.kar[1][i];
        }
        vf.OversampleKaraoke();
        vf.OversampleKaraokeMono();
    }

    // The original block equal to the karaoke at position p of the variant's arrays.
    void PlantOriginal(const VariantInfo& info, int p)
    {
        const int f = info.oversampled ? kFactor : 1;
        for (int i = 0; i < vf.blockLen; ++i) {
            const int64_t idx = p + int64_t(f) * i;
            for (int c = 0; c < 2; ++c) vf.orig[c][i] = info.oversampled ? vf.karOvsp[c][idx] : vf.kar[c][idx];
            vf.origMono[i] = info.oversampled ? vf.karMonoOvsp[idx] : vf.karMono[idx];
        }
    }

    TVocalFunc vf;
    int ch = 0;
};

INSTANTIATE_TEST_SUITE_P(Channels, SearchFixture, testing::Values(1, 2));

TEST_P(SearchFixture, EverySearchFindsAPlantedMatch)
{
    for (bool reference : {false, true}) {
        vf.UseReferenceKernels(reference);
        for (const VariantInfo& info : kVariants) {
            FillKaraoke(7);
            const int f = info.oversampled ? kFactor : 1;
            // Whole frames and, oversampled, positions between them.
            const int plants[] = {100 * f, 100 * f + (f > 1 ? 3 : 1), 63 * f + (f > 1 ? 5 : 0)};
            for (int p : plants) {
                SCOPED_TRACE(std::string(info.name) + " at " + std::to_string(p) + (reference ? " reference" : ""));
                PlantOriginal(info, p);
                const int range = 100 * f;
                EXPECT_EQ(Find(vf, info.v, 100 * f, range, 1), p);
                // Coarse then fine, as the engine searches oversampled arrays.
                if (info.oversampled) {
                    const int coarse = Find(vf, info.v, 100 * f, range, f);
                    EXPECT_LE(std::abs(coarse - p), f - 1);
                    EXPECT_EQ(Find(vf, info.v, coarse, f - 1, 1), p);
                }
            }
        }
    }
}

TEST_P(SearchFixture, EqualCostsKeepTheCenterAndTheFirstOfATie)
{
    for (const VariantInfo& info : kVariants) {
        SCOPED_TRACE(info.name);
        const int f = info.oversampled ? kFactor : 1;
        // All zero: every candidate costs 0, the center is tried first.
        for (int c = 0; c < 2; ++c) {
            std::fill_n(vf.orig[c].get(), vf.blockLen, 0);
            std::fill_n(vf.kar[c].get(), vf.karaokeLen, 0);
            std::fill_n(vf.karOvsp[c].get(), vf.karaokeLen * kFactor, 0);
        }
        std::fill_n(vf.origMono.get(), vf.blockLen, 0);
        std::fill_n(vf.karMono.get(), vf.karaokeLen, 0);
        std::fill_n(vf.karMonoOvsp.get(), vf.karaokeLen * kFactor, 0);
        EXPECT_EQ(Find(vf, info.v, 50 * f, 40 * f, 1), 50 * f);

        // A karaoke of period 6 frames matching the original at center +- 3
        // (and not at the center): the +3 side is evaluated first and wins.
        const int pattern[6] = {1000, -500, 3000, 200, -2500, 800};
        const int center = 50 * f;
        for (int64_t j = 0; j < int64_t(vf.karaokeLen) * f; ++j) {
            const int64_t rel = j - (center + 3 * f);
            const int64_t frame = rel >= 0 ? rel / f : -((-rel + f - 1) / f);  // rounded down
            const int v = pattern[((frame % 6) + 6) % 6];
            if (info.oversampled) {
                vf.karOvsp[0][j] = vf.karOvsp[1][j] = v;
                vf.karMonoOvsp[j] = v;
            } else {
                vf.kar[0][j] = vf.kar[1][j] = v;
                vf.karMono[j] = v;
            }
        }
        for (int i = 0; i < vf.blockLen; ++i) vf.orig[0][i] = vf.orig[1][i] = vf.origMono[i] = pattern[i % 6];
        EXPECT_EQ(Find(vf, info.v, center, 5 * f, f), center + 3 * f);
    }
}

TEST_P(SearchFixture, CandidatesOutsideTheKaraokeArraysAreSkipped)
{
    FillKaraoke(11);
    const VariantInfo& stereo = kVariants[1];
    // Centre 0: only upward; a match at 3 is found without reading below 0.
    PlantOriginal(stereo, 3);
    EXPECT_EQ(vf.FindShiftStereo(0, 5, 1), 3);
    EXPECT_EQ(vf.FindShiftMono(0, 0, 1), 0);
    // Range smaller than the step: only the center, even next to a perfect match.
    EXPECT_EQ(vf.FindShiftStereo(1, 1, 2), 1);
    // The last fitting position is karaokeLen - blockLen = 200; candidates
    // above it would read past the array and are not tried.
    PlantOriginal(stereo, 200);
    EXPECT_EQ(vf.FindShiftStereo(190, 100, 1), 200);
    EXPECT_EQ(vf.FindShiftStereo(250, 100, 1), 200);
    EXPECT_EQ(vf.FindShiftOvspStereo(300 * kFactor, 10, 1), 300 * kFactor);  // nothing fits: the center
    EXPECT_EQ(vf.FindShiftMonoN(-4, 2, 50, 1), -4);
    // A count beyond the block compares the block.
    EXPECT_EQ(vf.FindShiftMonoN(10, 10, 100000, 1), vf.FindShiftMono(10, 10, 1));
    // Gains at a shift that does not fit: the center.
    EXPECT_EQ(vf.FindGainStereo(201, 0.02, 0.2, 1.0), 1.0);
    EXPECT_EQ(vf.FindGainOvspMono(-1, 0.02, 0.2, 0.9), 0.9);
}

TEST_P(SearchFixture, GainSearchesFindAPlantedGain)
{
    FillKaraoke(21);
    const int shift = 37;
    struct Row {
        double gain, step, range, center, expected;
        bool ascending;
    };
    const Row rows[] = {
        {1.0, 0.02, 0.2, 1.0, 1.0, false},
        {1.1, 0.02, 0.2, 1.0, 1.1, false},
        {0.84, 0.02, 0.2, 1.0, 0.84, false},
        {1.2, 0.02, 0.2, 1.0, 1.2, false},
        {0.8, 0.02, 0.2, 1.0, 0.8, false},
        {1.3, 0.02, 0.2, 1.0, 1.2, false},      // beyond the range: the nearest end
        {1.026, 0.002, 0.03, 1.0, 1.026, false},
        {1.03, 0.002, 0.03, 1.0, 1.028, false},  // 0.03 itself is never tried
        {0.97, 0.002, 0.03, 1.0, 0.972, false},
        {0.8, 0.02, 0.2, 1.0, 0.8, true},
        {1.1, 0.02, 0.2, 1.0, 1.1, true},
        {1.2, 0.02, 0.2, 1.0, 1.18, true},      // the ascending pass stops at 1.18
        {1.03, 0.002, 0.03, 1.0, 1.03, true},
    };
    for (const Row& r : rows) {
        for (const VariantInfo* info : {&kVariants[1], &kVariants[2], &kVariants[4], &kVariants[5]}) {
            if (info->oversampled != r.ascending) continue;
            SCOPED_TRACE(testing::Message() << info->name << " gain " << r.gain << " step " << r.step);
            const int f = info->oversampled ? kFactor : 1;
            const int pos = shift * f + (f > 1 ? 3 : 0);
            for (int i = 0; i < vf.blockLen; ++i) {
                const int64_t idx = pos + int64_t(f) * i;
                for (int c = 0; c < 2; ++c) {
                    const int32_t k = info->oversampled ? vf.karOvsp[c][idx] : vf.kar[c][idx];
                    vf.orig[c][i] = int32_t(std::lround(k * r.gain));
                }
                const int32_t km = info->oversampled ? vf.karMonoOvsp[idx] : vf.karMono[idx];
                vf.origMono[i] = int32_t(std::lround(km * r.gain));
            }
            double got = 0.0;
            switch (info->v) {
            case Variant::Stereo: got = vf.FindGainStereo(pos, r.step, r.range, r.center); break;
            case Variant::Mono: got = vf.FindGainMono(pos, r.step, r.range, r.center); break;
            case Variant::OvspStereo: got = vf.FindGainOvspStereo(pos, r.step, r.range, r.center); break;
            default: got = vf.FindGainOvspMono(pos, r.step, r.range, r.center); break;
            }
            EXPECT_NEAR(got, r.expected, 1e-9);
        }
    }
}

TEST_P(SearchFixture, GainTiesGoToTheCenter)
{
    // A silent karaoke: every gain costs the same.
    for (int c = 0; c < 2; ++c) std::fill_n(vf.kar[c].get(), vf.karaokeLen, 0);
    for (int i = 0; i < vf.blockLen; ++i) vf.orig[0][i] = vf.orig[1][i] = i;
    EXPECT_EQ(vf.FindGainStereo(10, 0.02, 0.2, 1.0), 1.0);
    EXPECT_EQ(vf.FindGainOvspStereo(10, 0.02, 0.2, 1.0), 0.8);  // ascending: the first is the lowest
}

// --- Fast kernels against the reference loops --------------------------------

namespace {

struct Arrays {
    std::vector<int32_t> orig[2], kar[2];
};

enum class Data { Music, FullScaleNoise, Extremes, MidRange };

Arrays MakeData(Data kind, int count, int64_t karLen, unsigned seed)
{
    Arrays a;
    std::mt19937 rng(seed);
    for (int c = 0; c < 2; ++c) {
        a.orig[c].resize(size_t(count));
        a.kar[c].resize(size_t(karLen));
        auto fill = [&](std::vector<int32_t>& v) {
            switch (kind) {
            case Data::Music: {
                const auto s = Signal(int(v.size()), rng());
                v.assign(s.begin(), s.end());
                break;
            }
            case Data::FullScaleNoise: {
                std::uniform_int_distribution<int32_t> d(-32768, 32768);
                for (auto& x : v) x = d(rng);
                break;
            }
            case Data::Extremes:  // every difference and slope as large as 16-bit input allows
                for (size_t i = 0; i < v.size(); ++i)
                    v[i] = ((i + (rng() & 1)) % 2 == 0) ? 32767 : -32768;
                break;
            case Data::MidRange: {  // sums of two inverted channels
                std::uniform_int_distribution<int32_t> d(-65536, 65536);
                for (auto& x : v) x = d(rng);
                break;
            }
            }
        };
        fill(a.orig[c]);
        fill(a.kar[c]);
        if (kind == Data::Extremes) {
            // orig opposite to kar at every other position: maximal terms.
            for (int i = 0; i < count; ++i) a.orig[c][size_t(i)] = (i % 2 == 0) ? -32768 : 32767;
        }
    }
    return a;
}

MatchSet Bind(const Arrays& a, int pairs, int count, int stride)
{
    MatchSet m;
    for (int c = 0; c < 2; ++c) m.orig[c] = a.orig[c].data(), m.kar[c] = a.kar[c].data();
    m.pairs = pairs;
    m.count = count;
    m.stride = stride;
    m.karLen = int64_t(a.kar[0].size());
    return m;
}

} // namespace

TEST(SearchKernels, FastEqualsReference)
{
    struct Row {
        Data data;
        int count, stride, center, range, step;
    };
    // Long blocks of extreme data drive the costs past 2^32.
    const Row rows[] = {
        {Data::Music, 8820, 1, 40, 40, 1},      {Data::Music, 8820, 1, 40, 40, 3},
        {Data::Music, 1001, 8, 400, 399, 8},    {Data::Music, 1001, 8, 403, 7, 1},
        {Data::FullScaleNoise, 5000, 1, 30, 30, 1}, {Data::FullScaleNoise, 777, 5, 50, 50, 1},
        {Data::Extremes, 12000, 1, 20, 20, 1},  {Data::Extremes, 12000, 2, 20, 20, 1},
        {Data::MidRange, 3001, 1, 25, 25, 2},   {Data::MidRange, 513, 32, 64, 64, 1},
        {Data::Music, 1, 1, 3, 3, 1},           {Data::Music, 2, 1, 3, 3, 1},
        {Data::Music, 513, 1, 3, 3, 1},
    };
    ForEachIsa([&] {
        unsigned seed = 1;
        for (const Row& r : rows) {
            const int64_t karLen = int64_t(r.stride) * (r.count + 2 * r.range + 2);
            const Arrays a = MakeData(r.data, r.count, karLen, seed++);
            for (int pairs : {1, 2}) {
                const MatchSet m = Bind(a, pairs, r.count, r.stride);
                SCOPED_TRACE(testing::Message() << "data " << int(r.data) << " count " << r.count << " stride "
                                                << r.stride << " pairs " << pairs);
                for (Cost cost : {Cost::Abs, Cost::AbsSlope}) {
                    EXPECT_EQ(search::FindShift(m, cost, r.center, r.range, r.step, Impl::Fast),
                              search::FindShift(m, cost, r.center, r.range, r.step, Impl::Reference));
                    // The complete costs agree exactly, and an abandoned evaluation
                    // is abandoned by both.
                    for (int pos = 0; pos < 2 * r.range; pos += 7) {
                        const uint64_t full = search::ShiftCost(m, cost, pos, search::kNoCost, Impl::Reference);
                        ASSERT_EQ(search::ShiftCost(m, cost, pos, search::kNoCost, Impl::Fast), full);
                        if (full == 0) continue;
                        const uint64_t bar = full / 2;
                        EXPECT_GT(search::ShiftCost(m, cost, pos, bar, Impl::Fast), bar);
                        EXPECT_GT(search::ShiftCost(m, cost, pos, bar, Impl::Reference), bar);
                    }
                }
                // The fast searches with and without room to convert the
                // samples to double once.
                std::vector<double> scratch(size_t(4 * r.count));
                MatchSet converted = m;
                converted.scratch = scratch.data();
                for (double center : {1.0, 0.9}) {
                    const double centerOut = search::FindGainCenterOut(m, r.range, 0.02, 0.2, center, Impl::Reference);
                    const double ascending = search::FindGainAscending(m, r.range, 0.002, 0.03, center, Impl::Reference);
                    for (const MatchSet* fast : {&m, static_cast<const MatchSet*>(&converted)}) {
                        EXPECT_EQ(search::FindGainCenterOut(*fast, r.range, 0.02, 0.2, center, Impl::Fast), centerOut);
                        EXPECT_EQ(search::FindGainAscending(*fast, r.range, 0.002, 0.03, center, Impl::Fast), ascending);
                    }
                }
                for (double g : {0.0, 0.8, 1.0, 1.234567, -3.5, 1e12, std::nan("")}) {
                    EXPECT_EQ(search::GainCost(m, 1, g, search::kNoCost, Impl::Fast),
                              search::GainCost(m, 1, g, search::kNoCost, Impl::Reference))
                        << g;
                }
            }
        }
    });
}

TEST(SearchKernels, BufferSearchesUseTheReferenceOrFastKernelsAlike)
{
    for (int ch : {1, 2}) {
        TVocalFunc vf;
        ASSERT_EQ(vf.Setup(ch, 44100, 0.2, 4), 0);
        std::mt19937 rng(ch);
        const auto k0 = Signal(vf.karaokeLen, rng()), k1 = Signal(vf.karaokeLen, rng());
        const auto o0 = Signal(vf.blockLen, rng()), o1 = Signal(vf.blockLen, rng());
        for (int i = 0; i < vf.karaokeLen; ++i) vf.kar[0][i] = k0[size_t(i)], vf.kar[1][i] = k1[size_t(i)];
        for (int i = 0; i < vf.blockLen; ++i) vf.orig[0][i] = o0[size_t(i)], vf.orig[1][i] = o1[size_t(i)];
        vf.MakeMid();
        vf.OversampleKaraoke();
        vf.OversampleKaraokeMono();
        const auto all = [&] {
            return std::vector<double>{
                double(vf.FindShiftPlain(30, 30, 1)),         double(vf.FindShiftStereo(30, 30, 1)),
                double(vf.FindShiftMono(30, 30, 1)),          double(vf.FindShiftMonoN(30, 30, 2000, 1)),
                double(vf.FindShiftOvspStereo(120, 120, 4)),  double(vf.FindShiftOvspMono(121, 3, 1)),
                vf.FindGainStereo(30, 0.02, 0.2, 1.0),        vf.FindGainMono(29, 0.002, 0.03, 0.9),
                vf.FindGainOvspStereo(121, 0.02, 0.2, 1.0),   vf.FindGainOvspMono(119, 0.002, 0.03, 1.0),
            };
        };
        vf.UseReferenceKernels(true);
        const auto reference = all();
        vf.UseReferenceKernels(false);
        ForEachIsa([&] { EXPECT_EQ(all(), reference) << ch << " channels"; });
    }
}

// The same search with 32-bit sums, as the costs were once kept.
int FindShiftWith32BitSums(const MatchSet& m, int center, int range)
{
    uint32_t best = 0xffffffffu;
    int result = center;
    search::ForEachShiftCandidate(center, range, 1, [&](int64_t pos) {
        if (!search::Fits(m, pos)) return;
        uint32_t sum = 0;
        for (int i = 0; i < m.count; ++i) {
            sum += uint32_t(std::abs(m.orig[0][i] - m.kar[0][pos + i]));
            if (sum > best) return;
        }
        if (sum < best) best = sum, result = int(pos);
    });
    return result;
}

TEST(SearchKernels, CostsBeyond32BitsDoNotWrapAround)
{
    // Candidate 0 of an alternating full-scale block costs just over 2^32; a
    // 32-bit sum wraps it to a small number that beats the true best,
    // candidate 1, which costs 100000.
    const int n = 65538;
    Arrays a;
    a.orig[0].resize(n);
    a.kar[0].assign(n + 1, 0);
    for (int i = 0; i < n; ++i) a.orig[0][size_t(i)] = i % 2 == 0 ? 32767 : -32768;
    for (int i = 0; i < n; ++i) a.kar[0][size_t(i) + 1] = a.orig[0][size_t(i)];
    a.kar[0][0] = -32768;
    a.kar[0][2] = a.orig[0][1] + 100000;  // candidate 1 misses by 100000 at one sample
    a.orig[1] = a.orig[0], a.kar[1] = a.kar[0];
    const MatchSet m = Bind(a, 1, n, 1);
    const uint64_t cost0 = search::ShiftCost(m, Cost::Abs, 0, search::kNoCost, Impl::Reference);
    const uint64_t cost1 = search::ShiftCost(m, Cost::Abs, 1, search::kNoCost, Impl::Reference);
    ASSERT_GT(cost0, uint64_t(1) << 32);
    ASSERT_EQ(cost1, 100000u);
    ASSERT_LT(cost0 - (uint64_t(1) << 32), cost1);
    EXPECT_EQ(FindShiftWith32BitSums(m, 0, 1), 0);  // the wrapped sum wins
    EXPECT_EQ(search::FindShift(m, Cost::Abs, 0, 1, 1, Impl::Reference), 1);
    EXPECT_EQ(search::FindShift(m, Cost::Abs, 0, 1, 1, Impl::Fast), 1);
}

TEST(SearchKernels, MatchesThirtyTwoBitSumsWhileCostsFit)
{
    // Blocks whose costs stay below 2^32 give the results 32-bit sums give,
    // including near the limit.
    for (int count : {8820, 30000, 65000}) {
        for (Data kind : {Data::Music, Data::FullScaleNoise, Data::Extremes}) {
            const Arrays a = MakeData(kind, count, count + 50, unsigned(count) + unsigned(kind));
            const MatchSet m = Bind(a, 1, count, 1);
            for (int pos = 0; pos <= 50; ++pos)
                ASSERT_LT(search::ShiftCost(m, Cost::Abs, pos, search::kNoCost, Impl::Reference), 0xffffffffu);
            EXPECT_EQ(search::FindShift(m, Cost::Abs, 25, 25, 1), FindShiftWith32BitSums(m, 25, 25));
        }
    }
}

// A wide search calls its pump after every kPumpCandidates candidates and
// finds what it finds without one.
TEST(SearchKernels, AWideSearchPumpsAndFindsTheSameShift)
{
    const int count = 200, range = 3 * search::kPumpCandidates;
    const Arrays a = MakeData(Data::Music, count, count + 2 * range + 1, 7);
    const MatchSet m = Bind(a, 1, count, 1);
    for (Impl impl : {Impl::Fast, Impl::Reference}) {
        int pumps = 0;
        EXPECT_EQ(search::FindShift(m, Cost::AbsSlope, range, range, 1, impl, [&] { ++pumps; }),
                  search::FindShift(m, Cost::AbsSlope, range, range, 1, impl));
        EXPECT_EQ(pumps, (2 * range + 1) / search::kPumpCandidates);
    }
}

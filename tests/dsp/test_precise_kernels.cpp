// The precise-alignment kernels against their plain twins on every
// instruction set, and each fast kernel giving the same bits on every set.
#include "IsaLevels.h"
#include "PreciseKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<int32_t> Samples16(int n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> d(-32768, 32767);
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int32_t& x : v) x = d(rng);
    return v;
}

template <typename T>
std::vector<T> Uniform(int n, double amplitude, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-amplitude, amplitude);
    std::vector<T> v(static_cast<size_t>(n));
    for (T& x : v) x = static_cast<T>(d(rng));
    return v;
}

// |a - b| within `relative` of the scale the sum's terms could reach.
void ExpectClose(double a, double b, double scale, const char* what)
{
    EXPECT_LE(std::fabs(a - b), 1e-12 * scale + 1e-300) << what << ": " << a << " against " << b;
}

const int kLengths[] = {0, 1, 3, 4, 5, 63, 64, 65, 130, 2205};

} // namespace

TEST(PreciseKernels, BlockFitSumsMatchTheirPlainTwin)
{
    for (int n : kLengths) {
        SCOPED_TRACE(n);
        const auto o = Samples16(n, 1), o2 = Samples16(n, 2);
        const auto k = Uniform<float>(n, 30000, 3), s = Uniform<float>(n, 9000, 4);
        for (bool sum : {false, true}) {
            SCOPED_TRACE(sum ? "channels' sum" : "one channel");
            const int32_t* second = sum ? o2.data() : nullptr;
            precise::BlockFit want{1, 2, 3, 4, 5, 6, 7};
            precise::AddBlockFitReference(want, o.data(), second, k.data(), s.data(), n);
            precise::BlockFit first;
            ForEachIsa([&] {
                precise::BlockFit got{1, 2, 3, 4, 5, 6, 7};
                precise::AddBlockFit(got, o.data(), second, k.data(), s.data(), n);
                EXPECT_EQ(got.n, want.n);
                ExpectClose(got.oo, want.oo, want.oo, "oo");
                ExpectClose(got.kk, want.kk, want.kk, "kk");
                ExpectClose(got.ss, want.ss, want.ss, "ss");
                ExpectClose(got.ok, want.ok, std::sqrt(want.oo * want.kk), "ok");
                ExpectClose(got.os, want.os, std::sqrt(want.oo * want.ss), "os");
                ExpectClose(got.ks, want.ks, std::sqrt(want.kk * want.ss), "ks");
                // The lanes are added in a fixed order: every set gives the
                // same bits as the first.
                if (ActiveIsa() == Isa::Baseline) first = got;
                EXPECT_EQ(std::vector<double>({got.oo, got.kk, got.ok, got.ss, got.os, got.ks}),
                          std::vector<double>({first.oo, first.kk, first.ok, first.ss, first.os, first.ks}));
            });
        }
    }
}

TEST(PreciseKernels, MatchEquationsMatchTheirPlainTwin)
{
    struct Case {
        int n, halfTaps;
    } cases[] = {{1, 0}, {7, 1}, {64, 8}, {2205, 8}, {301, 32}, {5, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " samples, half-width " << c.halfTaps);
        const int taps = 2 * c.halfTaps + 1;
        const auto o = Uniform<double>(c.n, 60000, 5);
        const auto x = Uniform<double>(c.n + 2 * c.halfTaps, 60000, 6);
        std::vector<double> gramWant(size_t(taps * taps), 1.0), crossWant(size_t(taps), -1.0);
        precise::AccumulateMatchReference(o.data(), x.data(), c.n, c.halfTaps, 0.25, gramWant.data(),
                                          crossWant.data());
        const double scale = 0.25 * 60000.0 * 60000.0 * c.n;
        std::vector<double> gramFirst, crossFirst;
        ForEachIsa([&] {
            std::vector<double> gram(size_t(taps * taps), 1.0), cross(size_t(taps), -1.0);
            precise::AccumulateMatch(o.data(), x.data(), c.n, c.halfTaps, 0.25, gram.data(), cross.data());
            for (size_t i = 0; i < gram.size(); ++i) ExpectClose(gram[i], gramWant[i], scale, "gram");
            for (size_t i = 0; i < cross.size(); ++i) ExpectClose(cross[i], crossWant[i], scale, "cross");
            // Symmetric, as the normal equations are.
            for (int j = 0; j < taps; ++j)
                for (int k = 0; k < taps; ++k) ASSERT_EQ(gram[size_t(j * taps + k)], gram[size_t(k * taps + j)]);
            if (ActiveIsa() == Isa::Baseline) {
                gramFirst = gram;
                crossFirst = cross;
            }
            EXPECT_EQ(gram, gramFirst);
            EXPECT_EQ(cross, crossFirst);
        });
    }
    // A half-width beyond the kernels' limit adds nothing.
    std::vector<double> gram(size_t(67 * 67), 0.0), cross(67, 0.0), ones(100, 1.0);
    precise::AccumulateMatch(ones.data(), ones.data(), 10, precise::kMaxHalfTaps + 1, 1.0, gram.data(), cross.data());
    EXPECT_EQ(cross, std::vector<double>(67, 0.0));
}

TEST(PreciseKernels, AlignedFilterMatchesItsPlainTwinToTheLastBit)
{
    struct Case {
        int n, halfTaps;
    } cases[] = {{0, 8}, {1, 0}, {63, 8}, {64, 8}, {65, 8}, {1102, 8}, {200, 1}, {129, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " samples, half-width " << c.halfTaps);
        const auto in = Uniform<float>(c.n + 2 * c.halfTaps, 30000, 7);
        const auto taps = Uniform<double>(2 * c.halfTaps + 1, 1.0, 8);
        std::vector<float> want(size_t(c.n) + 1, -7.0f);
        precise::FilterAlignedReference(in.data(), taps.data(), c.halfTaps, c.n, want.data());
        ForEachIsa([&] {
            std::vector<float> got(size_t(c.n) + 1, -7.0f);
            precise::FilterAligned(in.data(), taps.data(), c.halfTaps, c.n, got.data());
            EXPECT_EQ(got, want); // also: nothing written past n
        });
    }
    // One tap of 1 reads the input back.
    const auto in = Uniform<float>(50, 30000, 9);
    const double one = 1.0;
    std::vector<float> out(50);
    precise::FilterAligned(in.data(), &one, 0, 50, out.data());
    EXPECT_EQ(out, in);
}

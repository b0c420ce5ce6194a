// Finding a stretch of the original anywhere in the karaoke: the transform
// against the direct sums, through a voice as loud as the accompaniment, and
// no confident answer for a stretch the karaoke does not hold. The karaoke
// is correlated a piece at a time: places at the pieces' edges, at the
// karaoke's ends, in ranges and a runner-up in another piece must come out
// as the direct sums say, with memory that does not grow with the karaoke.
#include "EditSearch.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace editsearch;

namespace {

// Noise through a one-pole low-pass: something like a decimated mix.
std::vector<float> Mix(uint32_t seed, size_t n)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> d(0, 1000);
    std::vector<float> x(n);
    float y = 0;
    for (float& v : x) v = y = 0.7f * y + d(rng);
    return x;
}

} // namespace

TEST(EditSearch, FindsAStretchUnderTheVoiceAsTheDirectSumsDo)
{
    const std::vector<float> karaoke = Mix(1, 20000);
    const std::vector<float> voice = Mix(2, 1500);
    std::vector<float> stretch(karaoke.begin() + 12345, karaoke.begin() + 12345 + 1500);
    for (size_t i = 0; i < stretch.size(); ++i) stretch[i] += voice[i];
    Locator loc;
    ASSERT_EQ(loc.Setup(karaoke, 2000), 0);
    const Match fast = loc.Find(stretch.data(), int(stretch.size()));
    const Match plain = Locator::FindReference(karaoke, stretch.data(), int(stretch.size()));
    EXPECT_EQ(fast.position, 12345);
    EXPECT_EQ(plain.position, 12345);
    EXPECT_NEAR(fast.score, plain.score, 1e-4);
    EXPECT_NEAR(fast.runnerUp, plain.runnerUp, 1e-4);
    // Voice and accompaniment equally loud: correlation about 1 / sqrt(2).
    EXPECT_NEAR(fast.score, 0.707, 0.05);
    EXPECT_LT(fast.runnerUp, 0.2);
}

TEST(EditSearch, ASectionRepeatedNoteForNoteIsFoundNearWhereItIsAsked)
{
    // The same section at 3000 and at 15000: alike everywhere, clear near one.
    std::vector<float> karaoke = Mix(1, 20000);
    std::copy(karaoke.begin() + 3000, karaoke.begin() + 4500, karaoke.begin() + 15000);
    const std::vector<float> stretch(karaoke.begin() + 3000, karaoke.begin() + 4500);
    Locator loc;
    ASSERT_EQ(loc.Setup(karaoke, 2000), 0);
    const Match whole = loc.Find(stretch.data(), int(stretch.size()));
    EXPECT_NEAR(whole.runnerUp, whole.score, 1e-3);
    for (int64_t near : {3000, 15000}) {
        SCOPED_TRACE(near);
        const Match fast = loc.Find(stretch.data(), int(stretch.size()), near - 2000, near + 2000);
        const Match plain = Locator::FindReference(karaoke, stretch.data(), int(stretch.size()), near - 2000, near + 2000);
        EXPECT_EQ(fast.position, near);
        EXPECT_EQ(plain.position, near);
        EXPECT_NEAR(fast.score, plain.score, 1e-4);
        EXPECT_NEAR(fast.runnerUp, plain.runnerUp, 1e-4);
        EXPECT_LT(fast.runnerUp, 0.2);
    }
    // A range past the karaoke's end holds no place.
    EXPECT_EQ(loc.Find(stretch.data(), int(stretch.size()), 19000, 30000).position, -1);
}

TEST(EditSearch, PiecewiseCorrelationAgreesWithTheDirectSumsEverywhere)
{
    constexpr int kMax = 500, kCount = 400;
    Locator loc;
    std::vector<float> base = Mix(5, 12000);
    ASSERT_EQ(loc.Setup(base, kMax), 0);
    // Places a piece holds, counted from the first place asked for.
    const int64_t places = loc.TransformSize() - kCount + 1;
    ASSERT_LT(places, 4000) << "the karaoke must take several pieces";
    const int64_t last = int64_t(base.size()) - kCount;
    struct Case {
        const char* name;
        int64_t at;     // where the stretch lies in the karaoke
        int64_t echo;   // where a fainter copy lies (-1: none)
        int64_t from, to;
    };
    const Case cases[] = {
        {"first place", 0, -1, 0, INT64_MAX},
        {"last place", last, -1, 0, INT64_MAX},
        {"last place of the first piece", places - 1, -1, 0, INT64_MAX},
        {"first place of the second piece", places, -1, 0, INT64_MAX},
        {"range starting inside a piece", 5000, -1, 3333, 7777},
        {"piece edge of a range", 3333 + places, -1, 3333, 3333 + 2 * places},
        {"range that ends at the place", 6000, -1, 100, 6000},
        {"range past the end", last - 10, -1, last - 300, last + 5000},
        {"runner-up a piece before", 2 * places + 17, 300, 0, INT64_MAX},
        {"runner-up a piece after", 150, 2 * places + 3, 0, INT64_MAX},
        {"runner-up before the range", 9000, 3000, 4000, INT64_MAX},
        {"runner-up at the range's first place", 9000, 4000, 4000, INT64_MAX},
    };
    const std::vector<float> voice = Mix(6, kCount), other = Mix(10, kCount);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> karaoke = base;
        std::vector<float> stretch(karaoke.begin() + c.at, karaoke.begin() + c.at + kCount);
        if (c.echo >= 0)
            for (int j = 0; j < kCount; ++j) karaoke[size_t(c.echo + j)] = 0.6f * stretch[size_t(j)] + 0.4f * other[size_t(j)];
        for (size_t j = 0; j < stretch.size(); ++j) stretch[j] += 0.5f * voice[j];
        ASSERT_EQ(loc.Setup(karaoke, kMax), 0);
        const Match fast = loc.Find(stretch.data(), kCount, c.from, c.to);
        const Match plain = Locator::FindReference(karaoke, stretch.data(), kCount, c.from, c.to);
        EXPECT_EQ(plain.position, c.at);
        EXPECT_EQ(fast.position, plain.position);
        EXPECT_NEAR(fast.score, plain.score, 1e-5);
        EXPECT_NEAR(fast.runnerUp, plain.runnerUp, 1e-5);
        EXPECT_GT(fast.score, 0.8);
        EXPECT_EQ(fast.runnerUp > 0.5, c.echo >= c.from);
    }
}

TEST(EditSearch, TheRunnerUpIsHalfAStretchAwayFromTheBestOrMore)
{
    // A cycle of `period` samples repeated over a stretch and a period more,
    // the first (or the last) period fainter: the best place and, `period`
    // before (or after) it, a place almost as good. It is the runner-up when
    // it lies half the stretch away, and only then.
    constexpr int kCount = 400, kAway = kCount / 2;
    const std::vector<float> cycle = Mix(7, kAway), fainter = Mix(8, kCount + kAway), voice = Mix(9, kCount);
    for (int period : {kAway - 1, kAway})
        for (bool echoBefore : {true, false}) {
            SCOPED_TRACE(testing::Message() << "period " << period << (echoBefore ? ", echo before" : ", echo after"));
            std::vector<float> karaoke = Mix(5, 12000);
            const int64_t a = 7000;
            for (int j = 0; j < kCount + period; ++j) {
                const bool faint = echoBefore ? j < period : j >= kCount;
                const float v = cycle[size_t(j % period)];
                karaoke[size_t(a + j)] = faint ? 0.8f * v + 0.2f * fainter[size_t(j)] : v;
            }
            const int64_t best = echoBefore ? a + period : a;
            std::vector<float> stretch(karaoke.begin() + best, karaoke.begin() + best + kCount);
            for (int j = 0; j < kCount; ++j) stretch[size_t(j)] += 0.3f * voice[size_t(j)];
            Locator loc;
            ASSERT_EQ(loc.Setup(karaoke, 500), 0);
            const Match fast = loc.Find(stretch.data(), kCount);
            const Match plain = Locator::FindReference(karaoke, stretch.data(), kCount);
            EXPECT_EQ(plain.position, best);
            EXPECT_EQ(fast.position, plain.position);
            EXPECT_NEAR(fast.score, plain.score, 1e-5);
            EXPECT_NEAR(fast.runnerUp, plain.runnerUp, 1e-5);
            EXPECT_EQ(plain.runnerUp > 0.8, period >= kAway) << plain.runnerUp;
        }
}

TEST(EditSearch, MemoryDoesNotGrowWithTheKaraoke)
{
    const std::vector<float> shortKaraoke = Mix(1, 40000), longKaraoke = Mix(1, 4000000);
    Locator shortSong, longSong;
    ASSERT_EQ(shortSong.Setup(shortKaraoke, 2000), 0);
    ASSERT_EQ(longSong.Setup(longKaraoke, 2000), 0);
    EXPECT_EQ(longSong.TransformSize(), shortSong.TransformSize());
    EXPECT_LE(longSong.TransformSize(), 4 * 2 * 2000);
}

TEST(EditSearch, AStretchTheKaraokeLacksHasNoClearPlace)
{
    const std::vector<float> karaoke = Mix(1, 20000), other = Mix(3, 1500);
    Locator loc;
    ASSERT_EQ(loc.Setup(karaoke, 2000), 0);
    const Match m = loc.Find(other.data(), int(other.size()));
    EXPECT_LT(m.score, 0.2);
    // Longer than allowed, or longer than the karaoke: no answer.
    const std::vector<float> longer = Mix(4, 2500);
    EXPECT_EQ(loc.Find(longer.data(), int(longer.size())).position, -1);
}

TEST(EditSearch, DecimationAveragesSixteenFramesOfTheChannelSum)
{
    std::vector<int16_t> frames(2 * 40);
    for (int i = 0; i < 40; ++i) {
        frames[size_t(2 * i)] = int16_t(i);
        frames[size_t(2 * i + 1)] = int16_t(100);
    }
    Decimator d;
    d.Push(frames.data(), 10, 2);
    d.Push(frames.data() + 20, 30, 2);
    ASSERT_EQ(d.Output().size(), 2u);
    EXPECT_FLOAT_EQ(d.Output()[0], 7.5f + 100);
    EXPECT_FLOAT_EQ(d.Output()[1], 23.5f + 100);
    std::vector<int32_t> left(40), right(40, 100);
    for (int i = 0; i < 40; ++i) left[size_t(i)] = i;
    std::vector<float> out;
    DecimateInto(left.data(), right.data(), 40, out);
    EXPECT_EQ(out, d.Output());
}

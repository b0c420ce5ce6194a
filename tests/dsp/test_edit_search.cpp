// Finding a stretch of the original anywhere in the karaoke: the transform
// against the direct sums, through a voice as loud as the accompaniment, and
// no confident answer for a stretch the karaoke does not hold.
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

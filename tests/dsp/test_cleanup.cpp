// The residual suppressor and its leak estimator, on a synthetic voice over
// an accompaniment residue that follows the karaoke (as a codec's error does)
// plus accompaniment above the karaoke's bandwidth.
#include "CleanStage.h"
#include "IsaLevels.h"
#include "ResidualSuppressor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace cleanup;

namespace {

constexpr int kRate = 44100;
constexpr int kLen = 6 * kRate;

// x through a windowed-sinc band-pass of lo .. hi Hz (Blackman window: the
// stop band 74 dB down, as a codec's cutoff); the output is as long as x
// less the filter's length.
template <typename T>
std::vector<float> BandPass(const std::vector<T>& x, double lo, double hi)
{
    constexpr int half = 128;
    std::vector<double> taps(2 * half + 1);
    for (int j = -half; j <= half; ++j) {
        auto sinc = [&](double f) { return j == 0 ? 2 * f : std::sin(2 * std::numbers::pi * f * j) / (std::numbers::pi * j); };
        const double a = std::numbers::pi * j / half;
        const double win = 0.42 + 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
        taps[size_t(j + half)] = (sinc(hi / kRate) - sinc(lo / kRate)) * win;
    }
    std::vector<float> out(x.size() > taps.size() ? x.size() - taps.size() : 0);
    for (size_t i = 0; i < out.size(); ++i) {
        double s = 0;
        for (size_t j = 0; j < taps.size(); ++j) s += taps[j] * double(x[i + j]);
        out[i] = float(s);
    }
    return out;
}

std::vector<float> BandNoise(uint32_t seed, double lo, double hi, int n)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> d(0, 1);
    std::vector<float> w(size_t(n + 257));
    for (float& x : w) x = d(rng);
    return BandPass(w, lo, hi);
}

// The accompaniment's loudness: a smooth swell every quarter second (no step
// that would spread the band-limited reference above its band).
float Envelope(int i) { return float(0.65 + 0.35 * std::cos(2 * std::numbers::pi * i / (kRate / 4.0))); }

bool Voiced(int i) { return (i >= kRate && i < 2 * kRate) || (i >= 3 * kRate && i < 4 * kRate) || (i >= 5 * kRate && i < kRate * 11 / 2); }

struct Scene {
    std::vector<float> reference, voice, residue, above;
    std::vector<int32_t> Mixed() const // what the removal left: voice and residue, as samples
    {
        std::vector<int32_t> y(reference.size());
        for (size_t i = 0; i < y.size(); ++i) y[i] = int32_t(std::lrint(voice[i] + residue[i] + above[i]));
        return y;
    }
};

// Reference up to 16 kHz at about -12 dBFS; a residue 20 dB below it,
// independent of it but with its spectrum and loudness; accompaniment above
// 16.5 kHz that the reference lacks; a voice (220 Hz and its harmonics up to
// 4 kHz) in three phrases.
Scene MakeScene()
{
    Scene s;
    const std::vector<float> a = BandNoise(1, 20, 16000, kLen), b = BandNoise(2, 20, 16000, kLen),
                             c = BandNoise(3, 16500, 20000, kLen);
    s.reference.resize(kLen);
    s.residue.resize(kLen);
    s.above.resize(kLen);
    s.voice.assign(kLen, 0.0f);
    for (int i = 0; i < kLen; ++i) {
        const float e = 8000 * Envelope(i);
        s.reference[size_t(i)] = e * a[size_t(i)];
        s.residue[size_t(i)] = 0.1f * e * b[size_t(i)];
        s.above[size_t(i)] = 0.1f * e * c[size_t(i)];
        if (Voiced(i))
            for (int h = 1; 220 * h < 4000; ++h)
                s.voice[size_t(i)] += float(3000.0 / h * std::sin(2 * std::numbers::pi * 220 * h * i / kRate + h));
    }
    return s;
}

LeakModel Estimate(const Scene& s, const std::vector<int32_t>& y)
{
    LeakEstimator est;
    EXPECT_EQ(est.Setup(kRate), 0);
    std::vector<float> yf(y.begin(), y.end());
    for (int from : {kRate / 5, 2 * kRate + kRate / 5, 4 * kRate + kRate / 5})
        est.AddStretch(yf.data() + from, s.reference.data() + from, kRate * 3 / 5);
    return est.Estimate();
}

// Runs one channel through the suppressor in pieces of `piece` samples and
// returns it with the latency taken off.
std::vector<int32_t> Suppress(const LeakModel& m, std::vector<int32_t> y, const std::vector<float>& ref, int piece)
{
    ResidualSuppressor r;
    EXPECT_EQ(r.Setup(1, kRate, m), 0);
    const int lat = r.Latency();
    y.resize(y.size() + size_t(lat), 0);
    std::vector<float> rf(ref);
    rf.resize(y.size(), 0.0f);
    int32_t* v[1] = {y.data()};
    const float* rr[1] = {rf.data()};
    for (int at = 0; at < int(y.size()); at += piece) r.Process(v, rr, at, std::min(piece, int(y.size()) - at));
    return {y.begin() + lat, y.end()};
}

double Energy(const std::vector<int32_t>& x, int from, int to, const std::vector<float>* minus = nullptr)
{
    double e = 0;
    for (int i = from; i < to; ++i) {
        const double d = x[size_t(i)] - (minus ? (*minus)[size_t(i)] : 0.0f);
        e += d * d;
    }
    return e;
}

double Db(double a, double b) { return 10 * std::log10(a / b); }

} // namespace

TEST(LeakEstimator, FindsTheResidueAndTheKaraokesBandwidth)
{
    const Scene s = MakeScene();
    const LeakModel m = Estimate(s, s.Mixed());
    ASSERT_TRUE(m.Valid());
    // The residue is 20 dB below the reference.
    EXPECT_NEAR(m.VoiceBandLeakDb(kRate), -20.0, 2.0);
    // Cut at 16 kHz, with the band-pass's transition.
    const double cutoffHz = double(m.cutoffBin) * kRate / kFrame;
    EXPECT_GT(cutoffHz, 15800);
    EXPECT_LT(cutoffHz, 16600);
}

TEST(LeakEstimator, TooFewFramesGiveNoModel)
{
    LeakEstimator est;
    ASSERT_EQ(est.Setup(kRate), 0);
    const Scene s = MakeScene();
    std::vector<float> y(s.voice);
    est.AddStretch(y.data(), s.reference.data(), kFrame * 3);
    EXPECT_FALSE(est.Estimate().Valid());
    ResidualSuppressor r;
    EXPECT_NE(r.Setup(1, kRate, est.Estimate()), 0);
    EXPECT_EQ(r.Latency(), 0);
}

TEST(ResidualSuppressor, ClearsThePausesAndKeepsTheVoice)
{
    const Scene s = MakeScene();
    const std::vector<int32_t> y = s.Mixed();
    const LeakModel m = Estimate(s, y);
    const std::vector<int32_t> out = Suppress(m, y, s.reference, 4410);
    ASSERT_EQ(out.size(), y.size());
    const int guard = kRate / 6;
    // Pauses, away from the phrases' edges: the residue and the
    // accompaniment above the cutoff are brought down by at least 30 dB.
    for (int p : {0, 2, 4}) {
        const int from = p * kRate + guard, to = (p + 1) * kRate - guard;
        SCOPED_TRACE(p);
        EXPECT_LT(Db(Energy(out, from, to), Energy(y, from, to)), -30.0);
    }
    // Phrases: the voice keeps its level and what is not voice is less than before.
    for (int p : {1, 3}) {
        const int from = p * kRate + guard, to = (p + 1) * kRate - guard;
        SCOPED_TRACE(p);
        double voice = 0;
        for (int i = from; i < to; ++i) voice += double(s.voice[size_t(i)]) * s.voice[size_t(i)];
        EXPECT_NEAR(Db(Energy(out, from, to), voice), 0.0, 1.0);
        EXPECT_LT(Db(Energy(out, from, to, &s.voice), Energy(y, from, to, &s.voice)), -3.0);
    }
    // Above the karaoke's bandwidth there is no reference: what is there
    // follows the voice's share just below the cutoff, small here.
    const std::vector<float> highOut = BandPass(out, 16800, 20000), highIn = BandPass(y, 16800, 20000);
    double eOut = 0, eIn = 0;
    for (int p : {1, 3})
        for (int i = p * kRate + guard; i < (p + 1) * kRate - guard; ++i) {
            eOut += double(highOut[size_t(i)]) * highOut[size_t(i)];
            eIn += double(highIn[size_t(i)]) * highIn[size_t(i)];
        }
    EXPECT_LT(Db(eOut, eIn), -6.0);
}

TEST(ResidualSuppressor, PassesAnythingWhereNoResidueIsExpected)
{
    // A model that expects no residue lets everything through, delayed by
    // its latency; the pieces the stream is fed in do not matter.
    LeakModel none;
    none.leak.assign(BandEdges(kRate).size() - 1, 0.0f);
    none.noise = none.leak;
    const Scene s = MakeScene();
    const std::vector<int32_t> y = s.Mixed();
    const std::vector<int32_t> whole = Suppress(none, y, s.reference, int(y.size()));
    for (size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(whole[i], y[i], 1) << i;
    for (int piece : {1, 1000, 4410}) EXPECT_EQ(Suppress(none, y, s.reference, piece), whole) << piece;
}

TEST(ResidualSuppressor, ResetStartsTheStreamAnew)
{
    const Scene s = MakeScene();
    const std::vector<int32_t> y = s.Mixed();
    const LeakModel m = Estimate(s, y);
    ResidualSuppressor r;
    ASSERT_EQ(r.Setup(1, kRate, m), 0);
    auto run = [&] {
        std::vector<int32_t> v(y.begin(), y.begin() + kRate);
        int32_t* pv[1] = {v.data()};
        const float* pr[1] = {s.reference.data()};
        r.Process(pv, pr, 0, kRate);
        return v;
    };
    const std::vector<int32_t> first = run();
    r.Reset();
    EXPECT_EQ(run(), first);
}

TEST(ResidualSuppressor, SmoothingMatchesItsPlainTwin)
{
    std::mt19937 rng(7);
    std::exponential_distribution<float> d(1e-3f);
    for (int bins : {1, 2, 3, 4, 5, 6, 17, kBins}) {
        SCOPED_TRACE(bins);
        std::vector<float> power(static_cast<size_t>(bins)), previous(static_cast<size_t>(bins));
        for (float& p : power) p = d(rng);
        for (float& p : previous) p = d(rng);
        std::vector<float> plain(previous);
        SmoothReferenceReference(power.data(), plain.data(), bins);
        ForEachIsa([&] {
            std::vector<float> fast(previous);
            SmoothReference(power.data(), fast.data(), bins);
            for (int k = 0; k < bins; ++k) ASSERT_NEAR(fast[size_t(k)], plain[size_t(k)], 1e-5f * plain[size_t(k)]) << k;
        });
    }
}

namespace {

// The processing buffer's side of the stage, by hand: output and aligned
// karaoke arrays of one block, two channels.
struct StageBuffer {
    static constexpr int kBlock = 4410;
    std::vector<int32_t> out[2];
    std::vector<float> aligned[2];
    BufferView view;
    StageBuffer()
    {
        view.channels = 2;
        view.sampleRate = kRate;
        view.blockLen = kBlock;
        for (int c = 0; c < 2; ++c) {
            out[c].assign(kBlock, 0);
            aligned[c].assign(kBlock, 0.0f);
            view.out[c] = out[c].data();
            view.aligned[c] = aligned[c].data();
        }
    }
    // Streams `voice` through the stage block by block, its reference read
    // `lead` frames ahead of it (the reference the merge removed before its
    // output came out); returns channel 0 as it came out.
    std::vector<int32_t> Stream(CleanStage& stage, const std::vector<float>& voice, int lead)
    {
        std::vector<int32_t> result;
        for (size_t at = 0; at < voice.size(); at += kBlock) {
            for (int i = 0; i < kBlock; ++i) {
                const size_t t = at + size_t(i);
                const float v = t < voice.size() ? voice[t] : 0.0f;
                const float r = t + size_t(lead) < voice.size() ? voice[t + size_t(lead)] : 0.0f;
                for (int c = 0; c < 2; ++c) {
                    out[c][size_t(i)] = int32_t(std::lrint(v));
                    aligned[c][size_t(i)] = r;
                }
            }
            stage.SetGain(1.0);
            stage.Process(0, kBlock);
            result.insert(result.end(), out[0].begin(), out[0].end());
        }
        return result;
    }
};

LeakModel UniformModel(float leak)
{
    LeakModel m;
    m.leak.assign(BandEdges(kRate).size() - 1, leak);
    m.noise.assign(m.leak.size(), 0.0f);
    return m;
}

} // namespace

TEST(CleanStage, PassesTheOutputAlignedByItsLatency)
{
    // Where no residue is expected the stage hands the output on unchanged,
    // exactly Latency() frames later, whatever the reference.
    const Scene s = MakeScene();
    const std::vector<int32_t> y = s.Mixed();
    const std::vector<float> voice(y.begin(), y.end());
    StageBuffer b;
    CleanStage stage;
    ASSERT_EQ(stage.Setup(b.view, UniformModel(0), false, 0), 0);
    ASSERT_TRUE(stage.Active());
    ASSERT_EQ(stage.Latency(), kFrame + kHop);
    const std::vector<int32_t> out = b.Stream(stage, voice, 0);
    for (size_t i = 0; i + size_t(stage.Latency()) < y.size(); ++i)
        ASSERT_NEAR(out[i + size_t(stage.Latency())], y[i], 1) << i;

    // Without an aligned karaoke there is nothing to guide it: bypassed.
    StageBuffer none;
    none.view.aligned[0] = none.view.aligned[1] = nullptr;
    CleanStage bypassed;
    EXPECT_NE(bypassed.Setup(none.view, UniformModel(0), false, 0), 0);
    EXPECT_FALSE(bypassed.Active());
    EXPECT_EQ(bypassed.Latency(), 0);
}

TEST(CleanStage, HoldsTheReferenceBackByTheMergesDelay)
{
    // Bursts that are all residue (leak 1) whose reference the merge removed
    // 7168 frames before they come out: held back by that much, the
    // reference meets them and they are cleared; not held back, it misses.
    constexpr int kDelay = kSpectralFrameSize - kSpectralFrameSize / kSpectralOverlap;
    const std::vector<float> noise = BandNoise(9, 100, 8000, kLen);
    std::vector<float> bursts(size_t(kLen), 0.0f);
    for (int i = 0; i < kLen; ++i)
        if ((i / (kRate / 4)) % 2 == 1) bursts[size_t(i)] = 8000 * noise[size_t(i)];
    auto passed = [&](int delay) {
        StageBuffer b;
        CleanStage stage;
        EXPECT_EQ(stage.Setup(b.view, UniformModel(1), false, delay), 0);
        const std::vector<int32_t> out = b.Stream(stage, bursts, kDelay);
        double in = 0, left = 0;
        for (int i = kRate; i < kLen - kRate; ++i) {
            in += double(bursts[size_t(i)]) * bursts[size_t(i)];
            left += double(out[size_t(i + stage.Latency())]) * out[size_t(i + stage.Latency())];
        }
        return Db(left, in);
    };
    EXPECT_LT(passed(kDelay), -30.0);
    EXPECT_GT(passed(0), -10.0);
}

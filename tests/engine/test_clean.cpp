// Clean pauses in a whole run: a pair whose karaoke carries a residue that
// follows the accompaniment (as a codec's error does) turns them on by
// itself, and the voice's pauses are cleared while the voice stays aligned
// with the original and exactly as long; an exact pair leaves them off, and
// so does the option.
#include "EngineFixture.h"
#include "Extraction.h"

#include <gtest/gtest.h>


using namespace testutil;

namespace {

constexpr int kRate = 44100;
constexpr size_t kFrames = 12 * kRate;
constexpr size_t kDelay = 8820; // the karaoke starts 0.2 s later

struct Pair {
    std::vector<int16_t> original, karaoke, voice;
};

// A sung vowel in the centre, on for 0.7 s of every second: a gliding tone
// with its harmonics up to 2.5 kHz, swelling and fading.
std::vector<int16_t> SungVoice()
{
    std::vector<int16_t> out(kFrames * 2);
    for (size_t i = 0; i < kFrames; ++i) {
        const double t = double(i) / kRate, inPhrase = std::fmod(t, 1.0);
        if (inPhrase >= 0.7) continue;
        // 200 Hz, gliding by 20 Hz either way twice a second.
        const double phase = 2 * M_PI * 200 * t - 20 / 0.5 * std::cos(2 * M_PI * 0.5 * t);
        double v = 0;
        for (int h = 1; h * 200 <= 2500; ++h) v += 2500.0 / h * std::sin(h * phase + h);
        out[2 * i] = out[2 * i + 1] = int16_t(std::lround(v * std::sin(M_PI * inPhrase / 0.7)));
    }
    return out;
}

// Stereo accompaniment and the voice. The karaoke carries `residue` times
// another accompaniment with the same spectrum and loudness: what a lossy
// karaoke differs by, following the accompaniment wherever it is.
Pair MakePair(double residue)
{
    Pair p;
    const auto accomp = Accompaniment(kFrames, 2, 21), other = Accompaniment(kFrames, 2, 22);
    p.voice = SungVoice();
    p.original = Mix(accomp, p.voice);
    std::vector<int16_t> kar(accomp);
    for (size_t i = 0; i < kar.size(); ++i) kar[i] = int16_t(std::lround(accomp[i] + residue * other[i]));
    p.karaoke = Delay(kar, kDelay, 2);
    return p;
}

// Energy of a channel's samples in the middle of the voice's pauses (0.75 to
// 0.95 of every second from the second second on), dB.
double PauseDb(const std::vector<int16_t>& s)
{
    double e = 0;
    for (size_t second = 2; second + 1 < kFrames / kRate; ++second)
        for (size_t i = second * kRate + kRate * 3 / 4; i < second * kRate + kRate * 19 / 20; ++i)
            e += double(s[2 * i]) * s[2 * i];
    return 10 * std::log10(e + 1);
}

// SDR of the output against the voice from the second second on.
double Sdr(const std::vector<int16_t>& out, const std::vector<int16_t>& voice)
{
    double e = 0, s = 0;
    for (size_t i = 2 * size_t(kRate) * 2; i < voice.size(); ++i) {
        const double d = double(out[i]) - voice[i];
        e += d * d;
        s += double(voice[i]) * voice[i];
    }
    return 10 * std::log10(s / std::max(e, 1e-9));
}

// The lag (-3 .. 3 frames) at which the output correlates best with the voice.
int BestLag(const std::vector<int16_t>& out, const std::vector<int16_t>& voice)
{
    int best = 0;
    double bestSum = -1e300;
    for (int lag = -3; lag <= 3; ++lag) {
        double sum = 0;
        for (size_t i = 2 * size_t(kRate) * 2; i + 8 < voice.size(); ++i)
            sum += double(out[size_t(long(i) + 2L * lag)]) * voice[i];
        if (sum > bestSum) {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

class CleanPauses : public ::testing::Test {
protected:
    TempDir dir;
    RecordingHost host;

    void Write(const Pair& p)
    {
        WriteFile(dir / "song.wav", Wave16(2, kRate, p.original));
        WriteFile(dir / "kar.wav", Wave16(2, kRate, p.karaoke));
    }

    // A run with the defaults but for the options given.
    std::vector<int16_t> Run(RunReport& report, int cleanMode, int mergeMode = 2, int alignFlg = 1, int procMode = 0)
    {
        ProcessingOptions edited;
        edited.CleanMode = cleanMode;
        edited.MergeMode = mergeMode;
        edited.AlignFlg = alignFlg;
        edited.ProcMode = procMode;
        CommittedOptions options;
        CommitOptions(edited, options);
        TVocalMain engine;
        return RunOnFiles(engine, host, options, dir.path().string(), &report);
    }
};

} // namespace

TEST_F(CleanPauses, ALossyPairIsCleanedAutomaticallyAndTheVoiceStaysInPlace)
{
    const Pair p = MakePair(0.05);
    Write(p);
    RunReport off, waveform, on;
    Run(off, 2);
    const auto plain = Run(waveform, 2, 1);
    const auto cleaned = Run(on, 0);
    // Off as set: the automatic merge chooses as without the stage.
    EXPECT_EQ(off.clean, RunReport::Clean::Off);
    EXPECT_EQ(off.merge, 0);
    EXPECT_GT(off.cancellationDb, kCleanCancellationDb);

    // On by itself, with the waveform merge, and the leak measured: the
    // residue is a twentieth of the karaoke in every band, -26 dB.
    EXPECT_EQ(on.clean, RunReport::Clean::On) << on.cleanReason;
    EXPECT_EQ(on.merge, 1);
    ASSERT_TRUE(on.leakMeasured);
    EXPECT_NEAR(on.leakDb, -26, 2);
    EXPECT_NE(on.cleanReason.find("on: the removal leaves"), std::string::npos) << on.cleanReason;
    EXPECT_NE(on.mergeReason.find("clean pauses"), std::string::npos) << on.mergeReason;

    // Against the waveform merge alone: exactly as long, lined up with the
    // original, the pauses far quieter and the voice closer to the truth.
    ASSERT_EQ(cleaned.size(), p.original.size());
    ASSERT_EQ(plain.size(), p.original.size());
    EXPECT_EQ(BestLag(cleaned, p.voice), 0);
    EXPECT_LT(PauseDb(cleaned), PauseDb(plain) - 20);
    EXPECT_GT(Sdr(cleaned, p.voice), Sdr(plain, p.voice) + 3);
}

TEST_F(CleanPauses, TheStageFollowsTheFrequencyMergeAndTheMidSignal)
{
    // After the frequency merge its reference waits out the merge's delay;
    // on the mid signal it runs once for both channels.
    const Pair p = MakePair(0.05);
    Write(p);
    struct Case {
        int mergeMode, procMode;
    } cases[] = {{0, 0}, {1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mergeMode * 10 + c.procMode);
        RunReport off, on;
        const auto plain = Run(off, 2, c.mergeMode, 1, c.procMode);
        const auto cleaned = Run(on, 1, c.mergeMode, 1, c.procMode);
        EXPECT_EQ(on.clean, RunReport::Clean::On);
        EXPECT_EQ(on.merge, c.mergeMode);
        ASSERT_EQ(cleaned.size(), p.original.size());
        EXPECT_EQ(BestLag(cleaned, p.voice), 0);
        EXPECT_LT(PauseDb(cleaned), PauseDb(plain) - 10);
        if (c.procMode == 2) {
            for (size_t i = 0; i < cleaned.size(); i += 2) ASSERT_EQ(cleaned[i], cleaned[i + 1]) << i;
        }
    }
}

TEST_F(CleanPauses, AnExactPairAndTheClassicAlignmentLeaveThemOff)
{
    // A karaoke that cancels almost exactly: nothing to clean, and the voice
    // is the one the stage's option off gives.
    Write(MakePair(0));
    RunReport automatic, off;
    const auto a = Run(automatic, 0);
    const auto b = Run(off, 2);
    EXPECT_EQ(automatic.clean, RunReport::Clean::Exact) << automatic.cleanReason;
    EXPECT_LT(automatic.cancellationDb, kCleanCancellationDb);
    EXPECT_EQ(a, b);

    // The classic alignment has no aligned karaoke: the stage does not run,
    // even when asked for on every pair, and the report says why.
    Write(MakePair(0.1));
    RunReport classic;
    Run(classic, 1, 2, 0);
    EXPECT_EQ(classic.clean, RunReport::Clean::NoPosition);
    EXPECT_TRUE(classic.cleanAlways);
    EXPECT_NE(classic.cleanReason.find("precise alignment is off"), std::string::npos) << classic.cleanReason;
}

TEST_F(CleanPauses, AKaraokeOfAnotherSongGivesNoLeakToGoBy)
{
    // The removal takes out almost nothing, so what it leaves is far louder
    // than the karaoke it removed: guided by that, the stage would take the
    // voice for residue. Even asked for on every pair, it does not run.
    Pair p = MakePair(0);
    p.karaoke = Delay(Accompaniment(kFrames, 2, 23), kDelay, 2);
    Write(p);
    RunReport always, off;
    const auto a = Run(always, 1);
    const auto b = Run(off, 2);
    EXPECT_EQ(always.clean, RunReport::Clean::NoLeak) << always.cleanReason;
    EXPECT_FALSE(always.leakMeasured);
    EXPECT_EQ(a, b);
}

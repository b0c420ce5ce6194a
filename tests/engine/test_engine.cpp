#include "AutoAnalysis.h"
#include "EngineFixture.h"
#include "FaultHarness.h"
#include "IntroAnalysis.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

constexpr int kRate = 44100;

class Engine : public ::testing::Test {
protected:
    TempDir dir;
    ProcessingOptions edited;
    CommittedOptions options;
    RecordingHost host;
    TVocalMain engine;
    TWaveData original, karaoke, output;

    void SetUp() override {
        // Every choice manual unless a test says otherwise: no analysis.
        edited.MergeMode = 1;
        edited.IntroMode = 3;
        edited.AdptMode = 1;
        edited.AdptNum = 0;
        edited.KrkPhase = 1;
        edited.LevelAdpt = 3;
    }

    void Write(const std::string& name, int channels, const std::vector<int16_t>& s) {
        WriteFile(dir / name, Wave16(uint16_t(channels), kRate, s));
    }

    // Opens the pair, creates the output and runs the engine in `mode`.
    void RunEngine(const std::string& orig, const std::string& kar, int mode = 0) {
        CommitOptions(edited, options);
        ASSERT_EQ(original.OpenRead(dir / orig), 0);
        ASSERT_EQ(karaoke.OpenRead(dir / kar), 0);
        output.Format = original.Format;
        ASSERT_EQ(output.CreateWrite(dir / "out.wav"), 0);
        engine.Attach(&host, &options, &original, &karaoke, &output);
        engine.Run(mode);
        original.Close();
        karaoke.Close();
        output.Close();
    }

    std::vector<int16_t> Output() { return ReadSamples(dir / "out.wav"); }

    // song.wav, an accompaniment with a voice, and kar.wav, the accompaniment
    // alone; the accompaniment and the voice.
    std::pair<std::vector<int16_t>, std::vector<int16_t>> WriteSongAndKaraoke(int channels, size_t frames,
                                                                              uint32_t seed) {
        auto accomp = Accompaniment(frames, channels, seed);
        auto voice = Voice(frames, channels, kRate);
        Write("song.wav", channels, Mix(accomp, voice));
        Write("kar.wav", channels, accomp);
        return {std::move(accomp), std::move(voice)};
    }
};

} // namespace

TEST_F(Engine, OriginalAloneIsWrittenExactlyAsLongAsTheOriginal) {
    // Whole blocks, a part block, less than one block: the output never
    // grows past the original with the zeros of the last block.
    struct Case {
        size_t frames;
        size_t written;
    } cases[] = {{44100, 44100}, {45000, 45000}, {100, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        const auto song = Accompaniment(c.frames, 2, 1);
        Write("song.wav", 2, song);
        host = RecordingHost{};
        RunEngine("song.wav", "song.wav", 1);
        const auto out = Output();
        ASSERT_EQ(out.size(), c.written * 2);
        // Without finishing stages the original passes unchanged.
        EXPECT_TRUE(std::equal(song.begin(), song.end(), out.begin()));
        EXPECT_TRUE(host.warnings.empty());
        EXPECT_EQ(host.maximum, int64_t(c.frames * 4));
        EXPECT_EQ(host.position, 0);
        EXPECT_EQ(host.titles.back(), "Sonvelt");
        EXPECT_EQ(host.statuses.back(), "");
    }
}

TEST_F(Engine, ProgressIsShownEveryTwelveBlocks) {
    Write("song.wav", 2, Accompaniment(8820 * 30, 2, 2));
    RunEngine("song.wav", "song.wav", 1);
    // After blocks 12 and 24 of 30.
    std::vector<std::string> percents;
    for (const auto& t : host.titles)
        if (t != "Sonvelt") percents.push_back(t);
    EXPECT_EQ(percents, (std::vector<std::string>{"40%-Sonvelt", "80%-Sonvelt", "100%-Sonvelt"}));
    EXPECT_EQ(host.maxPositionSeen, host.maximum);
    EXPECT_EQ(host.pumps, 30);
}

TEST_F(Engine, EmptyDataChangesNothing) {
    Write("song.wav", 2, Accompaniment(1000, 2, 3));
    Write("empty.wav", 2, {});
    RunEngine("song.wav", "empty.wav");
    EXPECT_EQ(host.maximum, -1);
    EXPECT_TRUE(host.titles.empty());
    EXPECT_TRUE(host.warnings.empty());
    EXPECT_TRUE(Output().empty());
}

TEST_F(Engine, StopEndsTheRunAfterTheCurrentBlockWithoutAMessage) {
    Write("song.wav", 2, Accompaniment(8820 * 20, 2, 4));
    host.onPump = [&](int n) {
        if (n == 3) engine.Cancel = 1;
    };
    RunEngine("song.wav", "song.wav", 1);
    EXPECT_EQ(Output().size(), size_t(3 * 8820 * 2));
    EXPECT_TRUE(host.warnings.empty());
    EXPECT_LT(host.maxPositionSeen, host.maximum);
    EXPECT_EQ(host.titles.back(), "Sonvelt");
}

TEST_F(Engine, AMonoOriginalRunsWithNormalChannelsAndNoCentreFocusLeavingTheOptionsAlone) {
    // Mid handling would halve a one-channel voice and the centre focus
    // would delay it: the run uses neither, and the options stay as set.
    edited.ProcMode = 2;
    edited.CntrFlg = 1;
    const size_t frames = 2 * kRate;
    const auto [accomp, voice] = WriteSongAndKaraoke(1, frames, 5);
    RunEngine("song.wav", "kar.wav");
    const auto out = Output();
    ASSERT_EQ(out.size(), frames);
    for (size_t i = 8820 / 4; i < frames; ++i) ASSERT_EQ(out[i], voice[i]) << i;
    EXPECT_EQ(options.ProcMode, 2);
    EXPECT_EQ(options.CntrFlg, 1);

    RunEngine("song.wav", "song.wav", 1);
    EXPECT_EQ(Output(), Mix(accomp, voice));
    EXPECT_EQ(options.ProcMode, 2);
    EXPECT_EQ(options.CntrFlg, 1);
}

TEST_F(Engine, WaveformMergeRemovesAnAlignedKaraokeExactly) {
    // Karaoke identical to the accompaniment: after the first quarter block
    // the output is the voice itself, sample for sample.
    const size_t frames = 3 * kRate;
    const auto [accomp, voice] = WriteSongAndKaraoke(2, frames, 6);
    RunEngine("song.wav", "kar.wav");
    const auto out = Output();
    const size_t quarter = 8820 / 4;
    ASSERT_EQ(out.size(), frames * 2);
    const auto mixed = Mix(accomp, voice);
    for (size_t i = 0; i < quarter * 2; ++i)
        ASSERT_EQ(out[i], int16_t(std::trunc(mixed[i] - accomp[i] * 0.95))) << i;
    for (size_t i = quarter * 2; i < out.size(); ++i) ASSERT_EQ(out[i], i < voice.size() ? voice[i] : 0) << i;
    EXPECT_EQ(host.maxPositionSeen, host.maximum);
    EXPECT_TRUE(host.log.empty());
}

TEST_F(Engine, LeadInPassesTheOriginalUntilTheKaraokeStarts) {
    // The original has one second more lead-in than the karaoke: the onset
    // analysis finds -44100 and the first range + 44100 frames pass untouched.
    edited.IntroMode = 1;
    edited.AdptNum = 5; // range 5 at BlkSize 100
    const size_t frames = 3 * kRate;
    const auto accomp = Accompaniment(frames, 2, 7);
    const auto voice = Voice(frames, 2, kRate);
    const auto song = Delay(Mix(accomp, voice), kRate, 2);
    Write("song.wav", 2, song);
    Write("kar.wav", 2, accomp);
    RunEngine("song.wav", "kar.wav");
    const auto out = Output();
    const size_t lead = 44105;
    ASSERT_GT(out.size(), (lead + 8820) * 2);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(lead * 2), song.begin()));
    // Once the blocks run, the voice comes out exactly.
    const size_t from = (lead + 8820 / 4) * 2;
    for (size_t i = from; i < song.size(); ++i) ASSERT_EQ(out[i], song[i] - accomp[i - kRate * 2]) << i;
    // Past the end of the original only silence comes out.
    for (size_t i = song.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
}

TEST_F(Engine, AutomaticAnalysisFindsOffsetPhaseAndGainThenCaches) {
    edited = ProcessingOptions{};
    edited.MergeMode = 1;
    const size_t frames = 8 * kRate;
    const auto accomp = Accompaniment(frames, 2, 8);
    const auto voice = Voice(frames, 2, kRate, 1500);
    // Karaoke: 0.3 s later, inverted, at 0.8 of the level.
    std::vector<int16_t> kar = Delay(accomp, 13230, 2);
    for (auto& v : kar) v = int16_t(std::lround(-0.8 * v));
    Write("song.wav", 2, Mix(accomp, voice));
    Write("kar.wav", 2, kar);
    RunEngine("song.wav", "kar.wav");
    const RunReport* r = &engine.LastReport();
    ASSERT_TRUE(r->analysed);
    EXPECT_EQ(r->analysis.introOffsetFrames, 13230);
    EXPECT_TRUE(r->analysis.karaokeInverted);
    EXPECT_EQ(r->analysis.driftFramesPerBlock, 0);
    EXPECT_NEAR(r->analysis.karaokeGain, 1.25, 0.03);
    EXPECT_EQ(r->offsetFrames, 13230);
    EXPECT_TRUE(r->inverted);
    EXPECT_EQ(host.timestamps, 1);
    EXPECT_EQ(host.timerStarts, 1);
    EXPECT_FALSE(host.timerRunning);
    // With precise alignment the position was measured in one pass over
    // the whole recordings, without the classic range search.
    ASSERT_EQ(r->analysisTrace.passes.size(), 1u);
    EXPECT_EQ(r->analysisTrace.passes[0].kind, AnalysisTrace::PassKind::Final);
    EXPECT_TRUE(r->analysis.map.Valid());
    EXPECT_GT(r->analysisTrace.keptPoints, 60); // of some 80 blocks

    // Same pair, same channel handling and block length: no second analysis.
    host = RecordingHost{};
    RunEngine("song.wav", "kar.wav");
    r = &engine.LastReport();
    EXPECT_TRUE(r->analysed);
    EXPECT_TRUE(r->analysisTrace.candidates.empty());
    EXPECT_TRUE(r->analysisTrace.passes.empty());
    EXPECT_EQ(r->analysis.introOffsetFrames, 13230);
    EXPECT_EQ(host.log, "");
    EXPECT_EQ(host.timerStarts, 0);

    // A phase set by hand needs the range search (the fitted position
    // alone need not hold for it): the pair is analysed again, with it.
    edited.KrkPhase = 2;
    host = RecordingHost{};
    RunEngine("song.wav", "kar.wav");
    r = &engine.LastReport();
    ASSERT_GE(r->analysisTrace.passes.size(), 3u);
    EXPECT_EQ(r->analysisTrace.passes.front().kind, AnalysisTrace::PassKind::First);
    EXPECT_EQ(r->analysisTrace.passes.front().searchHalfWidthFrames, 20);
    EXPECT_EQ(r->analysisTrace.passes.back().kind, AnalysisTrace::PassKind::Final);
    edited.KrkPhase = 0;

    // Another block length analyses again.
    edited.BlkSize = 200;
    host = RecordingHost{};
    RunEngine("song.wav", "kar.wav");
    EXPECT_FALSE(engine.LastReport().analysisTrace.candidates.empty());

    // A file replaced under the same name is not taken from the cache.
    Write("kar.wav", 2, Delay(accomp, 100, 2));
    host = RecordingHost{};
    RunEngine("song.wav", "kar.wav");
    r = &engine.LastReport();
    EXPECT_EQ(r->analysis.introOffsetFrames, 100);
    EXPECT_FALSE(r->analysis.karaokeInverted);
}

TEST_F(Engine, IdenticalRecordingsNeedOneCandidate) {
    edited = ProcessingOptions{};
    edited.MergeMode = 1;
    const auto song = Accompaniment(4 * kRate, 2, 9);
    Write("song.wav", 2, song);
    Write("copy.wav", 2, song);
    RunEngine("song.wav", "copy.wav");
    const RunReport& r = engine.LastReport();
    EXPECT_EQ(r.analysis.introOffsetFrames, 0);
    EXPECT_FALSE(r.analysis.karaokeInverted);
    ASSERT_EQ(r.analysisTrace.candidates.size(), 1u);
    const AnalysisTrace::Candidate& c = r.analysisTrace.candidates[0];
    EXPECT_EQ(c.method, AnalysisTrace::IntroMethod::Onset);
    EXPECT_FALSE(c.inverted);
    EXPECT_EQ(c.offsetFrames, 0);
    EXPECT_EQ(c.pass.meanResidual, 0.0);
    EXPECT_GT(c.pass.meanOriginal, 0.0);
}

TEST_F(Engine, OnsetAnalysisOfAKaraokeOneSecondLate) {
    const auto accomp = Accompaniment(3 * kRate, 2, 10);
    Write("song.wav", 2, accomp);
    Write("kar.wav", 2, Delay(accomp, kRate, 2));
    ASSERT_EQ(original.OpenRead(dir / "song.wav"), 0);
    ASSERT_EQ(karaoke.OpenRead(dir / "kar.wav"), 0);
    PairReader pair(original, karaoke);
    TestRun test;
    RunContext run = test.Context(host);
    EXPECT_EQ(FindOnsetOffset(pair, run, false), kRate);
    EXPECT_EQ(FindEnvelopeOffset(pair, run, true, false), kRate);
    EXPECT_EQ(FindEnvelopeOffset(pair, run, false, false), kRate);
}

TEST(PairReader, ReadsSilenceBeforeTheStartAndPastTheEnd) {
    TempDir dir;
    const std::vector<int16_t> s = {1, -1, 2, -2, 3, -3};
    WriteFile(dir / "a.wav", Wave16(2, kRate, s));
    TWaveData a;
    ASSERT_EQ(a.OpenRead(dir / "a.wav"), 0);
    PairReader pair(a, a);
    EXPECT_EQ(pair.Channels(), 2);
    std::vector<int16_t> pcm(8, 99);
    // Two frames before the start count as delivered silence.
    EXPECT_EQ(pair.ReadOriginal(-2, pcm.data(), 4), 16);
    EXPECT_EQ(pcm, (std::vector<int16_t>{0, 0, 0, 0, 1, -1, 2, -2}));
    // Past the end: silence, not what the buffer held.
    EXPECT_EQ(pair.ReadKaraoke(2, pcm.data(), 4), 4);
    EXPECT_EQ(pcm, (std::vector<int16_t>{3, -3, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(pair.ReadOriginal(10, pcm.data(), 4), 0);
    EXPECT_EQ(pcm, std::vector<int16_t>(8, 0));
}

TEST_F(Engine, NothingAutomaticMeansNoAnalysis) {
    edited.MergeMode = 0; // frequency merge with the fallback gain
    const auto accomp = Accompaniment(kRate, 2, 11);
    Write("song.wav", 2, accomp);
    Write("kar.wav", 2, accomp);
    RunEngine("song.wav", "kar.wav");
    const RunReport& r = engine.LastReport();
    EXPECT_FALSE(r.analysed);
    EXPECT_TRUE(r.analysisTrace.candidates.empty());
    EXPECT_EQ(r.gain, 0.95);
    EXPECT_EQ(host.log, "");
    EXPECT_EQ(host.timerStarts, 0);
    EXPECT_TRUE(host.warnings.empty());
}

TEST_F(Engine, ImpossibleBlockSizeGivesTheMemoryMessage) {
    edited.BlkSize = 2000000000;
    Write("song.wav", 2, Accompaniment(1000, 2, 12));
    RunEngine("song.wav", "song.wav", 1);
    EXPECT_EQ(host.warnings, (std::vector<std::string>{EngineText::kNoMemory}));
    EXPECT_TRUE(Output().empty());
}

// A disk that fills up: the write failure is reported once and the file
// holds whole frames of what was written.
TEST_F(Engine, FullDiskReportsOnceAndLeavesAValidFile) {
    Write("song.wav", 2, Accompaniment(8820 * 20, 2, 13));
    const std::string out = dir / "out.wav";
    EXPECT_EQ(RunUnderFileSizeLimit(100001, [&] {
                  RunEngine("song.wav", "song.wav", 1);
                  return host.warnings == std::vector<std::string>{EngineText::kWriteFailed} ? 0 : 1;
              }),
              0);
    TWaveData w;
    ASSERT_EQ(w.OpenRead(out), 0);
    EXPECT_GT(w.DataBytes, 0u);
    EXPECT_EQ(w.DataBytes % 4, 0u);
    EXPECT_EQ(int64_t(w.DataBytes) + 46, int64_t(std::filesystem::file_size(out)));
}

TEST(RangeChoice, FirstRangeFromTheFirstPass) {
    struct Case {
        double meanShift, spread;
        int drift, halfWidth;
    } cases[] = {{-3.6, 1.2, -3, 2}, {0.0, 0.0, 0, 0}, {0.22, 0.4, 0, 1}, {2.5, 0.0, 2, 1}, {-0.4, 0.05, 0, 0}};
    for (const Case& c : cases) {
        const RangeStart r = FirstRange(c.meanShift, c.spread);
        EXPECT_EQ(r.driftFramesPerBlock, c.drift) << c.meanShift;
        EXPECT_EQ(r.firstHalfWidthFrames, c.halfWidth) << c.meanShift;
    }
}

TEST(RangeChoice, StopsWhereTheResidualSettles) {
    struct Case {
        const char* what;
        int firstHalfWidth;
        std::vector<std::pair<double, double>> passes; // residual, original level per half-width from the first
        int chosen;
        size_t tried;
    } cases[] = {
        {"500 then 501: ratio 1.002 settles on the first", 4, {{500, 900}, {501, 900}}, 4, 2},
        {"no two passing ranges agree: the smallest residual",
         2, {{600, 900}, {500, 900}, {400, 900}, {300, 900}, {350, 900}, {700, 900}, {420, 900}, {800, 900}, {550, 900}},
         5, 9},
        {"a failing range in between: chosen is the range before the settling one",
         0, {{500, 900}, {950, 900}, {501, 900}}, 1, 3},
        {"a zero residual after a passing one", 3, {{0, 900}, {0, 900}}, 3, 2},
        {"equal residuals keep the smaller range", 1, {{800, 700}, {800, 700}, {800, 700}, {800, 700}, {800, 700},
                                                        {800, 700}, {800, 700}, {800, 700}, {800, 700}}, 1, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        size_t tried = 0;
        const int chosen = ChooseRange(c.firstHalfWidth, [&](int range, double& voc, double& org) {
            EXPECT_EQ(range, c.firstHalfWidth + int(tried));
            voc = c.passes.at(tried).first;
            org = c.passes.at(tried).second;
            ++tried;
            return true;
        });
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(tried, c.tried);
    }
    EXPECT_EQ(ChooseRange(0, [](int, double&, double&) { return false; }), -1);
}

// A karaoke that is another edit of the song: a section cut, one repeated,
// one replaced by something else. The voice must be clean wherever the
// karaoke holds the song, the rest left as the original and reported, and no
// second of the voice louder than the original. The karaoke map's questions
// on a hand-made map.
#include "Analysis.h"
#include "EngineFixture.h"
#include "Extraction.h"
#include "Vfunc.h"
#include "VoiceWriter.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testutil;

namespace {

constexpr int kRate = 16000;
constexpr int kSeconds = 24;
constexpr int kLeadIn = 4800; // the karaoke's silence before the song

struct Edited {
    const char* name;
    // The karaoke's content as stretches of the accompaniment, [from, to) in
    // seconds; a negative `from` stands for other noise of that length.
    std::vector<std::pair<double, double>> pieces;
    std::vector<std::pair<double, double>> unmatched; // expected, seconds of the original
    int edits;
};

std::vector<int16_t> Frames(const std::vector<int16_t>& s, double from, double to)
{
    return {s.begin() + long(from * kRate) * 2, s.begin() + long(to * kRate) * 2};
}

struct Result {
    RunReport report;
    std::vector<int16_t> voice, original, truth;
};

Result Extract(const Edited& e, TempDir& dir)
{
    const size_t frames = size_t(kSeconds) * kRate;
    const std::vector<int16_t> accomp = Accompaniment(frames, 2, 7), other = Accompaniment(frames, 2, 8);
    Result r;
    r.truth = Voice(frames, 2, kRate);
    r.original = Mix(accomp, r.truth);
    std::vector<int16_t> karaoke(size_t(kLeadIn) * 2, 0);
    for (const auto& [from, to] : e.pieces) {
        const std::vector<int16_t> piece = from < 0 ? Frames(other, 0, to - from) : Frames(accomp, from, to);
        karaoke.insert(karaoke.end(), piece.begin(), piece.end());
    }
    WriteFile(dir / "song.wav", Wave16(2, kRate, r.original));
    WriteFile(dir / "kar.wav", Wave16(2, kRate, karaoke));
    CommittedOptions options;
    CommitOptions(ProcessingOptions{}, options);
    RecordingHost host;
    TVocalMain engine;
    r.voice = RunOnFiles(engine, host, options, dir.path().string(), &r.report);
    return r;
}

bool Near(double a, double b, double within) { return std::fabs(a - b) <= within; }

bool InAny(double t, const std::vector<std::pair<double, double>>& stretches, double guard)
{
    for (const auto& [from, to] : stretches)
        if (t > from - guard && t < to + guard) return true;
    return false;
}

} // namespace

TEST(AnotherEdit, EachStretchFindsItsPlaceAndWhatHasNoneIsLeftAsTheOriginal)
{
    const Edited cases[] = {
        {"a section cut", {{0, 10}, {12, 24}}, {{10, 12}}, 1},
        {"a section repeated", {{0, 14}, {4, 7}, {14, 24}}, {}, 1},
        {"a section replaced", {{0, 8}, {-8, -6}, {10, 24}}, {{8, 10}}, 0},
    };
    for (const Edited& e : cases) {
        SCOPED_TRACE(e.name);
        TempDir dir;
        const Result r = Extract(e, dir);
        ASSERT_EQ(r.voice.size(), r.original.size());
        EXPECT_TRUE(r.report.preciseAlignment);
        EXPECT_EQ(r.report.edits, e.edits);
        ASSERT_EQ(r.report.unmatchedSeconds.size(), e.unmatched.size());
        for (size_t i = 0; i < e.unmatched.size(); ++i) {
            // Seams to 10 ms (the blocks the search works on are 0.256 s here).
            EXPECT_TRUE(Near(r.report.unmatchedSeconds[i].first, e.unmatched[i].first, 0.01))
                << r.report.unmatchedSeconds[i].first;
            EXPECT_TRUE(Near(r.report.unmatchedSeconds[i].second, e.unmatched[i].second, 0.01))
                << r.report.unmatchedSeconds[i].second;
        }
        // Second by second: where the karaoke holds the song the voice is
        // clean; no second is louder than the original.
        std::vector<double> seams;
        for (const auto& [from, to] : e.unmatched) seams.insert(seams.end(), {from, to});
        double voiceErr = 0, voiceRef = 0;
        for (int s = 1; s < kSeconds; ++s) {
            double eo = 0, ev = 0, err = 0, ref = 0;
            for (size_t i = size_t(s) * kRate * 2; i < size_t(s + 1) * kRate * 2; ++i) {
                eo += double(r.original[i]) * r.original[i];
                ev += double(r.voice[i]) * r.voice[i];
                err += std::pow(double(r.voice[i]) - r.truth[i], 2);
                ref += double(r.truth[i]) * r.truth[i];
            }
            EXPECT_LE(ev, eo * std::pow(10.0, 0.05)) << "second " << s;
            const bool nearSeam = std::any_of(seams.begin(), seams.end(), [&](double t) { return std::fabs(t - s - 0.5) < 1.0; });
            if (!InAny(s + 0.5, e.unmatched, 0.5) && !nearSeam) {
                voiceErr += err;
                voiceRef += ref;
            }
        }
        EXPECT_GT(10 * std::log10(voiceRef / std::max(voiceErr, 1e-9)), 40.0);
        EXPECT_GT(r.report.analysisTrace.stretches, 1);

        // The blocks the report shows lie where the karaoke holds them,
        // against the longest stretch's line: a jump where the place changes.
        std::vector<double> starts; // where each piece starts in the karaoke, seconds
        double at = double(kLeadIn) / kRate;
        size_t longest = 0;
        for (size_t i = 0; i < e.pieces.size(); ++i) {
            starts.push_back(at);
            at += e.pieces[i].second - e.pieces[i].first;
            if (e.pieces[i].second - e.pieces[i].first > e.pieces[longest].second - e.pieces[longest].first) longest = i;
        }
        const double mainOffset = starts[longest] - e.pieces[longest].first;
        int checked = 0;
        for (const BlockPosition& b : r.report.analysis.blocks) {
            const double t = double(b.originalFrame) / kRate;
            std::vector<double> places;
            for (size_t i = 0; i < e.pieces.size(); ++i)
                if (e.pieces[i].first >= 0 && t >= e.pieces[i].first && t < e.pieces[i].second)
                    places.push_back(starts[i] - e.pieces[i].first);
            const bool nearEdge = std::any_of(e.pieces.begin(), e.pieces.end(), [&](const auto& p) {
                return p.first >= 0 && (std::fabs(t - p.first) < 0.3 || std::fabs(t - p.second) < 0.3);
            });
            if (places.size() != 1 || nearEdge) continue;
            EXPECT_NEAR(b.offFitFrames / kRate, places[0] - mainOffset, 0.002) << "block at " << t << " s";
            ++checked;
        }
        EXPECT_GT(checked, 20);
    }
}

TEST(AnotherEdit, TheSameEditCostsNothingExtra)
{
    TempDir dir;
    const Result r = Extract({"the same edit", {{0, 24}}, {}, 0}, dir);
    EXPECT_EQ(r.report.edits, 0);
    EXPECT_TRUE(r.report.unmatchedSeconds.empty()) << r.report.unmatchedSeconds.size();
    EXPECT_TRUE(r.report.guardedSeconds.empty());
    EXPECT_EQ(r.report.analysisTrace.structureSearches, 0);
    EXPECT_EQ(r.report.analysisTrace.stretches, 0);
}

// A long stretch of loud voice, where removing the karaoke takes out little
// of the original, comes before a cut: the searches go first where removing
// adds sound, so the budget is not spent on the loud stretch before the
// stretch after the cut is found.
TEST(AnotherEdit, ACutAfterALongLoudStretchIsStillFound)
{
    const int seconds = 40;
    const size_t frames = size_t(seconds) * kRate;
    const std::vector<int16_t> accomp = Accompaniment(frames, 2, 7);
    std::vector<int16_t> voice = Voice(frames, 2, kRate);
    for (size_t i = 0; i < size_t(26) * kRate; ++i) {
        const double t = double(i) / kRate;
        const double v = 14000 * std::sin(2 * M_PI * 220 * t) * (0.8 + 0.2 * std::sin(2 * M_PI * 3 * t));
        voice[2 * i] = voice[2 * i + 1] = int16_t(std::lround(v));
    }
    const std::vector<int16_t> original = Mix(accomp, voice);
    std::vector<int16_t> karaoke(size_t(kLeadIn) * 2, 0);
    for (const auto& [from, to] : {std::pair{0.0, 30.0}, std::pair{32.0, 40.0}}) {
        const std::vector<int16_t> piece = Frames(accomp, from, to);
        karaoke.insert(karaoke.end(), piece.begin(), piece.end());
    }
    TempDir dir;
    WriteFile(dir / "song.wav", Wave16(2, kRate, original));
    WriteFile(dir / "kar.wav", Wave16(2, kRate, karaoke));
    CommittedOptions options;
    CommitOptions(ProcessingOptions{}, options);
    RecordingHost host;
    TVocalMain engine;
    RunReport report;
    const std::vector<int16_t> out = RunOnFiles(engine, host, options, dir.path().string(), &report);
    ASSERT_EQ(out.size(), original.size());
    EXPECT_EQ(report.edits, 1);
    ASSERT_EQ(report.unmatchedSeconds.size(), 1u);
    EXPECT_NEAR(report.unmatchedSeconds[0].first, 30.0, 0.01);
    EXPECT_NEAR(report.unmatchedSeconds[0].second, 32.0, 0.01);
}

// The extraction's own safety net, on a map that sends two seconds to the
// wrong place (as a karaoke holding something else there would): those
// seconds come out as the original, and are reported; the rest is voice.
TEST(AnotherEdit, WhereRemovingWouldAddSoundTheOriginalStays)
{
    const size_t frames = 10 * size_t(kRate);
    const std::vector<int16_t> accomp = Accompaniment(frames, 2, 7), other = Accompaniment(frames, 2, 8);
    const std::vector<int16_t> truth = Voice(frames, 2, kRate), originalSamples = Mix(accomp, truth);
    std::vector<int16_t> karaoke = accomp;
    std::copy(other.begin() + 4 * kRate * 2, other.begin() + 6 * kRate * 2, karaoke.begin() + 4 * kRate * 2);
    TempDir dir;
    WriteFile(dir / "song.wav", Wave16(2, kRate, originalSamples));
    WriteFile(dir / "kar.wav", Wave16(2, kRate, karaoke));
    CommittedOptions options;
    CommitOptions(ProcessingOptions{}, options);
    TWaveData original, kar, output;
    ASSERT_EQ(original.OpenRead(dir / "song.wav"), 0);
    ASSERT_EQ(kar.OpenRead(dir / "kar.wav"), 0);
    output.Format = original.Format;
    ASSERT_EQ(output.CreateWrite(dir / "voice.wav"), 0);

    RecordingHost host;
    TestRun test;
    RunContext run = test.Context(host);
    PairReader pair(original, kar);
    TVocalFunc f;
    ASSERT_EQ(f.Setup(2, kRate, options.BlkSec * 2.0, 1), 0);
    ASSERT_EQ(f.SetupPrecise(), 0);
    VoiceWriter writer(&output, 2, f.Latency(), int64_t(frames));
    ExtractionPlan plan;
    plan.analysed = plan.precise = true;
    plan.merge = Merge::Waveform;
    KaraokeMap map;
    map.track.SetLine(0, 0.0, 1.0);
    Extraction extraction(pair, run, f, writer, plan, options);
    ASSERT_EQ(extraction.RunPrecise(map), RunResult::kDone);
    output.Close();
    const std::vector<int16_t> voice = ReadSamples(dir / "voice.wav");
    ASSERT_EQ(voice.size(), originalSamples.size());

    // Kept: the blocks of the wrong stretch, give or take the half second
    // the decision looks back over.
    const auto& guarded = extraction.Guarded();
    ASSERT_FALSE(guarded.empty());
    EXPECT_NEAR(double(guarded.front().first) / kRate, 4.0, 0.3);
    EXPECT_NEAR(double(guarded.back().second) / kRate, 6.0, 0.6);
    for (int q = 0; q < 40; ++q) {
        double eo = 0, ev = 0, err = 0, ref = 0;
        for (size_t i = size_t(q) * kRate / 2; i < size_t(q + 1) * kRate / 2; ++i) {
            eo += double(originalSamples[i]) * originalSamples[i];
            ev += double(voice[i]) * voice[i];
            err += std::pow(double(voice[i]) - truth[i], 2);
            ref += double(truth[i]) * truth[i];
        }
        const double t = q * 0.25;
        SCOPED_TRACE(t);
        EXPECT_LE(ev, eo * std::pow(10.0, 0.05));
        if (t >= 4.5 && t < 5.75) {
            EXPECT_NEAR(10 * std::log10(ev / eo), 0.0, 0.1); // the original
        }
        if ((t >= 1 && t < 3.5) || t >= 7.25) {
            EXPECT_LE(err, ref * 1e-4); // the voice
        }
    }
}

TEST(KaraokeMap, AnswersPerFrameAndSplitsRunsAtItsSeams)
{
    KaraokeMap map;
    map.track.SetLine(0, 100.0, 1.0);
    MapStretch a, gap, b;
    a.first = 0, a.end = 1000, a.matched = true, a.track.SetLine(0, 100.0, 1.0);
    gap.first = 1000, gap.end = 1500;
    b.first = 1500, b.end = 5000, b.matched = true, b.track.SetLine(0, -400.0, 1.0);
    map.stretches = {a, gap, b};

    EXPECT_DOUBLE_EQ(*map.PositionAt(-50), 50.0); // the first stretch reaches back
    EXPECT_DOUBLE_EQ(*map.PositionAt(999), 1099.0);
    EXPECT_FALSE(map.PositionAt(1200).has_value());
    EXPECT_DOUBLE_EQ(*map.PositionAt(9000), 8600.0); // the last reaches on

    MapPiece pieces[4];
    ASSERT_EQ(map.Pieces(900, 700, pieces, 4), 3);
    EXPECT_EQ(pieces[0].count, 100);
    EXPECT_EQ(pieces[1].offset, 100);
    EXPECT_EQ(pieces[1].count, 500);
    EXPECT_FALSE(pieces[1].stretch->matched);
    EXPECT_EQ(pieces[2].count, 100);
    ASSERT_EQ(map.Pieces(900, 700, pieces, 2), 2); // the last piece takes the rest
    EXPECT_EQ(pieces[1].count, 600);

    // What the karaoke (frames 0 .. 3000) does not hold of an original of
    // 6000 frames: the gap, and where the second stretch reads past its end.
    const auto uncovered = map.Uncovered(6000, 3000);
    ASSERT_EQ(uncovered.size(), 2u);
    EXPECT_EQ(uncovered[0], std::make_pair(int64_t(1000), int64_t(1500)));
    EXPECT_EQ(uncovered[1], std::make_pair(int64_t(3400), int64_t(6000)));
    EXPECT_EQ(map.Seams(), (std::vector<int64_t>{1000, 1500}));
    EXPECT_EQ(map.Edits(), 1);

    // Without stretches the one line holds; before the karaoke's start is uncovered.
    KaraokeMap line;
    line.track.SetLine(0, -300.0, 1.0);
    EXPECT_EQ(line.Uncovered(2000, 5000), (std::vector<std::pair<int64_t, int64_t>>{{0, 300}}));
    EXPECT_EQ(line.Edits(), 0);
}

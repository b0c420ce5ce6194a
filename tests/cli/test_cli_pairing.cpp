// Which karaoke the command line takes when none is given: never an earlier
// output, and a karaoke of any format the programs read.
#include "AudioFixtures.h"
#include "CliPairs.h"

using namespace testutil;

using CliPairing = CliPairs;

TEST_F(CliPairing, AnEarlierOutputIsNeverTakenForTheKaraoke) {
    const auto song = Wave16(2, 44100, Accompaniment(44100, 2, 5));
    WriteFile(dir / "Song.wav", song);
    WriteFile(dir / "Song_vo.wav", song);
    CliResult r = RunCli("extract " + Q("Song.wav") + " --defaults");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("no karaoke recording found beside it"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir / "Song_vo.wav"), song);
    EXPECT_FALSE(Exists("Son_vo.wav"));
}

TEST_F(CliPairing, AFlacKaraokeBesideAWaveOriginalIsFound) {
    const size_t frames = 2 * 44100;
    const auto accomp = Accompaniment(frames, 2, 41);
    WriteFile(dir / "Song.wav", Wave16(2, 44100, Mix(accomp, Voice(frames, 2, 44100))));
    ASSERT_EQ(EncodeFixture(dir / "Song (karaoke).flac", "flac", "flac", 44100, 2, accomp), "");
    CliResult r = RunCli("extract " + Q("Song.wav") + " --defaults --set MergeMode=1 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> jobs = JsonLines(r.out);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(Str(jobs[0], "karaoke"), dir / "Song (karaoke).flac");
    EXPECT_TRUE(jobs[0].value("karaokeFound").toBool());
    EXPECT_EQ(Str(jobs[0], "output"), dir / "Song_vo.wav");
    EXPECT_LT(jobs[0].value("removalDb").toDouble(), -3.0);
}

// Several songs in one folder: which file goes with which, what is skipped,
// what is refused, and what each job says it used and found.
#include "CliPairs.h"

using namespace testutil;

using CliBatch = CliPairs;

TEST_F(CliBatch, AFolderOfSongsPairsRightAndSkipsKaraokeAndEarlierOutputs) {
    MakePair("01 Song", 3, 41, "01 Song (Instrumental).wav");
    MakePair("05 Another Song", 3, 42, "Another Song (Karaoke Version).wav");
    WriteFile(dir / "05 _vo.wav", Wave16(2, 44100, std::vector<int16_t>(2000, 1)));
    std::string all;
    for (const char* f : {"01 Song (Instrumental).wav", "01 Song.wav", "05 Another Song.wav",
                          "Another Song (Karaoke Version).wav", "05 _vo.wav"})
        all += " " + Q(f);

    CliResult r = RunCli("extract -j 2" + all + " --json --defaults --set MergeMode=1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("sonvelt-cli: note: " + dir / "01 Song (Instrumental).wav" +
                         ": skipped: it is the karaoke of \"" + dir / "01 Song.wav" + "\"\n"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sonvelt-cli: note: " + dir / "Another Song (Karaoke Version).wav" +
                         ": skipped: it is the karaoke of \"" + dir / "05 Another Song.wav" + "\"\n"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sonvelt-cli: note: " + dir / "05 _vo.wav" + ": skipped: its name ends in the output suffix"),
              std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;

    const std::vector<QJsonObject> jobs = JsonLines(r.out);
    ASSERT_EQ(jobs.size(), 2u) << r.out;
    std::map<std::string, QJsonObject> byOriginal;
    for (const QJsonObject& j : jobs) byOriginal[Str(j, "original")] = j;
    const std::pair<const char*, const char*> pairs[] = {
        {"01 Song", "01 Song (Instrumental).wav"}, {"05 Another Song", "Another Song (Karaoke Version).wav"}};
    for (const auto& [stem, karaoke] : pairs) {
        SCOPED_TRACE(stem);
        const QJsonObject& j = byOriginal[dir / (std::string(stem) + ".wav")];
        EXPECT_EQ(Str(j, "karaoke"), dir / karaoke);
        EXPECT_TRUE(j.value("karaokeFound").toBool());
        EXPECT_EQ(Str(j, "output"), dir / (std::string(stem) + "_vo.wav"));
        EXPECT_EQ(Str(j, "state"), "voice written");
        EXPECT_EQ(j.value("exitStatus").toInt(), 0);
        EXPECT_EQ(j.value("offsetFrames").toInt(), 8820);
        EXPECT_NEAR(j.value("offsetSeconds").toDouble(), 0.2, 1e-9);
        EXPECT_FALSE(j.value("inverted").toBool());
        EXPECT_NEAR(j.value("driftPpm").toDouble(), 0, 1e-9);
        EXPECT_NEAR(j.value("gainDb").toDouble(), -20 * std::log10(0.9), 0.3);
        EXPECT_EQ(Str(j, "merge"), "waveform");
        EXPECT_FALSE(j.value("mergeAutomatic").toBool());
        // The voice is well below the original: the accompaniment went.
        EXPECT_LT(j.value("removalDb").toDouble(), -3);
        EXPECT_TRUE(j.value("warnings").toArray().isEmpty());
        TWaveData w;
        ASSERT_EQ(w.OpenRead(Str(j, "output")), 0);
        EXPECT_EQ(w.DataBytes / 4, uint32_t(j.value("framesWritten").toInt()));
        EXPECT_GE(w.DataBytes / 4, uint32_t(3 * 44100 * 9 / 10));
    }
    // The summary on standard error says the same for people.
    for (const char* line : {"  karaoke:  " , "  offset:   0.2000 s (8820 frames; the karaoke is later)",
                             "  phase:    normal", "  drift:    0.0 ppm", "  merge:    waveform", "  removal:  -"})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(dir / "01 Song (Instrumental).wav (found beside the original)"), std::string::npos);
    EXPECT_TRUE(Temporaries().empty());
}

TEST_F(CliBatch, JobsThatWouldWriteOneFileAreRefusedBeforeAnythingRuns) {
    // Both originals find "Song_inst.wav" and name the output after it.
    MakePair("Song_A", 1, 43, "Song_inst.wav");
    MakePair("Song_B", 1, 44, "unused.wav");
    CliResult r = RunCli("extract -j 2 " + Q("Song_A.wav") + " " + Q("Song_B.wav") + " --defaults --yes");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("sonvelt-cli: \"" + dir / "Song_A.wav" + "\" and \"" + dir / "Song_B.wav" +
                         "\" would both write \"" + dir / "Song_vo.wav" + "\"\n"),
              std::string::npos) << r.err;
    EXPECT_FALSE(Exists("Song_vo.wav"));
    EXPECT_EQ(r.out, "");
}

TEST_F(CliBatch, WarningsAboutAPairAndStrict) {
    MakePair("Short", 4, 45, "Short karaoke.wav", 1.0);
    MakePair("Other", 4, 46, "Other inst.wav");
    const std::string longer = "sonvelt-cli: warning: " + dir / "Short karaoke.wav" +
                               ": the karaoke is much shorter than the original (1.0 s against 4.0 s)";
    const std::string plain = "sonvelt-cli: warning: " + dir / "Other.wav" + ": does not look like the karaoke of \"" +
                              dir / "Short.wav" + "\"";
    const std::string weak = "shares little of the original's name";
    WriteFile(dir / "05 Third.wav", Wave16(2, 44100, std::vector<int16_t>(44100 * 2 * 4, 300)));
    struct Case {
        std::string args, warning;
        int strictStatus;
    } cases[] = {
        {Q("Short.wav"), longer, 4},
        // Two originals given without -j.
        {Q("Short.wav") + " " + Q("Other.wav") + " -o " + Q("x.wav"), plain, 4},
        // The only candidate shares nothing but the track number.
        {Q("05 Third.wav"), weak, 4},
    };
    WriteFile(dir / "01 Other inst.wav", ReadFile(dir / "Other inst.wav"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        CliResult strict = RunCli("extract " + c.args + " --defaults --set MergeMode=1 --strict --json");
        EXPECT_EQ(strict.status, c.strictStatus) << strict.err;
        EXPECT_NE(strict.err.find(c.warning), std::string::npos) << strict.err;
        const std::vector<QJsonObject> jobs = JsonLines(strict.out);
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_EQ(jobs[0].value("exitStatus").toInt(), 4);
        EXPECT_EQ(jobs[0].value("warnings").toArray().size(), 1);
        EXPECT_FALSE(Exists("Short_vo.wav"));
        EXPECT_FALSE(Exists("x.wav"));
        EXPECT_FALSE(Exists("05 Third_vo.wav"));
        EXPECT_TRUE(Temporaries().empty());
    }
    // Without --strict the warning is printed and the voice written.
    CliResult r = RunCli("extract " + Q("Short.wav") + " --defaults --set MergeMode=1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(longer), std::string::npos) << r.err;
    EXPECT_TRUE(Exists("Short_vo.wav"));
}

// A karaoke of another song takes nothing out: the warning comes after the
// run, and with --strict the existing output stays as it was.
TEST_F(CliBatch, ARemovalThatTookOutNothingIsWarnedAbout) {
    MakePair("Song", 3, 47);
    MakePair("Stranger", 3, 48);
    WriteText(dir / "Song_vo.wav", "an earlier output");
    const std::string args = "extract " + Q("Song.wav") + " " + Q("Stranger (karaoke).wav") +
                             " --defaults --set MergeMode=1 --yes --json";
    CliResult strict = RunCli(args + " --strict");
    EXPECT_EQ(strict.status, 4) << strict.err;
    EXPECT_NE(strict.err.find("the removal took out almost nothing"), std::string::npos) << strict.err;
    EXPECT_EQ(ReadText(dir / "Song_vo.wav"), "an earlier output");
    EXPECT_TRUE(Temporaries().empty());
    const std::vector<QJsonObject> jobs = JsonLines(strict.out);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_GT(jobs[0].value("removalDb").toDouble(), -1);
    EXPECT_EQ(Str(jobs[0], "state"), "not written");
}

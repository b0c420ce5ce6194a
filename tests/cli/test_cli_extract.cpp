#include "CliRun.h"
#include "../engine/EngineFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using namespace testutil;

namespace {

class CliExtract : public ::testing::Test {
protected:
    TempDir dir;
    // A song and its karaoke, the karaoke 0.2 s late at 0.9 of the level.
    void MakePair(const std::string& stem, size_t seconds, uint32_t seed) {
        const size_t frames = seconds * 44100;
        const auto accomp = Accompaniment(frames, 2, seed);
        auto kar = Delay(accomp, 8820, 2);
        for (auto& v : kar) v = int16_t(v * 0.9);
        WriteFile(dir / (stem + ".wav"), Wave16(2, 44100, Mix(accomp, Voice(frames, 2, 44100))));
        WriteFile(dir / (stem + " (karaoke).wav"), Wave16(2, 44100, kar));
    }
    std::string Q(const std::string& name) { return ShellQuote(dir / name); }
};

} // namespace

TEST_F(CliExtract, FindsTheKaraokeNamesTheOutputAndRefusesToOverwrite) {
    MakePair("Song", 4, 31);
    CliResult r = RunCli("extract " + Q("Song.wav") + " --defaults --set MergeMode=1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(dir / "Song_vo.wav"), std::string::npos);
    TWaveData out;
    ASSERT_EQ(out.OpenRead(dir / "Song_vo.wav"), 0);
    EXPECT_GT(out.DataBytes, uint32_t(3 * 44100 * 4));
    out.Close();
    const Bytes first = ReadFile(dir / "Song_vo.wav");

    // Again: the output exists and is kept without --yes.
    CliResult again = RunCli("extract " + Q("Song.wav") + " --defaults");
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("--yes"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "Song_vo.wav"), first);
    EXPECT_EQ(RunCli("extract " + Q("Song.wav") + " --defaults --set MergeMode=1 --yes").status, 0);
}

TEST_F(CliExtract, RejectionsUseTheWindowsMessages) {
    MakePair("Song", 1, 32);
    WriteFile(dir / "six.wav", Riff({Chunk("fmt ", FmtPayload(6, 48000, 16)), Chunk("data", Bytes(12, 0))}));
    struct Case {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"extract " + Q("Song.wav") + " " + Q("six.wav") + " -o " + Q("v.wav"), 2,
         "这是不能被处理的WAVE文件格式\u3000丅\n48000 Hz, 6 channels: at most 2 channels"},
        {"extract " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " -o " + Q("Song.wav"), 2,
         "输入文件和输出文件名称重复"},
        {"extract " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " -o " + Q("./Song.wav") + " --yes", 2,
         "输入文件和输出文件名称重复"},
        {"extract " + Q("missing.wav"), 2, "no karaoke recording found"},
        {"extract " + Q("Song.wav") + " --set BlkSize=2000000000 --set MergeMode=1 --defaults", 3,
         "内存不足，无法处理。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("\u3000\n"), std::string::npos); // padding stripped
    }
    EXPECT_EQ(ReadFile(dir / "Song.wav").size(), size_t(44 + 44100 * 4));
}

TEST_F(CliExtract, SeveralOriginalsInParallel) {
    MakePair("A", 2, 33);
    MakePair("B", 2, 34);
    CliResult r = RunCli("extract -j 2 " + Q("A.wav") + " " + Q("B.wav") + " --defaults --set MergeMode=1 -q");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    for (const char* name : {"A_vo.wav", "B_vo.wav"}) {
        TWaveData w;
        EXPECT_EQ(w.OpenRead(dir / name), 0) << name;
    }
}

TEST_F(CliExtract, AnalyseReportsOffsetPhaseAndGain) {
    MakePair("Song", 6, 35);
    CliResult r = RunCli("analyse " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " --json --defaults");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"offset\": 8820"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"inverted\": false"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"drift\": 0"), std::string::npos) << r.out;
    const size_t g = r.out.find("\"gain\": ");
    ASSERT_NE(g, std::string::npos);
    EXPECT_NEAR(std::stod(r.out.substr(g + 8)), 1 / 0.9, 0.03);
}

TEST_F(CliExtract, DebugLogGoesNextToTheOriginal) {
    MakePair("Song", 3, 36);
    ASSERT_EQ(RunCli("extract " + Q("Song.wav") + " --defaults --set MergeMode=1 --log").status, 0);
    const std::string log = ReadText(dir / "Song.txt");
    EXPECT_NE(log.find("简易分析     Voc:"), std::string::npos) << log;
    EXPECT_NE(log.find("Selected BaseOfs:0 Range:"), std::string::npos) << log;
    EXPECT_EQ(log.find("二阶段\n"), log.find('\n') - std::string("二阶段").size());
}

// Ctrl-C stops like the Stop button: status 130 and a valid, shorter file.
TEST_F(CliExtract, InterruptKeepsAValidFile) {
    MakePair("Long", 60, 37);
    const std::string out = dir / "Long_vo.wav";
    const std::string cmd = ShellQuote(std::string(SONVELT_BINARY_DIR) + "/cli/sonvelt-cli") + " extract " +
                            Q("Long.wav") + " --defaults --set MergeMode=1 --set OvspFlg=1 --set OvspMx=128" +
                            " --set AdptMode=1 --set AdptNum=20 >/dev/null 2>&1";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), (char*)nullptr);
        ::_exit(127);
    }
    // Wait until the run has written something, then interrupt it.
    for (int i = 0; i < 600; ++i) {
        std::error_code ec;
        if (std::filesystem::file_size(out, ec) > 200000 && !ec) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    TWaveData w;
    ASSERT_EQ(w.OpenRead(out), 0);
    EXPECT_GT(w.DataBytes, 0u);
    EXPECT_LT(w.DataBytes, uint32_t(59 * 44100 * 4));
    EXPECT_EQ(int64_t(w.DataBytes) + 46, int64_t(std::filesystem::file_size(out)));
}

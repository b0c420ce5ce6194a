// Where the voice goes: a temporary beside the target, renamed at the end;
// outputs that are no files; standard output; interrupted, failed, killed
// and racing runs; links planted where a run makes files.
#include "AudioFixtures.h"
#include "CliPairs.h"
#include "Json.h"

#include <csignal>
#include <limits>
#include <sys/stat.h>
#include <thread>

using namespace testutil;

namespace {

using CliOutput = CliPairs;

pid_t Spawn(const std::string& args) {
    const std::string cmd = ShellQuote(std::string(SONVELT_BINARY_DIR) + "/cli/sonvelt-cli") + " " + args +
                            " >/dev/null 2>&1 </dev/null";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), (char*)nullptr);
        ::_exit(127);
    }
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

} // namespace

TEST_F(CliOutput, RefusesOutputsThatAreNotFilesOrNewNamesInAFolder) {
    MakePair("Song", 1, 51);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder.wav");
    const std::string cases[] = {"/dev/null", dir / "pipe", dir / "folder.wav", dir / "nowhere/v.wav"};
    for (const std::string& target : cases) {
        SCOPED_TRACE(target);
        // A FIFO that were opened would block: the time limit shows it.
        CliResult r = RunCli("extract " + Q("Song.wav") + " -o " + ShellQuote(target) + " --defaults --yes",
                             "timeout 120");
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("the voice was not written"), std::string::npos) << r.err;
        EXPECT_TRUE(Temporaries().empty());
    }
    EXPECT_FALSE(Exists("pipe.wav"));
    EXPECT_FALSE(Exists("nowhere"));
}

TEST_F(CliOutput, DashWritesACompleteWaveToStandardOutput) {
    MakePair("Song", 2, 52);
    CliResult r = RunCli("extract " + Q("Song.wav") + " -o - --defaults --set MergeMode=1");
    ASSERT_EQ(r.status, 0) << r.err;
    WriteText(dir / "copy.wav", r.out);
    TWaveData w;
    ASSERT_EQ(w.OpenRead(dir / "copy.wav"), 0);
    EXPECT_GE(w.DataBytes, uint32_t(2 * 44100 * 4 * 9 / 10));
    EXPECT_EQ(int64_t(w.DataStart) + w.DataBytes, int64_t(r.out.size()));
    const Bytes b(r.out.begin(), r.out.end());
    EXPECT_EQ(GetU32(b, 4) + 8, r.out.size());
    EXPECT_NE(r.err.find("standard output: voice written"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists("Song_vo.wav"));
    EXPECT_EQ(RunCli("extract " + Q("Song.wav") + " -o - --json --defaults").status, 1);
}

// Ctrl-C before any voice was written keeps the earlier output; a killed run
// leaves its temporary, which the next run in that folder removes.
TEST_F(CliOutput, AStopBeforeAnyVoiceKeepsTheEarlierOutputAndKilledTemporariesAreCleanedUp) {
    MakePair("Long", 30, 53);
    MakePair("Quick", 1, 54);
    WriteText(dir / "Long_vo.wav", "an earlier output");
    const std::string args = "extract " + Q("Long.wav") + " --defaults --set MergeMode=1 --yes";
    for (int sig : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(sig);
        const pid_t pid = Spawn(args);
        ASSERT_GT(pid, 0);
        // The temporary appears when the output is created, before the analysis.
        for (int i = 0; i < 2400 && Temporaries().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_FALSE(Temporaries().empty());
        ::kill(pid, sig);
        EXPECT_EQ(ExitStatus(pid), sig == SIGINT ? 130 : 1000 + SIGKILL);
        EXPECT_EQ(ReadText(dir / "Long_vo.wav"), "an earlier output");
        EXPECT_EQ(Temporaries().size(), sig == SIGINT ? 0u : 1u);
    }
    ASSERT_EQ(RunCli("extract " + Q("Quick.wav") + " --defaults --set MergeMode=1").status, 0);
    EXPECT_TRUE(Temporaries().empty());
}

namespace {

// Waits, up to four minutes (sanitizer builds run slowly), until a temporary
// of a run in `dir` holds more than `bytes`; whether one did.
bool WaitForTemporary(const std::filesystem::path& dir, uintmax_t bytes) {
    for (int i = 0; i < 12000; ++i) {
        for (const auto& e : std::filesystem::directory_iterator(dir)) {
            std::error_code ec;
            if (e.path().filename().string().find(".sonvelt-tmp-") != std::string::npos &&
                std::filesystem::file_size(e.path(), ec) > bytes && !ec)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace

// A run stopped at three quarters, or one that fails for a file-size limit,
// leaves a complete existing output byte for byte; a new target still gets
// what the run wrote (see InterruptKeepsAValidFile, AFileSizeLimitIsAWriteFailure).
TEST_F(CliOutput, AnUnfinishedRunLeavesACompleteOutputByteForByte) {
    MakePair("Song", 12, 55);
    const std::string target = dir / "v.wav";
    ASSERT_EQ(RunCli("extract " + Q("Song.wav") + " -o " + ShellQuote(target) + " --defaults --set MergeMode=1").status, 0);
    const Bytes complete = ReadFile(target);
    // Another method, so that a run that finished would show in the bytes.
    const std::string slow = "extract " + Q("Song.wav") + " -o " + ShellQuote(target) +
                             " --defaults --yes --set MergeMode=1 --set OvspFlg=1 --set OvspMx=128 --set AdptMode=1"
                             " --set AdptNum=20";
    const pid_t pid = Spawn(slow);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForTemporary(dir.path(), complete.size() * 3 / 4));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(ExitStatus(pid), 130);
    EXPECT_EQ(ReadFile(target), complete);
    EXPECT_TRUE(Temporaries().empty());

    const CliResult limited = RunCli(slow, "ulimit -f " + std::to_string(complete.size() / 2 / 1024) + ";");
    EXPECT_EQ(limited.status, 3) << limited.err;
    EXPECT_NE(limited.err.find("(File too large)"), std::string::npos) << limited.err;
    EXPECT_NE(limited.err.find("sonvelt-cli: " + target + ": left as it was"), std::string::npos) << limited.err;
    EXPECT_EQ(ReadFile(target), complete);
    EXPECT_TRUE(Temporaries().empty());
}

// Two runs to one new output without --yes: the second to finish does not
// replace the first one's voice, keeps its own under a name it gives, and
// fails.
TEST_F(CliOutput, TwoRunsRacingToOneNewOutputDoNotBothSucceed) {
    MakePair("Song", 6, 56);
    const std::string target = dir / "v.wav";
    const std::string args = "extract " + Q("Song.wav") + " -o " + ShellQuote(target) + " --defaults --set MergeMode=1";
    const pid_t first = Spawn(args);
    ASSERT_GT(first, 0);
    // The second starts once the first is under way, its output not there yet.
    ASSERT_TRUE(WaitForTemporary(dir.path(), 0));
    ASSERT_FALSE(Exists("v.wav"));
    const CliResult second = RunCli(args);
    const int firstStatus = ExitStatus(first);
    EXPECT_NE(firstStatus + second.status, 0);
    EXPECT_EQ(std::min(firstStatus, second.status), 0);
    EXPECT_EQ(std::max(firstStatus, second.status), 3);
    // Both voices are there, whole.
    for (const char* name : {"v.wav", "v.kept-1.wav"}) {
        TWaveData w;
        ASSERT_EQ(w.OpenRead(dir / name), 0) << name;
        EXPECT_EQ(w.DataBytes, uint32_t(6 * 44100 * 4)) << name;
    }
    if (second.status == 3) {
        EXPECT_NE(second.err.find("sonvelt-cli: " + target + ": appeared during the run and was not replaced"),
                  std::string::npos)
            << second.err;
    }
    EXPECT_TRUE(Temporaries().empty());
}

// Links planted at every name a run used to take, for the very process that
// runs: the decoder's temporaries of the earlier scheme, the output's
// temporary beside it, the debug log. None is followed.
TEST_F(CliOutput, LinksPlantedForTheRunningProcessAreNotFollowed) {
    TempDir tmp, decoys;
    const size_t frames = 3 * 44100;
    const auto accomp = Accompaniment(frames, 2, 57);
    WriteFile(dir / "song.wav", Wave16(2, 44100, Mix(accomp, Voice(frames, 2, 44100))));
    ASSERT_EQ(EncodeFixture(dir / "kar.flac", "flac", "flac", 44100, 2, Delay(accomp, 441, 2)), "");
    WriteText(decoys / "victim", "keep me");
    WriteText(decoys / "log victim", "keep me");
    const std::string script =
        "for n in 0 1 2 3; do ln -s " + ShellQuote(decoys / "dec") + "$n " + ShellQuote(tmp.path().string()) +
        "/.sonvelt-dec-$$-$n.wav; done; ln -s " + ShellQuote(decoys / "victim") + " " +
        ShellQuote(dir / ".v.wav.sonvelt-tmp-") + "$$; ln -s " + ShellQuote(decoys / "log victim") + " " +
        Q("song.txt") + "; exec " + ShellQuote(std::string(SONVELT_BINARY_DIR) + "/cli/sonvelt-cli") +
        " extract " + Q("song.wav") + " " + Q("kar.flac") + " -o " + Q("v.wav") + " --defaults --log";
    const std::string cmd = "TMPDIR=" + ShellQuote(tmp.path().string()) + " bash -c " + ShellQuote(script) +
                            " >/dev/null 2>&1 </dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (int n = 0; n < 4; ++n) EXPECT_FALSE(std::filesystem::exists(decoys / ("dec" + std::to_string(n))));
    EXPECT_EQ(ReadText(decoys / "victim"), "keep me");
    EXPECT_EQ(ReadText(decoys / "log victim"), "keep me");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir / "v.wav")));
    TWaveData w;
    ASSERT_EQ(w.OpenRead(dir / "v.wav"), 0);
    EXPECT_EQ(w.DataBytes, uint32_t(frames * 4));
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir / "song.txt")));
    // The planted links are still there, and nothing else was left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 4);
}

TEST(Json, StringsSurviveAParser) {
    const std::string names[] = {"plain", "a \"quoted\" name", "back\\slash", "line\nbreak\ttab\r",
                                 std::string("nul\x01\x1f\x7f", 6), "歌 伴奏.wav", ""};
    for (const std::string& s : names) {
        JsonObject o;
        o.Add("name", s).Add("n", 1.5, 2).Add("inf", std::numeric_limits<double>::infinity(), 2).Add("list", std::vector<std::string>{s, "x"});
        const std::vector<QJsonObject> parsed = JsonLines(o.Text() + "\n");
        ASSERT_EQ(parsed.size(), 1u) << o.Text();
        EXPECT_EQ(Str(parsed[0], "name"), s);
        EXPECT_EQ(parsed[0].value("n").toDouble(), 1.5);
        EXPECT_TRUE(parsed[0].value("inf").isNull());
        EXPECT_EQ(parsed[0].value("list").toArray().at(0).toString().toStdString(), s);
    }
    // A name that is no valid UTF-8 still gives valid JSON.
    JsonObject o;
    o.Add("name", std::string("a\xff\xc3(b\xe2\x82", 7));
    const std::vector<QJsonObject> parsed = JsonLines(o.Text() + "\n");
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(Str(parsed[0], "name"), "a\ufffd\ufffd(b\ufffd\ufffd");
}

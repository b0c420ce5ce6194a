// Where the voice goes: a temporary beside the target, renamed at the end;
// outputs that are no files; standard output; interrupted and killed runs.
#include "CliPairs.h"
#include "Json.h"
#include "OutputFile.h"

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

TEST(OutputFile, TemporariesOfDeadRunsAreRemovedOthersKept) {
    TempDir dir;
    // The id of a process that has ended.
    pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string stale = TemporaryFor(dir / "a_vo.wav", dead);
    const std::string live = TemporaryFor(dir / "b_vo.wav", ::getppid());
    const std::string other = dir / ".notes.sonvelt-tmp-x";
    EXPECT_EQ(stale, dir / ".a_vo.wav.sonvelt-tmp-" + std::to_string(dead));
    for (const std::string& f : {stale, live, other}) WriteText(f, "x");
    pid_t pid = 0;
    EXPECT_TRUE(IsOurTemporary(".a_vo.wav.sonvelt-tmp-" + std::to_string(dead), &pid));
    EXPECT_EQ(pid, dead);
    EXPECT_FALSE(IsOurTemporary(".notes.sonvelt-tmp-x"));
    EXPECT_FALSE(IsOurTemporary("a.sonvelt-tmp-12"));
    EXPECT_EQ(RemoveStaleTemporaries(dir.path().string()), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live));
    EXPECT_TRUE(std::filesystem::exists(other));
}

TEST(OutputFile, CommitReplacesTheTargetAndDiscardLeavesIt) {
    TempDir dir;
    const std::string target = dir / "v.wav";
    WriteText(target, "old");
    ::chmod(target.c_str(), 0640);
    {
        PendingOutput p(target);
        WriteText(p.Temporary(), "new");
        // Gone with its object: the target is untouched.
    }
    EXPECT_EQ(ReadText(target), "old");
    PendingOutput p(target);
    WriteText(p.Temporary(), "new");
    std::string error;
    ASSERT_TRUE(p.Commit(error)) << error;
    EXPECT_EQ(ReadText(target), "new");
    struct stat st{};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // Through a link, the file it names is replaced and the link stays.
    std::filesystem::create_symlink(target, dir / "link.wav");
    PendingOutput q(dir / "link.wav");
    WriteText(q.Temporary(), "newer");
    ASSERT_TRUE(q.Commit(error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav"));
    EXPECT_EQ(ReadText(target), "newer");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(OutputFile, FinishingAtOnceKeepsAudioAndDropsEmptyTemporaries) {
    TempDir dir;
    WriteText(dir / "a.wav", "old a");
    WriteText(dir / "b.wav", "old b");
    PendingOutput a(dir / "a.wav"), b(dir / "b.wav");
    WriteText(a.Temporary(), std::string(46 + 400, 'v')); // a header and some audio
    WriteText(b.Temporary(), std::string(46, 'h'));       // a header alone
    FinishPendingOutputsNow();
    EXPECT_EQ(ReadText(dir / "a.wav"), std::string(46 + 400, 'v'));
    EXPECT_EQ(ReadText(dir / "b.wav"), "old b");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
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

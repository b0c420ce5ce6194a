#include "CliPairs.h"

#include <csignal>
#include <thread>

using namespace testutil;

using CliExtract = CliPairs;

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

// The checks' own messages, in English and, under a Chinese locale, as the
// window shows them; each names the file it is about.
TEST_F(CliExtract, RejectionsUseTheSystemsMessages) {
    MakePair("Song", 1, 32);
    WriteFile(dir / "six.wav", Riff({Chunk("fmt ", FmtPayload(6, 48000, 16)), Chunk("data", Bytes(12, 0))}));
    struct Case {
        std::string args, env;
        int status;
        std::string message;
    } cases[] = {
        {"extract " + Q("Song.wav") + " " + Q("six.wav") + " -o " + Q("v.wav"), "", 2,
         "sonvelt-cli: " + dir / "six.wav" +
             ": this WAVE format cannot be processed (48000 Hz, 6 channels: at most 2 channels)\n"},
        {"extract " + Q("Song.wav") + " " + Q("six.wav") + " -o " + Q("v.wav"), "LANG=zh_CN.UTF-8", 2,
         "sonvelt-cli: " + dir / "six.wav" +
             ": 这是不能被处理的WAVE文件格式\u3000丅 (48000 Hz, 6 channels: at most 2 channels)\n"},
        {"extract " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " -o " + Q("Song.wav"), "", 2,
         "sonvelt-cli: " + dir / "Song.wav" + ": the output file has the same name as an input file\n"},
        {"extract " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " -o " + Q("./Song.wav") + " --yes",
         "LANG=zh_CN.UTF-8", 2, "输入文件和输出文件名称重复\n"},
        {"extract " + Q("missing.wav"), "", 2,
         "sonvelt-cli: " + dir / "missing.wav" + ": no karaoke recording found beside it\n"},
        {"extract " + Q("Song.wav") + " --set BlkSize=2000000000 --set MergeMode=1 --defaults", "", 3,
         "sonvelt-cli: " + dir / "Song.wav" + ": not enough memory to process these files\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        CliResult r = RunCli(c.args, c.env);
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
    EXPECT_NE(r.out.find("\"offsetSeconds\": 0.200000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"driftPpm\": 0.000"), std::string::npos) << r.out;

    // The other spelling, as text: frames with seconds, ppm and dB beside them.
    CliResult t = RunCli("analyze " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " --defaults");
    ASSERT_EQ(t.status, 0) << t.err;
    EXPECT_NE(t.out.find("offset:   8820 frames (0.2000 s, karaoke minus original)"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("drift:    0 frames per block (0.0 ppm)"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find(" (+0.9"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find(" dB)"), std::string::npos) << t.out;
}

// Clean pauses: off for an exact pair, on for one whose karaoke carries a
// residue that follows the accompaniment, each with the leak measured; asked
// for on every pair with the classic alignment, off and why.
TEST_F(CliExtract, AnalyseAndTheSummarySayWhetherPausesAreCleaned) {
    MakePair("Song", 6, 38);
    const std::vector<QJsonObject> exact =
        JsonLines(RunCli("analyse " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " --json --defaults").out);
    ASSERT_EQ(exact.size(), 1u);
    EXPECT_FALSE(exact[0].value("cleanPauses").toBool());
    EXPECT_LT(exact[0].value("leakDb").toDouble(), -50);
    EXPECT_NE(Str(exact[0], "cleanReason").find("almost exactly"), std::string::npos) << Str(exact[0], "cleanReason");

    const size_t frames = 6 * 44100;
    const auto accomp = Accompaniment(frames, 2, 38), other = Accompaniment(frames, 2, 39);
    std::vector<int16_t> kar(accomp.size());
    for (size_t i = 0; i < kar.size(); ++i) kar[i] = int16_t(std::lround(0.9 * (accomp[i] + 0.05 * other[i])));
    WriteFile(dir / "Lossy.wav", Wave16(2, 44100, Delay(kar, 8820, 2)));
    CliResult r = RunCli("extract " + Q("Song.wav") + " " + Q("Lossy.wav") + " -o " + Q("v.wav") + " --json --defaults");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> lossy = JsonLines(r.out);
    ASSERT_EQ(lossy.size(), 1u);
    EXPECT_TRUE(lossy[0].value("cleanPauses").toBool()) << r.out;
    EXPECT_NEAR(lossy[0].value("leakDb").toDouble(), -26, 3) << r.out;
    EXPECT_EQ(Str(lossy[0], "merge"), "waveform");
    r = RunCli("extract " + Q("Song.wav") + " " + Q("Lossy.wav") + " -o " + Q("v.wav") + " --yes --defaults");
    EXPECT_NE(r.err.find("  pauses:   clean pauses on: the removal leaves -2"), std::string::npos) << r.err;

    CliResult classic = RunCli("analyse " + Q("Song.wav") + " " + Q("Lossy.wav") +
                               " --defaults --set AlignFlg=0 --set CleanMode=1");
    ASSERT_EQ(classic.status, 0) << classic.err;
    EXPECT_NE(classic.out.find("pauses:   clean pauses off: precise alignment is off"), std::string::npos)
        << classic.out;
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
    // Wait until the run has written something to its temporary, then
    // interrupt it.
    for (int i = 0; i < 4800; ++i) { // up to 4 minutes: sanitizer builds analyse slowly
        std::error_code ec;
        const auto temps = Temporaries();
        if (!temps.empty() && std::filesystem::file_size(dir / temps[0], ec) > 200000 && !ec) break;
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
    EXPECT_TRUE(Temporaries().empty());
}

namespace {

// Whether the file is a WAVE file whose header counts whole frames that are
// all in the file; its data size, or -1.
int64_t ValidWaveData(const std::string& path, uint32_t frameBytes) {
    const Bytes f = ReadFile(path);
    if (f.size() < 46 || std::string(f.begin(), f.begin() + 4) != "RIFF") return -1;
    const uint32_t data = GetU32(f, 42);
    if (data % frameBytes != 0 || 46u + data > f.size() || GetU32(f, 4) != 38u + data) return -1;
    TWaveData w;
    if (w.OpenRead(path) != 0 || w.DataBytes != data) return -1;
    return data;
}

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().string());
    return out;
}

} // namespace

// SIGTERM and SIGHUP stop a run like Ctrl-C; a SIGKILL leaves whatever was
// on disk at that moment, and that too is a valid WAVE file. The three runs
// go side by side, each signalled once it has put some audio on disk.
TEST_F(CliExtract, SignalsLeaveAValidFile) {
    MakePair("Long", 20, 38);
    struct Case {
        int signal;
        const char* name;
        pid_t pid = -1;
        bool sent = false;
    } cases[] = {{SIGTERM, "term"}, {SIGHUP, "hup"}, {SIGKILL, "kill"}};
    auto outDir = [&](const Case& c) { return dir.path() / c.name; };
    for (Case& c : cases) {
        std::filesystem::create_directory(outDir(c));
        const std::string cmd = ShellQuote(std::string(SONVELT_BINARY_DIR) + "/cli/sonvelt-cli") + " extract " +
                                Q("Long.wav") + " " + Q("Long (karaoke).wav") + " -o " +
                                ShellQuote((outDir(c) / "voice.wav").string()) +
                                " --defaults --set MergeMode=1 --set OvspFlg=1 --set OvspMx=128" +
                                " --set AdptMode=1 --set AdptNum=20 >/dev/null 2>&1";
        c.pid = ::fork();
        ASSERT_GE(c.pid, 0);
        if (c.pid == 0) {
            ::execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), (char*)nullptr);
            ::_exit(127);
        }
    }
    // Wait until a run has written some audio, under whatever name, then signal it.
    for (int i = 0; i < 4800; ++i) { // up to 4 minutes: sanitizer builds analyse slowly
        bool pending = false;
        for (Case& c : cases) {
            if (c.sent) continue;
            bool written = false;
            for (const std::string& f : FilesIn(outDir(c))) {
                std::error_code ec;
                written = written || std::filesystem::file_size(f, ec) > 200000;
            }
            if (written) {
                ::kill(c.pid, c.signal);
                c.sent = true;
            }
            pending = pending || !c.sent;
        }
        if (!pending) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.sent) ::kill(c.pid, c.signal);
        int status = 0;
        ASSERT_EQ(::waitpid(c.pid, &status, 0), c.pid);
        if (c.signal == SIGKILL) {
            ASSERT_TRUE(WIFSIGNALED(status));
            const auto files = FilesIn(outDir(c));
            ASSERT_FALSE(files.empty());
            for (const std::string& f : files) EXPECT_GT(ValidWaveData(f, 4), 0) << f;
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 130);
            const std::string out = (outDir(c) / "voice.wav").string();
            const int64_t data = ValidWaveData(out, 4);
            EXPECT_GT(data, 0);
            EXPECT_LT(data, 19 * 44100 * 4);
            EXPECT_EQ(data + 46, int64_t(std::filesystem::file_size(out)));
        }
    }
}

// A file-size limit is a write failure like a full disk: its message, status
// 3 and a valid file of what fitted.
TEST_F(CliExtract, AFileSizeLimitIsAWriteFailure) {
    MakePair("Song", 8, 39);
    std::filesystem::create_directory(dir.path() / "out");
    const std::string out = dir / "out/voice.wav";
    CliResult r = RunCli("extract " + Q("Song.wav") + " " + Q("Song (karaoke).wav") + " -o " + ShellQuote(out) +
                             " --defaults --set MergeMode=1",
                         "ulimit -f 1024;");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("sonvelt-cli: " + out + ": an error occurred while writing the output file (File too large)"),
              std::string::npos)
        << r.err;
    const auto files = FilesIn(dir.path() / "out");
    ASSERT_EQ(files.size(), 1u);
    const int64_t data = ValidWaveData(files[0], 4);
    EXPECT_GT(data, 0);
    EXPECT_LE(data + 46, 1024 * 1024);
    EXPECT_EQ(data + 46, int64_t(std::filesystem::file_size(files[0])));
}

// An empty data chunk, or a recording shorter than its header says: a message
// and a failure status, never "voice written", and what was written is kept.
TEST_F(CliExtract, EmptyOrShortInputsAreReported) {
    MakePair("Song", 3, 40);
    WriteFile(dir / "empty.wav", Wave16(2, 44100, {}));
    Bytes cut = ReadFile(dir / "Song.wav");
    cut.resize(cut.size() / 2); // the header still promises the whole song
    WriteFile(dir / "cut.wav", cut);
    struct Case {
        std::string original;
        int status;
        std::string message;
        bool audio;
    } cases[] = {
        {"empty.wav", 2, "the data chunk is empty", false},
        {"cut.wav", 3, "the recording ended before the length its header gives", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.original);
        const std::string out = dir / (c.original + ".voice.wav");
        CliResult r = RunCli("extract " + Q(c.original) + " " + Q("Song (karaoke).wav") + " -o " + ShellQuote(out) +
                             " --defaults --set MergeMode=1");
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find("sonvelt-cli: " + dir / c.original + ": " + c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("voice written"), std::string::npos) << r.out;
        // An empty input leaves no output at all; a cut one keeps its voice.
        const int64_t data = ValidWaveData(out, 4);
        if (c.audio) EXPECT_GT(data, 0);
        else EXPECT_FALSE(std::filesystem::exists(out));
    }
}

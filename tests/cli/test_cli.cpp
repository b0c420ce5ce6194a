#include "CliRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace testutil;

TEST(Cli, HelpVersionAndUsageErrors) {
    CliResult help = RunCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("info"), std::string::npos);
    EXPECT_NE(help.out.find("settings"), std::string::npos);

    CliResult version = RunCli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("3.0"), std::string::npos);

    EXPECT_EQ(RunCli("").status, 1);
    EXPECT_EQ(RunCli("frobnicate").status, 1);
    EXPECT_EQ(RunCli("info").status, 1);
}

TEST(Cli, InfoShowsFormatsAndRejectsWithStatusTwo) {
    TempDir dir;
    WriteFile(dir / "good.wav", Wave16(2, 44100, {1, 2, 3, 4}));
    WriteFile(dir / "mono.wav", Wave16(1, 8000, {1}));
    WriteFile(dir / "bad.wav", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', '!', '!'});

    CliResult ok = RunCli("info " + ShellQuote(dir / "good.wav") + " " + ShellQuote(dir / "mono.wav"));
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, (dir / "good.wav") + ": WAVE (pcm_s16le), 44100 Hz, 16 bits, 2 channels, 0:00:00.000\n" +
                          (dir / "mono.wav") + ": WAVE (pcm_s16le), 8000 Hz, 16 bits, 1 channel, 0:00:00.000\n");
    EXPECT_EQ(ok.err, "");

    CliResult bad = RunCli("info " + ShellQuote(dir / "good.wav") + " " + ShellQuote(dir / "bad.wav") + " " +
                           ShellQuote(dir / "gone.wav"));
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, (dir / "good.wav") + ": WAVE (pcm_s16le), 44100 Hz, 16 bits, 2 channels, 0:00:00.000\n");
    EXPECT_EQ(bad.err, "sonvelt-cli: " + dir / "bad.wav" +
                           ": this file format cannot be processed, or the file is damaged "
                           "(not a WAVE, FLAC, MP3, AAC/M4A, Ogg Vorbis, Opus or AIFF file)\n"
                           "sonvelt-cli: " + dir / "gone.wav" + ": cannot open this file (No such file or directory)\n");
}

// English unless the locale names Chinese or Japanese; each message names
// the whole path as given and the system's reason.
TEST(Cli, MessagesSpeakTheLocalesLanguageAndNameThePathAndCause) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.wav");
    WriteText(dir / "locked.wav", "x");
    ::chmod((dir / "locked.wav").c_str(), 0);
    const bool root = ::geteuid() == 0; // reads whatever the permissions say
    struct Case {
        const char* env;
        std::string file, expected;
    } cases[] = {
        {"env -u LANG -u LC_ALL -u LC_MESSAGES", "missing dir/x.wav",
         "sonvelt-cli: missing dir/x.wav: cannot open this file (No such file or directory)\n"},
        {"LANG=C.UTF-8", "missing dir/x.wav",
         "sonvelt-cli: missing dir/x.wav: cannot open this file (No such file or directory)\n"},
        {"LANG=en_US.UTF-8", "missing dir/x.wav",
         "sonvelt-cli: missing dir/x.wav: cannot open this file (No such file or directory)\n"},
        {"LANG=zh_CN.UTF-8", "missing dir/x.wav",
         "sonvelt-cli: missing dir/x.wav: 无法打开文件 (No such file or directory)\n"},
        {"LANG=en_US.UTF-8 LC_MESSAGES=ja_JP.UTF-8", "missing dir/x.wav",
         "sonvelt-cli: missing dir/x.wav: 无法打开文件 (No such file or directory)\n"},
        {"LANG=zh_CN.UTF-8 LC_ALL=de_DE.UTF-8", "missing dir/x.wav",
         "sonvelt-cli: missing dir/x.wav: cannot open this file (No such file or directory)\n"},
        {"", dir / "folder.wav", "sonvelt-cli: " + dir / "folder.wav" + ": cannot open this file (Is a directory)\n"},
        {"", dir / "locked.wav",
         root ? "" : "sonvelt-cli: " + dir / "locked.wav" + ": cannot open this file (Permission denied)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.env) + " " + c.file);
        if (c.expected.empty()) continue;
        const CliResult r = RunCli("info " + ShellQuote(c.file), c.env);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.expected);
    }
}

namespace {

std::string Value(const std::string& out, const std::string& key) {
    const std::string text = "\n" + out;
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "<missing>";
    size_t start = at + key.size() + 2;
    return text.substr(start, text.find('\n', start) - start);
}

} // namespace

TEST(Cli, SettingsListsTheCommittedOptionsThenTheDerivedValues) {
    TempDir dir;
    CliResult d = RunCli("settings --defaults");
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(d.out,
              "ProcMode=0\nMergeMode=2\nOvspFlg=0\nOvspMx=32\nBlkSize=100\nAdptMode=0\nAdptNum=3\nCntrFlg=0\n"
              "CntrPos=6\nIntroMode=0\nLevelAdpt=0\nLPFFlg=0\nLPFPos=10\nHPFFlg=0\nHPFPos=10\nKvolPos=6\n"
              "KlvlPos=10\nKnameFlg=1\nVnameFlg=1\nVnameTxt=_vo\nKrkPhase=0\nSoundQty=0\nAlignFlg=1\nCleanMode=0\n"
              "BlkSec=0.1\nAdptRange=3\nCntrGain=2\nLPFFreq=10000\nHPFFreq=230\nKvol=1.2\nKlvl=1\n");

    const std::string ini = dir / "mine.ini";
    WriteText(ini, "[V30_Option]\nBlkSize=10\nOvspMx=0\nKvolPos=10\nVnameTxt=<>\n");
    CliResult f = RunCli("settings --ini " + ShellQuote(ini));
    ASSERT_EQ(f.status, 0);
    EXPECT_EQ(Value(f.out, "BlkSize"), "50");
    EXPECT_EQ(Value(f.out, "OvspMx"), "1");
    EXPECT_EQ(Value(f.out, "BlkSec"), "0.05");
    EXPECT_EQ(Value(f.out, "AdptRange"), "1");
    EXPECT_EQ(Value(f.out, "Kvol"), "1.8");
    EXPECT_EQ(Value(f.out, "VnameTxt"), "");
    EXPECT_EQ(Value(f.out, "VnameFlg"), "0");

    CliResult s = RunCli("settings --ini " + ShellQuote(ini) + " --set blksize=200 --set HPFPos=0 --set OvspFlg=7");
    ASSERT_EQ(s.status, 0);
    EXPECT_EQ(Value(s.out, "BlkSize"), "200");
    EXPECT_EQ(Value(s.out, "AdptRange"), "6");
    EXPECT_EQ(Value(s.out, "HPFFreq"), "50");
    EXPECT_EQ(Value(s.out, "OvspFlg"), "1");
    EXPECT_EQ(ReadText(ini), "[V30_Option]\nBlkSize=10\nOvspMx=0\nKvolPos=10\nVnameTxt=<>\n"); // only read

    EXPECT_EQ(RunCli("settings --defaults --set Nope=1").status, 1);
    EXPECT_EQ(RunCli("settings --defaults --set BlkSize=abc").status, 1);
    EXPECT_EQ(RunCli("settings --defaults --set BlkSize").status, 1);
}

TEST(Cli, SettingsReadsTheWindowsIniFileByDefault) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "SonveltRip");
    WriteText(dir / "SonveltRip/sonvelt.ini", "[V30_Option]\nMergeMode=1\n");
    CliResult r = RunCli("settings", "XDG_DATA_HOME=" + ShellQuote(dir.path().string()));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(Value(r.out, "MergeMode"), "1");
    CliResult d = RunCli("settings --defaults", "XDG_DATA_HOME=" + ShellQuote(dir.path().string()));
    EXPECT_EQ(Value(d.out, "MergeMode"), "2");
}

// An --ini that cannot be read is an error, never the defaults in silence, and
// a FIFO or a device neither hangs nor runs out of memory.
TEST(Cli, AnIniFileThatCannotBeReadIsAnError) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder");
    struct Case {
        std::string path, reason;
    } cases[] = {
        {dir / "missing.ini", "No such file"},
        {dir / "folder", "folder"},
        {dir / "fifo", "not a regular file"},
        {"/dev/zero", "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        for (const char* command : {"settings", "extract a.wav b.wav", "analyse a.wav b.wav"}) {
            CliResult r = RunCli(std::string(command) + " --ini " + ShellQuote(c.path));
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_NE(r.err.find("--ini " + c.path + ": "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        }
    }
}

// An --ini that is read but holds no options (empty, binary, UTF-16 text) is
// warned about by name; the run goes on with the defaults.
TEST(Cli, AnIniFileWithoutTheOptionsIsWarnedAbout) {
    TempDir dir;
    std::string utf16;
    for (char c : std::string("[V30_Option]\r\nBlkSize=150\r\n")) utf16 += std::string(1, c) + '\0';
    struct Case {
        std::string name, text;
        bool warned;
    } cases[] = {
        {"empty.ini", "", true},
        {"junk.ini", std::string("\x7f" "ELF\x02\x01\0\0[V30", 11), true},
        {"utf16.ini", "\xFF\xFE" + utf16, true},
        {"other.ini", "[Window]\nBlkSize=150\n", true},
        {"good.ini", "\xEF\xBB\xBF\xEF\xBB\xBF[V30_Option]\nBlkSize=150\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        WriteText(path, c.text);
        CliResult r = RunCli("settings --ini " + ShellQuote(path));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Value(r.out, "BlkSize"), c.warned ? "100" : "150");
        if (c.warned)
            EXPECT_NE(r.err.find("warning: --ini " + path + ": no [V30_Option] section"), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, "");
    }
}

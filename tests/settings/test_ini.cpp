#include "IniFile.h"
#include "Settings.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace testutil;

TEST(IniInt, DecimalHexadecimalAndFallback) {
    struct Case {
        const char* text;
        int32_t want;
    } cases[] = {
        {"100", 100}, {" 42 ", 42}, {"-3", -3}, {"+7", 7}, {"0x64", 100}, {"0X1f", 31},
        {"0xFFFFFFFF", -1}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        // Not numbers: the fallback stands.
        {"abc", -99}, {"", -99}, {"0x", -99}, {"0xg1", -99}, {"10abc", -99}, {"1.5", -99},
        {"2147483648", -99}, {"0x100000000", -99}, {"- 1", -99},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseIniInt(c.text, -99), c.want) << '"' << c.text << '"';
}

TEST(IniFile, ReadsSectionsAndKeysWithoutRegardToCase) {
    IniFile ini;
    ini.Parse("; comment\n[other]\nBlkSize=1\n[v30_OPTION]\r\n  blksize = 200 \r\nVnameTxt=\" _x \"\r\n"
              ";BlkSize=300\r\nEmpty=\r\n[V30_Option]\nBlkSize=400\n");
    EXPECT_EQ(ini.Get("V30_Option", "BlkSize"), "200");
    EXPECT_EQ(ini.Get("V30_Option", "VNAMETXT"), " _x ");
    EXPECT_EQ(ini.Get("V30_Option", "Empty"), "");
    EXPECT_EQ(ini.Get("V30_Option", "Missing"), std::nullopt);
    EXPECT_EQ(ini.Get("other", "blksize"), "1");
    EXPECT_EQ(ini.Get("nowhere", "BlkSize"), std::nullopt);
}

TEST(IniFile, SettingKeysKeepsEverythingElse) {
    const std::string text =
        "; Sonvelt and friends\n[Window]\nLeft=10\n\n[V30_Option]\nblkSIZE=100\n; keep me\nOther=x\n\n"
        "[Tail]\nA=1";
    IniFile ini;
    ini.Parse(text);
    ini.Set("V30_Option", "BlkSize", "200");
    ini.Set("v30_option", "OvspMx", "64");
    ini.Set("Tail", "B", "2");
    ini.Set("New", "K", "v");
    EXPECT_EQ(ini.Text(),
              "; Sonvelt and friends\n[Window]\nLeft=10\n\n[V30_Option]\nblkSIZE=200\n; keep me\nOther=x\n"
              "OvspMx=64\n\n[Tail]\nA=1\nB=2\n\n[New]\nK=v\n");
}

TEST(IniFile, KeepsWindowsLineEndings) {
    IniFile ini;
    ini.Parse("[V30_Option]\r\nBlkSize=100\r\n");
    ini.Set("V30_Option", "OvspMx", "8");
    EXPECT_EQ(ini.Text(), "[V30_Option]\r\nBlkSize=100\r\nOvspMx=8\r\n");
}

// Saving into files of any line endings: every line keeps its own ending, the
// section header stands on a line of its own (also for readers that split at
// "\n" only), the key reads back, and saving again changes nothing.
TEST(IniFile, LineEndingsOfEveryKind) {
    struct Case {
        std::string before, after;
    } cases[] = {
        {"\r", "\r\n[V30_Option]\nBlkSize=200\n"},
        {"x=1\r\n\r", "x=1\r\n\r\n[V30_Option]\r\nBlkSize=200\r\n"},
        {"a=1", "a=1\n\n[V30_Option]\nBlkSize=200\n"},
        {"[A]\rk=1\r", "[A]\rk=1\r\n\n[V30_Option]\nBlkSize=200\n"},
        {"[V30_Option]\rBlkSize=100\r", "[V30_Option]\rBlkSize=200\r"},
        {"[V30_Option]\rOvspMx=1", "[V30_Option]\rOvspMx=1\nBlkSize=200\n"},
        {"[V30_Option]\rOvspMx=1\r[B]\r", "[V30_Option]\rOvspMx=1\r\nBlkSize=200\n[B]\r"},
        {"[A]\r\nk=1\n[V30_Option]\r\nBlkSize=1\r\n", "[A]\r\nk=1\n[V30_Option]\r\nBlkSize=200\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.before));
        IniFile ini;
        ini.Parse(c.before);
        ini.Set(kIniSection, "BlkSize", "200");
        const std::string text = ini.Text();
        EXPECT_EQ(text, c.after);
        IniFile again;
        again.Parse(text);
        EXPECT_EQ(again.Get(kIniSection, "BlkSize"), "200");
        again.Set(kIniSection, "BlkSize", "200");
        EXPECT_EQ(again.Text(), text);
        if (text.find("[V30_Option]\n") != std::string::npos || text.find("[V30_Option]\r\n") != std::string::npos) {
            const size_t at = text.find("[V30_Option]");
            EXPECT_TRUE(at == 0 || text[at - 1] == '\n');
        }
    }
}

class Persistence : public ::testing::Test {
protected:
    TempDir dir;
    SettingsModel s;
    std::string ini() const { return (dir.path() / "SonveltRip" / "sonvelt.ini").string(); }
    void Start() { s.Initialise("/usr/bin/sonvelt", dir.path().string()); }
    void StoreOption(const std::string& body) {
        std::filesystem::create_directories(dir.path() / "SonveltRip");
        WriteText(ini(), "[V30_Option]\n" + body);
    }
};

TEST_F(Persistence, FirstStartCreatesTheFolderButNoFile) {
    Start();
    EXPECT_EQ(s.IniPath, ini());
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "SonveltRip"));
    EXPECT_FALSE(std::filesystem::exists(ini()));
    EXPECT_EQ(s.EditedOptions, ProcessingOptions{});
    EXPECT_EQ(s.Options.AdptRange, 3);
}

TEST_F(Persistence, EachProgramNameHasItsOwnFile) {
    SettingsModel a, b;
    a.BuildIniPath("/opt/x/sonvelt", dir.path().string());
    b.BuildIniPath("/opt/x/sonvelt-copy.bin", dir.path().string());
    EXPECT_EQ(a.IniPath, (dir.path() / "SonveltRip" / "sonvelt.ini").string());
    EXPECT_EQ(b.IniPath, (dir.path() / "SonveltRip" / "sonvelt-copy.ini").string());
}

TEST_F(Persistence, StoredValuesLoadWithFallbacks) {
    struct Case {
        const char* stored;
        int32_t ProcessingOptions::*field;
        int32_t loaded;
        int32_t committed;
    } cases[] = {
        {"BlkSize=0x64", &ProcessingOptions::BlkSize, 100, 100},
        {"BlkSize=abc", &ProcessingOptions::BlkSize, 100, 100},
        {"BlkSize=10", &ProcessingOptions::BlkSize, 10, 50},
        {"OvspFlg=5", &ProcessingOptions::OvspFlg, 1, 1},
        {"OvspFlg=0", &ProcessingOptions::OvspFlg, 0, 0},
        {"KnameFlg=junk", &ProcessingOptions::KnameFlg, 1, 1},
        {"OvspMx=-5", &ProcessingOptions::OvspMx, -5, 1},
        {"CntrPos=40", &ProcessingOptions::CntrPos, 40, 20},
        {"MergeMode=3", &ProcessingOptions::MergeMode, 3, 2},
        {"SoundQty=2", &ProcessingOptions::SoundQty, 2, 0},
        {"CleanMode=2", &ProcessingOptions::CleanMode, 2, 2},
        {"cleanmode=7", &ProcessingOptions::CleanMode, 7, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        StoreOption(std::string(c.stored) + "\n");
        Start();
        EXPECT_EQ(s.EditedOptions.*c.field, c.loaded);
        EXPECT_EQ(s.Options.*c.field, c.committed);
    }
}

// An editor may leave any number of byte-order marks before the first
// section: its options are read, and a save updates that section (written
// without marks) instead of adding another that a later start would not see.
TEST_F(Persistence, LeadingByteOrderMarksAreSkipped) {
    const std::string mark = "\xEF\xBB\xBF";
    for (int marks : {1, 2, 3}) {
        SCOPED_TRACE(marks);
        std::string lead;
        for (int i = 0; i < marks; ++i) lead += mark;
        StoreOption("");
        WriteText(ini(), lead + "[V30_Option]\nBlkSize=150\n");
        Start();
        EXPECT_EQ(s.Options.BlkSize, 150);
        s.EditedOptions.BlkSize = 200;
        s.CommitOptions();
        ASSERT_EQ(s.SaveOptions(), 0);
        const std::string text = ReadText(ini());
        EXPECT_EQ(text.rfind("[V30_Option]\nBlkSize=200\n", 0), 0u) << text;
        EXPECT_EQ(text.find("[V30_Option]", 1), std::string::npos) << text;
        SettingsModel again;
        again.Initialise("/usr/bin/sonvelt", dir.path().string());
        EXPECT_EQ(again.Options.BlkSize, 200);
    }
}

TEST_F(Persistence, EmptySuffixLoadsEmptyAndIsSavedWithNamingOff) {
    StoreOption("VnameTxt=\nBlkSize=10\nOvspFlg=5\n");
    Start();
    EXPECT_EQ(s.EditedOptions.VnameTxt, "");
    EXPECT_EQ(s.Options.VnameFlg, 0);
    ASSERT_EQ(s.SaveOptions(), 0);
    IniFile f;
    ASSERT_TRUE(f.Load(ini()));
    EXPECT_EQ(f.Get(kIniSection, "VnameFlg"), "0");
    EXPECT_EQ(f.Get(kIniSection, "BlkSize"), "50");
    EXPECT_EQ(f.Get(kIniSection, "OvspFlg"), "1");
    EXPECT_EQ(f.Get(kIniSection, "VnameTxt"), "");
}

TEST_F(Persistence, SaveWritesAllKeysInOrderAndRoundTrips) {
    const std::string foreign = "# my notes\n[Recent]\nFile1=/music/a.wav\n\n[V30_Option]\nkvolpos=3\nUnknown=7\n";
    StoreOption("");
    WriteText(ini(), foreign);
    Start();
    s.EditedOptions.MergeMode = 1;
    s.EditedOptions.VnameTxt = " 人声 ";
    s.EditedOptions.HPFPos = 0;
    s.CommitOptions();
    ASSERT_EQ(s.SaveOptions(), 0);

    const std::string text = ReadText(ini());
    EXPECT_EQ(text.rfind("# my notes\n[Recent]\nFile1=/music/a.wav\n\n[V30_Option]\nkvolpos=3\nUnknown=7\n", 0), 0u);
    // The keys the file lacked follow in the fixed order.
    size_t last = 0;
    for (const OptionKey& k : OptionKeys()) {
        if (std::string(k.name) == "KvolPos") continue;
        size_t at = text.find(std::string("\n") + k.name + "=");
        ASSERT_NE(at, std::string::npos) << k.name;
        EXPECT_GT(at, last) << k.name;
        last = at;
    }

    SettingsModel again;
    again.Initialise("/usr/bin/sonvelt", dir.path().string());
    EXPECT_EQ(again.EditedOptions, static_cast<const ProcessingOptions&>(s.Options));
    EXPECT_EQ(again.EditedOptions.VnameTxt, " 人声 ");
    EXPECT_EQ(again.EditedOptions.KvolPos, 3);
}

TEST_F(Persistence, AWriteFailureIsReportedAndLeavesTheFileWhole) {
    if (::geteuid() == 0) {
        // Root writes through permissions; make the path unwritable another way.
        Start();
        s.IniPath = (dir.path() / "missing-folder" / "sonvelt.ini").string();
        EXPECT_EQ(s.SaveOptions(), 1);
        EXPECT_FALSE(std::filesystem::exists(s.IniPath));
    } else {
        StoreOption("BlkSize=200\n");
        Start();
        ::chmod((dir.path() / "SonveltRip").c_str(), 0500);
        s.EditedOptions.BlkSize = 400;
        s.CommitOptions();
        EXPECT_EQ(s.SaveOptions(), 1);
        ::chmod((dir.path() / "SonveltRip").c_str(), 0700);
        EXPECT_EQ(ReadText(ini()), "[V30_Option]\nBlkSize=200\n");
    }
    // The committed copy stays in force.
    EXPECT_EQ(IniWriteErrorText("/x/sonvelt.ini"), "/x/sonvelt.ini に書き込めません.");
}

TEST_F(Persistence, NoDataFolderMeansDefaultsAndAFailedSave) {
    s.SetDefaults();
    s.IniPath.clear();
    s.LoadOptions();
    s.CommitOptions();
    EXPECT_EQ(s.EditedOptions, ProcessingOptions{});
    EXPECT_EQ(s.SaveOptions(), 1);
}

// Only regular files are read, and only up to a size no settings file comes
// near; a FIFO or a device returns at once with a reason.
TEST(IniFile, ReadsOnlyRegularFilesOfBoundedSize) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder");
    WriteText(dir / "real.ini", "[V30_Option]\nBlkSize=300\n");
    std::filesystem::create_symlink(dir / "real.ini", dir / "link2");
    std::filesystem::create_symlink("link2", dir / "link1");
    WriteText(dir / "huge.ini", "[V30_Option]\nBlkSize=300\n");
    std::filesystem::resize_file(dir / "huge.ini", IniFile::kMaxFileSize + 1);
    WriteText(dir / "limit.ini", "");
    std::filesystem::resize_file(dir / "limit.ini", IniFile::kMaxFileSize);
    using R = IniFile::LoadResult;
    struct Case {
        std::string path;
        R result;
    } cases[] = {
        {dir / "missing.ini", R::Missing}, {dir / "folder", R::Failed},   {dir / "fifo", R::Failed},
        {"/dev/zero", R::Failed},          {dir / "huge.ini", R::Failed}, {dir / "limit.ini", R::Loaded},
        {dir / "link1", R::Loaded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        IniFile ini;
        std::string why;
        EXPECT_EQ(ini.Read(c.path, &why), c.result);
        EXPECT_EQ(why.empty(), c.result == R::Loaded) << why;
        EXPECT_EQ(ini.Load(c.path), c.result != R::Failed);
    }
    IniFile linked;
    ASSERT_EQ(linked.Read(dir / "link1"), R::Loaded);
    EXPECT_EQ(linked.Get(kIniSection, "BlkSize"), "300");
}

TEST_F(Persistence, AReadOnlyFileIsNotReplaced) {
    StoreOption("BlkSize=200\n");
    Start();
    ASSERT_EQ(::chmod(ini().c_str(), 0444), 0);
    s.EditedOptions.BlkSize = 400;
    s.CommitOptions();
    EXPECT_EQ(s.SaveOptions(), 1);
    EXPECT_EQ(ReadText(ini()), "[V30_Option]\nBlkSize=200\n");
    struct stat st {};
    ASSERT_EQ(::stat(ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

// Saving follows the whole chain of links: every link stays a link and the
// file at its end gets the options, with its permissions.
TEST_F(Persistence, SavingThroughSymbolicLinksKeepsTheLinks) {
    StoreOption("BlkSize=200\n");
    const std::string real = dir / "real.ini", middle = dir / "middle.ini";
    std::filesystem::rename(ini(), real);
    ::chmod(real.c_str(), 0600);
    std::filesystem::create_symlink("real.ini", middle); // relative to its folder
    std::filesystem::create_symlink(middle, ini());      // absolute
    Start();
    EXPECT_EQ(s.Options.BlkSize, 200);
    s.EditedOptions.BlkSize = 400;
    s.CommitOptions();
    ASSERT_EQ(s.SaveOptions(), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(ini()));
    EXPECT_TRUE(std::filesystem::is_symlink(middle));
    IniFile f;
    ASSERT_TRUE(f.Load(real));
    EXPECT_EQ(f.Get(kIniSection, "BlkSize"), "400");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

#include "JobSetup.h"
#include "ScriptedDialogs.h"
#include "TestUtil.h"
#include "Twave.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

JobRequest Req(const std::string& original, const std::string& karaoke, const std::string& output) {
    JobRequest r;
    r.original = original;
    r.karaoke = karaoke;
    r.output = output;
    return r;
}

class JobSetup : public ::testing::Test {
protected:
    TempDir dir;
    TWaveData o, k, w;
    ScriptedDialogs d;

    void SetUp() override {
        WriteFile(dir / "song.wav", Wave16(2, 44100, {1, 2, 3, 4}));
        WriteFile(dir / "kar.wav", Wave16(2, 44100, {5, 6, 7, 8}));
        WriteFile(dir / "mono.wav", Wave16(1, 44100, {1, 2}));
        WriteFile(dir / "48k.wav", Wave16(2, 48000, {1, 2}));
        WriteFile(dir / "24bit.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 24)), Chunk("data", Bytes(6, 0))}));
        WriteFile(dir / "8bit.wav", Riff({Chunk("fmt ", FmtPayload(2, 44100, 8)), Chunk("data", Bytes(2, 0))}));
        WriteFile(dir / "old.wav", Bytes{'o', 'l', 'd'});
    }
    bool Prepare(JobRequest& r) { return PrepareJob(r, o, k, w, d); }
    void ExpectAllClosed() {
        EXPECT_FALSE(o.IsOpen());
        EXPECT_FALSE(k.IsOpen());
        EXPECT_FALSE(w.IsOpen());
    }
};

} // namespace

TEST_F(JobSetup, RejectionsShowOneMessageAndLeaveNothingOpen) {
    struct Case {
        const char* what;
        std::string orig, kar, out;
        std::string message;
    } cases[] = {
        {"no original", "", dir / "kar.wav", dir / "v.wav", JobText::kNamesMissing},
        {"no karaoke", dir / "song.wav", "", dir / "v.wav", JobText::kNamesMissing},
        {"no output", dir / "song.wav", dir / "kar.wav", "", JobText::kNamesMissing},
        {"output is the karaoke", dir / "song.wav", dir / "kar.wav", dir / "kar.wav", JobText::kDuplicateNames},
        {"output is the original", dir / "song.wav", dir / "kar.wav", dir / "song.wav", JobText::kDuplicateNames},
        {"output is the original under another spelling", dir / "song.wav", dir / "kar.wav",
         dir.path().string() + "/./song.wav", JobText::kDuplicateNames},
        {"output becomes the original after the extension is rewritten", dir / "song.wav", dir / "kar.wav",
         dir / "song.mp3", JobText::kDuplicateNames},
        {"missing karaoke", dir / "song.wav", dir / "none.wav", dir / "v.wav",
         "\"none.wav\"\n无法打开文件\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"},
        {"damaged original", dir / "old.wav", dir / "kar.wav", dir / "v.wav",
         "\"old.wav\"\n这是不能被处理的文件格式\u3000\n或文件被损坏"
         "\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"
         "\nnot a WAVE, FLAC, MP3, AAC/M4A, Ogg Vorbis, Opus or AIFF file"},
        {"output folder missing", dir / "song.wav", dir / "kar.wav", dir / "nowhere/v.wav",
         "\"v.wav\"\n无法创建文件\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        d.warnings.clear();
        JobRequest r = Req(c.orig, c.kar, c.out);
        EXPECT_FALSE(Prepare(r));
        ASSERT_EQ(d.warnings.size(), 1u);
        EXPECT_EQ(d.warnings[0], c.message);
        ExpectAllClosed();
    }
    EXPECT_EQ(ReadFile(dir / "song.wav"), Wave16(2, 44100, {1, 2, 3, 4}));
}

TEST_F(JobSetup, OutputNameIsRewrittenAndTheFileCreatedWithTheOriginalsFormat) {
    for (const char* typed : {"take1.mp3", "take1", "take1.WAV"}) {
        SCOPED_TRACE(typed);
        JobRequest r = Req(dir / "song.wav", dir / "kar.wav", dir / typed);
        std::vector<int> checked;
        r.onChecked = [&](int which, const WaveCheckResult& c) {
            checked.push_back(which);
            EXPECT_EQ(c.result, 0);
        };
        ASSERT_TRUE(Prepare(r));
        EXPECT_EQ(r.output, dir / "take1.wav");
        EXPECT_EQ(r.runMode, 0);
        EXPECT_EQ(checked, (std::vector<int>{1, 2}));
        EXPECT_TRUE(o.IsOpen() && k.IsOpen() && w.IsOpen());
        EXPECT_EQ(w.Format.nChannels, 2);
        EXPECT_EQ(w.Format.nSamplesPerSec, 44100u);
        o.Close();
        k.Close();
        w.Close();
        std::filesystem::remove(dir / "take1.wav");
        d.answer = false;
    }
    EXPECT_TRUE(d.warnings.empty());
}

TEST_F(JobSetup, SameInputTwiceMeansTheOriginalAlone) {
    std::filesystem::create_symlink(dir / "song.wav", dir / "link.wav");
    WriteFile(dir / "copy.wav", ReadFile(dir / "song.wav"));
    // The same file under any spelling is the original alone; an equal copy is not.
    struct Case {
        std::string karaoke;
        int runMode;
    } cases[] = {
        {dir / "song.wav", 1},
        {(dir.path() / "." / "song.wav").string(), 1},
        {dir / "link.wav", 1},
        {dir / "copy.wav", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.karaoke);
        JobRequest r = Req(dir / "song.wav", c.karaoke, dir / "v.wav");
        d.answer = true;
        ASSERT_TRUE(Prepare(r));
        EXPECT_EQ(r.runMode, c.runMode);
        o.Close();
        k.Close();
        w.Close();
    }
}

TEST_F(JobSetup, OverwriteAsksAndNoKeepsTheOldFile) {
    JobRequest r = Req(dir / "song.wav", dir / "kar.wav", dir / "old.wav");
    d.answer = false;
    EXPECT_FALSE(Prepare(r));
    ASSERT_EQ(d.questions.size(), 1u);
    EXPECT_EQ(d.questions[0], "\"old.wav\"\n有一个具有相同名称的文件。是否覆盖保存？\u3000\u3000\u3000");
    EXPECT_TRUE(d.warnings.empty());
    ExpectAllClosed();
    EXPECT_EQ(ReadFile(dir / "old.wav"), (Bytes{'o', 'l', 'd'}));

    d.answer = true;
    EXPECT_TRUE(Prepare(r));
    w.Close();
    EXPECT_EQ(ReadFile(dir / "old.wav").size(), 46u);
}

TEST_F(JobSetup, DebugLogNeverNamesARunFile) {
    JobRequest r = Req(dir / "song.wav", dir / "kar.wav", dir / "v.wav");
    EXPECT_EQ(DebugLogPath(r), dir / "song.txt");
    JobRequest weird = Req(dir / "song.txt", dir / "kar.wav", dir / "v.wav");
    EXPECT_EQ(DebugLogPath(weird), "");
}

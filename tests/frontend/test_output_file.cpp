// The command line's output: a temporary made new beside the target that
// takes the target's name only by the rules of a complete or an unfinished
// voice; FLAC encoded at the end; the clean-up of what killed runs left.
#include "Decoder.h"
#include "FaultHarness.h"
#include "NewFile.h"
#include "OutputFile.h"
#include "TestUtil.h"
#include "Twave.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testutil;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

size_t Entries(const TempDir& dir) { return size_t(std::distance(std::filesystem::directory_iterator(dir.path()), {})); }

// Starts the output and writes `frames` stereo frames of a ramp into it.
void WriteVoice(PendingOutput& p, int frames) {
    TWaveData w;
    w.Format = {1, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(p.Create(w), 0);
    std::vector<int16_t> s(size_t(frames) * 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(i);
    ASSERT_EQ(w.Write(s.data(), int32_t(s.size() * 2)), int32_t(s.size() * 2));
    ASSERT_EQ(w.Close(), 0);
}

pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

} // namespace

// Where the voice goes, by whether the run finished, whether replacing was
// allowed and what stood at the target's name at the end.
TEST(OutputFile, TheVoiceTakesTheNameOnlyByTheRules) {
    enum Before { kNothing, kOld, kAppears, kFolderAppears };
    struct Case {
        const char* what;
        Before before;
        bool replace, complete;
        OutputOutcome::State state;
        const char* atTarget; // "voice", "old", "other" or "folder"
        bool kept;            // the voice is at "v.kept-1.wav"
    } cases[] = {
        {"a new target, complete", kNothing, false, true, OutputOutcome::kWritten, "voice", false},
        {"a new target, stopped: the partial voice", kNothing, false, false, OutputOutcome::kWritten, "voice", false},
        {"--yes, complete", kOld, true, true, OutputOutcome::kWritten, "voice", false},
        {"--yes, stopped: the existing output stays", kOld, true, false, OutputOutcome::kLeftAsItWas, "old", false},
        {"appeared during the run", kAppears, false, true, OutputOutcome::kKept, "other", true},
        {"appeared during a stopped run", kAppears, false, false, OutputOutcome::kLeftAsItWas, "other", false},
        {"appeared during a run with --yes", kAppears, true, true, OutputOutcome::kWritten, "voice", false},
        {"became a folder", kFolderAppears, true, true, OutputOutcome::kKept, "folder", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string target = dir / "v.wav";
        if (c.before == kOld) {
            WriteText(target, "old");
            ::chmod(target.c_str(), 0640);
        }
        PendingOutput p(target, c.replace);
        WriteVoice(p, 1000);
        const Bytes voice = ReadFile(p.Temporary());
        if (c.before == kAppears) WriteText(target, "other");
        if (c.before == kFolderAppears) std::filesystem::create_directory(target);
        const OutputOutcome o = p.Finish(c.complete);
        EXPECT_EQ(o.state, c.state) << o.problem;
        const std::string at = c.atTarget;
        if (at == "folder") {
            EXPECT_TRUE(std::filesystem::is_directory(target));
        } else {
            EXPECT_EQ(ReadFile(target), at == "voice" ? voice : Bytes(at.begin(), at.end()));
        }
        if (c.kept) {
            EXPECT_EQ(o.keptAs, dir / "v.kept-1.wav");
            EXPECT_EQ(ReadFile(o.keptAs), voice);
            EXPECT_EQ(o.error, c.before == kAppears ? EEXIST : EISDIR);
        }
        // The permissions the output had, else those of a new file.
        if (at == "voice") {
            EXPECT_EQ(ModeOf(target), c.before == kOld ? 0640u : NewFile::UsualFileMode());
        }
        // Nothing else is left: no temporary, no second copy.
        EXPECT_EQ(Entries(dir), c.kept ? 2u : 1u);
    }
}

// Only the file this process made takes the name: one put in its place
// during the run is neither renamed nor removed.
TEST(OutputFile, AReplacedTemporaryIsNotTakenForTheVoice) {
    TempDir dir;
    PendingOutput p(dir / "v.wav", false);
    WriteVoice(p, 100);
    const std::string temp = p.Temporary();
    WriteText(dir / "planted", "someone else's");
    ASSERT_EQ(::rename((dir / "planted").c_str(), temp.c_str()), 0);
    const OutputOutcome o = p.Finish(true);
    EXPECT_EQ(o.state, OutputOutcome::kFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "v.wav"));
    EXPECT_EQ(ReadText(temp), "someone else's");
}

// Through a link, the file it names is replaced and the link stays; the
// temporary has an unpredictable name, so a link planted at the name the
// earlier scheme used is never written through.
TEST(OutputFile, ALinkAtTheTargetOrAtTheOldTemporaryName) {
    TempDir dir, decoys;
    WriteText(dir / "real.wav", "old");
    std::filesystem::create_symlink(dir / "real.wav", dir / "link.wav");
    const std::string planted =
        Plant(PlantedLink::kToFile, dir / (".real.wav.sonvelt-tmp-" + std::to_string(::getpid())), decoys.path());
    PendingOutput p(dir / "link.wav", true);
    WriteVoice(p, 100);
    EXPECT_EQ(std::filesystem::path(p.Temporary()).parent_path(), dir.path());
    const Bytes voice = ReadFile(p.Temporary());
    EXPECT_EQ(p.Finish(true).state, OutputOutcome::kWritten);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav"));
    EXPECT_EQ(ReadFile(dir / "real.wav"), voice);
    EXPECT_TRUE(Untouched(PlantedLink::kToFile, planted));
}

TEST(OutputFile, AFlacTargetIsEncodedAtTheEnd) {
    TempDir dir;
    PendingOutput p(dir / "v.FLAC", false);
    WriteVoice(p, 3000);
    TWaveData written;
    ASSERT_EQ(written.OpenRead(p.Temporary()), 0);
    std::vector<int16_t> samples(6000);
    ASSERT_EQ(written.Read(samples.data(), 12000), 12000);
    written.Close();
    const OutputOutcome o = p.Finish(true);
    ASSERT_EQ(o.state, OutputOutcome::kWritten) << o.problem;
    AudioInfo info;
    ASSERT_EQ(ProbeAudio(dir / "v.FLAC", info), kDecodeOk);
    EXPECT_EQ(info.container, "FLAC");
    ASSERT_EQ(DecodeToWave(dir / "v.FLAC", dir / "back.wav", 44100, 2), kDecodeOk);
    TWaveData back;
    ASSERT_EQ(back.OpenRead(dir / "back.wav"), 0);
    std::vector<int16_t> got(samples.size());
    EXPECT_EQ(back.Read(got.data(), int32_t(got.size() * 2)), int32_t(got.size() * 2));
    EXPECT_EQ(got, samples);
    EXPECT_EQ(Entries(dir), 2u); // the FLAC file and the decoded copy

    // A stopped run over an existing FLAC file leaves it as it was.
    WriteText(dir / "old.flac", "old");
    PendingOutput q(dir / "old.flac", true);
    WriteVoice(q, 100);
    EXPECT_EQ(q.Finish(false).state, OutputOutcome::kLeftAsItWas);
    EXPECT_EQ(ReadText(dir / "old.flac"), "old");
    EXPECT_EQ(Entries(dir), 3u);
}

TEST(OutputFile, CreationNamesTheSystemsReason) {
    TempDir dir;
    PendingOutput p(dir / "missing/v.wav", false);
    TWaveData w;
    w.Format = {1, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(p.Create(w), ENOENT);
    EXPECT_FALSE(w.IsOpen());
}

// What a run killed outright left is removed by the next run in the folder:
// only unfinished temporaries of ended processes, never a kept voice (made
// read-only), a running process's file, a link or a name of another form.
TEST(OutputFile, StaleTemporariesOfEndedRunsAreRemovedOthersKept) {
    TempDir dir, decoys;
    const pid_t dead = EndedProcess();
    auto temp = [&](const std::string& target, pid_t pid, const std::string& random) {
        return dir / ("." + target + ".sonvelt-tmp-" + std::to_string(pid) + "-" + random);
    };
    const std::string stale = temp("a.wav", dead, "abcd1234"), kept = temp("b.wav", dead, "efgh5678"),
                      live = temp("c.wav", ::getppid(), "ijkl9012"), link = temp("d.wav", dead, "mnop3456"),
                      oldForm = dir / (".e.wav.sonvelt-tmp-" + std::to_string(dead));
    for (const std::string& f : {stale, kept, live, oldForm}) {
        WriteText(f, "x");
        ::chmod(f.c_str(), 0600);
    }
    ::chmod(kept.c_str(), 0444);
    const std::string target = Plant(PlantedLink::kToFile, link, decoys.path());
    EXPECT_EQ(RemoveStaleTemporaries(dir.path().string()), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    for (const std::string& f : {kept, live, oldForm}) EXPECT_TRUE(std::filesystem::exists(f)) << f;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(Untouched(PlantedLink::kToFile, target));
}

// A second Ctrl-C ends the process at once: each voice goes by the rules of
// an unfinished one.
TEST(OutputFile, FinishingAtOnceKeepsExistingOutputs) {
    TempDir dir;
    WriteText(dir / "b.wav", "old b");
    PendingOutput a(dir / "a.wav", true), b(dir / "b.wav", true), c(dir / "c.wav", true), f(dir / "f.flac", true);
    WriteVoice(a, 100);
    WriteVoice(b, 100);
    WriteVoice(f, 100);
    TWaveData empty;
    empty.Format = {1, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(c.Create(empty), 0);
    ASSERT_EQ(empty.Close(), 0); // a header alone
    const Bytes voice = ReadFile(a.Temporary());
    FinishPendingOutputsNow();
    EXPECT_EQ(ReadFile(dir / "a.wav"), voice);
    EXPECT_EQ(ModeOf(dir / "a.wav"), NewFile::UsualFileMode());
    EXPECT_EQ(ReadText(dir / "b.wav"), "old b");
    EXPECT_EQ(Entries(dir), 2u); // no c.wav, no WAVE file named f.flac, no temporary
}

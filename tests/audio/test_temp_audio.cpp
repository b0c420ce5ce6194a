// The temporaries decoded inputs go to: private folders, nothing followed,
// and the clean-up of what a crashed process left.
#include "Decoder.h"
#include "FaultHarness.h"
#include "TempAudio.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testutil;

namespace {

// The id of a process that has ended.
pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// TMPDIR pointed at a folder of the test's own.
class TempAudioTest : public ::testing::Test {
protected:
    TempDir tmp, decoys;
    std::string saved;
    void SetUp() override {
        if (const char* t = std::getenv("TMPDIR")) saved = t;
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
    }
    void TearDown() override {
        if (saved.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", saved.c_str(), 1);
    }
    size_t Entries() { return size_t(std::distance(std::filesystem::directory_iterator(tmp.path()), {})); }
};

} // namespace

// Each temporary is in a folder only the user can enter; the decoder makes
// the file new there, so a link planted at its very name is refused, and the
// names the earlier, predictable scheme used are never touched.
TEST_F(TempAudioTest, TemporariesLiveInPrivateFoldersAndFollowNoLink) {
    WriteFile(tmp / "song.wav", Wave16(1, 8000, std::vector<int16_t>(800, 100)));
    std::vector<std::pair<PlantedLink, std::string>> old;
    for (int n = 0; n < 4; ++n) {
        const PlantedLink kind = kPlantedLinks[n % 3];
        const std::string at = tmp / (".sonvelt-dec-" + std::to_string(::getpid()) + "-" + std::to_string(n) + ".wav");
        old.emplace_back(kind, Plant(kind, at, decoys.path()));
    }
    const std::string a = TempAudio::NewPath(), b = TempAudio::NewPath();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(std::filesystem::path(a).parent_path(), std::filesystem::path(b).parent_path());
    EXPECT_EQ(std::filesystem::path(a).parent_path().parent_path(), tmp.path());
    struct stat st {};
    ASSERT_EQ(::stat(std::filesystem::path(a).parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(DecodeToWave(tmp / "song.wav", a, 8000, 2), kDecodeOk);
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    for (PlantedLink kind : kPlantedLinks) {
        SCOPED_TRACE(Describe(kind));
        const std::string at = TempAudio::NewPath();
        const std::string target = Plant(kind, at, decoys.path());
        std::string error;
        EXPECT_EQ(DecodeToWave(tmp / "song.wav", at, 8000, 2, &error), kDecodeFailed);
        EXPECT_TRUE(Untouched(kind, target));
        TempAudio::Remove(at);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(at).parent_path()));
    }
    TempAudio::Remove(a);
    TempAudio::RemoveRegisteredTempFiles();
    for (const auto& [kind, target] : old) EXPECT_TRUE(Untouched(kind, target));
    EXPECT_EQ(Entries(), 5u); // the song and the four planted links
}

// A crashed process's folder goes with the files of the user's in it; a
// running process's folder, one that is a link, and names of other forms stay.
TEST_F(TempAudioTest, OnlyFoldersOfEndedProcessesAreRemovedAndNoLinkIsFollowed) {
    const pid_t dead = EndedProcess();
    auto folder = [&](pid_t pid, const std::string& random) {
        const std::string f = tmp / (".sonvelt-dec-" + std::to_string(pid) + "-" + random);
        std::filesystem::create_directory(f);
        return f;
    };
    const std::string stale = folder(dead, "aB3xY9");
    WriteText(stale + "/decoded.wav", "x");
    // Only regular files are removed: a link inside keeps its folder.
    const std::string withLink = folder(dead, "Rt78yu");
    WriteText(withLink + "/decoded.wav", "x");
    const std::string linkTarget = Plant(PlantedLink::kToFile, withLink + "/planted.wav", decoys.path());
    const std::string parent = folder(::getppid(), "Qw12er");
    const std::string mine = folder(::getpid(), "Zx34cv");
    const std::string otherForm = folder(dead, "short");
    std::filesystem::create_directory(decoys / "victim");
    WriteText(decoys / "victim/file", "keep me");
    std::filesystem::create_directory_symlink(decoys / "victim",
                                              tmp / (".sonvelt-dec-" + std::to_string(dead) + "-Lk56mn"));
    WriteText(tmp / (".sonvelt-dec-" + std::to_string(dead) + "-0.wav"), "an old-style name");

    EXPECT_EQ(TempAudio::RemoveStale(tmp.path().string()), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_FALSE(std::filesystem::exists(withLink + "/decoded.wav"));
    EXPECT_TRUE(std::filesystem::is_symlink(withLink + "/planted.wav"));
    EXPECT_TRUE(Untouched(PlantedLink::kToFile, linkTarget));
    for (const std::string& f : {parent, mine, otherForm}) EXPECT_TRUE(std::filesystem::exists(f)) << f;
    EXPECT_EQ(ReadText(decoys / "victim/file"), "keep me");
    EXPECT_EQ(Entries(), 6u);
}

TEST_F(TempAudioTest, AnUnnamedFileLeavesNothingInTheFolder) {
    const int fd = TempAudio::CreateAnonymous();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, "voice", 5), 5);
    EXPECT_EQ(Entries(), 0u);
    char back[5] = {};
    EXPECT_EQ(::pread(fd, back, 5, 0), 5);
    EXPECT_EQ(std::string(back, 5), "voice");
    ::close(fd);
}

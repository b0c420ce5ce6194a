// Files the program makes on its own: new, private, unpredictable, and never
// written through a link someone planted.
#include "FaultHarness.h"
#include "NewFile.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace testutil;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

} // namespace

// At a name where anything is planted, nothing is made and the planted
// link's target stays as it was; a free name gives a private file.
TEST(NewFile, ExclusiveCreationRefusesEveryPlantedLink) {
    TempDir dir, decoys;
    for (PlantedLink kind : kPlantedLinks) {
        SCOPED_TRACE(Describe(kind));
        const std::string at = dir / ("link" + std::to_string(int(kind)));
        const std::string target = Plant(kind, at, decoys.path());
        EXPECT_EQ(NewFile::CreateExclusive(at), -1);
        EXPECT_EQ(errno, EEXIST);
        EXPECT_TRUE(Untouched(kind, target));
    }
    const int fd = NewFile::CreateExclusive(dir / "free");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ModeOf(dir / "free"), 0600u);
    EXPECT_TRUE(NewFile::IsOpenFile(fd, (dir / "free").c_str()));
    EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    // Another file under the name is no longer the one this process made.
    ASSERT_EQ(::rename((dir / "link1").c_str(), (dir / "free").c_str()), 0);
    EXPECT_FALSE(NewFile::IsOpenFile(fd, (dir / "free").c_str()));
    ::close(fd);
}

TEST(NewFile, UniqueNamesAreUnpredictableAndRecognised) {
    TempDir dir;
    const std::string stem = NewFile::TemporaryStem(dir / "v.wav");
    EXPECT_EQ(stem, dir / (".v.wav.sonvelt-tmp-" + std::to_string(::getpid()) + "-"));
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        const int fd = NewFile::CreateUnique(stem, path);
        ASSERT_GE(fd, 0);
        ::close(fd);
        EXPECT_EQ(path.compare(0, stem.size(), stem), 0);
        const std::string name = std::filesystem::path(path).filename().string();
        pid_t pid = 0;
        EXPECT_TRUE(NewFile::IsTemporaryName(name, &pid)) << name;
        EXPECT_EQ(pid, ::getpid());
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 20u);
    // Names of other forms, the earlier predictable one included, are not ours.
    for (const char* other : {".v.wav.sonvelt-tmp-123", ".v.wav.sonvelt-tmp-123-abc", "v.wav.sonvelt-tmp-1-abcdefgh",
                              ".v.wav.sonvelt-tmp-x-abcdefgh", ".v.wav.sonvelt-tmp-12-abcdefg!", ".notes"})
        EXPECT_FALSE(NewFile::IsTemporaryName(other)) << other;
}

// A file of the program's own that takes a name: whatever was there (a file,
// a link of any kind) gives way and is never written through.
TEST(NewFile, CreateReplacingTakesTheNameNeverThroughALink) {
    TempDir dir, decoys;
    for (PlantedLink kind : kPlantedLinks) {
        SCOPED_TRACE(Describe(kind));
        const std::string at = dir / ("log" + std::to_string(int(kind)) + ".txt");
        const std::string target = Plant(kind, at, decoys.path());
        const int fd = NewFile::CreateReplacing(at);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "log", 3), 3);
        ::close(fd);
        EXPECT_FALSE(std::filesystem::is_symlink(at));
        EXPECT_EQ(ReadText(at), "log");
        EXPECT_EQ(ModeOf(at), NewFile::UsualFileMode());
        EXPECT_TRUE(Untouched(kind, target));
    }
    WriteText(dir / "old.txt", "an earlier log");
    const int fd = NewFile::CreateReplacing(dir / "old.txt");
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(ReadText(dir / "old.txt"), "");
    // Nothing else was left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
    // A folder cannot be replaced; no temporary stays behind.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(NewFile::CreateReplacing(dir / "folder"), -1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 5);
}

TEST(NewFile, PrivateFoldersAreTheUsersAlone) {
    TempDir dir;
    const std::string a = NewFile::CreatePrivateFolder(dir / "p-"), b = NewFile::CreatePrivateFolder(dir / "p-");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(ModeOf(a), 0700u);
    EXPECT_TRUE(NewFile::CreatePrivateFolder(dir / "missing/p-").empty());
}

// The measured plans remembered across runs: what is kept in the cache
// folder, and that a damaged or foreign file there never stops a transform.
#include "FFT.h"
#include "FftWisdom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempFolder {
    fs::path path;
    TempFolder()
    {
        path = fs::temp_directory_path() / ("sonvelt-wisdom-" + std::to_string(::getpid()));
        fs::remove_all(path);
    }
    ~TempFolder() { fs::remove_all(path); }
};

// A transform of size n (each case its own size: plans are made once per
// process and size) and whether it gives the right spectrum of an impulse.
bool TransformWorks(int n)
{
    CFFT f;
    if (f.Init(n, true) != 0) return false;
    std::vector<float> data(size_t(2 * n), 0.0f);
    data[2] = 1.0f; // an impulse at sample 1: every bin has magnitude 1
    f.Transform(data.data());
    for (int k = 0; k < n; ++k)
        if (std::abs(std::hypot(data[size_t(2 * k)], data[size_t(2 * k + 1)]) - 1.0) > 1e-5) return false;
    return true;
}

} // namespace

TEST(FftWisdom, KeptInTheCacheFolderAndRecoveredFromWhatever)
{
    ::unsetenv("SONVELT_FFT_WISDOM");
    TempFolder folder;
    const fs::path cache = folder.path / "deeper" / "SonveltRip";
    fftwisdom::Enable(cache.string());
    const fs::path file = fftwisdom::File();
    ASSERT_EQ(file.parent_path(), cache);

    // Nothing there yet: the folder is made (private) and the plan kept.
    ASSERT_TRUE(TransformWorks(64));
    ASSERT_TRUE(fs::is_regular_file(file));
    const std::string first = ReadAll(file);
    EXPECT_EQ(first.rfind("(fftw-", 0), 0u) << first.substr(0, 40);
    EXPECT_EQ(fs::status(cache).permissions() & fs::perms::all, fs::perms::owner_all);

    struct Case {
        const char* what;
        void (*spoil)(const fs::path& file);
        bool rewritten; // the file holds wisdom again afterwards
    } cases[] = {
        {"damaged", [](const fs::path& f) { std::ofstream(f, std::ios::binary) << "(fftw-3 garbage ((("; }, true},
        {"another version", [](const fs::path& f) {
             std::ofstream(f, std::ios::binary) << "(fftw-0.0.1 fftwf_wisdom #x1 #x2 #x3 #x4\n)\n"; }, true},
        {"empty", [](const fs::path& f) { std::ofstream(f, std::ios::binary).flush(); }, true},
        {"a folder", [](const fs::path& f) { fs::remove(f); fs::create_directory(f); }, false},
    };
    int n = 128;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.spoil(file);
        fftwisdom::Enable(cache.string()); // as a new process would
        EXPECT_TRUE(TransformWorks(n));
        n *= 2;
        if (c.rewritten) {
            EXPECT_EQ(ReadAll(file).rfind("(fftw-", 0), 0u);
        } else {
            EXPECT_TRUE(fs::is_directory(file));
        }
    }
    fs::remove_all(file);

    // A cache folder that cannot be made (a file stands in its path): plans
    // are estimated and nothing is written.
    std::ofstream(folder.path / "plain-file").flush();
    fftwisdom::Enable((folder.path / "plain-file" / "SonveltRip").string());
    EXPECT_TRUE(TransformWorks(n));
    n *= 2;
    EXPECT_TRUE(fs::is_regular_file(folder.path / "plain-file"));

    // Switched off by the environment or an empty folder: nothing is written.
    ::setenv("SONVELT_FFT_WISDOM", "0", 1);
    fftwisdom::Enable(cache.string());
    EXPECT_TRUE(fftwisdom::File().empty());
    ::unsetenv("SONVELT_FFT_WISDOM");
    fftwisdom::Enable("");
    EXPECT_TRUE(fftwisdom::File().empty());
    EXPECT_TRUE(TransformWorks(n));
    EXPECT_FALSE(fs::exists(file));
}

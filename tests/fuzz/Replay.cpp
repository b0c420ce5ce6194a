// Runs a fuzzing harness over its seed corpus as an ordinary test, so every
// build checks the inputs the fuzzer found worth keeping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzCorpus, EveryEntryPasses) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(SONVELT_FUZZ_CORPUS))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 5u) << SONVELT_FUZZ_CORPUS;
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        std::ifstream in(f, std::ios::binary);
        const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        // A failing property aborts the program, naming the input above it.
        std::fprintf(stderr, "replay %s\n", f.filename().c_str());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

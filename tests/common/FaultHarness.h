// Faults the tests provoke: a file-size limit, which makes a write fail part
// way as a full disk does, and links planted where the program makes files.
#pragma once

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

// Runs `body` in a child process whose files may not grow past `bytes`
// (SIGXFSZ ignored, so that such a write fails with EFBIG instead of ending
// the process). The child's exit status, which is what `body` returns, or
// -1 when it did not exit normally.
inline int RunUnderFileSizeLimit(rlim_t bytes, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The kinds of link someone could plant at a name the program is about to
// use: to nothing, to a file of the user's, to a folder.
enum class PlantedLink { kDangling, kToFile, kToFolder };
inline constexpr PlantedLink kPlantedLinks[] = {PlantedLink::kDangling, PlantedLink::kToFile, PlantedLink::kToFolder};

inline const char* Describe(PlantedLink kind) {
    return kind == PlantedLink::kDangling ? "dangling link" : kind == PlantedLink::kToFile ? "link to a file"
                                                                                          : "link to a folder";
}

// A link of that kind at `at`, whose target is made in `decoys`; the target.
// A file target holds "keep me"; a folder target is empty; a dangling link
// names a file that must never appear.
inline std::string Plant(PlantedLink kind, const std::string& at, const std::filesystem::path& decoys) {
    static int counter = 0;
    const std::string target = (decoys / ("target-" + std::to_string(counter++))).string();
    if (kind == PlantedLink::kToFile) {
        std::FILE* f = std::fopen(target.c_str(), "w");
        std::fputs("keep me", f);
        std::fclose(f);
    } else if (kind == PlantedLink::kToFolder) {
        std::filesystem::create_directory(target);
    }
    std::filesystem::create_symlink(target, at);
    return target;
}

// Whether a planted link's target is as it was planted: the file holds
// "keep me", the folder is empty, nothing exists at a dangling one's target.
inline bool Untouched(PlantedLink kind, const std::string& target) {
    std::error_code ec;
    if (kind == PlantedLink::kDangling) return !std::filesystem::exists(std::filesystem::symlink_status(target, ec));
    if (kind == PlantedLink::kToFolder) return std::filesystem::is_empty(target, ec) && !ec;
    std::FILE* f = std::fopen(target.c_str(), "r");
    if (!f) return false;
    char buf[16] = {};
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    return std::string(buf, n) == "keep me";
}

} // namespace testutil

// Runs sonvelt-cli as a user would and captures what it prints.
#pragma once

#include "TestUtil.h"

#include <string>
#include <sys/wait.h>

namespace testutil {

struct CliResult {
    int status = -1;
    std::string out, err;
};

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The command line's language is English unless a test's `env` names
// another locale.
inline constexpr const char* kEnglishLocale = "export LC_ALL= LC_MESSAGES= LANG=C.UTF-8;";

// `env` is prefixed to the command line (VAR=value words, `ulimit`, ...),
// after the English locale has been exported.
inline CliResult RunCli(const std::string& args, const std::string& env = "") {
    static int counter = 0;
    TempDir dir;
    std::string out = dir / ("out" + std::to_string(counter));
    std::string err = dir / ("err" + std::to_string(counter++));
    std::string cmd = std::string(kEnglishLocale) + " " + env + " " +
                      ShellQuote(std::string(SONVELT_BINARY_DIR) + "/cli/sonvelt-cli") + " " + args +
                      " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null";
    int raw = std::system(cmd.c_str());
    CliResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
}

} // namespace testutil

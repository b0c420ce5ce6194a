// What ships beside sonvelt-cli says what the program does: the manual page
// and the completion for bash name every command and option of its own
// --help, and the example script for whole libraries extracts every song.
#include "CliPairs.h"
#include "Options.h"
#include "Settings.h"

#include <set>
#include <sstream>

using namespace testutil;

namespace {

std::string Source(const std::string& path) { return ReadText(std::string(SONVELT_SOURCE_DIR) + "/" + path); }

// The options a --help lists in its first column ("-o,--output TEXT").
std::set<std::string> OptionsOf(const std::string& help) {
    std::set<std::string> options;
    std::istringstream in(help);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("  -", 0) != 0) continue;
        std::istringstream names(line.substr(2, line.find(' ', 2) - 2));
        for (std::string name; std::getline(names, name, ',');) options.insert(name);
    }
    return options;
}

// Whether `word` stands in `text` between blanks or quotes.
bool HasWord(const std::string& text, const std::string& word) {
    auto apart = [](char c) { return c == ' ' || c == '"' || c == '\n'; };
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const size_t end = at + word.size();
        if ((at == 0 || apart(text[at - 1])) && (end == text.size() || apart(text[end]) || word.back() == '='))
            return true;
    }
    return false;
}

// As roff writes it: each hyphen "\-".
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

} // namespace

TEST(CliDocs, TheManualPageAndTheCompletionNameEveryCommandAndOption) {
    const std::string manual = Source("packaging/man/sonvelt-cli.1");
    const std::string completion = Source("packaging/sonvelt-cli.bash");
    const CliResult top = RunCli("--help");
    ASSERT_EQ(top.status, 0);
    for (const char* command : {"extract", "analyse", "analyze", "info", "settings"}) {
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
        EXPECT_NE(manual.find(command), std::string::npos) << command;
        EXPECT_TRUE(HasWord(completion, command)) << command;
    }
    for (const char* command : {"", "extract", "analyse", "info", "settings"}) {
        const CliResult help = RunCli(std::string(command) + " --help");
        ASSERT_EQ(help.status, 0) << command;
        const std::set<std::string> options = OptionsOf(help.out);
        EXPECT_GE(options.size(), 1u) << command;
        for (const std::string& option : options) {
            EXPECT_NE(manual.find(Roff(option)), std::string::npos) << command << " " << option;
            if (*command) {
                EXPECT_TRUE(HasWord(completion, option)) << command << " " << option;
            }
        }
    }
}

TEST(CliDocs, TheCompletionOffersEveryOptionKey) {
    const std::string completion = Source("packaging/sonvelt-cli.bash");
    for (const auto& [key, value] : OptionEntries(ProcessingOptions{}))
        EXPECT_TRUE(HasWord(completion, key + "=")) << key;
}

// Each song one job, as on many machines, here with xargs and with GNU
// parallel where it is installed.
class CliLibrary : public CliPairs {};

TEST_F(CliLibrary, TheLibraryScriptExtractsEverySong) {
    const std::vector<std::string> songs = {"01 First", "02 It's \"Second\"", "03 Third"};
    for (size_t i = 0; i < songs.size(); ++i) MakePair(songs[i], 1, uint32_t(51 + i));
    std::string list;
    for (const std::string& s : songs) list += dir / (s + ".wav") + "\n";
    const std::string script = " SONVELT_CLI=" + ShellQuote(std::string(SONVELT_BINARY_DIR) + "/cli/sonvelt-cli") + " " +
                               ShellQuote(std::string(SONVELT_SOURCE_DIR) + "/examples/extract-library");
    WriteText(dir / "originals.txt", list);
    WriteText(dir / "with-missing.txt", list + dir / "missing.wav" + "\n");
    for (const char* tool : {"SONVELT_NO_PARALLEL=1", ""}) {
        SCOPED_TRACE(*tool ? "xargs" : "GNU parallel where installed");
        for (const std::string& s : songs) std::filesystem::remove(dir / (s + "_vo.wav"));
        const std::string command = tool + script + " -j 2 " + Q("originals.txt") +
                                    " -- --defaults --set MergeMode=1 >" + Q("results.jsonl") + " 2>" + Q("errors.txt");
        ASSERT_EQ(std::system(command.c_str()), 0) << ReadText(dir / "errors.txt");
        std::set<std::string> originals;
        for (const QJsonObject& job : JsonLines(ReadText(dir / "results.jsonl"))) {
            originals.insert(Str(job, "original"));
            EXPECT_EQ(Str(job, "state"), "voice written");
            EXPECT_TRUE(std::filesystem::exists(Str(job, "output"))) << Str(job, "output");
        }
        EXPECT_EQ(originals.size(), songs.size());
        // A song that cannot be extracted makes the whole run fail.
        const std::string failing = tool + script + " " + Q("with-missing.txt") + " -- --defaults --yes >/dev/null 2>&1";
        EXPECT_NE(std::system(failing.c_str()), 0);
    }
}

// The options' two copies and their INI file.
#pragma once

#include "IniFile.h"
#include "Options.h"

#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kIniSection = "V30_Option";

// How one persisted option is stored in the INI file.
struct OptionKey {
    enum Kind { Int, Flag, Text };
    const char* name;
    Kind kind;
    int32_t ProcessingOptions::*field; // null for the text option
};

// The persisted keys (the 22 of the classic options, then AlignFlg and CleanMode), in the order they are read and written.
const std::vector<OptionKey>& OptionKeys();
// The key of that name (any letter case), or null.
const OptionKey* FindOptionKey(const std::string& name);

// An INI integer: decimal, or hexadecimal after "0x"/"0X" (at least one digit).
// Anything else, or a number outside 32 bits, gives `fallback`.
int32_t ParseIniInt(const std::string& raw, int32_t fallback);
// Applies the stored text of one key to `options`, falling back to the value
// it holds when the text is not a number.
void ApplyOptionText(ProcessingOptions& options, const OptionKey& key, const std::string& text);
// The keys with their values as the INI file holds them.
std::vector<std::pair<std::string, std::string>> OptionEntries(const ProcessingOptions& options);

// The user's local data folder: $XDG_DATA_HOME, else ~/.local/share; empty
// when neither can be named.
std::string LocalDataFolder();
// The message shown when the INI file cannot be written.
std::string IniWriteErrorText(const std::string& iniPath);

class SettingsModel {
public:
    ProcessingOptions EditedOptions;
    std::string IniPath;
    CommittedOptions Options;

    void SetDefaults() { ::SetDefaults(EditedOptions); }
    // <data folder>/SonveltRip/<program name without extension>.ini; the
    // folder is created if missing. An empty `dataFolder` means LocalDataFolder().
    void BuildIniPath(const std::string& programFile, const std::string& dataFolder = {});
    // Reads IniPath into the edited copy. A missing or unreadable file leaves
    // the values the copy holds; the result (and `why`) say which it was, for
    // callers that named the file themselves. `hasSection`, when given, tells
    // whether a file that was read holds the options' section at all.
    IniFile::LoadResult LoadOptions(std::string* why = nullptr, bool* hasSection = nullptr);
    // Writes the committed copy's keys. 0 on success, 1 when the file
    // could not be written (the file is then left as it was).
    int SaveOptions();
    void CommitOptions() { ::CommitOptions(EditedOptions, Options); }

    // Start-up order: defaults, path, INI values, commit.
    void Initialise(const std::string& programFile, const std::string& dataFolder = {});
};

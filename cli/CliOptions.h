// Where the command line takes its processing options from.
#pragma once

#include "Settings.h"

#include <string>
#include <vector>

namespace CLI { class App; }

struct OptionSource {
    std::string iniPath;           // --ini: another INI file than the window's
    bool defaults = false;         // --defaults: ignore the INI file
    std::vector<std::string> sets; // --set Key=Value, in order

    // Adds --ini, --defaults and --set to a subcommand.
    void AddTo(CLI::App& app);
    // Fills `settings` as the window would at start-up, then applies the
    // overrides and commits. False with `error` set on a bad --set or an
    // --ini file that cannot be read (missing, a folder, FIFO or device); an
    // --ini file without the options' section is warned about on standard
    // error and the defaults stand.
    bool Load(SettingsModel& settings, std::string& error) const;
};

// The window's program name, so both front ends share one INI file.
inline constexpr const char* kGuiProgramName = "sonvelt";

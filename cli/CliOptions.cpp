#include "CliOptions.h"

#include "TerminalHost.h"

#include <CLI/CLI.hpp>

void OptionSource::AddTo(CLI::App& app) {
    app.add_option("--ini", iniPath, "Read options from this INI file instead of the window's");
    app.add_flag("--defaults", defaults, "Ignore the INI file and start from the default options");
    app.add_option("--set", sets, "Override one option, by its INI key (repeatable), e.g. --set MergeMode=1")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
}

bool OptionSource::Load(SettingsModel& s, std::string& error) const {
    s.SetDefaults();
    if (!defaults) {
        if (!iniPath.empty()) {
            // A file named on purpose must be read: silently running on the
            // defaults instead would give a different voice.
            s.IniPath = iniPath;
            std::string why;
            bool hasSection = false;
            if (s.LoadOptions(&why, &hasSection) != IniFile::LoadResult::Loaded) {
                error = "--ini " + iniPath + ": " + why;
                return false;
            }
            // An empty file, another kind of file or UTF-16 text: said, and
            // the run goes on with the defaults.
            if (!hasSection)
                PrintText("warning: --ini " + iniPath + ": no [" + kIniSection +
                          "] section in it (it must be UTF-8 text); the default options are used\n");
        } else {
            s.BuildIniPath(kGuiProgramName);
            s.LoadOptions();
        }
    } else if (!iniPath.empty()) {
        s.IniPath = iniPath;
    }
    for (const std::string& kv : sets) {
        size_t eq = kv.find('=');
        const OptionKey* key = eq == std::string::npos ? nullptr : FindOptionKey(kv.substr(0, eq));
        if (!key) {
            error = "--set " + kv + ": expected KEY=VALUE with one of the INI keys";
            return false;
        }
        std::string value = kv.substr(eq + 1);
        if (key->kind != OptionKey::Text) {
            // A typed value that is not a number is a mistake, not a fallback.
            if (ParseIniInt(value, 0) == 0 && ParseIniInt(value, 1) == 1) {
                error = "--set " + kv + ": " + key->name + " needs an integer";
                return false;
            }
        }
        ApplyOptionText(s.EditedOptions, *key, value);
    }
    s.CommitOptions();
    return true;
}

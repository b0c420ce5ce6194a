// sonvelt-cli: the command-line front end.
#include "CliOptions.h"
#include "Settings.h"
#include "Twave.h"
#include "WaveCheck.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitRejected = 2;

template <typename T>
std::string Shortest(T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

int RunInfo(const std::vector<std::string>& files) {
    int status = 0;
    for (const std::string& f : files) {
        WaveCheckResult r = CheckWaveFileText(f);
        if (r.result == 0) {
            std::cout << f << ": " << StripPadding(r.label) << "\n";
        } else {
            std::cerr << StripPadding(r.warning) << "\n";
            status = kExitRejected;
        }
    }
    return status;
}

int RunSettings(const OptionSource& source) {
    SettingsModel s;
    std::string error;
    if (!source.Load(s, error)) {
        std::cerr << error << "\n";
        return kExitUsage;
    }
    for (const auto& [key, value] : OptionEntries(s.Options)) std::cout << key << "=" << value << "\n";
    const CommittedOptions& o = s.Options;
    std::cout << "BlkSec=" << Shortest(o.BlkSec) << "\n"
              << "AdptRange=" << o.AdptRange << "\n"
              << "CntrGain=" << Shortest(o.CntrGain) << "\n"
              << "LPFFreq=" << o.LPFFreq << "\n"
              << "HPFFreq=" << o.HPFFreq << "\n"
              << "Kvol=" << Shortest(o.Kvol) << "\n"
              << "Klvl=" << Shortest(o.Klvl) << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Sonvelt extracts the singing voice of a song from the original recording and its karaoke version.",
                 "sonvelt-cli"};
    app.set_version_flag("--version", "sonvelt-cli 3.0");
    app.require_subcommand(1);

    std::vector<std::string> infoFiles;
    CLI::App* info = app.add_subcommand("info", "Check WAVE files and show their format");
    info->add_option("FILE", infoFiles, "WAVE files to check")->required();

    OptionSource settingsSource;
    CLI::App* settings = app.add_subcommand("settings", "Show the processing options and their derived values");
    settingsSource.AddTo(*settings);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    if (info->parsed()) return RunInfo(infoFiles);
    if (settings->parsed()) return RunSettings(settingsSource);
    return kExitUsage;
}

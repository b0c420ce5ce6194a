// sonvelt-cli: the command-line front end.
#include "CliOptions.h"
#include "Commands.h"
#include "FftWisdom.h"
#include "Language.h"
#include "RunPicture.h"
#include "Settings.h"
#include "TerminalHost.h"
#include "Twave.h"
#include "WaveCheck.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

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
            std::cout << f << ": " << AudioSummary(r.info) << "\n";
        } else {
            PrintError(MessageLine(r.problem));
            status = kExitRejected;
        }
    }
    return status;
}

int RunSettings(const OptionSource& source) {
    SettingsModel s;
    std::string error;
    if (!source.Load(s, error)) {
        PrintError(error);
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
    SetLanguage(CommandLineLanguage());
    IgnoreFileSizeLimitSignal();
    fftwisdom::Enable(fftwisdom::DefaultFolder());
    CLI::App app{"Sonvelt extracts the singing voice of a song from the original recording and its karaoke version.",
                 "sonvelt-cli"};
    app.set_version_flag("--version", "sonvelt-cli 3.0");
    app.require_subcommand(1);

    std::vector<std::string> infoFiles;
    CLI::App* info = app.add_subcommand(
        "info", "Check input files and show their container, codec, rate, bits, channels and duration");
    info->add_option("FILE", infoFiles, "Audio files to check")->required();

    OptionSource settingsSource;
    CLI::App* settings = app.add_subcommand("settings", "Show the processing options and their derived values");
    settingsSource.AddTo(*settings);

    ExtractArgs extractArgs;
    CLI::App* extract = app.add_subcommand(
        "extract", "Extract the voice: ORIGINAL [KARAOKE]; without KARAOKE it is searched beside the original");
    extract->add_option("FILES", extractArgs.inputs, "ORIGINAL [KARAOKE], or several originals with -j")->required();
    extract->add_option("-o,--output", extractArgs.output, "Output file: WAVE, or FLAC when NAME ends in .flac (default: named after the original; - for WAVE on standard output)");
    extract->add_flag("-y,--yes", extractArgs.yes, "Overwrite an existing output file (and picture)");
    extract->add_flag("--log", extractArgs.log, "Write the debug log next to the original (.txt)");
    CLI::Option* jobsOpt = extract->add_option("-j,--jobs", extractArgs.jobs,
                                               "Extract several originals, N at a time")->check(CLI::Range(1, 64));
    extract->add_flag("-q,--quiet", extractArgs.quiet, "Print nothing but warnings and errors");
    extract->add_flag("--json", extractArgs.json, "Print what each job used, found and did as one JSON object a line");
    extract->add_flag("--strict", extractArgs.strict,
                      "Treat a warning about a pair or a damaged input as an error: exit status 4, no output written");
    extract->add_option("--plot", extractArgs.plot,
                        "Also write a picture of the run as PNG: spectrograms of the original and the voice, the "
                        "karaoke's position, the removal second by second")
        ->type_name("FILE");
    extractArgs.options.AddTo(*extract);

    AnalyseArgs analyseArgs;
    CLI::App* analyse = app.add_subcommand("analyse", "Find offset, phase, drift, range and gain of a pair");
    analyse->alias("analyze");
    analyse->add_option("ORIGINAL", analyseArgs.original)->required();
    analyse->add_option("KARAOKE", analyseArgs.karaoke)->required();
    analyse->add_flag("--json", analyseArgs.json, "Print the result as JSON");
    analyse->add_option("--plot", analyseArgs.plot,
                        "Also write a picture of the analysis as PNG: the original's spectrogram and the karaoke's "
                        "position")
        ->type_name("FILE");
    analyse->add_flag("-y,--yes", analyseArgs.yes, "Replace an existing picture file");
    analyseArgs.options.AddTo(*analyse);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    // Text on the picture needs the toolkit's fonts, without a display.
    std::optional<PaintingApplication> painting;
    if ((extract->parsed() && !extractArgs.plot.empty()) || (analyse->parsed() && !analyseArgs.plot.empty()))
        painting.emplace();
    if (info->parsed()) return RunInfo(infoFiles);
    if (settings->parsed()) return RunSettings(settingsSource);
    if (extract->parsed()) {
        extractArgs.originalsOnly = jobsOpt->count() > 0;
        return RunExtract(extractArgs);
    }
    if (analyse->parsed()) return RunAnalyse(analyseArgs);
    return kExitUsage;
}

// The extract and analyse subcommands.
#pragma once

#include "CliOptions.h"

#include <string>
#include <vector>

constexpr int kExitOk = 0, kExitUsage = 1, kExitRejected = 2, kExitFailed = 3, kExitWarning = 4,
              kExitInterrupted = 130;

struct ExtractArgs {
    std::vector<std::string> inputs; // ORIGINAL [KARAOKE], or several originals
    std::string output;              // -o
    bool yes = false;                // overwrite an existing output
    bool log = false;                // write the debug log beside the original
    int jobs = 1;                    // -j
    bool originalsOnly = false;      // every name is an original (-j given)
    bool quiet = false;
    bool json = false;               // one JSON object per job on standard output
    bool strict = false;             // a warning about the pair or an input stops the job (status 4)
    std::string plot;                // --plot: the picture of the run, PNG
    OptionSource options;
};

struct AnalyseArgs {
    std::string original, karaoke;
    bool json = false;
    std::string plot; // --plot: the picture of the analysis, PNG
    bool yes = false; // an existing picture may be replaced
    OptionSource options;
};

int RunExtract(ExtractArgs& args);
int RunAnalyse(AnalyseArgs& args);

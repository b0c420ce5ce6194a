// Which jobs an extraction of several names makes, and whether they may run
// together: the plan alone, printed and run by the command line.
#pragma once

#include <string>
#include <vector>

struct CommittedOptions;

// Something the plan says about one file.
struct PlanMessage {
    enum Kind { kNote, kWarning, kError };
    Kind kind = kNote;
    std::string file; // the file it is about, as given or found
    std::string text;
};

struct PlannedJob {
    std::string original, karaoke, output; // output as named, before its extension is settled
    bool karaokeFound = false;              // searched beside the original, not given
    std::vector<PlanMessage> warnings;      // the pair looks wrong
};

struct BatchPlan {
    std::vector<PlannedJob> jobs;
    std::vector<PlanMessage> messages; // skipped names (notes), originals without a karaoke (errors)
    bool rejected = false;             // an original has no karaoke
};

// The jobs for `inputs`: ORIGINAL [KARAOKE] (the karaoke searched when not
// given), or, with `originalsOnly` or more than two names, every name an
// original whose karaoke is searched beside it; names that are another's
// karaoke or an earlier output are skipped. `output` (-o), when given, names
// the output of the one job.
BatchPlan PlanJobs(const std::vector<std::string>& inputs, const std::string& output, bool originalsOnly,
                   const CommittedOptions& options);

// The file a job's output name leads to: "-" stays, any other name ends in
// ".wav" unless it asks for FLAC.
std::string SettledOutputName(const std::string& output);

// Two jobs that would write one file, or one that would write over another's
// input (a result lost, an input damaged): a line for each. Empty when the
// jobs may run together.
std::vector<std::string> Collisions(const std::vector<PlannedJob>& jobs);

#include "BatchPlan.h"

#include "JobSetup.h"
#include "KaraokeSearch.h"
#include "OutputFile.h"
#include "Options.h"
#include "PairWarnings.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

PlanMessage Warning(const std::string& file, const std::string& text) { return {PlanMessage::kWarning, file, text}; }

void WarnIfWeak(PlannedJob& j, const KaraokeSearchResult& found) {
    if (found.WeakMatch())
        j.warnings.push_back(Warning(j.original, NameWarning(j.karaoke, CurrentLanguage())));
}

// Whether two output names lead to one file, existing or not.
bool SameTarget(const std::string& a, const std::string& b) {
    if (a == "-" || b == "-") return a == b;
    std::error_code ec1, ec2;
    const fs::path pa = fs::absolute(a, ec1).lexically_normal(), pb = fs::absolute(b, ec2).lexically_normal();
    return (!ec1 && !ec2 && pa == pb) || SameFile(a, b);
}

} // namespace

BatchPlan PlanJobs(const std::vector<std::string>& inputs, const std::string& output, bool originalsOnly,
                   const CommittedOptions& o) {
    BatchPlan plan;
    originalsOnly = originalsOnly || inputs.size() > 2;
    auto noKaraoke = [&](const std::string& original) {
        plan.messages.push_back({PlanMessage::kError, original, "no karaoke recording found beside it"});
        plan.rejected = true;
    };
    if (!originalsOnly && inputs.size() == 2) {
        PlannedJob j{inputs[0], inputs[1], output, false, {}};
        const KaraokeSearchResult found = FindKaraokeForOriginal(j.original, o);
        if (j.output.empty()) j.output = found.outputPath;
        // Two originals given without -j would be subtracted from each other.
        if (j.original != j.karaoke && !HasKaraokeWord(fs::path(j.karaoke).filename().string()) &&
            !(!found.karaokePath.empty() && SameFile(found.karaokePath, j.karaoke)))
            j.warnings.push_back(Warning(j.karaoke, "does not look like the karaoke of " + QuotedPath(j.original) +
                                                        " (no karaoke word in its name, and the search beside the "
                                                        "original picks another file); to extract two originals, give -j"));
        plan.jobs.push_back(j);
    } else if (!originalsOnly && inputs.size() == 1) {
        const KaraokeSearchResult found = FindKaraokeForOriginal(inputs[0], o);
        if (found.karaokePath.empty()) {
            noKaraoke(inputs[0]);
        } else {
            PlannedJob j{inputs[0], found.karaokePath, output.empty() ? found.outputPath : output, true, {}};
            WarnIfWeak(j, found);
            plan.jobs.push_back(j);
        }
    } else {
        for (const BatchEntry& e : PairOriginals(inputs, o)) {
            switch (e.role) {
            case BatchEntry::EarlierOutput:
                plan.messages.push_back({PlanMessage::kNote, e.input,
                                         "skipped: its name ends in the output suffix \"" + o.VnameTxt + "\""});
                break;
            case BatchEntry::KaraokeOfOther:
                plan.messages.push_back(
                    {PlanMessage::kNote, e.input, "skipped: it is the karaoke of " + QuotedPath(e.other)});
                break;
            case BatchEntry::NoKaraoke:
                noKaraoke(e.input);
                break;
            case BatchEntry::Original: {
                PlannedJob j{e.input, e.found.karaokePath, output.empty() ? e.found.outputPath : output, true, {}};
                WarnIfWeak(j, e.found);
                plan.jobs.push_back(j);
                break;
            }
            }
        }
    }
    return plan;
}

std::string SettledOutputName(const std::string& output) {
    return output == "-" || IsFlacName(output) ? output : ReplaceExtension(output, ".wav");
}

std::vector<std::string> Collisions(const std::vector<PlannedJob>& jobs) {
    std::vector<std::string> lines;
    std::vector<std::string> targets;
    for (const PlannedJob& j : jobs) targets.push_back(SettledOutputName(j.output));
    for (size_t a = 0; a < jobs.size(); ++a)
        for (size_t b = 0; b < jobs.size(); ++b) {
            if (a == b) continue;
            if (a < b && SameTarget(targets[a], targets[b]))
                lines.push_back(QuotedPath(jobs[a].original) + " and " + QuotedPath(jobs[b].original) +
                                " would both write " + QuotedPath(targets[a]));
            for (const std::string& in : {jobs[b].original, jobs[b].karaoke})
                if (SameTarget(targets[a], in))
                    lines.push_back(QuotedPath(jobs[a].original) + " would write over " + QuotedPath(in) +
                                    ", an input of " + QuotedPath(jobs[b].original));
        }
    return lines;
}

// The line that tells the user what the last run found and did.
#pragma once

#include "Language.h"
#include "RunReport.h"

#include <string>

// One line from a run's report: the karaoke used (its file name), the offset
// in seconds, the phase, the drift, the gain, the merge and the time taken
// (the same after an analysis alone, with the merge it would use); or what
// happened instead (the original alone, a stop, a failure, an empty input).
std::string RunSummary(const RunReport& report, const std::string& karaokeName, Language language);

// What the command line says after a job: the summary lines on standard
// error and the JSON object of --json.
#pragma once

#include "RunReport.h"

#include <cstdint>
#include <string>
#include <vector>

struct JobResult {
    std::string original, karaoke, output; // output: the target ("-": standard output)
    bool karaokeFound = false;  // found beside the original, not given
    bool originalAlone = false; // the same file as original and karaoke
    // "written", "stopped" (kept what was written), "not written" (stopped
    // before any voice, or refused by --strict), "rejected", "failed"
    std::string state;
    int exitStatus = 0;
    std::string message;               // why it was rejected or failed
    std::string keptAs;                // where the voice is when it could not take the output's name
    std::vector<std::string> warnings; // a pair that looks wrong
    bool ran = false;                  // the engine ran: `report` holds what it found
    RunReport report;
};

// The lines after an extraction: what was used, found and done.
std::string FormatSummary(const JobResult& r);
// The same as one line of JSON.
std::string FormatJson(const JobResult& r);

// The lines of `analyse`.
std::string FormatAnalysis(const RunReport& r, int driftFrames, int range);
std::string FormatAnalysisJson(const RunReport& r, int driftFrames, int range);

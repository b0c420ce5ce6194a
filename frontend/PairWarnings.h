// Warnings about a pair of recordings that may not belong together, from
// what was known before a run and from what the run did. The window shows
// them with the result, the command line prints them.
#pragma once

#include "Language.h"
#include "RunReport.h"

#include <cstdint>
#include <string>

// The karaoke is much shorter or longer than the original (by more than a
// tenth of the original and more than two seconds). Empty otherwise.
std::string LengthWarning(int64_t originalFrames, int64_t karaokeFrames, int sampleRate, Language language);

// The removal took out almost nothing: the voice is within 1 dB of the
// original. Empty otherwise, and for runs that were stopped or wrote nothing.
std::string RemovalWarning(const RunReport& report, Language language);

// The karaoke `karaokeName` (a file name), found by the search, shares little
// of the original's name (KaraokeSearchResult::WeakMatch).
std::string NameWarning(const std::string& karaokeName, Language language);

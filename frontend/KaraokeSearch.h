// Finding the karaoke recording beside an original recording, and naming the
// voice output after it. Shared by the window and the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CommittedOptions;

// Words that mark a file name as a karaoke recording, in the order they are tried.
const std::vector<std::string>& KaraokeKeywords();

struct KaraokeCandidate {
    std::string name;  // file name without folder
    int32_t distance;  // |candidate size - original size|
};

// Chooses the karaoke recording among the candidates: a name with a karaoke
// word wins over one without, then the size closest to the original's, then
// the earlier name. Empty when no candidate is left.
std::string SelectKaraokeCandidate(std::vector<KaraokeCandidate> candidates, const std::string& originalName,
                                   const std::string& outputName, int digitCount, bool vnameFlg);

struct KaraokeSearchResult {
    std::string karaokePath; // empty when nothing was found
    std::string outputPath;  // the proposed voice output
};

// Searches the folder of `originalPath` (an accepted original recording).
KaraokeSearchResult FindKaraokeAndOutput(const std::string& originalPath, const CommittedOptions& options);

// The path with its extension replaced by `ext` (".wav", ".txt"); the
// extension is the part from the last "." after the last "/".
std::string ReplaceExtension(const std::string& path, const std::string& ext);

// Case-insensitive file-name pattern match with "?" (one character) and "*".
bool MatchFileName(const std::string& pattern, const std::string& name);

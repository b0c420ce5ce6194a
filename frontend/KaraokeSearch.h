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
// the original's own container, then the earlier name. Never the original
// (in any container) nor an earlier output (a name ending in `outputSuffix`,
// the options' VnameTxt). Empty when no candidate is left.
std::string SelectKaraokeCandidate(std::vector<KaraokeCandidate> candidates, const std::string& originalName,
                                   const std::string& outputSuffix, int digitCount);

struct KaraokeSearchResult {
    std::string karaokePath; // empty when nothing was found
    std::string outputPath;  // the proposed voice output
    // How much of the original's name (in characters, without its track
    // number) the chosen karaoke shares, and the length of that name.
    int sharedChars = 0, nameChars = 0;
    bool byTitle = false;    // found by FindKaraokeForOriginal's title rule

    // The karaoke shares less than half of the original's name: it may well
    // belong to another song.
    bool WeakMatch() const { return !karaokePath.empty() && sharedChars * 2 < nameChars; }
};

// Searches the folder of `originalPath` (an accepted original recording).
// Every character of the original's name is taken literally.
KaraokeSearchResult FindKaraokeAndOutput(const std::string& originalPath, const CommittedOptions& options);

// FindKaraokeAndOutput, and when that finds nothing or only a weak match, a
// second rule for folders whose karaoke files carry no track number: a file
// whose name, without a leading track number, begins with the original's
// title (its name without the track number) and holds a karaoke word. The
// output is then named after the original's whole name, as it is for a weak
// match that the second rule does not replace.
KaraokeSearchResult FindKaraokeForOriginal(const std::string& originalPath, const CommittedOptions& options);

// Whether a file name holds one of the karaoke words.
bool HasKaraokeWord(const std::string& name);

// The path with its extension replaced by `ext` (".wav", ".txt"); the
// extension is the part from the last "." after the last "/".
std::string ReplaceExtension(const std::string& path, const std::string& ext);

// Whether `name` is a candidate for a search on `prefix`: an audio file of a
// format the programs read (IsAudioExtension) whose name without its
// extension begins with the prefix, whose first `anyChars` characters stand
// for any character; letter case is ignored and nothing else is a wildcard.
bool MatchesSearch(const std::string& prefix, int anyChars, const std::string& name);

// Whether a file name, without its extension, ends in the output suffix
// `vnameTxt` ("Song_vo.wav", "Song_VO.flac" for "_vo"): a voice written
// earlier, never a karaoke or an original.
bool IsEarlierOutput(const std::string& name, const std::string& vnameTxt);

// How a batch of names given as originals is read.
struct BatchEntry {
    enum Role {
        Original,       // to extract, with `karaoke` and `output`
        KaraokeOfOther, // the karaoke of the original `other`: skipped
        EarlierOutput,  // carries the output suffix: skipped
        NoKaraoke,      // nothing found beside it
    };
    std::string input;
    Role role = Original;
    KaraokeSearchResult found;
    std::string other;
};

// Reads each name as an original and searches its karaoke; a name that is
// the karaoke of another given original (the one without a karaoke word wins
// when two point at each other, else the earlier), or that ends in the output
// suffix, is marked to be skipped.
std::vector<BatchEntry> PairOriginals(const std::vector<std::string>& inputs, const CommittedOptions& options);

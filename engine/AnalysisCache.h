// The analysis of the last pair, kept so that a second run on the same pair
// with options the analysis does not depend on needs none.
#pragma once

#include "Analysis.h"
#include "Options.h"

#include <cstdint>
#include <optional>
#include <string>

class TWaveData;

class AnalysisCache {
public:
    // A recording known by name, size and modification time, so that a file
    // replaced under the same name is analysed again.
    struct FileKey {
        std::string name;
        int64_t size = -1;
        int64_t mtime = 0;
        bool operator==(const FileKey&) const = default;
    };
    // What an analysis holds for: the pair and the options it depends on.
    struct Key {
        FileKey original, karaoke;
        int32_t procMode = 0;
        double blockSeconds = 0;
        bool precise = false; // AlignFlg
        bool operator==(const Key&) const = default;
    };
    static Key KeyFor(const TWaveData& original, const TWaveData& karaoke, const CommittedOptions& options);

    // The analysis kept for `key`, or null. One that measured the position
    // only answers only when the position suffices for the run.
    const Analysis* Find(const Key& key, bool positionSuffices) const;
    void Store(const Key& key, const Analysis& analysis);
    void Clear() { key_.reset(); }

private:
    std::optional<Key> key_;
    Analysis analysis_;
};

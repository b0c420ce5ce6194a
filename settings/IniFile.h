// A small INI file reader and writer: "[section]" lines and "key=value" lines,
// keys and sections matched without regard to ASCII case, every other line of
// the file kept as it was.
#pragma once

#include <optional>
#include <string>
#include <vector>

class IniFile {
public:
    // Reads `path`. A missing file gives an empty document and true; an
    // unreadable one gives false.
    bool Load(const std::string& path);
    // The value of the first matching key of the first matching section,
    // with surrounding blanks and one pair of enclosing quotes removed.
    std::optional<std::string> Get(const std::string& section, const std::string& key) const;
    // Replaces the value of the key (keeping the key's spelling in the file) or
    // adds the key at the end of its section, adding the section if needed.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // Writes the whole document to `path` through a temporary file and a
    // rename, so a failed write leaves the old file whole. False on failure.
    bool Save(const std::string& path) const;

    std::string Text() const;
    void Parse(const std::string& text);

private:
    struct Line {
        std::string text;   // without the line ending
        std::string ending; // "\n", "\r\n" or "" for the last line
    };
    // Index of the header line of the section, or npos.
    size_t FindSection(const std::string& section) const;
    // The end (exclusive) of the section whose header is at `header`.
    size_t SectionEnd(size_t header) const;
    std::string NewLineEnding() const;

    std::vector<Line> lines_;
};

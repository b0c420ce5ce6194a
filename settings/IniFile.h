// A small INI file reader and writer: "[section]" lines and "key=value" lines,
// keys and sections matched without regard to ASCII case, every other line of
// the file kept as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether two names are the same but for the case of ASCII letters, as INI
// sections and keys are compared.
bool EqualNoCase(std::string_view a, std::string_view b);

class IniFile {
public:
    // Settings files are small; anything larger is not one.
    static constexpr size_t kMaxFileSize = 4 << 20;

    enum class LoadResult { Loaded, Missing, Failed };
    // Reads `path`, following symbolic links. Only a regular file of at most
    // kMaxFileSize bytes is read: a folder, FIFO or device is never opened for
    // reading. A missing file gives an empty document. On failure `why`, when
    // given, says what was wrong.
    LoadResult Read(const std::string& path, std::string* why = nullptr);
    // Read() with a missing file taken as an empty one: false only on failure.
    bool Load(const std::string& path) { return Read(path) != LoadResult::Failed; }
    // The value of the first matching key of the first matching section,
    // with surrounding blanks and one pair of enclosing quotes removed.
    std::optional<std::string> Get(const std::string& section, const std::string& key) const;
    // Replaces the value of the key (keeping the key's spelling in the file) or
    // adds the key at the end of its section, adding the section if needed.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // Writes the whole document to the file `path` leads to (through every
    // symbolic link) by way of a temporary file and a rename, so a failed
    // write leaves the old file whole. A file that nobody may write is not
    // replaced. False on failure.
    bool Save(const std::string& path) const;

    // Whether the document has a "[section]" line.
    bool HasSection(const std::string& section) const;

    // The document as it would be saved: no byte-order mark, every line as read.
    std::string Text() const;
    void Parse(const std::string& text);
    // How many bytes of UTF-8 byte-order marks `text` starts with.
    static size_t LeadingMarksSize(std::string_view text);

private:
    struct Line {
        std::string text;   // without the line ending
        std::string ending; // "\n", "\r\n", a lone "\r", or "" for the last line
    };
    // Index of the header line of the section, or npos.
    size_t FindSection(const std::string& section) const;
    // The end (exclusive) of the section whose header is at `header`.
    size_t SectionEnd(size_t header) const;
    std::string NewLineEnding() const;
    // Makes the line before `at` end so that a line inserted at `at` stands
    // on its own for every reader.
    void EndLineBefore(size_t at, const std::string& nl);

    std::vector<Line> lines_;
};

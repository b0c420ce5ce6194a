#include "IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

namespace {

constexpr size_t npos = std::string::npos;

// Views into the line, so that scanning a file for a section or key copies
// nothing.
std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The name of a "[name]" line, or nullopt.
std::optional<std::string_view> SectionName(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    std::string_view t = Trim(line);
    return !t.empty() && (t[0] == ';' || t[0] == '#');
}

// Splits "key=value"; false for lines that are not key lines.
bool SplitKey(std::string_view line, std::string_view& key, std::string_view& value) {
    if (IsComment(line)) return false;
    size_t eq = line.find('=');
    if (eq == npos) return false;
    key = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return !key.empty();
}

} // namespace

size_t IniFile::LeadingMarksSize(std::string_view text) {
    static constexpr std::string_view kMark = "\xEF\xBB\xBF";
    size_t at = 0;
    while (text.substr(at, kMark.size()) == kMark) at += kMark.size();
    return at;
}

bool IniFile::HasSection(const std::string& section) const { return FindSection(section) != npos; }

void IniFile::Parse(const std::string& text) {
    lines_.clear();
    // Byte-order marks at the start belong to no line, however many an editor
    // left there: the first section must be read, and saving writes none.
    size_t start = LeadingMarksSize(text);
    // Lines end in "\n", "\r\n" or a lone "\r"; each keeps its own ending.
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        Line l;
        if (end == npos) {
            l.text = text.substr(start);
            start = text.size();
        } else {
            l.text = text.substr(start, end - start);
            size_t len = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
            l.ending = text.substr(end, len);
            start = end + len;
        }
        lines_.push_back(std::move(l));
    }
}

IniFile::LoadResult IniFile::Read(const std::string& path, std::string* why) {
    lines_.clear();
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        return LoadResult::Failed;
    };
    // Non-blocking, so that opening a FIFO cannot wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            if (why) *why = std::strerror(ENOENT);
            return LoadResult::Missing;
        }
        return fail(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return fail(std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(st.st_mode) ? "is a folder, not a file" : "is not a regular file");
    }
    std::string text;
    text.resize(std::min<size_t>(size_t(st.st_size), kMaxFileSize) + 1);
    size_t got = 0;
    // The file may grow while it is read: never read past the limit.
    while (got < text.size()) {
        ssize_t r = ::read(fd, text.data() + got, text.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            int e = errno;
            ::close(fd);
            return fail(std::strerror(e));
        }
        if (r == 0) break;
        got += size_t(r);
        if (got == text.size() && got <= kMaxFileSize) text.resize(std::min(got * 2, kMaxFileSize + 1));
    }
    ::close(fd);
    if (got > kMaxFileSize) return fail("is larger than " + std::to_string(kMaxFileSize) + " bytes");
    text.resize(got);
    Parse(text);
    return LoadResult::Loaded;
}

std::string IniFile::Text() const {
    std::string out;
    for (const Line& l : lines_) out += l.text + l.ending;
    return out;
}

size_t IniFile::FindSection(const std::string& section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i].text);
        if (name && EqualNoCase(*name, section)) return i;
    }
    return npos;
}

size_t IniFile::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
    return i;
}

std::optional<std::string> IniFile::Get(const std::string& section, const std::string& key) const {
    size_t h = FindSection(section);
    if (h == npos) return std::nullopt;
    size_t end = SectionEnd(h);
    for (size_t i = h + 1; i < end; ++i) {
        std::string_view k, v;
        if (SplitKey(lines_[i].text, k, v) && EqualNoCase(k, key)) {
            v = Trim(v);
            if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') ||
                                  (v.front() == '\'' && v.back() == '\'')))
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::nullopt;
}

// New lines take the file's first ending that other readers all see as
// one: a file of lone carriage returns gets "\n".
std::string IniFile::NewLineEnding() const {
    for (const Line& l : lines_)
        if (!l.ending.empty() && l.ending.back() == '\n') return l.ending;
    return "\n";
}

void IniFile::EndLineBefore(size_t at, const std::string& nl) {
    if (at == 0) return;
    std::string& e = lines_[at - 1].ending;
    if (e.empty()) e = nl;
    else if (e == "\r") e = "\r\n"; // the line stays a line for readers that split at "\n" only
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    const std::string nl = NewLineEnding();
    size_t h = FindSection(section);
    if (h == npos) {
        if (!lines_.empty()) {
            EndLineBefore(lines_.size(), nl);
            if (!Trim(lines_.back().text).empty()) lines_.push_back({"", nl});
        }
        lines_.push_back({"[" + section + "]", nl});
        lines_.push_back({key + "=" + value, nl});
        return;
    }
    size_t end = SectionEnd(h);
    size_t lastKey = h;
    for (size_t i = h + 1; i < end; ++i) {
        std::string_view k, v;
        if (!SplitKey(lines_[i].text, k, v)) continue;
        lastKey = i;
        if (EqualNoCase(k, key)) {
            std::string& t = lines_[i].text;
            t = t.substr(0, t.find('=') + 1) + value;
            return;
        }
    }
    // After the section's last key, so blank lines and comments that separate
    // it from the next section stay where they were.
    size_t at = lastKey + 1;
    EndLineBefore(at, nl);
    lines_.insert(lines_.begin() + long(at), Line{key + "=" + value, nl});
}

namespace {

// The file a chain of symbolic links ends at (the path itself when it is no
// link); empty for a loop or an unreadable link.
std::filesystem::path FinalTarget(std::filesystem::path p) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT ? p : std::filesystem::path();
        if (!S_ISLNK(st.st_mode)) return p;
        std::error_code ec;
        std::filesystem::path link = std::filesystem::read_symlink(p, ec);
        if (ec) return {};
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return {};
}

} // namespace

bool IniFile::Save(const std::string& path) const {
    const std::filesystem::path target = FinalTarget(path);
    if (target.empty()) return false;
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        mode = st.st_mode & 07777;
        // A file its owner made read-only stays as it is, also for root,
        // whom access() would let through.
        if (::access(target.c_str(), W_OK) != 0 || (mode & 0222) == 0) return false;
    }

    std::string tmp = target.string() + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    const std::string text = Text();
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) ok = false;
        else done += size_t(w);
    }
    ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

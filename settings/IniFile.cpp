#include "IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t npos = std::string::npos;

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// The name of a "[name]" line, or nullopt.
std::optional<std::string> SectionName(const std::string& line) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

bool IsComment(const std::string& line) {
    std::string t = Trim(line);
    return !t.empty() && (t[0] == ';' || t[0] == '#');
}

// Splits "key=value"; false for lines that are not key lines.
bool SplitKey(const std::string& line, std::string& key, std::string& value) {
    if (IsComment(line)) return false;
    size_t eq = line.find('=');
    if (eq == npos) return false;
    key = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return !key.empty();
}

} // namespace

void IniFile::Parse(const std::string& text) {
    lines_.clear();
    size_t start = 0;
    // A UTF-8 byte-order mark belongs to no line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        Line l;
        if (nl == npos) {
            l.text = text.substr(start);
            start = text.size();
        } else {
            l.text = text.substr(start, nl - start);
            l.ending = "\n";
            start = nl + 1;
        }
        if (!l.text.empty() && l.text.back() == '\r') {
            l.text.pop_back();
            l.ending = "\r" + l.ending;
        }
        lines_.push_back(std::move(l));
    }
}

bool IniFile::Load(const std::string& path) {
    lines_.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        return !std::filesystem::exists(path, ec);
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    Parse(ss.str());
    return true;
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
        std::string k, v;
        if (SplitKey(lines_[i].text, k, v) && EqualNoCase(k, key)) {
            v = Trim(v);
            if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') ||
                                  (v.front() == '\'' && v.back() == '\'')))
                v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return std::nullopt;
}

std::string IniFile::NewLineEnding() const {
    for (const Line& l : lines_)
        if (!l.ending.empty()) return l.ending;
    return "\n";
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    const std::string nl = NewLineEnding();
    size_t h = FindSection(section);
    if (h == npos) {
        if (!lines_.empty()) {
            if (lines_.back().ending.empty()) lines_.back().ending = nl;
            if (!Trim(lines_.back().text).empty()) lines_.push_back({"", nl});
        }
        lines_.push_back({"[" + section + "]", nl});
        lines_.push_back({key + "=" + value, nl});
        return;
    }
    size_t end = SectionEnd(h);
    size_t lastKey = h;
    for (size_t i = h + 1; i < end; ++i) {
        std::string k, v;
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
    if (lines_[at - 1].ending.empty()) lines_[at - 1].ending = nl;
    lines_.insert(lines_.begin() + long(at), Line{key + "=" + value, nl});
}

bool IniFile::Save(const std::string& path) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = path;
    // Write through a symbolic link to the file it names.
    if (fs::is_symlink(target, ec)) {
        fs::path link = fs::read_symlink(target, ec);
        if (ec) return false;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

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

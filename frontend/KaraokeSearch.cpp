#include "KaraokeSearch.h"

#include "Options.h"
#include "Settings.h"

#include <QCollator>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <climits>
#include <filesystem>

namespace fs = std::filesystem;

const std::vector<std::string>& KaraokeKeywords() {
    static const std::vector<std::string> words = {
        "inst",
        "karaoke",
        "without",
        "vocalless",
        "vocal less",
        "vocal-less",
        "off vocal",
        "less vocal",
        "music only",
        "安装\u3000\u3000",
        "卡拉OK\u3000",
        "关闭人声\u3000\u3000",
        "关闭人声\u3000\u3000\u3000",
        "安装",
        "卡拉",
        "关闭人声",
        "卡拉ＯＫ",
    };
    return words;
}

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool SameNameNoCase(const std::string& a, const std::string& b) {
    return Q(a).compare(Q(b), Qt::CaseInsensitive) == 0;
}

// The bytes of the first `n` characters of a UTF-8 text.
std::string FirstChars(const std::string& s, int n) {
    size_t i = 0;
    for (int k = 0; k < n && i < s.size(); ++k) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    }
    return s.substr(0, i);
}

bool WildMatch(const std::u32string& p, size_t pi, const std::u32string& s, size_t si) {
    // Iterative match with backtracking to the last "*".
    size_t starP = std::u32string::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == U'?' || p[pi] == s[si])) {
            ++pi;
            ++si;
        } else if (pi < p.size() && p[pi] == U'*') {
            starP = pi++;
            starS = si;
        } else if (starP != std::u32string::npos) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == U'*') ++pi;
    return pi == p.size();
}

std::u32string Folded(const std::string& s) {
    QList<uint> ucs = Q(s).toCaseFolded().toUcs4();
    return std::u32string(ucs.begin(), ucs.end());
}

struct Listing {
    std::string name;
    int64_t size;
};

// Ordinary, visible files of the folder, read once per search.
std::vector<Listing> ListFolder(const std::string& dir) {
    std::vector<Listing> out;
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (!it->is_regular_file(e2)) continue;
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        uintmax_t size = it->file_size(e2);
        out.push_back({name, e2 ? 0 : int64_t(size)});
    }
    return out;
}

int32_t Distance(int64_t a, int64_t b) {
    int64_t d = a > b ? a - b : b - a;
    return d > INT32_MAX ? INT32_MAX : int32_t(d);
}

} // namespace

bool MatchFileName(const std::string& pattern, const std::string& name) {
    return WildMatch(Folded(pattern), 0, Folded(name), 0);
}

std::string ReplaceExtension(const std::string& path, const std::string& ext) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

std::string SelectKaraokeCandidate(std::vector<KaraokeCandidate> c, const std::string& originalName,
                                   const std::string& outputName, int digitCount, bool vnameFlg) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(c.begin(), c.end(), [&](const KaraokeCandidate& a, const KaraokeCandidate& b) {
        return collator.compare(Q(a.name), Q(b.name)) < 0;
    });
    auto removeFirst = [&](const std::string& name) {
        auto it = std::find_if(c.begin(), c.end(), [&](const KaraokeCandidate& k) { return SameNameNoCase(k.name, name); });
        if (it != c.end()) c.erase(it);
    };
    removeFirst(originalName);
    if (vnameFlg) removeFirst(outputName);
    if (digitCount > 0) {
        std::erase_if(c, [&](const KaraokeCandidate& k) { return ParseIniInt(FirstChars(k.name, digitCount), -1) < 0; });
    }

    const QLocale locale;
    std::vector<QString> words;
    for (const std::string& w : KaraokeKeywords()) words.push_back(locale.toUpper(Q(w)));

    int32_t best = INT32_MAX;
    std::string result;
    for (const KaraokeCandidate& k : c) {
        const QString upper = locale.toUpper(Q(k.name));
        for (const QString& w : words) {
            if (!upper.contains(w)) continue;
            if (k.distance < best) {
                best = k.distance;
                result = k.name;
            }
            break;
        }
    }
    if (result.empty()) {
        for (const KaraokeCandidate& k : c) {
            if (k.distance < best) {
                best = k.distance;
                result = k.name;
            }
        }
    }
    return result;
}

KaraokeSearchResult FindKaraokeAndOutput(const std::string& originalPath, const CommittedOptions& options) {
    const size_t slash = originalPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : originalPath.substr(0, slash + 1);
    const std::string name = originalPath.substr(dir.size());
    std::string base = ReplaceExtension(name, "");
    std::string pattern = base;

    std::string suffix = options.VnameTxt + ".wav";
    std::string sep;
    if (std::string(" _-([").find(suffix[0]) != std::string::npos) {
        sep = suffix.substr(0, 1);
        suffix.erase(0, 1);
    }

    // A leading track number may differ between the two recordings.
    int digitCount = 0;
    for (size_t i = 0; i < 2 && i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9'; ++i) {
        pattern[i] = '?';
        ++digitCount;
    }

    const std::vector<Listing> files = ListFolder(dir);
    int64_t origSize = 0;
    for (const Listing& f : files)
        if (f.name == name) origSize = f.size;

    auto search = [&](const std::string& outName) {
        std::vector<KaraokeCandidate> candidates;
        for (const Listing& f : files)
            if (MatchFileName(pattern + "*.wav", f.name)) candidates.push_back({f.name, Distance(f.size, origSize)});
        return SelectKaraokeCandidate(std::move(candidates), name, outName, digitCount, options.VnameFlg != 0);
    };

    std::string outName = base + sep + suffix;
    KaraokeSearchResult r;
    r.outputPath = dir + outName;
    std::string found = search(outName);

    // Nothing found: drop one character at a time from the end and retry,
    // keeping at least the track number and one more character.
    for (size_t i = base.size(); found.empty() && i >= size_t(digitCount) + 2; --i) {
        unsigned char b = static_cast<unsigned char>(base[i - 1]);
        if ((b & 0xC0) == 0x80) continue; // inside a multi-byte character
        base.resize(i - 1);
        pattern.resize(i - 1);
        const bool endsWithSep = !sep.empty() && !base.empty() && base.back() == sep[0];
        outName = endsWithSep ? base + suffix : base + sep + suffix;
        found = search(outName);
        if (!found.empty()) r.outputPath = dir + outName;
    }
    if (!found.empty()) r.karaokePath = dir + found;
    return r;
}

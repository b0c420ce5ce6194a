#include "KaraokeSearch.h"

#include "Options.h"
#include "Settings.h"
#include "WaveCheck.h"

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

// The folder part of a path, with its final "/"; empty for a bare name.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

int CharCount(const std::string& s) {
    int n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// The name without a leading track number and the separators after it
// ("05 - Song" gives "Song").
std::string WithoutTrackNumber(const std::string& name) {
    size_t i = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
    if (i == 0) return name;
    while (i < name.size() && std::string(" .-_").find(name[i]) != std::string::npos) ++i;
    return name.substr(i);
}

// The output name's separator and the rest of its suffix: "_vo" gives "_"
// and "vo.wav", "vox" gives "" and "vox.wav".
void SplitSuffix(const std::string& vnameTxt, std::string& sep, std::string& suffix) {
    suffix = vnameTxt + ".wav";
    sep.clear();
    if (std::string(" _-([").find(suffix[0]) != std::string::npos) {
        sep = suffix.substr(0, 1);
        suffix.erase(0, 1);
    }
}

int64_t SizeOf(const std::vector<Listing>& files, const std::string& name) {
    for (const Listing& f : files)
        if (f.name == name) return f.size;
    return 0;
}

int32_t Distance(int64_t a, int64_t b) {
    int64_t d = a > b ? a - b : b - a;
    return d > INT32_MAX ? INT32_MAX : int32_t(d);
}

} // namespace

bool MatchesSearch(const std::string& prefix, int anyChars, const std::string& name) {
    if (!IsAudioExtension(name)) return false;
    const std::u32string p = Folded(prefix), n = Folded(ReplaceExtension(name, ""));
    if (n.size() < p.size()) return false;
    for (size_t i = 0; i < p.size(); ++i)
        if (int(i) >= anyChars && p[i] != n[i]) return false;
    return true;
}

bool IsEarlierOutput(const std::string& name, const std::string& vnameTxt) {
    return !vnameTxt.empty() && Q(ReplaceExtension(name, "")).endsWith(Q(vnameTxt), Qt::CaseInsensitive);
}

bool HasKaraokeWord(const std::string& name) {
    const QLocale locale;
    const QString upper = locale.toUpper(Q(name));
    for (const std::string& w : KaraokeKeywords())
        if (upper.contains(locale.toUpper(Q(w)))) return true;
    return false;
}

std::string ReplaceExtension(const std::string& path, const std::string& ext) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

std::string SelectKaraokeCandidate(std::vector<KaraokeCandidate> c, const std::string& originalName,
                                   const std::string& outputSuffix, int digitCount) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(c.begin(), c.end(), [&](const KaraokeCandidate& a, const KaraokeCandidate& b) {
        return collator.compare(Q(a.name), Q(b.name)) < 0;
    });
    // The original never is its own karaoke, nor is the same recording in
    // another container, nor an earlier output.
    const std::string originalBase = ReplaceExtension(originalName, "");
    std::erase_if(c, [&](const KaraokeCandidate& k) {
        return SameNameNoCase(ReplaceExtension(k.name, ""), originalBase) || IsEarlierOutput(k.name, outputSuffix);
    });
    if (digitCount > 0) {
        std::erase_if(c, [&](const KaraokeCandidate& k) { return ParseIniInt(FirstChars(k.name, digitCount), -1) < 0; });
    }

    const QLocale locale;
    std::vector<QString> words;
    for (const std::string& w : KaraokeKeywords()) words.push_back(locale.toUpper(Q(w)));
    auto hasWord = [&](const KaraokeCandidate& k) {
        const QString upper = locale.toUpper(Q(k.name));
        return std::any_of(words.begin(), words.end(), [&](const QString& w) { return upper.contains(w); });
    };

    // The closest size wins; between equal sizes, the original's own
    // container, then the earlier name.
    const QString originalExt = Q(originalName.substr(originalBase.size()));
    auto sameContainer = [&](const KaraokeCandidate& k) {
        return Q(k.name.substr(ReplaceExtension(k.name, "").size())).compare(originalExt, Qt::CaseInsensitive) == 0;
    };
    auto closest = [&](bool withWord) {
        const KaraokeCandidate* best = nullptr;
        for (const KaraokeCandidate& k : c) {
            if (withWord && !hasWord(k)) continue;
            if (!best || k.distance < best->distance ||
                (k.distance == best->distance && sameContainer(k) && !sameContainer(*best)))
                best = &k;
        }
        return best ? best->name : std::string();
    };
    const std::string withWord = closest(true);
    return withWord.empty() ? closest(false) : withWord;
}

KaraokeSearchResult FindKaraokeAndOutput(const std::string& originalPath, const CommittedOptions& options) {
    const std::string dir = FolderOf(originalPath);
    const std::string name = originalPath.substr(dir.size());
    std::string base = ReplaceExtension(name, "");
    std::string pattern = base;

    std::string sep, suffix;
    SplitSuffix(options.VnameTxt, sep, suffix);

    // A leading track number may differ between the two recordings.
    int digitCount = 0;
    for (size_t i = 0; i < 2 && i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9'; ++i) {
        pattern[i] = '?';
        ++digitCount;
    }

    const std::vector<Listing> files = ListFolder(dir);
    const int64_t origSize = SizeOf(files, name);

    auto search = [&] {
        std::vector<KaraokeCandidate> candidates;
        for (const Listing& f : files)
            if (MatchesSearch(pattern, digitCount, f.name)) candidates.push_back({f.name, Distance(f.size, origSize)});
        return SelectKaraokeCandidate(std::move(candidates), name, options.VnameTxt, digitCount);
    };

    std::string outName = base + sep + suffix;
    KaraokeSearchResult r;
    r.nameChars = std::max(0, CharCount(base) - digitCount);
    r.outputPath = dir + outName;
    std::string found = search();

    // Nothing found: drop one character at a time from the end and retry,
    // keeping at least the track number and one more character.
    for (size_t i = base.size(); found.empty() && i >= size_t(digitCount) + 2; --i) {
        unsigned char b = static_cast<unsigned char>(base[i - 1]);
        if ((b & 0xC0) == 0x80) continue; // inside a multi-byte character
        base.resize(i - 1);
        pattern.resize(i - 1);
        const bool endsWithSep = !sep.empty() && !base.empty() && base.back() == sep[0];
        outName = endsWithSep ? base + suffix : base + sep + suffix;
        found = search();
        if (!found.empty()) r.outputPath = dir + outName;
    }
    if (!found.empty()) {
        r.karaokePath = dir + found;
        // Separators left at the end of a shortened name say nothing of the song.
        while (!base.empty() && std::string(" _-.([").find(base.back()) != std::string::npos) base.pop_back();
        r.sharedChars = std::max(0, CharCount(base) - digitCount);
    }
    return r;
}

KaraokeSearchResult FindKaraokeForOriginal(const std::string& originalPath, const CommittedOptions& options) {
    KaraokeSearchResult r = FindKaraokeAndOutput(originalPath, options);
    if (!r.karaokePath.empty() && !r.WeakMatch()) return r;

    const std::string dir = FolderOf(originalPath);
    const std::string name = originalPath.substr(dir.size());
    const std::string base = ReplaceExtension(name, "");
    const std::string title = WithoutTrackNumber(base);
    if (CharCount(title) < 2) return r;
    std::string sep, suffix;
    SplitSuffix(options.VnameTxt, sep, suffix);
    const std::string outName = base + sep + suffix;

    const std::vector<Listing> files = ListFolder(dir);
    const int64_t origSize = SizeOf(files, name);
    std::vector<KaraokeCandidate> candidates;
    for (const Listing& f : files)
        if (MatchesSearch(title, 0, WithoutTrackNumber(f.name)) && HasKaraokeWord(f.name))
            candidates.push_back({f.name, Distance(f.size, origSize)});
    const std::string found = SelectKaraokeCandidate(std::move(candidates), name, options.VnameTxt, 0);
    // The output is named after the whole name unless a good match shortened it.
    r.outputPath = dir + outName;
    if (found.empty()) return r;
    r.karaokePath = dir + found;
    r.sharedChars = r.nameChars;
    r.byTitle = true;
    return r;
}

std::vector<BatchEntry> PairOriginals(const std::vector<std::string>& inputs, const CommittedOptions& options) {
    const size_t n = inputs.size();
    std::vector<BatchEntry> e(n);
    std::vector<bool> word(n);
    for (size_t i = 0; i < n; ++i) {
        e[i].input = inputs[i];
        const std::string name = inputs[i].substr(FolderOf(inputs[i]).size());
        word[i] = HasKaraokeWord(name);
        if (IsEarlierOutput(name, options.VnameTxt)) {
            e[i].role = BatchEntry::EarlierOutput;
            continue;
        }
        e[i].found = FindKaraokeForOriginal(inputs[i], options);
        if (e[i].found.karaokePath.empty()) e[i].role = BatchEntry::NoKaraoke;
    }
    auto claims = [&](size_t j, size_t i) { // j's karaoke is the file i
        return e[j].role != BatchEntry::EarlierOutput && !e[j].found.karaokePath.empty() &&
               SameFile(e[j].found.karaokePath, inputs[i]);
    };
    std::vector<std::string> other(n);
    for (size_t i = 0; i < n; ++i) {
        if (e[i].role == BatchEntry::EarlierOutput) continue;
        for (size_t j = 0; j < n && other[i].empty(); ++j) {
            if (j == i || !claims(j, i)) continue;
            // A name with a karaoke word is the karaoke of whoever finds it.
            // Between two plain names that find each other, the earlier is
            // the original.
            if (word[i] || (!word[j] && (j < i || !claims(i, j)))) other[i] = inputs[j];
        }
    }
    for (size_t i = 0; i < n; ++i)
        if (!other[i].empty()) {
            e[i].role = BatchEntry::KaraokeOfOther;
            e[i].other = other[i];
        }
    return e;
}

#include "KaraokeSearch.h"
#include "Options.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

struct SearchCase {
    const char* what;
    std::vector<std::pair<std::string, size_t>> files; // name, size; the first is the original
    std::string vnameTxt;
    bool vnameFlg;
    std::string karaoke; // expected, "" for none
    std::string output;
};

CommittedOptions OptionsWith(const std::string& suffix, bool vnameFlg) {
    ProcessingOptions e;
    e.VnameTxt = suffix;
    e.VnameFlg = vnameFlg ? 1 : 0;
    CommittedOptions c;
    CommitOptions(e, c);
    return c;
}

} // namespace

TEST(KaraokeSearch, FindsTheKaraokeAndNamesTheOutput) {
    const SearchCase cases[] = {
        {"track numbers differ, keyword matches",
         {{"01 Song.wav", 1000}, {"02 Song (off vocal).wav", 5000}, {"Other.wav", 1000}},
         "_vo", true, "02 Song (off vocal).wav", "01 Song_vo.wav"},
        {"an earlier output is never the karaoke",
         {{"Song.wav", 1000}, {"Song_vo.wav", 1000}, {"Song inst.wav", 9000}},
         "_vo", true, "Song inst.wav", "Song_vo.wav"},
        {"without keywords the closest size wins",
         {{"Song.wav", 1000}, {"Song b.wav", 1300}, {"Song a.wav", 800}, {"Song c.wav", 1100}},
         "_vo", true, "Song c.wav", "Song_vo.wav"},
        {"equal distances keep the first in sorted order",
         {{"Song.wav", 1000}, {"Song z.wav", 1100}, {"song B.wav", 900}, {"Song c.wav", 1100}},
         "_vo", true, "song B.wav", "Song_vo.wav"},
        {"a keyword beats a closer size",
         {{"Song.wav", 1000}, {"Song take2.wav", 1000}, {"Song KARAOKE.WAV", 50000}},
         "_vo", true, "Song KARAOKE.WAV", "Song_vo.wav"},
        {"an earlier output is skipped with naming off too",
         {{"Song.wav", 1000}, {"Song_vo.wav", 1001}, {"Song 2.wav", 3000}},
         "_vo", false, "Song 2.wav", "Song_vo.wav"},
        {"an earlier output is never taken after the name is shortened",
         {{"Song.wav", 1000}, {"Song_vo.wav", 1000}},
         "_vo", true, "", "Song_vo.wav"},
        {"nor an earlier output of another letter case and container",
         {{"Songs.wav", 1000}, {"Song_VO.flac", 1000}, {"So_vo.wav", 1000}},
         "_vo", true, "", "Songs_vo.wav"},
        {"shortened name finds the karaoke and names the output after it",
         {{"Songs.wav", 1000}, {"Song-karaoke.wav", 1000}},
         "_vo", true, "Song-karaoke.wav", "Song_vo.wav"},
        {"shortening stops at the separator without doubling it",
         {{"Song_A.wav", 1000}, {"Song_inst.wav", 1000}},
         "_vo", true, "Song_inst.wav", "Song_vo.wav"},
        {"nothing found keeps the full name for the output",
         {{"Lonely.wav", 1000}, {"Other inst.wav", 1000}},
         "_vo", true, "", "Lonely_vo.wav"},
        {"a dash suffix gives the dash as separator",
         {{"Song.wav", 1000}}, "-inst", true, "", "Song-inst.wav"},
        {"a suffix starting with a letter has no separator",
         {{"Song.wav", 1000}}, "vox", true, "", "Songvox.wav"},
        {"Chinese names are shortened a whole character at a time",
         {{"歌曲A.wav", 1000}, {"歌 伴奏卡拉.wav", 1200}, {"歌词.txt", 10}},
         "_vo", true, "歌 伴奏卡拉.wav", "歌_vo.wav"},
        {"full-width keyword",
         {{"曲.wav", 1000}, {"曲 カラＯＫ.wav", 10}, {"曲 卡拉ＯＫ.wav", 9000}},
         "_vo", true, "曲 卡拉ＯＫ.wav", "曲_vo.wav"},
        {"a star in the name is a star",
         {{"S*.wav", 1000}, {"Sunrise karaoke.wav", 1000}, {"S* inst.wav", 3000}},
         "_vo", true, "S* inst.wav", "S*_vo.wav"},
        {"question marks and brackets are literal too",
         {{"Why? [live].wav", 1000}, {"Whyx [live] karaoke.wav", 1000}, {"Why? [live] off vocal.wav", 4000}},
         "_vo", true, "Why? [live] off vocal.wav", "Why? [live]_vo.wav"},
        {"a FLAC karaoke beside a WAVE original",
         {{"Song.wav", 1000}, {"Song (karaoke).flac", 400}, {"Song inst.txt", 1000}, {"Song x.wav", 1000}},
         "_vo", true, "Song (karaoke).flac", "Song_vo.wav"},
        {"the original in another container is not its karaoke",
         {{"Song.wav", 1000}, {"song.MP3", 1000}, {"Song x.wav", 5000}},
         "_vo", true, "Song x.wav", "Song_vo.wav"},
        {"between equal sizes the original's own container wins",
         {{"Song.mp3", 1000}, {"Song inst.flac", 1100}, {"Song inst.mp3", 900}},
         "_vo", true, "Song inst.mp3", "Song_vo.wav"},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& [name, size] : c.files) WriteFile(dir / name, Bytes(size, 0));
        const std::string original = dir / c.files[0].first;
        KaraokeSearchResult r = FindKaraokeAndOutput(original, OptionsWith(c.vnameTxt, c.vnameFlg));
        EXPECT_EQ(r.karaokePath, c.karaoke.empty() ? "" : dir / c.karaoke);
        EXPECT_EQ(r.outputPath, dir / c.output);
    }
}

TEST(KaraokeSearch, SkipsFoldersAndHiddenFiles) {
    TempDir dir;
    WriteFile(dir / "Song.wav", Bytes(100, 0));
    std::filesystem::create_directory(dir / "Song inst.wav");
    WriteFile(dir / ".Song karaoke.wav", Bytes(100, 0));
    KaraokeSearchResult r = FindKaraokeAndOutput(dir / "Song.wav", OptionsWith("_vo", true));
    EXPECT_EQ(r.karaokePath, "");
}

TEST(KaraokeSearch, RelativePathWithoutFolder) {
    TempDir dir;
    WriteFile(dir / "Song.wav", Bytes(100, 0));
    WriteFile(dir / "Song inst.wav", Bytes(100, 0));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    KaraokeSearchResult r = FindKaraokeAndOutput("Song.wav", OptionsWith("_vo", true));
    std::filesystem::current_path(cwd);
    EXPECT_EQ(r.karaokePath, "Song inst.wav");
    EXPECT_EQ(r.outputPath, "Song_vo.wav");
}

TEST(KaraokeSearch, SelectionFiltersTrackNumbers) {
    std::vector<KaraokeCandidate> c = {
        {"01 Song.wav", 0}, {"ab Song inst.wav", 0}, {"-1 Song karaoke.wav", 0}, {"07 Song.wav", 20}, {"03 Song.wav", 10}};
    EXPECT_EQ(SelectKaraokeCandidate(c, "01 Song.wav", "_vo", 2), "03 Song.wav");
    EXPECT_EQ(SelectKaraokeCandidate(c, "01 Song.wav", "_vo", 0), "-1 Song karaoke.wav");
    EXPECT_EQ(SelectKaraokeCandidate({{"a.wav", 0}}, "A.WAV", "x", 0), "");
    EXPECT_EQ(SelectKaraokeCandidate({}, "a.wav", "x", 0), "");
}

TEST(KaraokeSearch, Helpers) {
    EXPECT_TRUE(MatchesSearch("?? Song", 2, "02 Song (off vocal).WAV"));
    EXPECT_FALSE(MatchesSearch("?? Song", 2, "2 Song.wav"));
    EXPECT_TRUE(MatchesSearch("歌", 0, "歌 伴奏.wav"));
    EXPECT_TRUE(MatchesSearch("?曲", 1, "歌曲.wav"));
    EXPECT_FALSE(MatchesSearch("Song", 0, "Song.wav.txt"));
    EXPECT_FALSE(MatchesSearch("Song.w", 0, "Song.wav"));
    // Every format the programs read, in any letter case; nothing else.
    for (const char* ext : {".wav", ".flac", ".MP3", ".m4a", ".aac", ".ogg", ".opus", ".aiff", ".aif"})
        EXPECT_TRUE(MatchesSearch("Song", 0, std::string("Song inst") + ext)) << ext;
    for (const char* ext : {".txt", ".wav.part", ".pdf", ""})
        EXPECT_FALSE(MatchesSearch("Song", 0, std::string("Song inst") + ext)) << ext;
    EXPECT_TRUE(IsEarlierOutput("Song_VO.flac", "_vo"));
    EXPECT_TRUE(IsEarlierOutput("Song_vo.wav", "_vo"));
    EXPECT_FALSE(IsEarlierOutput("Song_vocal.wav", "_vo"));
    EXPECT_FALSE(IsEarlierOutput("Song_vo.wav", ""));
    // Only the track-number positions stand for any character.
    EXPECT_FALSE(MatchesSearch("S*", 0, "Sunrise karaoke.wav"));
    EXPECT_FALSE(MatchesSearch("S?ng", 0, "Song inst.wav"));
    EXPECT_FALSE(MatchesSearch("[ab] Song", 0, "a Song inst.wav"));
    EXPECT_TRUE(MatchesSearch("[ab] Song", 0, "[AB] song inst.wav"));
    EXPECT_TRUE(HasKaraokeWord("Another Song (KARAOKE Version).wav"));
    EXPECT_FALSE(HasKaraokeWord("Another Song.wav"));
    EXPECT_EQ(ReplaceExtension("/a.b/take1", ".wav"), "/a.b/take1.wav");
    EXPECT_EQ(ReplaceExtension("take1.mp3", ".wav"), "take1.wav");
    EXPECT_EQ(ReplaceExtension("/x/Take.WAV", ".wav"), "/x/Take.wav");
    EXPECT_EQ(ReplaceExtension("/x/song.wav", ".txt"), "/x/song.txt");
}

TEST(KaraokeSearch, TellsHowMuchOfTheNameTheMatchShares) {
    TempDir dir;
    for (const char* name : {"01 Song.wav", "01 Song (Instrumental).wav", "05 Another Song.wav"})
        WriteFile(dir / name, Bytes(100, 0));
    const CommittedOptions o = OptionsWith("_vo", true);
    KaraokeSearchResult good = FindKaraokeAndOutput(dir / "01 Song.wav", o);
    EXPECT_EQ(good.karaokePath, dir / "01 Song (Instrumental).wav");
    EXPECT_FALSE(good.WeakMatch());
    // Only the track number and a space are shared: another song's karaoke.
    KaraokeSearchResult weak = FindKaraokeAndOutput(dir / "05 Another Song.wav", o);
    EXPECT_EQ(weak.karaokePath, dir / "01 Song (Instrumental).wav");
    EXPECT_TRUE(weak.WeakMatch());
    EXPECT_EQ(weak.outputPath, dir / "05 _vo.wav");
    // The title rule has nothing better here, so the weak match stays, and
    // the output is named after the whole name.
    KaraokeSearchResult stays = FindKaraokeForOriginal(dir / "05 Another Song.wav", o);
    EXPECT_TRUE(stays.WeakMatch());
    EXPECT_EQ(stays.outputPath, dir / "05 Another Song_vo.wav");

    // A karaoke without the track number is found by the title.
    WriteFile(dir / "Another Song (Karaoke Version).wav", Bytes(100, 0));
    WriteFile(dir / "Another Songbook inst.wav", Bytes(100, 0));
    KaraokeSearchResult titled = FindKaraokeForOriginal(dir / "05 Another Song.wav", o);
    EXPECT_EQ(titled.karaokePath, dir / "Another Song (Karaoke Version).wav");
    EXPECT_TRUE(titled.byTitle);
    EXPECT_FALSE(titled.WeakMatch());
    EXPECT_EQ(titled.outputPath, dir / "05 Another Song_vo.wav");
    // A good match by the window's rules is kept as it is.
    EXPECT_FALSE(FindKaraokeForOriginal(dir / "01 Song.wav", o).byTitle);
}

TEST(KaraokeSearch, PairsABatchOfOriginals) {
    struct Case {
        const char* what;
        std::vector<std::string> files; // all given, in this order
        // role per file: O original, K karaoke of another, V earlier output, N nothing found
        std::string roles;
        std::vector<std::string> karaoke; // for each O, in order
    } cases[] = {
        {"the folder of two songs with their karaoke and an earlier output",
         {"01 Song (Instrumental).wav", "01 Song.wav", "05 Another Song.wav", "Another Song (Karaoke Version).wav",
          "05 _vo.wav"},
         "KOOKV", {"01 Song (Instrumental).wav", "Another Song (Karaoke Version).wav"}},
        {"two plain names that find each other: the earlier is the original",
         {"Song X.wav", "Song Y.wav"}, "OK", {"Song Y.wav"}},
        {"a karaoke word decides between two that find each other",
         {"Song inst.wav", "Song.wav"}, "KO", {"Song inst.wav"}},
        {"two karaoke files of one original",
         {"Song karaoke.wav", "Song inst.wav", "Song.wav"}, "KKO", {"Song inst.wav"}},
        {"an original alone in its folder", {"Lonely.wav"}, "N", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::vector<std::string> paths;
        size_t size = 1000;
        for (const std::string& f : c.files) {
            WriteFile(dir / f, Bytes(size += 10, 0));
            paths.push_back(dir / f);
        }
        const std::vector<BatchEntry> e = PairOriginals(paths, OptionsWith("_vo", true));
        ASSERT_EQ(e.size(), c.files.size());
        std::string roles;
        std::vector<std::string> karaoke;
        for (const BatchEntry& b : e) {
            roles += "OKVN"[b.role];
            if (b.role == BatchEntry::Original) karaoke.push_back(b.found.karaokePath.substr(dir.path().string().size() + 1));
            if (b.role == BatchEntry::KaraokeOfOther) {
                EXPECT_FALSE(b.other.empty());
            }
        }
        EXPECT_EQ(roles, c.roles);
        EXPECT_EQ(karaoke, c.karaoke);
    }
}

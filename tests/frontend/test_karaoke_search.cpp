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
        {"with naming off an earlier output may be chosen",
         {{"Song.wav", 1000}, {"Song_vo.wav", 1001}, {"Song 2.wav", 3000}},
         "_vo", false, "Song_vo.wav", "Song_vo.wav"},
        {"with naming on that same output is skipped",
         {{"Song.wav", 1000}, {"Song_vo.wav", 1001}, {"Song 2.wav", 3000}},
         "_vo", true, "Song 2.wav", "Song_vo.wav"},
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
        {"only .wav files are candidates",
         {{"Song.wav", 1000}, {"Song inst.mp3", 1000}, {"Song x.wav", 5000}},
         "_vo", true, "Song x.wav", "Song_vo.wav"},
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
    EXPECT_EQ(SelectKaraokeCandidate(c, "01 Song.wav", "01 Song_vo.wav", 2, true), "03 Song.wav");
    EXPECT_EQ(SelectKaraokeCandidate(c, "01 Song.wav", "01 Song_vo.wav", 0, true), "-1 Song karaoke.wav");
    EXPECT_EQ(SelectKaraokeCandidate({{"a.wav", 0}}, "A.WAV", "x", 0, true), "");
    EXPECT_EQ(SelectKaraokeCandidate({}, "a.wav", "x", 0, true), "");
}

TEST(KaraokeSearch, Helpers) {
    EXPECT_TRUE(MatchFileName("?? Song*.wav", "02 Song (off vocal).WAV"));
    EXPECT_FALSE(MatchFileName("?? Song*.wav", "2 Song.wav"));
    EXPECT_TRUE(MatchFileName("歌*.wav", "歌 伴奏.wav"));
    EXPECT_TRUE(MatchFileName("?曲*.wav", "歌曲.wav"));
    EXPECT_FALSE(MatchFileName("Song*.wav", "Song.wav.txt"));
    EXPECT_EQ(ReplaceExtension("/a.b/take1", ".wav"), "/a.b/take1.wav");
    EXPECT_EQ(ReplaceExtension("take1.mp3", ".wav"), "take1.wav");
    EXPECT_EQ(ReplaceExtension("/x/Take.WAV", ".wav"), "/x/Take.wav");
    EXPECT_EQ(ReplaceExtension("/x/song.wav", ".txt"), "/x/song.txt");
}

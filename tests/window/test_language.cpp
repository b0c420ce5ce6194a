// The language rule, the English of the system's messages, and the result
// line after a run.
#include "JobSetup.h"
#include "Language.h"
#include "PairWarnings.h"
#include "RunSummary.h"
#include "Vocalmain.h"
#include "WaveCheck.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// True when the text holds a Chinese or Japanese character or an ideographic
// space, none of which an English text may keep.
bool HasCjk(const std::string& utf8) {
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = c;
        int len = 1;
        if (c >= 0xF0) cp = c & 0x07, len = 4;
        else if (c >= 0xE0) cp = c & 0x0F, len = 3;
        else if (c >= 0xC0) cp = c & 0x1F, len = 2;
        for (int k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
        if ((cp >= 0x3000 && cp <= 0x9FFF) || (cp >= 0xFF00 && cp <= 0xFFEF)) return true;
        i += len;
    }
    return false;
}

TEST(Language, ChineseForChineseJapaneseAndUnsetLocalesEnglishForOthers) {
    struct Case {
        const char* locale;
        Language expected;
    } cases[] = {
        {"", Language::Chinese},          {"C", Language::Chinese},        {"C.UTF-8", Language::Chinese},
        {"POSIX", Language::Chinese},     {"zh_CN.UTF-8", Language::Chinese}, {"zh_TW", Language::Chinese},
        {"ja_JP.eucJP", Language::Chinese}, {"zh", Language::Chinese},     {"en_US.UTF-8", Language::English},
        {"de_DE@euro", Language::English}, {"fr", Language::English},      {"jam_JM", Language::English},
        {"Chinese", Language::English},
    };
    for (const Case& c : cases) EXPECT_EQ(LanguageForLocale(c.locale), c.expected) << c.locale;
}

TEST(Language, TheFirstSetOfLcAllLcMessagesAndLangDecides) {
    struct Case {
        const char *all, *messages, *lang;
        Language expected;
    } cases[] = {
        {nullptr, nullptr, nullptr, Language::Chinese},
        {nullptr, nullptr, "en_GB.UTF-8", Language::English},
        {nullptr, "zh_CN.UTF-8", "en_GB.UTF-8", Language::Chinese},
        {"de_DE.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", Language::English},
        {"", "", "ja_JP.UTF-8", Language::Chinese}, // empty counts as unset
        {"C", nullptr, "en_US.UTF-8", Language::Chinese},
    };
    for (const Case& c : cases) {
        auto set = [](const char* name, const char* value) {
            if (value) setenv(name, value, 1);
            else unsetenv(name);
        };
        set("LC_ALL", c.all);
        set("LC_MESSAGES", c.messages);
        set("LANG", c.lang);
        EXPECT_EQ(LanguageFromEnvironment(), c.expected)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST(Language, EveryMessageOfTheEngineAndTheChecksHasItsEnglish) {
    const char* messages[] = {
        EngineText::kNoMemory, EngineText::kWriteFailed, EngineText::kAnalysing, EngineText::kPreliminary,
        JobText::kNamesMissing, JobText::kDuplicateNames, JobText::kLayoutDiffers,
        JobText::kNot16Bit, JobText::kOverwrite, JobText::kCannotCreate, WaveCheckText::kCannotOpen,
        WaveCheckText::kDamaged, WaveCheckText::kBadWaveFormat, WaveCheckText::kMono, WaveCheckText::kStereo,
    };
    for (const char* m : messages) {
        const std::string english = LocalisedText(m, Language::English);
        EXPECT_FALSE(HasCjk(english)) << m << " -> " << english;
        EXPECT_FALSE(english.empty()) << m;
        EXPECT_EQ(LocalisedText(m, Language::Chinese), m);
    }
}

TEST(Language, EnglishKeepsTheQuotedFileNameAndTheRestOfTheText) {
    const std::string name = "\"歌 01.wav\"";
    EXPECT_EQ(LocalisedText(name + WaveCheckText::kCannotOpen, Language::English), name + "\nCannot open this file.");
    EXPECT_EQ(LocalisedText(name + JobText::kOverwrite, Language::English),
              name + "\nA file with this name exists. Overwrite it?");
    // The format label, the status animation and the INI error.
    EXPECT_EQ(LocalisedText("44.100kHz 16位\u3000\u3000 立体声\u3000", Language::English), "44.100kHz 16-bit stereo");
    EXPECT_EQ(LocalisedText("8.000kHz 24位\u3000\u3000 单声道\u3000", Language::English), "8.000kHz 24-bit mono");
    // A decoded file's label names its container apart from the channels.
    EXPECT_EQ(LocalisedText("44.100kHz 128kbps\u3000\u3000 单声道\u3000MP3", Language::English),
              "44.100kHz 128kbps mono, MP3");
    EXPECT_EQ(LocalisedText("48.000kHz 24位\u3000\u3000 立体声\u3000FLAC float", Language::English),
              "48.000kHz 24-bit stereo, FLAC float");
    EXPECT_EQ(LocalisedText("自动分析中 ->", Language::English), "Analysing ->");
    EXPECT_EQ(LocalisedText("/home/u/.local/share/SonveltRip/sonvelt.ini に書き込めません.", Language::English),
              "/home/u/.local/share/SonveltRip/sonvelt.ini: cannot write the settings file.");
    // What it does not know passes unchanged.
    EXPECT_EQ(LocalisedText("Sonvelt", Language::English), "Sonvelt");
}

TEST(PairWarnings, LengthsFarApartAndARemovalOfAlmostNothing) {
    struct Case {
        double original, karaoke; // seconds
        const char* english;      // "" for no warning
    } cases[] = {
        {100, 80, "the karaoke is much shorter than the original (80.0 s against 100.0 s): is it the same song?"},
        {10, 12.5, "the karaoke is much longer than the original (12.5 s against 10.0 s): is it the same song?"},
        {100, 91, ""},  // within a tenth
        {10, 8.5, ""},  // within two seconds
        {0, 10, ""},    // nothing to compare with
    };
    for (const Case& c : cases) {
        const auto frames = [](double s) { return int64_t(s * 44100); };
        EXPECT_EQ(LengthWarning(frames(c.original), frames(c.karaoke), 44100, Language::English), c.english)
            << c.original << " " << c.karaoke;
        EXPECT_EQ(LengthWarning(frames(c.original), frames(c.karaoke), 44100, Language::Chinese).empty(), !*c.english);
    }
    EXPECT_EQ(LengthWarning(4410000, 3528000, 44100, Language::Chinese),
              "伴奏比原唱短得多（80.0 秒对 100.0 秒）：是同一首歌吗？");

    RunReport r;
    r.extracted = true;
    r.framesWritten = 1000;
    r.removalDb = -0.4;
    EXPECT_EQ(RemovalWarning(r, Language::English),
              "the removal took out almost nothing (-0.4 dB): the karaoke may not match the original");
    EXPECT_EQ(RemovalWarning(r, Language::Chinese), "几乎什么都没有去除（-0.4 dB）：伴奏可能与原唱不符");
    for (void (*change)(RunReport&) : {+[](RunReport& x) { x.removalDb = -1.5; }, +[](RunReport& x) { x.stopped = true; },
                                       +[](RunReport& x) { x.extracted = false; }}) {
        RunReport x = r;
        change(x);
        EXPECT_EQ(RemovalWarning(x, Language::English), "");
    }
}

TEST(RunSummary, SaysWhatTheRunFoundAndDid) {
    RunReport r;
    r.extracted = r.analysed = true;
    r.offsetSeconds = -0.1234;
    r.inverted = true;
    r.driftPpm = 12.34;
    r.gainDb = -0.46;
    r.merge = 1;
    r.mergeChosenAutomatically = true;
    r.elapsedSeconds = 3.25;
    EXPECT_EQ(RunSummary(r, "b.wav", Language::English),
              "Karaoke: b.wav, offset -0.123 s, inverted, drift +12.3 ppm, gain -0.5 dB, "
              "waveform merge (auto), 3.2 s");
    EXPECT_EQ(RunSummary(r, "b.wav", Language::Chinese),
              "伴奏：b.wav  偏移 -0.123 秒  逆相  漂移 +12.3 ppm  增益 -0.5 dB  波形合成(自动)  用时 3.2 秒");
    RunReport edited = r;
    edited.edits = 1;
    edited.unmatchedSeconds = {{20.0, 22.5}};
    EXPECT_EQ(RunSummary(edited, "b.wav", Language::Chinese),
              "伴奏：b.wav  偏移 -0.123 秒  逆相  漂移 +12.3 ppm  增益 -0.5 dB  波形合成(自动)  "
              "1 处剪辑, 2.5 秒无对应  用时 3.2 秒");

    struct Case {
        const char* what;
        void (*change)(RunReport&);
        const char* english;
    } cases[] = {
        {"no analysis", [](RunReport& x) { x.analysed = false; x.merge = 0; x.mergeChosenAutomatically = false; },
         "Karaoke: b.wav, spectral merge, 3.2 s"},
        {"original alone", [](RunReport& x) { x.extracted = x.analysed = false; }, "Original processed alone, 3.2 s"},
        {"analysis alone", [](RunReport& x) { x.extracted = false; },
         "Karaoke: b.wav, offset -0.123 s, inverted, drift +12.3 ppm, gain -0.5 dB, waveform merge (auto), 3.2 s"},
        {"stopped", [](RunReport& x) { x.stopped = true; x.analysed = false; x.mergeChosenAutomatically = false; },
         "Stopped, Karaoke: b.wav, waveform merge, 3.2 s"},
        {"failed", [](RunReport& x) { x.result = 2; x.extracted = x.analysed = false; },
         "Failed, Original processed alone, 3.2 s"},
        {"empty", [](RunReport& x) { x.emptyInput = true; }, "An input has no sound data, 3.2 s"},
        {"short", [](RunReport& x) { x.inputEndedEarly = true; x.analysed = false; x.mergeChosenAutomatically = false; },
         "Karaoke: b.wav, waveform merge, an input is shorter than its header says, 3.2 s"},
        {"another edit", [](RunReport& x) { x.analysed = false; x.mergeChosenAutomatically = false; x.edits = 1;
                                             x.unmatchedSeconds = {{20.0, 22.5}}; },
         "Karaoke: b.wav, waveform merge, 1 edit, 2.5 s unmatched, 3.2 s"},
        {"edits and what was kept", [](RunReport& x) { x.analysed = false; x.mergeChosenAutomatically = false;
                                                        x.edits = 2; x.unmatchedSeconds = {{0, 1}, {5, 5.5}};
                                                        x.guardedSeconds = {{9, 9.3}}; },
         "Karaoke: b.wav, waveform merge, 2 edits, 1.5 s unmatched, 0.3 s left as the original, 3.2 s"},
    };
    for (const Case& c : cases) {
        RunReport x = r;
        c.change(x);
        EXPECT_EQ(RunSummary(x, "b.wav", Language::English), c.english) << c.what;
        EXPECT_FALSE(HasCjk(RunSummary(x, "b.wav", Language::English))) << c.what;
    }
}

} // namespace

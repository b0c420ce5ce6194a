#include "Options.h"

#include <gtest/gtest.h>

#include <functional>

TEST(Options, DefaultsCommitToTheDocumentedDerivedValues) {
    ProcessingOptions e;
    e.BlkSize = 999;
    SetDefaults(e);
    CommittedOptions c;
    c.BlkSec = 0;
    CommitOptions(e, c);
    EXPECT_EQ(static_cast<const ProcessingOptions&>(c), ProcessingOptions{});
    EXPECT_EQ(c.BlkSec, 0.1);
    EXPECT_EQ(c.AdptRange, 3);
    EXPECT_EQ(c.CntrGain, 2.0f);
    EXPECT_EQ(c.LPFFreq, 10000);
    EXPECT_EQ(c.HPFFreq, 230);
    EXPECT_EQ(c.Kvol, 1.2f);
    EXPECT_EQ(c.Klvl, 1.0f);
}

TEST(Options, CommitCorrectsOnlyTheCommittedCopy) {
    struct Case {
        int blkSize, ovspMx, adptNum;
        int wantBlk, wantOvsp, wantAdptNum, wantRange;
        double wantSec;
    } cases[] = {
        {20, 32, 3, 50, 32, 3, 1, 0.05},
        {100, 0, 3, 100, 1, 3, 3, 0.1},
        {100, -5, -3, 100, 1, 0, 0, 0.1},
        {200, 8, 3, 200, 8, 3, 6, 0.2},
        {50, 32, 3, 50, 32, 3, 1, 0.05},
        {400, 32, 3, 400, 32, 3, 12, 0.4},
        {800, 32, 999, 800, 32, 999, 7992, 0.8},
        {2000000000, 100000, 2000000000, 2000000000, 100000, 2000000000, INT32_MAX, 2000000.0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.blkSize);
        ProcessingOptions e;
        e.BlkSize = k.blkSize;
        e.OvspMx = k.ovspMx;
        e.AdptNum = k.adptNum;
        const ProcessingOptions before = e;
        CommittedOptions c;
        CommitOptions(e, c);
        EXPECT_EQ(e, before);
        EXPECT_EQ(c.BlkSize, k.wantBlk);
        EXPECT_EQ(c.OvspMx, k.wantOvsp);
        EXPECT_EQ(c.AdptNum, k.wantAdptNum);
        EXPECT_EQ(c.AdptRange, k.wantRange);
        EXPECT_DOUBLE_EQ(c.BlkSec, k.wantSec);
    }
}

// 0.01 applied in extended precision lies just below 0.01, so a product that
// is an exact integer in decimal can truncate to one less.
TEST(Options, AdptRangeUsesTheExtendedPrecisionProduct) {
    for (int blk : {50, 100, 200, 400, 800})
        for (int n = 0; n <= 999; ++n) ASSERT_EQ(AdptRangeFor(blk, n), blk * n / 100) << blk << " " << n;
    int lower = 0;
    for (int blk = 50; blk < 1000; ++blk)
        for (int n = 1; n <= 100; ++n) {
            int r = AdptRangeFor(blk, n);
            ASSERT_TRUE(r == blk * n / 100 || r == blk * n / 100 - 1);
            if (r != blk * n / 100) {
                ASSERT_EQ(blk * n % 100, 0);
                ++lower;
            }
        }
    EXPECT_GT(lower, 0);
}

TEST(Options, DerivedValueTables) {
    const int hpf[21] = {50, 55, 62, 73, 86, 103, 122, 145, 170, 199, 230,
                         265, 302, 343, 386, 433, 482, 535, 590, 649, 710};
    for (int p = 0; p <= 20; ++p) EXPECT_EQ(HPFFreqFor(p), hpf[p]) << p;

    // The sliders' ends as the settings dialog labels them, and the values
    // in between evenly spaced (in two stretches for the strength).
    struct Slider {
        const char* name;
        std::function<double(int)> value;
        double first, last;
        int knee;              // the position from which the second step holds
        double step, stepAfter;
    } sliders[] = {
        {"LPFFreq", [](int p) { return double(LPFFreqFor(p)); }, 2000, 18000, 21, 800, 800},
        {"CntrGain", [](int p) { return double(CntrGainFor(p)); }, 0.5, 5.5, 21, 0.25, 0.25},
        {"Klvl", [](int p) { return double(KlvlFor(p)); }, 0.7, 1.3, 21, 0.03, 0.03},
        {"Kvol", [](int p) { return double(KvolFor(p)); }, 0.6, 4.8, 9, 0.1, 0.3},
    };
    for (const Slider& s : sliders) {
        SCOPED_TRACE(s.name);
        EXPECT_NEAR(s.value(0), s.first, 1e-6);
        EXPECT_NEAR(s.value(20), s.last, 1e-6);
        for (int p = 0; p < 20; ++p)
            EXPECT_NEAR(s.value(p + 1) - s.value(p), p < s.knee ? s.step : s.stepAfter, 1e-6) << p;
    }
    // Values the options are read as exactly: the single-precision value of
    // the decimal the label shows.
    EXPECT_EQ(KvolFor(0), 0.6f);
    EXPECT_EQ(KvolFor(9), 1.5f);
    EXPECT_EQ(KvolFor(10), 1.8f);
    EXPECT_EQ(KvolFor(20), 4.8f);
    EXPECT_EQ(KlvlFor(0), 0.7f);
    EXPECT_EQ(KlvlFor(10), 1.0f);
    EXPECT_EQ(KlvlFor(20), 1.3f);

    // Hand-edited positions far outside the sliders' range saturate instead of overflowing.
    EXPECT_EQ(HPFFreqFor(100000), INT32_MAX);
    EXPECT_EQ(LPFFreqFor(INT32_MAX), INT32_MAX);
}

TEST(Options, LabelTexts) {
    EXPECT_EQ(CntrGainText(CntrGainFor(6)), "2.00");
    EXPECT_EQ(CntrGainText(CntrGainFor(20)), "5.50");
    EXPECT_EQ(KvolText(KvolFor(6)), "1.2");
    EXPECT_EQ(KvolText(KvolFor(10)), "1.8");
    EXPECT_EQ(KvolText(KvolFor(20)), "4.8");
    EXPECT_EQ(KlvlText(KlvlFor(10)), "1.00");
    EXPECT_EQ(KlvlText(KlvlFor(1)), "0.73");
    EXPECT_EQ(LPFText(LPFFreqFor(0)), "2.0kHz");
    EXPECT_EQ(LPFText(LPFFreqFor(10)), "10.0kHz");
    EXPECT_EQ(LPFText(LPFFreqFor(20)), "18.0kHz");
    EXPECT_EQ(HPFText(HPFFreqFor(10)), "230Hz");
    EXPECT_EQ(KvolText(KvolFor(6), ","), "1,2");
    EXPECT_EQ(LPFText(LPFFreqFor(7), ","), "7,6kHz");
}

TEST(Options, CleanFileSuffix) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"a:b*c", "abc"},
        {"<>", ""},
        {"\\/:*?\"<>|", ""},
        {"_vo", "_vo"},
        {"_人声", "_人声"},
        // Characters whose UTF-8 bytes include 0x5C or 0x7C-like values stay whole.
        {"_表|能", "_表能"},
        {"ソ十", "ソ十"},
    };
    for (const Case& c : cases) EXPECT_EQ(CleanFileSuffix(c.in), c.out) << c.in;
}

TEST(Options, EmptySuffixTurnsNamingOff) {
    ProcessingOptions e;
    e.VnameTxt = "<>";
    CommittedOptions c;
    CommitOptions(e, c);
    EXPECT_EQ(c.VnameTxt, "");
    EXPECT_EQ(c.VnameFlg, 0);
    EXPECT_EQ(e.VnameFlg, 1);
    EXPECT_EQ(e.VnameTxt, "<>");
    e.VnameTxt = "a:b*c";
    CommitOptions(e, c);
    EXPECT_EQ(c.VnameTxt, "abc");
    EXPECT_EQ(c.VnameFlg, 1);
}

// A hand-edited INI file can put any number in any field: every choice
// outside its list commits as its default, every position stops at the
// slider's end, and the edited copy keeps what was entered.
TEST(Options, CommitBringsEveryValueIntoItsDomain) {
    using P = ProcessingOptions;
    const P d{};
    struct Case {
        int32_t P::*field;
        int32_t value, want;
    } cases[] = {
        {&P::ProcMode, 3, d.ProcMode},     {&P::ProcMode, -1, d.ProcMode},   {&P::ProcMode, 2, 2},
        {&P::MergeMode, 3, d.MergeMode},   {&P::MergeMode, -7, d.MergeMode}, {&P::MergeMode, 1, 1},
        {&P::MergeMode, 0, 0},             {&P::AdptMode, 2, d.AdptMode},    {&P::AdptMode, 1, 1},
        {&P::IntroMode, 4, d.IntroMode},   {&P::IntroMode, 3, 3},            {&P::LevelAdpt, 4, d.LevelAdpt},
        {&P::LevelAdpt, 3, 3},             {&P::KrkPhase, 3, d.KrkPhase},    {&P::KrkPhase, 2, 2},
        {&P::SoundQty, 2, d.SoundQty},     {&P::SoundQty, INT32_MIN, d.SoundQty}, {&P::SoundQty, 1, 1},
        {&P::OvspFlg, 5, d.OvspFlg},       {&P::KnameFlg, -1, d.KnameFlg},   {&P::AlignFlg, 2, d.AlignFlg},
        {&P::VnameFlg, 0, 0},              {&P::CntrPos, 25, 20},            {&P::LPFPos, -3, 0},
        {&P::HPFPos, INT32_MAX, 20},       {&P::KvolPos, 21, 20},            {&P::KlvlPos, -1, 0},
        {&P::KvolPos, 20, 20},             {&P::KlvlPos, 0, 0},
        {&P::CleanMode, 3, d.CleanMode},   {&P::CleanMode, -1, d.CleanMode}, {&P::CleanMode, 2, 2},
        {&P::CleanMode, 1, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.value);
        P e;
        e.*k.field = k.value;
        CommittedOptions c;
        CommitOptions(e, c);
        EXPECT_EQ(c.*k.field, k.want);
        EXPECT_EQ(e.*k.field, k.value);
    }
    // The derived values follow the corrected positions.
    P e;
    e.LPFPos = 40;
    e.KvolPos = -3;
    CommittedOptions c;
    CommitOptions(e, c);
    EXPECT_EQ(c.LPFFreq, 18000);
    EXPECT_EQ(c.Kvol, 0.6f);
}

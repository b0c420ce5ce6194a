#include "Options.h"

#include "IntConvert.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

int32_t Saturate(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

// Fixed-point text of `v` after rounding it to `precision` significant digits;
// a value with more integer digits than that is shown in exponent form.
std::string Fixed(double v, int decimals, int precision, const std::string& decimalPoint) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, v);
    const double r = std::strtod(buf, nullptr);
    if (std::fabs(r) >= std::pow(10.0, precision))
        std::snprintf(buf, sizeof buf, "%.*E", precision - 1, r);
    else
        std::snprintf(buf, sizeof buf, "%.*f", decimals, r);
    std::string s = buf;
    auto dot = s.find('.');
    if (dot != std::string::npos) s.replace(dot, 1, decimalPoint);
    return s;
}

} // namespace

void SetDefaults(ProcessingOptions& edited) { edited = ProcessingOptions{}; }

// 0.001 and 0.01 are applied as the extended-precision values nearest to them.
double BlkSecFor(int32_t blkSize) { return static_cast<double>(blkSize * 0.001L); }

int32_t AdptRangeFor(int32_t blkSize, int32_t adptNum) {
    long double v = static_cast<long double>(blkSize) * 0.01L;
    v = v * adptNum;
    return TruncToInt32(v);
}

float CntrGainFor(int32_t cntrPos) { return static_cast<float>(cntrPos * 0.25L + 0.5L); }

int32_t LPFFreqFor(int32_t lpfPos) { return Saturate(int64_t(lpfPos) * 800 + 2000); }

int32_t HPFFreqFor(int32_t hpfPos) {
    long double p = static_cast<long double>(hpfPos) + 1;
    return TruncToInt32(p * p * 1.5L + 49);
}

float KvolFor(int32_t kvolPos) {
    if (kvolPos <= 9) return static_cast<float>(kvolPos * 0.1L + 0.6L);
    return static_cast<float>((static_cast<long double>(kvolPos) - 9) * 0.3L + 1.5L);
}

float KlvlFor(int32_t klvlPos) { return static_cast<float>(klvlPos * 0.03L + 0.7L); }

std::string CleanFileSuffix(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        // Bytes of multi-byte UTF-8 characters are never ASCII, so they stay.
        switch (c) {
        case '\\': case '/': case ':': case '*': case '?':
        case '"': case '<': case '>': case '|':
            continue;
        default:
            out.push_back(ch);
        }
    }
    return out;
}

void CommitOptions(const ProcessingOptions& edited, CommittedOptions& committed) {
    static_cast<ProcessingOptions&>(committed) = edited;
    // A hand-edited INI file can hold anything: a choice outside its list
    // falls back to the default, a slider position stops at the slider's end.
    const ProcessingOptions d{};
    auto choice = [](int32_t& v, int32_t last, int32_t fallback) {
        if (v < 0 || v > last) v = fallback;
    };
    choice(committed.ProcMode, 2, d.ProcMode);
    choice(committed.MergeMode, 2, d.MergeMode);
    choice(committed.AdptMode, 1, d.AdptMode);
    choice(committed.IntroMode, 3, d.IntroMode);
    choice(committed.LevelAdpt, 3, d.LevelAdpt);
    choice(committed.KrkPhase, 2, d.KrkPhase);
    choice(committed.SoundQty, 1, d.SoundQty);
    choice(committed.CleanMode, 2, d.CleanMode);
    for (int32_t ProcessingOptions::*flag : {&ProcessingOptions::OvspFlg, &ProcessingOptions::CntrFlg,
                                             &ProcessingOptions::LPFFlg, &ProcessingOptions::HPFFlg,
                                             &ProcessingOptions::KnameFlg, &ProcessingOptions::VnameFlg,
                                             &ProcessingOptions::AlignFlg})
        choice(committed.*flag, 1, d.*flag);
    for (int32_t ProcessingOptions::*pos : {&ProcessingOptions::CntrPos, &ProcessingOptions::LPFPos,
                                            &ProcessingOptions::HPFPos, &ProcessingOptions::KvolPos,
                                            &ProcessingOptions::KlvlPos})
        committed.*pos = std::clamp(committed.*pos, kMinPosition, kMaxPosition);
    if (committed.OvspMx <= 0) committed.OvspMx = 1;
    if (committed.BlkSize < 50) committed.BlkSize = 50;
    if (committed.AdptNum < 0) committed.AdptNum = 0;
    committed.AdptRange = AdptRangeFor(committed.BlkSize, committed.AdptNum);
    committed.BlkSec = BlkSecFor(committed.BlkSize);
    committed.CntrGain = CntrGainFor(committed.CntrPos);
    committed.LPFFreq = LPFFreqFor(committed.LPFPos);
    committed.HPFFreq = HPFFreqFor(committed.HPFPos);
    committed.Kvol = KvolFor(committed.KvolPos);
    committed.Klvl = KlvlFor(committed.KlvlPos);
    committed.VnameTxt = CleanFileSuffix(committed.VnameTxt);
    if (committed.VnameTxt.empty()) committed.VnameFlg = 0;
}

std::string CntrGainText(float v, const std::string& decimalPoint) { return Fixed(v, 2, 3, decimalPoint); }
std::string KvolText(float v, const std::string& decimalPoint) { return Fixed(v, 1, 2, decimalPoint); }
std::string KlvlText(float v, const std::string& decimalPoint) { return Fixed(v, 2, 3, decimalPoint); }
std::string LPFText(int32_t freq, const std::string& decimalPoint) {
    return Fixed(freq / 1000.0, 1, 4, decimalPoint) + "kHz";
}
std::string HPFText(int32_t freq) { return std::to_string(freq) + "Hz"; }

// The persisted processing options, their derived values and the commit rules.
#pragma once

#include <cstdint>
#include <string>

// The options that persist between sessions, as the user edited them.
struct ProcessingOptions {
    int32_t ProcMode = 0;   // 0 normal, 1 left and right separately, 2 mix to mono
    int32_t MergeMode = 2;  // 0 frequency merge, 1 waveform merge, 2 automatic (the analysis picks)
    int32_t OvspFlg = 0;    // oversampling on (waveform merge only)
    int32_t OvspMx = 32;    // oversampling factor
    int32_t BlkSize = 100;  // block length, milliseconds
    int32_t AdptMode = 0;   // 0 automatic correction range, 1 manual
    int32_t AdptNum = 3;    // manual correction range
    int32_t CntrFlg = 0;    // centre-channel focus on
    int32_t CntrPos = 6;    // centre-focus strength position
    int32_t IntroMode = 0;  // 0 automatic, 1 normal, 2 detailed, 3 none
    int32_t LevelAdpt = 0;  // 0 average, 1 adaptive, 2 manual, 3 none
    int32_t LPFFlg = 0;     // treble cut on
    int32_t HPFFlg = 0;     // bass cut on
    int32_t LPFPos = 10;
    int32_t HPFPos = 10;
    int32_t KvolPos = 6;    // extraction strength position
    int32_t KlvlPos = 10;   // manual level-correction position
    int32_t KnameFlg = 1;   // search for the karaoke file
    int32_t VnameFlg = 1;   // fill in the output name
    std::string VnameTxt = "_vo";
    int32_t KrkPhase = 0;   // 0 detected, 1 in phase, 2 inverted
    int32_t SoundQty = 0;   // 0 quality first, 1 extraction first
    int32_t AlignFlg = 1;   // precise alignment: smooth karaoke trajectory, sub-sample reads, LS gain
    int32_t CleanMode = 0;  // clean pauses: 0 automatic (lossy pairs), 1 always, 2 off

    bool operator==(const ProcessingOptions&) const = default;
};

// The checked options with the values derived from them; the rest of the
// program reads only this copy.
struct CommittedOptions : ProcessingOptions {
    double BlkSec = 0.1;     // block length, seconds
    int32_t AdptRange = 3;   // manual correction range scaled by the block length
    float CntrGain = 2.0f;
    int32_t LPFFreq = 10000; // Hz
    int32_t HPFFreq = 230;   // Hz
    float Kvol = 1.2f;
    float Klvl = 1.0f;
};

// The range of every slider position (CntrPos, LPFPos, HPFPos, KvolPos, KlvlPos).
inline constexpr int32_t kMinPosition = 0, kMaxPosition = 20;

// Writes the defaults into `edited`.
void SetDefaults(ProcessingOptions& edited);
// Builds the committed copy: every value brought into its domain, derived
// values, cleaned suffix.
void CommitOptions(const ProcessingOptions& edited, CommittedOptions& committed);
// The text without the characters a file name cannot hold (\ / : * ? " < > |).
// Multi-byte UTF-8 characters are kept whole.
std::string CleanFileSuffix(const std::string& text);

// Derived-value rules, also used by the settings dialog for its live labels.
double BlkSecFor(int32_t blkSize);
int32_t AdptRangeFor(int32_t blkSize, int32_t adptNum);
float CntrGainFor(int32_t cntrPos);
int32_t LPFFreqFor(int32_t lpfPos);
int32_t HPFFreqFor(int32_t hpfPos);
float KvolFor(int32_t kvolPos);
float KlvlFor(int32_t klvlPos);

// Label texts of the derived values. `decimalPoint` is the user's locale's.
std::string CntrGainText(float v, const std::string& decimalPoint = ".");
std::string KvolText(float v, const std::string& decimalPoint = ".");
std::string KlvlText(float v, const std::string& decimalPoint = ".");
std::string LPFText(int32_t freq, const std::string& decimalPoint = ".");
std::string HPFText(int32_t freq);

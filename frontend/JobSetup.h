// The checks before a run: names, formats, overwrite; then opening the two
// inputs and creating the output. Shared by the window and the command line.
#pragma once

#include "WaveCheck.h"

#include <functional>
#include <string>
#include <vector>

class TWaveData;

// The texts of the checks before a run; an input that cannot be opened is
// WaveCheckText::kCannotOpen.
namespace JobText {
inline constexpr const char* kNamesMissing =
    "一定要指定输入和输出文件名\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000";
inline constexpr const char* kDuplicateNames = "输入文件和输出文件名称重复\u3000\u3000\u3000\u3000\u3000\u3000";
inline constexpr const char* kLayoutDiffers =
    "请确保输入文件的通道数的采样率是相同条件的\u3000\u3000\u3000\n"
    "\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000丅";
inline constexpr const char* kNot16Bit =
    "请使用１６位采样位数\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000";
inline constexpr const char* kOverwrite = "\n有一个具有相同名称的文件。是否覆盖保存？\u3000\u3000\u3000";
inline constexpr const char* kCannotCreate = "\n无法创建文件\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000";
} // namespace JobText

// How the checks talk to the user.
class JobDialogs {
public:
    virtual ~JobDialogs() = default;
    virtual void ShowWarning(const std::string& text) = 0;
    // true only when the user consents.
    virtual bool Confirm(const std::string& text) = 0;
    // Something the user should know that needs no answer, e.g. that the
    // karaoke is resampled. Nothing by default.
    virtual void ShowNote(const std::string& text) { (void)text; }
    // Asked while an input is decoded: true stops the preparation.
    virtual bool Cancelled() { return false; }
};

struct JobRequest {
    std::string original, karaoke, output; // as typed; output is rewritten to end in ".wav"
    int runMode = 0;                        // 1 when original and karaoke are the same text
    // Called with 1 (original) or 2 (karaoke) and the result of checking it,
    // so the window can refresh its format labels.
    std::function<void(int which, const WaveCheckResult&)> onChecked;
    // The command line may write FLAC: an output named "*.flac" keeps its
    // name, the run writes a temporary WAVE file and FinishOutput encodes it.
    bool allowFlac = false;

    // Filled by the preparation.
    std::string waveOutput;         // where the output WAVE file was created
    std::vector<std::string> notes; // what was converted, as shown by ShowNote
    // Inputs decoded only in part (damaged or cut), one line each, starting
    // with the quoted file name; the run goes on with what was read.
    std::vector<std::string> inputWarnings;
};

// The checks that concern the two inputs (names, formats), then opening
// them: true with both open, or false after one message with both closed.
bool PrepareInputs(JobRequest& request, TWaveData& original, TWaveData& karaoke, JobDialogs& dialogs,
                   bool needOutputName = true);

// Runs every check in order; on success the three files are open (the output
// created with the original's format) and true is returned. On failure one
// message has been shown, nothing is left open and false is returned.
bool PrepareJob(JobRequest& request, TWaveData& original, TWaveData& karaoke, TWaveData& output,
                JobDialogs& dialogs);

// After the run, with the output closed: for a FLAC output, encodes the
// temporary WAVE file to the named file (unless `written` is false: the WAVE
// file could not be completed) and removes the temporary. Nothing to do for a
// WAVE output. False with `error` set when no FLAC file was written.
bool FinishOutput(JobRequest& request, bool written, std::string* error);

// Whether an output name asks for FLAC (".flac", any letter case).
bool IsFlacName(const std::string& path);

// The debug log's path for an original: same folder and name, ".txt". Empty
// when that would name one of the run's own files.
std::string DebugLogPath(const JobRequest& request);

// The checks before a run: names, formats, the output's rule; then opening
// the two inputs and, for the window, creating the output. Shared by the
// window and the command line (whose output is a PendingOutput).
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
    // A warning about one file; the window shows message.WindowText().
    virtual void ShowFileWarning(const FileMessage& message) { ShowWarning(message.WindowText()); }
    // Whether the existing file `path` may be replaced by the output; the
    // defined question by default.
    virtual bool ConfirmReplace(const std::string& path) { return Confirm(QuotedFileName(path) + JobText::kOverwrite); }
    // Something the user should know that needs no answer, e.g. that the
    // karaoke is resampled. Nothing by default.
    virtual void ShowNote(const std::string& text) { (void)text; }
    // Called about every 25 ms while the inputs are decoded, with the share
    // done (0 to 1), on the thread that prepares the job; the window shows it
    // and handles the user's input there. Nothing by default.
    virtual void ShowDecoding(double share) { (void)share; }
    // Asked about every 25 ms while the inputs are decoded: true stops the
    // preparation.
    virtual bool Cancelled() { return false; }
};

struct JobRequest {
    std::string original, karaoke, output; // as typed; PrepareJob rewrites output to end in ".wav"
    int runMode = 0;                        // 1 when original and karaoke are the same file
    // Called with 1 (original) or 2 (karaoke) and the result of checking it,
    // so the window can refresh its format labels.
    std::function<void(int which, const WaveCheckResult&)> onChecked;

    // Filled by the preparation.
    std::vector<std::string> notes; // what was converted, as shown by ShowNote
    // Inputs decoded only in part (damaged or cut), one line each, starting
    // with the quoted file name; the run goes on with what was read.
    std::vector<std::string> inputWarnings;
};

// The checks that concern the two inputs (names, formats), then opening
// them: true with both open, or false after one message with both closed
// (none when the user stopped the decoding). Each input is opened once: a
// 16-bit WAVE file of the wanted layout is read where it is, anything else
// is decoded into a temporary first, both inputs side by side on threads of
// their own.
bool PrepareInputs(JobRequest& request, TWaveData& original, TWaveData& karaoke, JobDialogs& dialogs,
                   bool needOutputName = true);

// The rule for the output of both front ends, applied to its final name:
// never one of the inputs, however spelled (creating it would empty the file
// being read), and an existing file only when the user agrees. False after
// the message (none when the user declined).
bool AcceptOutput(const JobRequest& request, const std::string& output, JobDialogs& dialogs);

// The window's preparation: PrepareInputs, the output name rewritten to end
// in ".wav", AcceptOutput, and the output created where the user named it,
// with the original's format. True with the three files open; otherwise one
// message has been shown, nothing is left open and false is returned.
bool PrepareJob(JobRequest& request, TWaveData& original, TWaveData& karaoke, TWaveData& output,
                JobDialogs& dialogs);

// The debug log's path for an original: same folder and name, ".txt". Empty
// when that would name one of the run's own files.
std::string DebugLogPath(const JobRequest& request);

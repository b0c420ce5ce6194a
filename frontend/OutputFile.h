// Where a run's voice goes. The voice is written to a temporary file beside
// the target and only replaces the target when the run has produced audio,
// so an existing output never gives way to an empty one.
#pragma once

#include <string>
#include <sys/types.h>

// The temporary for `target`: ".<name>.sonvelt-tmp-<pid>" in the same folder.
std::string TemporaryFor(const std::string& target, pid_t pid);
// Whether a file name is one of our temporaries; its process id in `pid`.
bool IsOurTemporary(const std::string& fileName, pid_t* pid = nullptr);
// Removes the temporaries of our own naming in `folder` whose process is
// gone (a run killed outright); the number removed.
int RemoveStaleTemporaries(const std::string& folder);

// Empty when `target` can be written as an output: an existing regular file
// or a new name in an existing folder. Otherwise why not.
std::string CheckOutputTarget(const std::string& target);

// One output in the making. "-" as the target means standard output: the
// finished file is copied there.
class PendingOutput {
public:
    explicit PendingOutput(const std::string& target);
    ~PendingOutput(); // removes the temporary unless it was committed
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    const std::string& Target() const { return target_; }
    const std::string& Temporary() const { return temp_; }
    bool ToStdout() const { return target_ == "-"; }

    // The temporary, closed and complete, becomes the target. False with
    // `error` set when that fails (the temporary is then removed).
    bool Commit(std::string& error);
    // Removes the temporary; the target stays as it was.
    void Discard();

private:
    std::string target_, temp_;
    int slot_ = -1;
};

// For a handler that is about to end the process: every output in the
// making is finished at once, a temporary holding audio under its target's
// name, an empty one removed. Safe to call from a signal handler.
void FinishPendingOutputsNow();

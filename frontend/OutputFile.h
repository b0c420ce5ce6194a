// Where a command-line run's voice goes. The voice is written to a temporary
// beside the target, ".<name>.sonvelt-tmp-<pid>-<random>", made new by this
// process (never an existing file or a link, only the user may read it), and
// takes the target's name only at the end:
// - a complete voice replaces an existing target only when that was allowed;
//   a target that appeared during the run otherwise stays, and the voice is
//   kept under another name;
// - an incomplete voice (a stop, a write failure) only ever takes a name that
//   is free: an existing target stays as it was, byte for byte;
// - a voice that cannot take its name is kept under "<stem>.kept-<n><ext>"
//   beside it or, where nothing can be named (the folder became read-only),
//   in the temporary itself, made read-only so that no later clean-up takes it.
// A FLAC target is encoded from the temporary at the end; "-" as the target
// is standard output, written at the end from an unnamed temporary.
#pragma once

#include <string>
#include <sys/types.h>

class TWaveData;

// What became of a voice at the end.
struct OutputOutcome {
    enum State {
        kWritten,     // under the target's name
        kLeftAsItWas, // an incomplete voice met an existing target: discarded
        kKept,        // under `keptAs`, not the target's name
        kFailed,      // nothing was written (`problem` says why)
    };
    State state = kFailed;
    std::string keptAs;
    std::string problem;
    int error = 0; // the system's error number of what failed, 0 when none
};

// Whether an output name asks for FLAC (".flac", any letter case).
bool IsFlacName(const std::string& path);

// Empty when `target` can be written as an output: an existing regular file
// or a new name in an existing folder. Otherwise why not.
std::string CheckOutputTarget(const std::string& target);

// Removes, in `folder`, the temporaries of our own naming that processes no
// longer running left unfinished (a run killed outright): regular files of
// the user's with the mode they were made with, never through a link. The
// number removed.
int RemoveStaleTemporaries(const std::string& folder);

// One output in the making.
class PendingOutput {
public:
    // `replace`: an existing target may be replaced by a complete voice.
    PendingOutput(const std::string& target, bool replace);
    ~PendingOutput(); // removes the temporary unless the voice was placed
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Creates the temporary and `wave` on it (its Format filled first). 0, or
    // the system's error number.
    int Create(TWaveData& wave);

    const std::string& Target() const { return target_; }
    const std::string& Temporary() const { return temp_; }
    bool ToStdout() const { return target_ == "-"; }
    // A descriptor of its own on the temporary, for reading the voice
    // written so far before it takes its name; -1 with errno set.
    int ReadDescriptor() const;

    // With `wave` closed: places the voice by the rules above. `complete` is
    // false for a run that was stopped or failed.
    OutputOutcome Finish(bool complete);
    // Removes the temporary; the target stays as it was.
    void Discard();

private:
    OutputOutcome Encode();
    OutputOutcome Place(bool complete);

    std::string target_, temp_;
    bool replace_;
    int fd_ = -1; // the temporary, as this process created it
    int slot_ = -1;
};

// For a handler that is about to end the process: every output in the
// making is finished at once by the rules of an incomplete voice (a new
// target gets what was written, an existing one stays), other temporaries
// removed. Safe to call from a signal handler.
void FinishPendingOutputsNow();

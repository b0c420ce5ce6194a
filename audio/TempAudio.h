// Temporary WAVE files that hold decoded inputs. Each is made in a folder of
// its own that only the user can enter, "$TMPDIR/.sonvelt-dec-<pid>-<random>"
// (mkdtemp, mode 0700), so no one else can guess, plant or read anything
// there; the process id lets a later process recognise what a crashed one
// left behind.
//
// A temporary is removed with its folder as soon as it has been opened for
// reading (the open file stays readable until it is closed), so only the
// time while it is being written needs care: it is registered until then,
// and the registered files are removed at exit and by
// RemoveRegisteredTempFiles(), which an interrupt path may call.
#pragma once

#include <string>

namespace TempAudio {

// The path for a new temporary, in a new private folder, registered for
// removal; the file itself is for the caller to create
// (TWaveData::CreateNew). Empty, with errno set, when no folder can be made.
// The first call in a process also removes what processes that no longer run
// left behind.
std::string NewPath();

// Removes the file and its folder and forgets them.
void Remove(const std::string& path);

// Removes every registered file now. Safe to call more than once.
void RemoveRegisteredTempFiles();

// Removes, in `folder`, the private folders of processes that have ended,
// with the regular files of the user's in them; never follows a link and
// leaves anything else. Returns how many folders were removed.
int RemoveStale(const std::string& folder);

// A file without a name in Folder(), open for reading and writing, for data
// that never needs one (O_TMPFILE, or a file that leaves its private folder
// at once). The descriptor, or -1 with errno set.
int CreateAnonymous();

// The folder temporaries go to: $TMPDIR, else /tmp.
std::string Folder();

} // namespace TempAudio

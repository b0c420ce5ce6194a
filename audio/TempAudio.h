// Temporary WAVE files that hold decoded inputs. They are named
// ".sonvelt-dec-<pid>-<n>.wav" in $TMPDIR (or /tmp) so that the files a
// crashed process left behind can be recognised and removed by the next one.
//
// A temporary is removed from the folder as soon as it has been opened for
// reading (the open file stays readable until it is closed), so only the time
// while it is being written needs care: it is registered until then, and the
// registered files are removed at exit and by RemoveRegisteredTempFiles(),
// which an interrupt path may call.
#pragma once

#include <string>

namespace TempAudio {

// A new, unused temporary path, registered for removal. The first call in a
// process also removes stale temporaries of processes that no longer run.
std::string NewPath();

// Removes the file and forgets it.
void Remove(const std::string& path);

// Forgets the file without removing it (it was unlinked or handed on).
void Forget(const std::string& path);

// Removes every registered file now. Safe to call more than once.
void RemoveRegisteredTempFiles();

// Removes temporaries whose process has ended. Returns how many were removed.
int RemoveStale(const std::string& folder);

// The folder temporaries go to: $TMPDIR, else /tmp.
std::string Folder();

} // namespace TempAudio

// Files the program makes on its own (temporaries, the debug log): each is
// made new by this process, never an existing file and never through a link
// that someone else planted at its name, in a folder anyone may write to.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>

namespace NewFile {

// Creates `path` as a new file that only the user can read and write
// (O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC, mode 0600), open for reading and
// writing. The descriptor, or -1 with errno set: EEXIST when anything, a
// link included, has that name already.
int CreateExclusive(const std::string& path);

// The same under the name `stem` + an unpredictable part, trying other parts
// while a name is taken. The descriptor and the name made in `path`, or -1
// with errno set.
int CreateUnique(const std::string& stem, std::string& path);

// The start of the name of a temporary beside `path`:
// "<folder>/.<name>.sonvelt-tmp-<pid>-", for CreateUnique to complete.
std::string TemporaryStem(const std::string& path);
// Whether a name in a folder is one that TemporaryStem and CreateUnique
// make; the process id in `pid`.
bool IsTemporaryName(const std::string& name, pid_t* pid = nullptr);

// Creates `path` anew for this process: made under a temporary name beside
// it and renamed into place, so that whatever had the name (a file, a link)
// is replaced, never written through. The descriptor, open for writing with
// the usual permissions, or -1 with errno set.
int CreateReplacing(const std::string& path);

// Creates a folder named `stem` + an unpredictable part that only the user
// can enter (mkdtemp, mode 0700). Its path, or empty with errno set.
std::string CreatePrivateFolder(const std::string& stem);

// `count` letters and digits from the kernel's random source.
std::string RandomPart(size_t count);

// Renames `from` to `to` only if nothing has that name: -1 with errno EEXIST
// if something has. Where the file system cannot do that in one step, a link
// and an unlink do it. Only system calls: safe in a signal handler.
int RenameNoReplace(const char* from, const char* to);

// Whether `path` itself (a link is not followed) is the file open at `fd`:
// the same device and inode. Only system calls: safe in a signal handler.
bool IsOpenFile(int fd, const char* path);

// The permissions a file the user saves usually gets: 0666 less the umask.
mode_t UsualFileMode();

// Whether `name` (a name in a folder, no slash) is `prefix` followed by a
// process id, `separator` and `randomCount` letters and digits; the process
// id in `pid`.
bool MatchesPattern(const std::string& name, const std::string& prefix, char separator, size_t randomCount,
                    pid_t* pid);

// Calls `visit` with the folder and each name in it (but "." and ".."),
// for the folder open at `dir`, which this takes over and closes.
void ForEachName(int dir, const std::function<void(int dir, const char* name)>& visit);

// Whether a process with this id runs (also one of another user).
bool ProcessRuns(pid_t pid);

} // namespace NewFile

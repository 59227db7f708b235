#pragma once
// The one way files are written: into a temporary file in the target's folder, flushed to
// disk, then renamed over the target. The target's permission bits are kept, a symbolic
// link is followed and its target replaced, and on any failure the temporary file is
// removed and the old file is untouched.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace nolvi2 {

class TStream;

// newFileMode gives the permission bits of a file that does not exist yet (less the umask).
void WriteFileSafely(const std::string& fileName, const std::function<void(TStream&)>& write,
                     unsigned newFileMode = 0666);

// How many files WriteFileSafely has renamed into place in this process, in every thread.
std::size_t SafeWritesDone();

// For a program about to end at once (an interrupted batch): removes the temporary files of
// the writes under way in every thread, and makes every later WriteFileSafely fail. A write
// that renamed its file before this call has finished; the others fail and leave their
// targets as they were. Returns SafeWritesDone() as it was then: no file is renamed after it.
std::size_t AbandonSafeWrites();

// Raises EWriteError when a file exists at fileName (links followed) and its permission bits
// do not let this process's user write it: the owner's bits for its owner, the group's for a
// member of its group, the others' for anyone else, the superuser included. A rename would
// replace such a file all the same; the callers that must not replace it ask here first.
void RequireWritableFile(const std::string& fileName);

// Removes what writes to fileName left when their process ended half-way: the temporary files
// ".<name>.nolvi2-XXXXXX" beside the file a write replaces (XXXXXX six letters or digits),
// when they are regular files of this user that no write under way holds.
void RemoveAbandonedTemporaries(const std::string& fileName);

// A settings file written whole as text: refused (RequireWritableFile) when its permission bits
// forbid it, what killed writes left beside it removed first, a new file private to the user.
void WriteSettingsFile(const std::string& fileName, const std::string& text);

// The file that a write to fileName replaces or makes: the end of the chain of symbolic
// links that starts at it (fileName itself when it is no link), as WriteFileSafely follows it.
std::string WriteTargetOf(const std::string& fileName);

// The folder part of a path ("." without one, "/" for a name in the root).
std::string FolderOf(const std::string& path);
// The running executable's full path (links resolved), or empty.
std::string ExecutablePath();

// The full path of a file name, from the working folder when it is relative, without "." parts
// and repeated slashes. Up to its last ".." part the path is resolved on disk (a ".." after
// a symbolic link goes to the link's target's parent); when that fails, the ".." parts stay.
std::string FullFileName(const std::string& fileName);

// Something that is not a folder exists at fileName (symbolic links followed).
bool FileExists(const std::string& fileName);

// The whole of a regular file. A file larger than limit bytes raises EReadError; one that
// cannot be opened, EFOpenError.
std::string ReadWholeFile(const std::string& fileName, int64_t limit);

}  // namespace nolvi2

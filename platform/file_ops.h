// The file services that the copier, the executor and the run controller use.
// Every function follows the POSIX convention: a negative result means failure
// and errno tells why. Nothing here follows a symbolic link unless it says so.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace platform {

// Opens a regular file for reading. A symbolic link, a FIFO, a device or a
// directory is refused (ELOOP, or EINVAL for anything that is not a regular
// file) without being read, so a run never hangs on a pipe. Returns the
// descriptor, which the caller closes with CloseFile.
int OpenForRead(const std::string& path);

// Creates a new file for writing, exclusively: an existing file, directory or
// link at `path` gives EEXIST and is left untouched. Mode 0666 less the umask.
int CreateExclusive(const std::string& path);

// Creates a file without a name in `directory`, for writing; LinkUnnamed gives
// it its name once it is complete. Until then no name shows the file, and if
// the process dies first the file system frees it. Fails with EOPNOTSUPP where
// the file system or the system cannot do this; the caller then writes through
// a temporary name instead.
int CreateUnnamed(const std::string& directory);

// Gives the unnamed file `fd` the name `path`, only if `path` does not exist
// (EEXIST otherwise); never replaces anything.
int LinkUnnamed(int fd, const std::string& path);

// Reads up to `size` bytes; 0 at end of file.
ssize_t ReadSome(int fd, void* buffer, size_t size);

// Writes all `size` bytes, retrying short writes; fails with the error that
// stopped it (ENOSPC for a full disk).
ssize_t WriteAll(int fd, const void* buffer, size_t size);

// Lets the kernel copy up to `size` bytes from the current offset of `in` to
// that of `out`; 0 at the end of `in`. Fails with EXDEV, EINVAL, ENOSYS or
// EOPNOTSUPP where the kernel cannot do it for this pair of files.
ssize_t CopyRange(int in, int out, size_t size);

int CloseFile(int fd);

// Gives `from` the name `to`, replacing whatever file `to` names, atomically.
int RenameReplace(const std::string& from, const std::string& to);

// Gives `from` the name `to` only if `to` does not exist (EEXIST otherwise);
// never replaces anything.
int RenameNoReplace(const std::string& from, const std::string& to);

int RemoveFile(const std::string& path);
int MakeDirectory(const std::string& path);
// Removes an empty directory; fails with ENOTEMPTY otherwise.
int RemoveDirectory(const std::string& path);

// True when something (a file, a directory, a link, anything) has this name.
bool NameExists(const std::string& path);

// True when `path`, following symbolic links, names a directory.
bool IsDirectoryPath(const std::string& path);

// The absolute path with every symbolic link, "." and ".." resolved; empty when
// the path cannot be resolved.
std::string ResolvePath(const std::string& path);

// Reads a whole (small) file into `text`; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& text);

// Replaces the file at `path` with `content` atomically: a temporary file beside
// it is written and flushed to disk, then renamed over it, so a crash leaves the
// old file or the new one, never half of one. The file keeps its permissions; a
// symbolic link at `path` is kept and the file it points to replaced. Returns
// false (errno set) when it could not; the old file is then untouched.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// The id of the running process.
int ProcessId();

// True when the two directories are the same or one lies inside the other,
// once symbolic links, "." and ".." are resolved. False when either cannot be
// resolved.
bool RootsOverlap(const std::string& a, const std::string& b);

}  // namespace platform

// The file services that the copier, the executor and the Start request use.
// Each returns a Status, or a Result with its value, that says which call
// failed and why. Nothing here follows a symbolic link unless it says so.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/tree_root.h"

namespace platform {

// Reads up to `size` bytes; 0 at end of file.
Result<size_t> ReadSome(int fd, void* buffer, size_t size);

// Writes all `size` bytes, retrying short writes; fails with the error that
// stopped it (ENOSPC for a full disk).
Status WriteAll(int fd, const void* buffer, size_t size);

// Lets the kernel copy up to `size` bytes from the current offset of `in` to
// that of `out`; 0 at the end of `in`. Fails with EXDEV, EINVAL, ENOSYS or
// EOPNOTSUPP where the kernel cannot do it for this pair of files.
Result<size_t> CopyRange(int in, int out, size_t size);

Status CloseFile(int fd);

// Closes a file that is being thrown away (unnamed, or its name already
// removed) on a thread of its own: freeing a few gigabytes' pages and blocks
// takes tens of milliseconds, which Cancel should not wait for.
void DiscardFile(int fd);

// True while a file handed to DiscardFile is not yet closed.
bool DiscardsPending();

// Gives the calling thread, for as long as it lives, a table of open files of
// its own, a copy of the process's, where the system can: the files it then
// opens and closes are its own, and neither it nor the process's other threads
// wait on the other's opens and closes. For a thread that opens and closes
// many files and hands none to another thread but one it starts itself. The
// copies of the process's files are closed when it ends, before the thread
// can be joined: a lock or a mount the process lets go is let go at once.
class OwnFileTable {
public:
    OwnFileTable();
    ~OwnFileTable();
    OwnFileTable(const OwnFileTable&) = delete;
    OwnFileTable& operator=(const OwnFileTable&) = delete;

private:
    std::vector<int> m_copies;  // the process's files, as this table holds them
    bool m_closeAll = false;    // they could not be listed
};

// Positional forms of the above, for copying a file with holes: they neither use
// nor move the descriptors' offsets (WriteAllAt with a negative offset is
// WriteAll).
Result<size_t> ReadAt(int fd, void* buffer, size_t size, off_t offset);
Status WriteAllAt(int fd, const void* buffer, size_t size, off_t offset);
Result<size_t> CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset, size_t size);

// The start of the first run of data at or after `offset` (ENXIO when only a
// hole follows), and the start of the first hole after it (the end of the file
// counts as one).
Result<off_t> SeekData(int fd, off_t offset);
Result<off_t> SeekHole(int fd, off_t offset);

// Sets the file's length, cutting it or extending it with a hole.
Status Truncate(int fd, off_t size);

// Puts the descriptor's offset back at the start of the file.
Status Rewind(int fd);

// Size, mode and times of an open regular file, as TreeRoot::OpenForRead gives them.
Status DescribeOpenFile(int fd, FileInfo& info);

// True when `path`, following symbolic links, names a directory; false also
// when it cannot be looked at.
bool IsDirectoryPath(const std::string& path);

// Whether this process may make a file in the directory `dir`; why not when
// it may not (the permissions say so, or the file system is read-only).
Status MayCreateIn(const std::string& dir);

// Reads what is left of the open file `fd` into `text`, in place of what it held.
Status ReadToEnd(int fd, std::string& text);

// Reads a whole (small) file into `text`. Only a regular file is opened: a
// FIFO or a device at `path` is never opened, and fails with EINVAL.
Status ReadWholeFile(const std::string& path, std::string& text);

// Replaces the file at `path` with `content` atomically: a temporary file beside
// it is written and flushed to disk, then renamed over it, so a crash leaves the
// old file or the new one, never half of one. The file keeps its permissions.
// A symbolic link at `path` is kept and the file it points to replaced, but only
// when the link belongs to the user running the program or to root (otherwise
// ELOOP), and leads to a regular file owned by that user; anything else at
// `path` or behind the link (a FIFO, a device, another user's file) is left as
// it is and EPERM returned. When it fails the old file is untouched.
Status WriteFileAtomically(const std::string& path, const std::string& content);

// Opens the regular file at `path` for appending, creating it with mode 0600
// and, with MissingDirectories::Make, its missing directories with 0700, as a
// log that may name private files wants; with MissingFile::Refuse a missing
// file is not made (ENOENT) and nothing is created. A symbolic link at `path`
// is not followed (ELOOP); anything but a regular file there (a FIFO, a
// device) is refused without blocking (EINVAL). On Linux a link on the way to
// it is followed only when it belongs to the user or to root (ELOOP otherwise).
enum class MissingDirectories { Make, Refuse };
enum class MissingFile { Make, Refuse };
Result<int> OpenForAppend(const std::string& path, MissingDirectories missing,
                          MissingFile missingFile = MissingFile::Make);

// Makes the directories on the way to the file `path` that are missing, each
// with mode 0700 (the user's own, as settings and logs want); links on the way
// are followed as OpenForAppend follows them. Fails with the error of the
// first directory that could neither be made nor opened (ENOTDIR for a file
// on the way, EACCES), leaving those made before it.
Status MakeParentDirectories(const std::string& path);

// Renames the file `from` to `to` in the same directory, replacing what `to`
// names; a link at either name is renamed, never followed.
Status RenameReplacing(const std::string& from, const std::string& to);

// The directory that holds `path` as it is written: what comes before its last
// separator ("/" for a name just below "/"), "." for a bare name.
std::string ParentOf(const std::string& path);

// The path of `path` below the directory `root` ("a/b.log"), each judged by
// where it really lies: the root and the nearest existing directory above
// `path` resolved through symbolic links, "." and ".." (on Windows, made
// absolute, and compared ignoring case); std::nullopt when `path` does not
// lie below `root`, or either cannot be resolved.
std::optional<std::string> PathBelow(const std::string& path, const std::string& root);

// The process's umask, read without changing it.
mode_t Umask();

// The id of the running process.
int ProcessId();

// Whether the directory `info` describes is this process's user's own and
// open to no other (no bit for its group or others), so that no one but that
// user and the superuser can reach what lies below it. Always false on
// Windows, where access lists decide.
bool ReachedByOwnerAlone(const FileInfo& info);

// The value of the environment variable `name`, in UTF-8; empty when it is
// not set.
std::string EnvironmentVariable(const char* name);

// The user's home directory ($HOME; %USERPROFILE% on Windows); empty when it
// is not known.
std::string HomeDirectory();

// Where a program keeps what it records for the user: $XDG_STATE_HOME when it
// is an absolute path, else ~/.local/state (on Windows %LOCALAPPDATA%); empty
// when neither is known, or when the home directory does not exist.
// StateDirectoryUnknown says why in the user's words, kStateDirectoryShown how
// the usual one is written for the user.
std::string StateDirectory();
std::string StateDirectoryUnknown();
extern const char* const kStateDirectoryShown;

// Where a program keeps the user's settings: $XDG_CONFIG_HOME when it is an
// absolute path, else ~/.config (on Windows %APPDATA%); empty when neither is
// known, or when the home directory does not exist. kConfigDirectoryShown is
// how the usual one is written for the user, kProgramFolder the name of
// Kelvad's own folder in it and in the state directory as the system's
// programs name theirs ("kelvad"; "Kelvad" on Windows).
std::string ConfigDirectory();
extern const char* const kConfigDirectoryShown;
extern const char* const kProgramFolder;

// The local time of `when`, as the user's clock shows it.
std::tm LocalTime(std::time_t when);

}  // namespace platform

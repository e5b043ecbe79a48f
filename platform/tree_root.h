// A handle on the root directory of a tree, opened once for a whole Start
// request, and every file-system operation below it. A path below the root is
// relative to it and is resolved beneath it without following any symbolic
// link, so a directory swapped for a link while a run goes on can never lead a
// read or a change outside the tree; and since no call sees a whole path, paths
// of any length work. The operations are virtual: tests wrap a root to make its
// calls fail, wait or be counted, one root at a time.
#pragma once

#include <sys/types.h>

#include <ctime>

#include <memory>
#include <string>
#include <string_view>

#include "platform/dir_search.h"
#include "platform/file_time.h"

struct stat;

namespace platform {

// What opening a file for reading learnt of it, from the open descriptor.
struct FileInfo {
    off_t size = 0;
    mode_t mode = 0;          // the permission bits
    FileTime lastWrite = 0;
    FileTime lastChange = 0;  // the inode's change time
    bool sparse = false;      // fewer blocks than its size needs: it has holes
    timespec lastWriteExact{};   // as the file system keeps it, for the copy
    timespec lastAccessExact{};
    uid_t owner = 0;
    gid_t group = 0;
    dev_t device = 0;  // with the inode, which file this is
    ino_t inode = 0;
};

// Whether the operations below a root pass into file systems mounted below it.
// The master's are read like any directory; nothing at or below a mount point
// inside the slave is read, written or removed.
enum class Mounts { Cross, Stay };

class TreeRoot {
public:
    // Opens the directory `path` as typed; a symbolic link at `path` itself is
    // followed (a root may be typed as a link), nothing below it is. When the
    // directory cannot be opened every operation fails with OpenError().
    explicit TreeRoot(std::string path, Mounts mounts = Mounts::Cross);
    virtual ~TreeRoot();
    TreeRoot(const TreeRoot&) = delete;
    TreeRoot& operator=(const TreeRoot&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int OpenError() const { return m_openError; }
    // The root as typed.
    const std::string& Path() const { return m_path; }
    // The open root directory, for telling directories apart by what they are;
    // -1 when it could not be opened. The root keeps ownership.
    int Descriptor() const { return m_fd; }

    // Forgets the directory kept open from the last operation. The executor
    // calls it before each step, so no step works through a directory that was
    // resolved for an earlier one and may since have been moved out of the tree.
    void ForgetKeptDirectory();

    // Every function below takes a path relative to the root ("" is the root
    // itself for OpenDirectory, CreateUnnamed and MakeDirectory's parent) and
    // follows the POSIX convention: a negative result is a failure, errno says
    // why. A symbolic link anywhere on the way gives ELOOP; a mount point on the
    // way below a root opened with Mounts::Stay gives EXDEV.

    // Opens the directory `relative` for listing; the caller owns the descriptor.
    virtual int OpenDirectory(std::string_view relative);
    // The next entry of a search started on a descriptor from OpenDirectory
    // (DirSearch::Next).
    virtual bool NextMatch(DirSearch& search, DirMatch& match);

    // Describes what the name `relative` leads to now (never through a link).
    virtual int DescribeName(std::string_view relative, FileInfo& info);

    // Opens a regular file for reading and describes it. A link, FIFO, device or
    // directory is refused without being read (ELOOP, or EINVAL for anything
    // that is not a regular file). The caller closes the descriptor with Close.
    virtual int OpenForRead(std::string_view relative, FileInfo& info);

    // Creates a new file for writing, exclusively (EEXIST for anything already
    // at that name, a link included), with `mode` less the umask.
    virtual int CreateExclusive(std::string_view relative, mode_t mode);

    // Creates a file without a name in the directory `relativeDir`, for writing,
    // with `mode` less the umask; LinkUnnamed names it once it is complete. Until
    // then no name shows it, and if the process dies the file system frees it.
    // EOPNOTSUPP where the file system or the system cannot do this.
    virtual int CreateUnnamed(std::string_view relativeDir, mode_t mode);

    // Gives the unnamed file `fd` the name `relative`, only if nothing has it.
    virtual int LinkUnnamed(int fd, std::string_view relative);

    // Gives `from` the name `to`, replacing the file `to` atomically.
    virtual int RenameReplace(std::string_view from, std::string_view to);

    // Gives `from` the name `to` only if nothing has that name (EEXIST
    // otherwise). Where the file system can neither refuse to replace in one
    // step nor make a hard link, the name is looked at first and then taken.
    virtual int RenameNoReplace(std::string_view from, std::string_view to);

    virtual int RemoveFile(std::string_view relative);
    // Makes the directory `relative` with `mode` less the umask.
    virtual int MakeDirectory(std::string_view relative, mode_t mode);
    // Sets the permission bits of `relative` (never through a link). A file
    // system that keeps no permission bits (FAT, exFAT) is not an error.
    virtual int SetMode(std::string_view relative, mode_t mode);
    // Removes an empty directory; ENOTEMPTY otherwise.
    virtual int RemoveDirectory(std::string_view relative);

    // True when something (a file, a directory, a link, anything) has this name.
    virtual bool NameExists(std::string_view relative);

    // True when the file system below the root matches names ignoring letter
    // case, found out from `relative`, an existing entry whose name holds a
    // letter: its name with the case of its letters swapped names something,
    // and its directory lists no entry of that spelling.
    virtual bool IgnoresCase(std::string_view relative);

    // Writes everything the file system below the root holds in memory to its
    // disk (syncfs), so the tree survives the drive being pulled out.
    virtual int Flush();

    // The first mount point on the way to `relative`, itself included, as a
    // path relative to the root; "" when there is none (or the way cannot be
    // looked at). For messages: the system's own words for a mount in the way
    // ("Invalid cross-device link") do not say where it is.
    std::string MountPointOn(std::string_view relative);

    // Calls on descriptors that this root's operations opened: the same as the
    // free functions of file_ops.h, here so that a wrapped root sees them too.
    virtual ssize_t Read(int fd, void* buffer, size_t size);
    virtual ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset);
    virtual ssize_t WriteAll(int fd, const void* buffer, size_t size);
    virtual ssize_t WriteAllAt(int fd, const void* buffer, size_t size, off_t offset);
    // The kernel's copy from `in` (a file of the other root) into `out`.
    virtual ssize_t CopyRange(int in, int out, size_t size);
    virtual ssize_t CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset, size_t size);
    virtual off_t SeekData(int fd, off_t offset);
    virtual off_t SeekHole(int fd, off_t offset);
    virtual int Truncate(int fd, off_t size);
    virtual int Describe(int fd, FileInfo& info);
    // Gives the open output `fd` the last-write and last-access times of
    // `source` and, when the process may (as root), its owner and group, as
    // `cp -a` does. A file system that keeps no owners (FAT, exFAT) is not an
    // error.
    virtual int KeepAttributes(int fd, const FileInfo& source);
    // Gives the directory or file `relative` the owner and group `source` has,
    // when the process may (as root); otherwise does nothing.
    int KeepOwner(std::string_view relative, const FileInfo& source);
    virtual int Close(int fd);

private:
    // The directory that holds `relative` and the last component of it; the
    // descriptor is the root's or the one kept for the last directory resolved
    // (the operations of one step mostly share one directory). -1 on failure.
    int Parent(std::string_view relative, std::string_view& name);
    // The directory `relativeDir` ("" the root), kept open as Parent keeps it.
    int Directory(std::string_view relativeDir);
    // Resolves the directory that holds `relative` and runs
    // operation(directory, last component) there.
    template <typename Operation>
    int AtParent(std::string_view relative, Operation operation);

    std::string m_path;
    Mounts m_mounts;
    int m_fd = -1;
    int m_openError = 0;
    std::string m_keptDir;
    int m_keptFd = -1;
};

// Opens a directory `relative` beneath `dirFd` (both a directory descriptor,
// "" for `dirFd` itself) following no symbolic link; paths longer than the
// system's path limit are walked in pieces. With Mounts::Stay no mount point is
// passed (EXDEV). Returns the new descriptor or -1.
int OpenDirectoryBeneath(int dirFd, std::string_view relative, Mounts mounts = Mounts::Cross);

namespace detail {
void FillFileInfo(const struct stat& st, FileInfo& info);
// True when the directory `dirFd` lists `name` exactly as spelled, and when it
// cannot be listed (the two spellings are then taken for two entries, as on a
// file system that tells case apart). `dirFd` stays open.
bool ListsName(int dirFd, const std::string& name);
}

}  // namespace platform

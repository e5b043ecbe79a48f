// A handle on the root directory of a tree, opened once for a whole Start
// request, and every file-system operation below it. A path below the root is
// relative to it and is resolved beneath it without following any symbolic
// link, so a directory swapped for a link while a run goes on can never lead a
// read or a change outside the tree; and since no call sees a whole path, paths
// of any length work. The operations are virtual: tests wrap a root to make its
// calls fail, wait or be counted, one root at a time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>

#include <memory>
#include <string>
#include <string_view>

#include "platform/dir_search.h"
#include "platform/file_time.h"
#include "platform/status.h"

#ifdef _WIN32
// Windows keeps no owner or group of the POSIX kind; the fields stay 0 there.
using uid_t = unsigned int;
using gid_t = unsigned int;
#else
struct stat;
#endif

namespace platform {

// What opening a file for reading learnt of it, from the open descriptor.
struct FileInfo {
    off_t size = 0;
    mode_t mode = 0;  // the permission bits
    FileTime lastWrite = 0;
    FileTime lastChange = 0;    // the inode's change time
    bool sparse = false;        // fewer blocks than its size needs: it has holes
    timespec lastWriteExact{};  // as the file system keeps it, for the copy
    timespec lastAccessExact{};
    uid_t owner = 0;
    gid_t group = 0;
    std::uint64_t device = 0;  // with the inode, which file this is (on Windows
    std::uint64_t inode = 0;   // the volume's serial number and the file's index)
};

// Whether the operations below a root pass into file systems mounted below it.
// The master's are read like any directory; nothing at or below a mount point
// inside the slave is read, written or removed.
enum class Mounts { Cross, Stay };

class TreeRoot {
public:
    // Opens the directory `path` as typed; a symbolic link at `path` itself is
    // followed (a root may be typed as a link), nothing below it is. When the
    // directory cannot be opened every operation fails as OpenStatus() says.
    explicit TreeRoot(std::string path, Mounts mounts = Mounts::Cross);
    virtual ~TreeRoot();
    // A second handle on the directory `root` has open (opened from it, not
    // looked up by its path again), for another thread: each root serves one
    // thread at a time.
    static std::unique_ptr<TreeRoot> SecondHandle(const TreeRoot& root);
    TreeRoot(const TreeRoot&) = delete;
    TreeRoot& operator=(const TreeRoot&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    const Status& OpenStatus() const { return m_openStatus; }
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
    // returns a Status, or a Result holding a descriptor or a count, that says
    // which call failed and why. A symbolic link anywhere on the way gives
    // ELOOP; a mount point on the way below a root opened with Mounts::Stay
    // gives EXDEV.

    // Opens the directory `relative` for listing; the caller owns the descriptor.
    virtual Result<int> OpenDirectory(std::string_view relative);
    // The next entry of a search started on a descriptor from OpenDirectory
    // (DirSearch::Next).
    virtual bool NextMatch(DirSearch& search, DirMatch& match);

    // Describes what the name `relative` leads to now (never through a link).
    virtual Status DescribeName(std::string_view relative, FileInfo& info);

    // Opens a regular file for reading and describes it. A link, FIFO, device or
    // directory is refused without being read (ELOOP, or EINVAL for anything
    // that is not a regular file). The caller closes the descriptor with Close.
    virtual Result<int> OpenForRead(std::string_view relative, FileInfo& info);

    // What the symbolic link `relative` holds, its target as written (never
    // followed). EINVAL when it is no link; on Windows every call fails so.
    virtual Result<std::string> ReadLink(std::string_view relative);

    // Creates a new file for writing, exclusively (EEXIST for anything already
    // at that name, a link included), with `mode` less the umask.
    virtual Result<int> CreateExclusive(std::string_view relative, mode_t mode);

    // Creates a file without a name in the directory `relativeDir`, for writing,
    // with `mode` less the umask; LinkUnnamed names it once it is complete. Until
    // then no name shows it, and if the process dies the file system frees it.
    // EOPNOTSUPP where the file system or the system cannot do this.
    virtual Result<int> CreateUnnamed(std::string_view relativeDir, mode_t mode);

    // Gives the unnamed file `fd` the name `relative`, only if nothing has it.
    virtual Status LinkUnnamed(int fd, std::string_view relative);

    // Gives `from` the name `to`, replacing the file `to` atomically.
    virtual Status RenameReplace(std::string_view from, std::string_view to);

    // Gives `from` the name `to` only if nothing has that name (EEXIST
    // otherwise). Where the file system can neither refuse to replace in one
    // step nor make a hard link, the name is looked at first and then taken.
    virtual Status RenameNoReplace(std::string_view from, std::string_view to);

    virtual Status RemoveFile(std::string_view relative);
    // Makes the directory `relative` with `mode` less the umask.
    virtual Status MakeDirectory(std::string_view relative, mode_t mode);
    // Sets the permission bits of `relative` (never through a link). A file
    // system that keeps no permission bits (FAT, exFAT) is not an error.
    virtual Status SetMode(std::string_view relative, mode_t mode);
    // Removes an empty directory; ENOTEMPTY otherwise.
    virtual Status RemoveDirectory(std::string_view relative);

    // False when nothing has the name `relative` (nor its directory): one
    // look-up, no directory kept, for names that are mostly not there. True
    // otherwise, also when it cannot tell; the caller then looks for real.
    bool MayHold(std::string_view relative);

    // True when something (a file, a directory, a link, anything) has this
    // name; false also when the way to it cannot be resolved.
    virtual bool NameExists(std::string_view relative);

    // True when the file system below the root matches names ignoring letter
    // case, found out from `relative`, an existing entry whose name holds a
    // letter: its name with the case of its letters swapped names something,
    // and its directory lists no entry of that spelling.
    virtual bool IgnoresCase(std::string_view relative);

    // Takes a lock on the root directory for as long as this root is open (and
    // the process lives: the kernel releases it when it dies, so no lock is
    // ever left stale). EWOULDBLOCK when another open root holds it, here or
    // in another process. A file system that keeps no locks is no failure;
    // on Windows nothing is locked.
    Status Lock();

    // True when a directory above the root (its parent, and so on up to the
    // top) has an entry named `name`; false also when one cannot be looked at.
    // On Windows always false.
    bool AncestorHolds(std::string_view name);

    // Writes everything the file system below the root holds in memory to its
    // disk (syncfs), so the tree survives the drive being pulled out.
    virtual Status Flush();

    // The first mount point on the way to `relative`, itself included, as a
    // path relative to the root; "" when there is none (or the way cannot be
    // looked at).
    std::string MountPointOn(std::string_view relative);

    // The words for `failure`, the outcome of an operation on `relative`: the
    // system's own ("No space left on device"), or, where a mount point in the
    // way made it fail, "another file system is mounted at /s/usb", since the
    // system's words for that ("Invalid cross-device link") do not say where.
    std::string Reason(const Status& failure, std::string_view relative);

    // Calls on descriptors that this root's operations opened: the same as the
    // free functions of file_ops.h, here so that a wrapped root sees them too.
    virtual Result<size_t> Read(int fd, void* buffer, size_t size);
    virtual Result<size_t> ReadAt(int fd, void* buffer, size_t size, off_t offset);
    virtual Status WriteAll(int fd, const void* buffer, size_t size);
    virtual Status WriteAllAt(int fd, const void* buffer, size_t size, off_t offset);
    // The kernel's copy from `in` (a file of the other root) into `out`.
    virtual Result<size_t> CopyRange(int in, int out, size_t size);
    virtual Result<size_t> CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                       size_t size);
    virtual Result<off_t> SeekData(int fd, off_t offset);
    virtual Result<off_t> SeekHole(int fd, off_t offset);
    virtual Status Truncate(int fd, off_t size);
    virtual Status Describe(int fd, FileInfo& info);
    // Gives the open output `fd` the last-write and last-access times of
    // `source` and, when the process may (as root), its owner and group, as
    // `cp -a` does. A file system that keeps no owners (FAT, exFAT) is not an
    // error.
    virtual Status KeepAttributes(int fd, const FileInfo& source);
    // Gives the open output `fd` the extended attributes of `sourceFd` (an open
    // file or directory of the other root), as `cp -a` does: the user's ones and
    // the access control lists always, and as root the security ones (a
    // program's capabilities) and the trusted ones too. Call it after
    // KeepAttributes: giving a file its owner clears its capabilities. A source
    // that has none costs one call. Returns ok when every one was kept (or there
    // were none); otherwise, having set every other one it could, the first
    // failure to read or set one: ENOTSUP where the slave's file system keeps
    // none (FAT, exFAT), EPERM where the process may not set it. On Windows
    // nothing is kept and ok returned.
    virtual Status KeepExtendedAttributes(int sourceFd, int fd);
    // Gives the directory or file `relative` the owner and group `source` has,
    // when the process may (as root); otherwise does nothing.
    Status KeepOwner(std::string_view relative, const FileInfo& source);
    virtual Status Close(int fd);

private:
    TreeRoot(int fd, std::string path, Mounts mounts, Status openStatus);

    // The directory that holds `relative` and the last component of it; the
    // descriptor is the root's or the one kept for the last directory resolved
    // (the operations of one step mostly share one directory).
    Result<int> Parent(std::string_view relative, std::string_view& name);
    // The directory `relativeDir` ("" the root), kept open as Parent keeps it.
    Result<int> Directory(std::string_view relativeDir);
    // Resolves the directory that holds `relative` and runs
    // operation(directory, last component) there; the operation returns a
    // Status or a Result.
    template <typename Operation>
    auto AtParent(std::string_view relative, Operation operation) -> decltype(operation(0, ""));

    std::string m_path;
    Mounts m_mounts;
    int m_fd = -1;
    Status m_openStatus;
    std::string m_keptDir;
    int m_keptFd = -1;
};

// Opens a directory `relative` beneath `dirFd` (both a directory descriptor,
// "" for `dirFd` itself) following no symbolic link; paths longer than the
// system's path limit are walked in pieces. With Mounts::Stay no mount point is
// passed (EXDEV). Returns the new descriptor.
Result<int> OpenDirectoryBeneath(int dirFd, std::string_view relative,
                                 Mounts mounts = Mounts::Cross);

template <typename Operation>
inline auto TreeRoot::AtParent(std::string_view relative, Operation operation)
    -> decltype(operation(0, "")) {
    std::string_view name;
    const Result<int> dir = Parent(relative, name);
    if (!dir.ok()) {
        return dir.status();
    }
    return operation(*dir, std::string(name));
}

namespace detail {
#ifndef _WIN32
void FillFileInfo(const struct stat& st, FileInfo& info);
#endif
// True when something (a file, a directory, a link) has the name `name` in the
// directory `dirFd`, looked up without following a link.
bool HasEntry(int dirFd, const std::string& name);
// True when the directory `dirFd` lists `name` exactly as spelled, and when it
// cannot be listed (the two spellings are then taken for two entries, as on a
// file system that tells case apart). `dirFd` stays open.
bool ListsName(int dirFd, const std::string& name);
}  // namespace detail

}  // namespace platform

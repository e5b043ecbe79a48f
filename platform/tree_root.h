// A handle on the root directory of a tree, opened once for a whole Start
// request, and every file-system operation below it. A path below the root is
// relative to it and is resolved beneath it without following any symbolic
// link, so a directory swapped for a link while a run goes on can never lead a
// read or a change outside the tree; and since no call sees a whole path, paths
// of any length work. TreeRoot is an interface, with one implementation a
// system; tests wrap a root to make its calls fail, wait or be counted.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dir_search.h"
#include "platform/file_time.h"
#include "platform/status.h"

#ifdef _WIN32
// Windows keeps no owner or group of the POSIX kind; the fields stay 0 there.
using uid_t = unsigned int;
using gid_t = unsigned int;
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

// The interface of a root: every operation on a tree goes through it, and
// nothing of the open directory behind it shows. OpenTreeRoot makes the
// system's own; a test wraps one (TreeRootWrapper) to make its calls fail, wait
// or be counted. A root keeps nothing from one call to the next: several threads
// may call one root at once (the copies of a run, the comparison of moved files).
class TreeRoot {
public:
    TreeRoot() = default;
    virtual ~TreeRoot() = default;
    TreeRoot(const TreeRoot&) = delete;
    TreeRoot& operator=(const TreeRoot&) = delete;

    // A second handle on the directory this root has open (opened from it, not
    // looked up by its path again), for another thread; its OpenStatus says
    // when it could not be opened. The caller owns it.
    virtual std::unique_ptr<TreeRoot> SecondHandle() const = 0;

    // Whether the root directory is open; when it is not, every operation
    // fails as OpenStatus() says.
    virtual bool IsOpen() const = 0;
    virtual const Status& OpenStatus() const = 0;
    // The root as typed.
    virtual const std::string& Path() const = 0;

    // Every function below takes a path relative to the root ("" is the root
    // itself for OpenDirectory, CreateUnnamed and MakeDirectory's parent) and
    // returns a Status, or a Result holding a descriptor or a count, that says
    // which call failed and why. A symbolic link anywhere on the way gives
    // ELOOP; a mount point on the way below a root opened with Mounts::Stay
    // gives EXDEV. Each call resolves its way from the root anew, so a directory
    // moved out of the tree between two calls receives nothing from the later
    // one.

    // Opens the directory `relative` for listing; the caller owns the
    // descriptor and closes it with Close (or hands it to a DirSearch).
    virtual Result<int> OpenDirectory(std::string_view relative) = 0;
    // The next entry of a search started on a descriptor from OpenDirectory
    // (DirSearch::Next).
    virtual bool NextMatch(DirSearch& search, DirMatch& match) = 0;

    // Describes what the name `relative` leads to now (never through a link).
    virtual Status DescribeName(std::string_view relative, FileInfo& info) = 0;
    // Whether the name `relative` still leads to the file `opened` describes
    // (its device and inode), looked up in one call where the system allows:
    // the answer only compares, so a link on the way that leads to the same
    // file counts as the same. `named` is given what the name leads to: for
    // the same file, what describing its descriptor would tell. The Status of
    // the look-up when it fails (ENOENT for a name gone, ELOOP for a link at
    // the end).
    virtual Result<bool> LeadsTo(std::string_view relative, const FileInfo& opened,
                                 FileInfo& named) = 0;

    // Opens a regular file for reading and describes it. A link, FIFO, device or
    // directory is refused without being read (ELOOP, or EINVAL for anything
    // that is not a regular file). The caller closes the descriptor with Close.
    virtual Result<int> OpenForRead(std::string_view relative, FileInfo& info) = 0;

    // What the symbolic link `relative` holds, its target as written (never
    // followed). EINVAL when it is no link; on Windows every call fails so.
    virtual Result<std::string> ReadLink(std::string_view relative) = 0;

    // Creates a new file for writing, exclusively (EEXIST for anything already
    // at that name, a link included), with `mode` less the umask.
    virtual Result<int> CreateExclusive(std::string_view relative, mode_t mode) = 0;

    // Creates a file without a name in the directory `relativeDir`, for writing,
    // with `mode` less the umask; LinkUnnamed names it once it is complete. Until
    // then no name shows it, and if the process dies the file system frees it.
    // EOPNOTSUPP where the file system or the system cannot do this.
    virtual Result<int> CreateUnnamed(std::string_view relativeDir, mode_t mode) = 0;

    // Gives the unnamed file `fd` the name `relative`, only if nothing has it.
    virtual Status LinkUnnamed(int fd, std::string_view relative) = 0;

    // Gives `from` the name `to`, replacing the file `to` atomically.
    virtual Status RenameReplace(std::string_view from, std::string_view to) = 0;

    // Gives `from` the name `to` only if nothing has that name (EEXIST
    // otherwise). Where the file system can neither refuse to replace in one
    // step nor make a hard link, the name is looked at first and then taken.
    virtual Status RenameNoReplace(std::string_view from, std::string_view to) = 0;

    // Moves the file or directory `from` (with all it holds) into the directory
    // `toDir`, opened by this root or another on the same file system, under
    // `toName`, only if nothing has that name there (EEXIST otherwise), as
    // RenameNoReplace does; ENOENT when `toDir` was removed meanwhile, EXDEV
    // when it lies on another file system or mount. When `successor` is not
    // empty, the entry of that name beside `from` then takes `from`'s name,
    // never replacing, in the directory found once for both; `moved` says
    // whether `from` left, whatever the Status says.
    virtual Status MoveInto(std::string_view from, int toDir, std::string_view toName,
                            std::string_view successor, bool& moved) = 0;
    // Moves `from` into `toDir` under `toName` as MoveInto does, but only when
    // it is still the entry `expected` describes: the same file or directory
    // (device and inode) with the same times, and with `sized` the same size,
    // looked at in the directory the rename takes it from, just before.
    // kChanged when it is another or has changed; ENOENT or ENOTDIR when
    // nothing has the name.
    virtual Status MoveIntoIfUnchanged(std::string_view from, int toDir, std::string_view toName,
                                       const FileInfo& expected, bool sized) = 0;

    virtual Status RemoveFile(std::string_view relative) = 0;
    // Makes the directory `relative` with `mode` less the umask.
    virtual Status MakeDirectory(std::string_view relative, mode_t mode) = 0;
    // Sets the permission bits of `relative` (never through a link). A file
    // system that keeps no permission bits (FAT, exFAT) is not an error.
    virtual Status SetMode(std::string_view relative, mode_t mode) = 0;
    // Removes an empty directory; ENOTEMPTY otherwise.
    virtual Status RemoveDirectory(std::string_view relative) = 0;

    // False when nothing has the name `relative` (nor its directory): one
    // look-up, for names that are mostly not there. True otherwise, also when
    // it cannot tell; the caller then looks for real.
    virtual bool MayHold(std::string_view relative) = 0;

    // True when something (a file, a directory, a link, anything) has this
    // name; false also when the way to it cannot be resolved.
    virtual bool NameExists(std::string_view relative) = 0;

    // True when the file system below the root matches names ignoring letter
    // case, found out from `relative`, an existing entry whose name holds a
    // letter: its name with the case of its letters swapped names something,
    // and its directory lists no entry of that spelling. False also when it
    // cannot tell.
    virtual bool IgnoresCase(std::string_view relative) = 0;

    // Takes a lock on the root directory for as long as this root is open (and
    // the process lives: the kernel releases it when it dies, so no lock is
    // ever left stale). EWOULDBLOCK when another open root holds it, here or
    // in another process. A file system that keeps no locks is no failure;
    // on Windows nothing is locked.
    virtual Status Lock() = 0;

    // True when a directory above the root (its parent, and so on up to the
    // top) has an entry named `name`; false also when one cannot be looked at.
    // On Windows always false.
    virtual bool AncestorHolds(std::string_view name) = 0;

    // Writes everything the file system below the root holds in memory to its
    // disk (syncfs), so the tree survives the drive being pulled out.
    virtual Status Flush() = 0;

    // The bytes that the user running Kelvad may still write to the file
    // system below the root (on Windows, to the root's volume). Fails where
    // the file system does not say.
    virtual Result<std::uint64_t> FreeSpace() = 0;

    // The mount points below the root (bind mounts included), as paths relative
    // to it; empty when there are none (and on Windows, where a volume mounted
    // in a folder is a reparse point that no walk enters). Fails when the mount
    // table cannot be read; the caller then knows of none.
    virtual Result<std::vector<std::string>> MountPointsBelow() = 0;

    // True when the directory `dirFd`, opened by OpenDirectory, is also one of
    // the directories above it: a bind mount of one of its own ancestors, which
    // a walk down would enter for ever. False also when it cannot tell.
    virtual bool LiesInsideItself(int dirFd) = 0;

    // Whether the directory `relative` below this root ("" the root itself; a
    // mount point is entered, whatever the root's Mounts) and the root `other`
    // are the same directory or one lies inside the other, judged by what they
    // are rather than how they are spelled: symbolic links, "." and "..", bind
    // mounts and a file system that ignores letter case all count (see
    // RootsOverlap in mounts.h). Fails when `relative` cannot be opened, or
    // either root is not open.
    virtual Result<bool> Overlaps(TreeRoot& other, std::string_view relative) = 0;
    // The other half of Overlaps: whether the open directory `dirFd`, of
    // another root, and this root overlap so.
    virtual Result<bool> OverlapsDirectory(int dirFd) = 0;

    // Whether a rename can move an entry from below this root to below `other`:
    // both lie on the same mount of the same file system (OnSameMount in
    // mounts.h). Fails when either root is not open.
    virtual Result<bool> OnSameMount(TreeRoot& other) = 0;

    // The root directory's absolute path as the system names it now, whatever
    // was typed. ENOTSUP on Windows.
    virtual Result<std::string> RealPath() = 0;

    // The step in which the file system below the root keeps last-write times:
    // 2 s for FAT, and for exFAT and the FUSE file systems that may be serving
    // one; 0 where times are kept to the nanosecond or near it. Fails when the
    // file system cannot be looked at; the caller then takes 0.
    virtual Result<FileTime> TimeStep() = 0;

    // The first mount point on the way to `relative`, itself included, as a
    // path relative to the root; "" when there is none (or the way cannot be
    // looked at).
    virtual std::string MountPointOn(std::string_view relative) = 0;

    // The words for `failure`, the outcome of an operation on `relative`: the
    // system's own ("No space left on device"), or, where a mount point in the
    // way made it fail, "another file system is mounted at /s/usb", since the
    // system's words for that ("Invalid cross-device link") do not say where.
    virtual std::string Reason(const Status& failure, std::string_view relative) = 0;

    // Calls on descriptors that this root's operations opened: the same as the
    // free functions of file_ops.h, here so that a wrapped root sees them too.
    virtual Result<size_t> Read(int fd, void* buffer, size_t size) = 0;
    virtual Result<size_t> ReadAt(int fd, void* buffer, size_t size, off_t offset) = 0;
    virtual Status WriteAll(int fd, const void* buffer, size_t size) = 0;
    virtual Status WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) = 0;
    // The kernel's copy from `in` (a file of the other root) into `out`.
    virtual Result<size_t> CopyRange(int in, int out, size_t size) = 0;
    virtual Result<size_t> CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                       size_t size) = 0;
    virtual Result<off_t> SeekData(int fd, off_t offset) = 0;
    virtual Result<off_t> SeekHole(int fd, off_t offset) = 0;
    virtual Status Truncate(int fd, off_t size) = 0;
    // Puts the descriptor's offset back at the start of the file.
    virtual Status Rewind(int fd) = 0;
    // Has the bytes of the output `fd` from `start` to `end` written to the
    // disk without waiting for them, then waits until those from `settled` to
    // `start` (handed over by an earlier call) are on the disk and drops them
    // from the memory cache: a large copy then goes at the disk's pace, not
    // the cache's, and leaves the cache to the rest of the system. Does
    // nothing where the system cannot do it (Windows).
    virtual Status WriteOut(int fd, off_t settled, off_t start, off_t end) = 0;
    virtual Status Describe(int fd, FileInfo& info) = 0;
    // Gives the open output `fd` the last-write and last-access times of
    // `source` and, when the process may (as root), its owner and group, as
    // `cp -a` does. A file system that keeps no owners (FAT, exFAT) is not an
    // error.
    virtual Status KeepAttributes(int fd, const FileInfo& source) = 0;
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
    virtual Status KeepExtendedAttributes(int sourceFd, int fd) = 0;
    // Gives the directory or file `relative` the owner and group `source` has,
    // when the process may (as root); otherwise does nothing.
    virtual Status KeepOwner(std::string_view relative, const FileInfo& source) = 0;
    virtual Status Close(int fd) = 0;
};

// Opens the directory `path` as typed, as this system's root; a symbolic link
// at `path` itself is followed (a root may be typed as a link), nothing below
// it is. Never null: when the directory cannot be opened the root says why in
// OpenStatus() and every operation fails so. The caller owns the root.
std::unique_ptr<TreeRoot> OpenTreeRoot(std::string path, Mounts mounts = Mounts::Cross);

// A root that passes every call to the root it holds, as it is: the base of a
// test's root that changes a few of them. It owns its target.
class TreeRootWrapper : public TreeRoot {
public:
    explicit TreeRootWrapper(std::unique_ptr<TreeRoot> target) : m_target(std::move(target)) {}

    std::unique_ptr<TreeRoot> SecondHandle() const override;
    bool IsOpen() const override;
    const Status& OpenStatus() const override;
    const std::string& Path() const override;
    Result<int> OpenDirectory(std::string_view relative) override;
    bool NextMatch(DirSearch& search, DirMatch& match) override;
    Status DescribeName(std::string_view relative, FileInfo& info) override;
    Result<bool> LeadsTo(std::string_view relative, const FileInfo& opened,
                         FileInfo& named) override;
    Result<int> OpenForRead(std::string_view relative, FileInfo& info) override;
    Result<std::string> ReadLink(std::string_view relative) override;
    Result<int> CreateExclusive(std::string_view relative, mode_t mode) override;
    Result<int> CreateUnnamed(std::string_view relativeDir, mode_t mode) override;
    Status LinkUnnamed(int fd, std::string_view relative) override;
    Status RenameReplace(std::string_view from, std::string_view to) override;
    Status RenameNoReplace(std::string_view from, std::string_view to) override;
    Status MoveInto(std::string_view from, int toDir, std::string_view toName,
                    std::string_view successor, bool& moved) override;
    Status MoveIntoIfUnchanged(std::string_view from, int toDir, std::string_view toName,
                               const FileInfo& expected, bool sized) override;
    Status RemoveFile(std::string_view relative) override;
    Status MakeDirectory(std::string_view relative, mode_t mode) override;
    Status SetMode(std::string_view relative, mode_t mode) override;
    Status RemoveDirectory(std::string_view relative) override;
    bool MayHold(std::string_view relative) override;
    bool NameExists(std::string_view relative) override;
    bool IgnoresCase(std::string_view relative) override;
    Status Lock() override;
    bool AncestorHolds(std::string_view name) override;
    Status Flush() override;
    Result<std::uint64_t> FreeSpace() override;
    Result<std::vector<std::string>> MountPointsBelow() override;
    bool LiesInsideItself(int dirFd) override;
    Result<bool> Overlaps(TreeRoot& other, std::string_view relative) override;
    Result<bool> OverlapsDirectory(int dirFd) override;
    Result<bool> OnSameMount(TreeRoot& other) override;
    Result<std::string> RealPath() override;
    Result<FileTime> TimeStep() override;
    std::string MountPointOn(std::string_view relative) override;
    std::string Reason(const Status& failure, std::string_view relative) override;
    Result<size_t> Read(int fd, void* buffer, size_t size) override;
    Result<size_t> ReadAt(int fd, void* buffer, size_t size, off_t offset) override;
    Status WriteAll(int fd, const void* buffer, size_t size) override;
    Status WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) override;
    Result<size_t> CopyRange(int in, int out, size_t size) override;
    Result<size_t> CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                               size_t size) override;
    Result<off_t> SeekData(int fd, off_t offset) override;
    Result<off_t> SeekHole(int fd, off_t offset) override;
    Status Truncate(int fd, off_t size) override;
    Status Rewind(int fd) override;
    Status WriteOut(int fd, off_t settled, off_t start, off_t end) override;
    Status Describe(int fd, FileInfo& info) override;
    Status KeepAttributes(int fd, const FileInfo& source) override;
    Status KeepExtendedAttributes(int sourceFd, int fd) override;
    Status KeepOwner(std::string_view relative, const FileInfo& source) override;
    Status Close(int fd) override;

private:
    std::unique_ptr<TreeRoot> m_target;
};

}  // namespace platform

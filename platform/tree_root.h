// A handle on the root directory of a tree, opened once, and every file-system
// operation below it. A path below the root is relative to it and is resolved
// beneath it without following any symbolic link, so a directory swapped for a
// link while a run goes on can never lead a read or a change outside the tree;
// and since no call sees a whole path, paths of any length work.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/file_time.h"

struct stat;

namespace platform {

enum class Call;  // fault_injection.h

// What opening a file for reading learnt of it, from the open descriptor.
struct FileInfo {
    off_t size = 0;
    mode_t mode = 0;          // the permission bits
    FileTime lastWrite = 0;
    FileTime lastChange = 0;  // the inode's change time
    bool sparse = false;      // fewer blocks than its size needs: it has holes
};

class TreeRoot {
public:
    // Opens the directory `path` as typed; a symbolic link at `path` itself is
    // followed (a root may be typed as a link), nothing below it is. When the
    // directory cannot be opened every operation fails with OpenError().
    explicit TreeRoot(std::string path);
    ~TreeRoot();
    TreeRoot(const TreeRoot&) = delete;
    TreeRoot& operator=(const TreeRoot&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int OpenError() const { return m_openError; }
    // The root as typed.
    const std::string& Path() const { return m_path; }

    // Every function below takes a path relative to the root ("" is the root
    // itself for OpenDirectory, CreateUnnamed and MakeDirectory's parent) and
    // follows the POSIX convention: a negative result is a failure, errno says
    // why. A symbolic link anywhere on the way gives ELOOP.

    // Opens the directory `relative` for listing; the caller owns the descriptor.
    int OpenDirectory(std::string_view relative);

    // Opens a regular file for reading and describes it. A link, FIFO, device or
    // directory is refused without being read (ELOOP, or EINVAL for anything
    // that is not a regular file). The caller closes the descriptor.
    int OpenForRead(std::string_view relative, FileInfo& info);

    // Creates a new file for writing, exclusively (EEXIST for anything already
    // at that name, a link included), with `mode` less the umask.
    int CreateExclusive(std::string_view relative, mode_t mode);

    // Creates a file without a name in the directory `relativeDir`, for writing,
    // with `mode` less the umask; LinkUnnamed names it once it is complete. Until
    // then no name shows it, and if the process dies the file system frees it.
    // EOPNOTSUPP where the file system or the system cannot do this.
    int CreateUnnamed(std::string_view relativeDir, mode_t mode);

    // Gives the unnamed file `fd` the name `relative`, only if nothing has it.
    int LinkUnnamed(int fd, std::string_view relative);

    // Gives `from` the name `to`, replacing the file `to` atomically.
    int RenameReplace(std::string_view from, std::string_view to);

    // Gives `from` the name `to` only if nothing has that name (EEXIST
    // otherwise). Where the file system can neither refuse to replace in one
    // step nor make a hard link, the name is looked at first and then taken.
    int RenameNoReplace(std::string_view from, std::string_view to);

    int RemoveFile(std::string_view relative);
    // Makes the directory `relative` with `mode` less the umask.
    int MakeDirectory(std::string_view relative, mode_t mode);
    // Sets the permission bits of `relative` (never through a link). A file
    // system that keeps no permission bits (FAT, exFAT) is not an error.
    int SetMode(std::string_view relative, mode_t mode);
    // Removes an empty directory; ENOTEMPTY otherwise.
    int RemoveDirectory(std::string_view relative);

    // The permission bits of the directory or file `relative`; -1 on failure.
    int ModeOf(std::string_view relative);

    // True when something (a file, a directory, a link, anything) has this name.
    bool NameExists(std::string_view relative);

    // True when the file system below the root matches names ignoring letter
    // case, found out from `relative`, an existing entry whose name holds a
    // letter: its name with the case of its letters swapped names something,
    // and its directory lists no entry of that spelling.
    bool IgnoresCase(std::string_view relative);

    // Writes everything the file system below the root holds in memory to its
    // disk (syncfs), so the tree survives the drive being pulled out.
    int Flush();

private:
    // The directory that holds `relative` and the last component of it; the
    // descriptor is the root's or the one kept for the last directory resolved
    // (consecutive operations mostly share one directory). -1 on failure.
    int Parent(std::string_view relative, std::string_view& name);
    // The directory `relativeDir` ("" the root), kept open as Parent keeps it.
    int Directory(std::string_view relativeDir);
    void ForgetCachedDirectory();
    // Tells the fault hook of `call`, resolves the directory that holds
    // `relative`, and runs operation(directory, last component) there.
    template <typename Operation>
    int AtParent(Call call, std::string_view relative, Operation operation);

    std::string m_path;
    int m_fd = -1;
    int m_openError = 0;
    std::string m_cachedDir;
    int m_cachedFd = -1;
};

// Opens a directory `relative` beneath `dirFd` (both a directory descriptor,
// "" for `dirFd` itself) following no symbolic link; paths longer than the
// system's path limit are walked in pieces. Returns the new descriptor or -1.
int OpenDirectoryBeneath(int dirFd, std::string_view relative);

namespace detail {
void FillFileInfo(const struct stat& st, FileInfo& info);
}

}  // namespace platform

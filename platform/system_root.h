// The system's own root, behind the TreeRoot interface: what both systems'
// implementations declare, for platform/ alone. tree_root.cpp holds what they
// share; tree_root_posix.cpp and tree_root_windows.cpp the rest.
#pragma once

#include <string>
#include <string_view>

#include "platform/tree_root.h"

#ifndef _WIN32
struct stat;
#endif

namespace platform {

class SystemRoot final : public TreeRoot {
public:
    // Opens the directory `path` as OpenTreeRoot says.
    SystemRoot(std::string path, Mounts mounts);
    // Takes `fd` (-1 when it could not be opened, as `openStatus` says).
    SystemRoot(int fd, std::string path, Mounts mounts, Status openStatus);
    ~SystemRoot() override;

    std::unique_ptr<TreeRoot> SecondHandle() const override;
    bool IsOpen() const override { return m_fd >= 0; }
    const Status& OpenStatus() const override { return m_openStatus; }
    const std::string& Path() const override { return m_path; }
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
    // Gives `fromName` in the directory `fromDir` the name `toName` in `toDir`
    // only if nothing has it (RenameNoReplace's rule); one for each system.
    static Status RenameNoReplaceBetween(int fromDir, const std::string& fromName, int toDir,
                                         const std::string& toName);
    // Describes what `name` in the directory `dir` is (never through a link);
    // one for each system.
    static Status DescribeIn(int dir, const std::string& name, FileInfo& info);
    // The directory `relativeDir` ("" the root), resolved from the root anew;
    // closed when it goes, unless it is the root's own.
    class Dir {
    public:
        Dir(Result<int> fd, bool owned) : m_fd(std::move(fd)), m_owned(owned) {}
        ~Dir();
        Dir(const Dir&) = delete;
        Dir& operator=(const Dir&) = delete;
        const Result<int>& operator*() const { return m_fd; }

    private:
        Result<int> m_fd;
        bool m_owned;
    };
    Dir Directory(std::string_view relativeDir);
    // Resolves the directory that holds `relative` and runs
    // operation(directory, last component) there; the operation returns a
    // Status or a Result.
    template <typename Operation>
    auto AtParent(std::string_view relative, Operation operation) -> decltype(operation(0, ""));

    std::string m_path;
    Mounts m_mounts;
    int m_fd = -1;
    Status m_openStatus;
};

template <typename Operation>
inline auto SystemRoot::AtParent(std::string_view relative, Operation operation)
    -> decltype(operation(0, "")) {
    const size_t slash = relative.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? relative : relative.substr(slash + 1);
    const Dir dir =
        Directory(slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash));
    if (!(*dir).ok()) {
        return (*dir).status();
    }
    return operation(**dir, std::string(name));
}

// Opens a directory `relative` beneath `dirFd` (both a directory descriptor,
// "" for `dirFd` itself) following no symbolic link; paths longer than the
// system's path limit are walked in pieces. With Mounts::Stay no mount point is
// passed (EXDEV). Returns the new descriptor.
Result<int> OpenDirectoryBeneath(int dirFd, std::string_view relative,
                                 Mounts mounts = Mounts::Cross);

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

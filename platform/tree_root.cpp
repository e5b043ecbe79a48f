// What the root handle does the same way on every system: the way to a name's
// directory, the letter-case probe, where the tree lies among the mounted file
// systems, the calls on open descriptors, which pass to the file services, and
// the wrapper that passes every call on.
#include "platform/tree_root.h"

#include <cerrno>

#include "platform/file_ops.h"
#include "platform/mounts.h"
#include "platform/path_compare.h"
#include "platform/system_root.h"

namespace platform {

namespace {
std::string SwapCase(std::string_view name) {
    std::string s(name);
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}
}  // namespace

std::unique_ptr<TreeRoot> OpenTreeRoot(std::string path, Mounts mounts) {
    return std::make_unique<SystemRoot>(std::move(path), mounts);
}

SystemRoot::~SystemRoot() {
    if (m_fd >= 0) {
        (void)CloseFile(m_fd);
    }
}

SystemRoot::Dir::~Dir() {
    if (m_owned && m_fd.ok()) {
        (void)CloseFile(*m_fd);
    }
}

// No directory below the root is kept from one call to the next: the next
// call may come after the directory was moved out of the tree. On Linux the
// calls that open a file take their whole way in one call (OpenAtOnce), so a
// copied file still costs the 20 system calls it did when a directory was kept.
SystemRoot::Dir SystemRoot::Directory(std::string_view dir) {
    if (m_fd < 0) {
        return Dir(m_openStatus, false);
    }
    if (dir.empty()) {
        return Dir(m_fd, false);
    }
    return Dir(OpenDirectoryBeneath(m_fd, dir, m_mounts), true);
}

Result<int> SystemRoot::OpenDirectory(std::string_view relative) {
    if (m_fd < 0) {
        return m_openStatus;
    }
    return OpenDirectoryBeneath(m_fd, relative, m_mounts);
}

bool SystemRoot::NameExists(std::string_view relative) {
    const Result<bool> exists = AtParent(relative, [](int dir, const std::string& name) {
        return Result<bool>(detail::HasEntry(dir, name));
    });
    return exists.ok() && *exists;
}

bool SystemRoot::IgnoresCase(std::string_view relative) {
    const Result<bool> ignores = AtParent(relative, [](int dir, const std::string& name) {
        const std::string swapped = SwapCase(name);
        // The other spelling names something. It is the same entry unless the
        // directory lists it as one of its own (through FUSE the two spellings
        // may even show different inode numbers, so the listing decides).
        return Result<bool>(swapped != name && detail::HasEntry(dir, swapped) &&
                            !detail::ListsName(dir, swapped));
    });
    return ignores.ok() && *ignores;
}

Result<std::vector<std::string>> SystemRoot::MountPointsBelow() {
    if (m_fd < 0) {
        return m_openStatus;
    }
    return platform::MountPointsBelow(m_fd);
}

bool SystemRoot::LiesInsideItself(int dirFd) {
    return platform::LiesInsideItself(dirFd);
}

Status SystemRoot::RenameNoReplace(std::string_view from, std::string_view to) {
    const std::string fromName(from.substr(from.rfind('/') + 1));  // a sibling of `to`
    return AtParent(to, [&fromName](int dir, const std::string& toName) {
        return RenameNoReplaceBetween(dir, fromName, dir, toName);
    });
}

Status SystemRoot::MoveInto(std::string_view from, int toDir, std::string_view toName,
                            std::string_view successor, bool& moved) {
    moved = false;
    const std::string to(toName);
    return AtParent(from, [&](int dir, const std::string& name) {
        const Status away = RenameNoReplaceBetween(dir, name, toDir, to);
        moved = away.ok();
        if (!moved || successor.empty()) {
            return away;
        }
        return RenameNoReplaceBetween(dir, std::string(successor), dir, name);
    });
}

Status SystemRoot::MoveIntoIfUnchanged(std::string_view from, int toDir, std::string_view toName,
                                       const FileInfo& expected, bool sized) {
    const std::string to(toName);
    return AtParent(from, [&](int dir, const std::string& name) {
        FileInfo now;
        if (const Status described = DescribeIn(dir, name, now); !described.ok()) {
            return described;
        }
        if (now.device != expected.device || now.inode != expected.inode ||
            now.lastWrite != expected.lastWrite || now.lastChange != expected.lastChange ||
            (sized && now.size != expected.size)) {
            return Status::Failed("rename", kChanged);
        }
        return RenameNoReplaceBetween(dir, name, toDir, to);
    });
}

Result<bool> SystemRoot::Overlaps(TreeRoot& other, std::string_view relative) {
    if (m_fd < 0) {
        return m_openStatus;
    }
    if (relative.empty()) {
        return other.OverlapsDirectory(m_fd);
    }
    // A mount point is what is asked about: it is entered whatever the root's
    // Mounts say.
    const Result<int> fd = OpenDirectoryBeneath(m_fd, relative, Mounts::Cross);
    if (!fd.ok()) {
        return fd.status();
    }
    const Result<bool> overlap = other.OverlapsDirectory(*fd);
    (void)CloseFile(*fd);
    return overlap;
}

Result<bool> SystemRoot::OnSameMount(TreeRoot& other) {
    if (m_fd < 0) {
        return m_openStatus;
    }
    const Result<int> fd = other.OpenDirectory("");
    if (!fd.ok()) {
        return fd.status();
    }
    const bool same = platform::OnSameMount(m_fd, *fd);
    (void)other.Close(*fd);
    return same;
}

Result<bool> SystemRoot::OverlapsDirectory(int dirFd) {
    if (m_fd < 0) {
        return m_openStatus;
    }
    return RootsOverlap(dirFd, m_fd);
}

Result<FileTime> SystemRoot::TimeStep() {
    if (m_fd < 0) {
        return m_openStatus;
    }
    return TimeStepOf(m_fd);
}

bool SystemRoot::NextMatch(DirSearch& search, DirMatch& match) {
    return search.Next(match);
}

std::string SystemRoot::Reason(const Status& failure, std::string_view relative) {
    if (failure.Is(EXDEV) || failure.Is(EBUSY)) {
        const std::string mountPoint = MountPointOn(relative);
        if (!mountPoint.empty()) {
            return "another file system is mounted at " + m_path + kSeparator + mountPoint;
        }
    }
    return failure.Reason();
}

Result<size_t> SystemRoot::Read(int fd, void* buffer, size_t size) {
    return ReadSome(fd, buffer, size);
}

Result<size_t> SystemRoot::ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return platform::ReadAt(fd, buffer, size, offset);
}

Status SystemRoot::WriteAll(int fd, const void* buffer, size_t size) {
    return platform::WriteAll(fd, buffer, size);
}

Status SystemRoot::WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    return platform::WriteAllAt(fd, buffer, size, offset);
}

Result<size_t> SystemRoot::CopyRange(int in, int out, size_t size) {
    return platform::CopyRange(in, out, size);
}

Result<size_t> SystemRoot::CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                       size_t size) {
    return platform::CopyRangeAt(in, inOffset, out, outOffset, size);
}

Result<off_t> SystemRoot::SeekData(int fd, off_t offset) {
    return platform::SeekData(fd, offset);
}

Result<off_t> SystemRoot::SeekHole(int fd, off_t offset) {
    return platform::SeekHole(fd, offset);
}

Status SystemRoot::Truncate(int fd, off_t size) {
    return platform::Truncate(fd, size);
}

Status SystemRoot::Rewind(int fd) {
    return platform::Rewind(fd);
}

Status SystemRoot::Describe(int fd, FileInfo& info) {
    return DescribeOpenFile(fd, info);
}

Status SystemRoot::Close(int fd) {
    return CloseFile(fd);
}

std::unique_ptr<TreeRoot> TreeRootWrapper::SecondHandle() const {
    return m_target->SecondHandle();
}

bool TreeRootWrapper::IsOpen() const {
    return m_target->IsOpen();
}

const Status& TreeRootWrapper::OpenStatus() const {
    return m_target->OpenStatus();
}

const std::string& TreeRootWrapper::Path() const {
    return m_target->Path();
}

Result<int> TreeRootWrapper::OpenDirectory(std::string_view relative) {
    return m_target->OpenDirectory(relative);
}

bool TreeRootWrapper::NextMatch(DirSearch& search, DirMatch& match) {
    return m_target->NextMatch(search, match);
}

Status TreeRootWrapper::DescribeName(std::string_view relative, FileInfo& info) {
    return m_target->DescribeName(relative, info);
}

Result<bool> TreeRootWrapper::LeadsTo(std::string_view relative, const FileInfo& opened,
                                      FileInfo& named) {
    return m_target->LeadsTo(relative, opened, named);
}

Result<int> TreeRootWrapper::OpenForRead(std::string_view relative, FileInfo& info) {
    return m_target->OpenForRead(relative, info);
}

Result<std::string> TreeRootWrapper::ReadLink(std::string_view relative) {
    return m_target->ReadLink(relative);
}

Result<int> TreeRootWrapper::CreateExclusive(std::string_view relative, mode_t mode) {
    return m_target->CreateExclusive(relative, mode);
}

Result<int> TreeRootWrapper::CreateUnnamed(std::string_view relativeDir, mode_t mode) {
    return m_target->CreateUnnamed(relativeDir, mode);
}

Status TreeRootWrapper::LinkUnnamed(int fd, std::string_view relative) {
    return m_target->LinkUnnamed(fd, relative);
}

Status TreeRootWrapper::RenameReplace(std::string_view from, std::string_view to) {
    return m_target->RenameReplace(from, to);
}

Status TreeRootWrapper::RenameNoReplace(std::string_view from, std::string_view to) {
    return m_target->RenameNoReplace(from, to);
}

Status TreeRootWrapper::RemoveFile(std::string_view relative) {
    return m_target->RemoveFile(relative);
}

Status TreeRootWrapper::MakeDirectory(std::string_view relative, mode_t mode) {
    return m_target->MakeDirectory(relative, mode);
}

Status TreeRootWrapper::SetMode(std::string_view relative, mode_t mode) {
    return m_target->SetMode(relative, mode);
}

Status TreeRootWrapper::RemoveDirectory(std::string_view relative) {
    return m_target->RemoveDirectory(relative);
}

bool TreeRootWrapper::MayHold(std::string_view relative) {
    return m_target->MayHold(relative);
}

bool TreeRootWrapper::NameExists(std::string_view relative) {
    return m_target->NameExists(relative);
}

bool TreeRootWrapper::IgnoresCase(std::string_view relative) {
    return m_target->IgnoresCase(relative);
}

Status TreeRootWrapper::Lock() {
    return m_target->Lock();
}

bool TreeRootWrapper::AncestorHolds(std::string_view name) {
    return m_target->AncestorHolds(name);
}

Status TreeRootWrapper::Flush() {
    return m_target->Flush();
}

Result<std::uint64_t> TreeRootWrapper::FreeSpace() {
    return m_target->FreeSpace();
}

Result<std::vector<std::string>> TreeRootWrapper::MountPointsBelow() {
    return m_target->MountPointsBelow();
}

bool TreeRootWrapper::LiesInsideItself(int dirFd) {
    return m_target->LiesInsideItself(dirFd);
}

Result<bool> TreeRootWrapper::Overlaps(TreeRoot& other, std::string_view relative) {
    return m_target->Overlaps(other, relative);
}

Result<bool> TreeRootWrapper::OverlapsDirectory(int dirFd) {
    return m_target->OverlapsDirectory(dirFd);
}

Status TreeRootWrapper::MoveInto(std::string_view from, int toDir, std::string_view toName,
                                 std::string_view successor, bool& moved) {
    return m_target->MoveInto(from, toDir, toName, successor, moved);
}

Status TreeRootWrapper::MoveIntoIfUnchanged(std::string_view from, int toDir,
                                            std::string_view toName, const FileInfo& expected,
                                            bool sized) {
    return m_target->MoveIntoIfUnchanged(from, toDir, toName, expected, sized);
}

Result<bool> TreeRootWrapper::OnSameMount(TreeRoot& other) {
    return m_target->OnSameMount(other);
}

Result<std::string> TreeRootWrapper::RealPath() {
    return m_target->RealPath();
}

Result<FileTime> TreeRootWrapper::TimeStep() {
    return m_target->TimeStep();
}

std::string TreeRootWrapper::MountPointOn(std::string_view relative) {
    return m_target->MountPointOn(relative);
}

std::string TreeRootWrapper::Reason(const Status& failure, std::string_view relative) {
    return m_target->Reason(failure, relative);
}

Result<size_t> TreeRootWrapper::Read(int fd, void* buffer, size_t size) {
    return m_target->Read(fd, buffer, size);
}

Result<size_t> TreeRootWrapper::ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return m_target->ReadAt(fd, buffer, size, offset);
}

Status TreeRootWrapper::WriteAll(int fd, const void* buffer, size_t size) {
    return m_target->WriteAll(fd, buffer, size);
}

Status TreeRootWrapper::WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    return m_target->WriteAllAt(fd, buffer, size, offset);
}

Result<size_t> TreeRootWrapper::CopyRange(int in, int out, size_t size) {
    return m_target->CopyRange(in, out, size);
}

Result<size_t> TreeRootWrapper::CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                            size_t size) {
    return m_target->CopyRangeAt(in, inOffset, out, outOffset, size);
}

Result<off_t> TreeRootWrapper::SeekData(int fd, off_t offset) {
    return m_target->SeekData(fd, offset);
}

Result<off_t> TreeRootWrapper::SeekHole(int fd, off_t offset) {
    return m_target->SeekHole(fd, offset);
}

Status TreeRootWrapper::Truncate(int fd, off_t size) {
    return m_target->Truncate(fd, size);
}

Status TreeRootWrapper::Rewind(int fd) {
    return m_target->Rewind(fd);
}

Status TreeRootWrapper::WriteOut(int fd, off_t settled, off_t start, off_t end) {
    return m_target->WriteOut(fd, settled, start, end);
}

Status TreeRootWrapper::Describe(int fd, FileInfo& info) {
    return m_target->Describe(fd, info);
}

Status TreeRootWrapper::KeepAttributes(int fd, const FileInfo& source) {
    return m_target->KeepAttributes(fd, source);
}

Status TreeRootWrapper::KeepExtendedAttributes(int sourceFd, int fd) {
    return m_target->KeepExtendedAttributes(sourceFd, fd);
}

Status TreeRootWrapper::KeepOwner(std::string_view relative, const FileInfo& source) {
    return m_target->KeepOwner(relative, source);
}

Status TreeRootWrapper::Close(int fd) {
    return m_target->Close(fd);
}

}  // namespace platform

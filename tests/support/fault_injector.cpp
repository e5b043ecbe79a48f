#include "support/fault_injector.h"

#include <cerrno>

const char* CallName(Call call) {
    switch (call) {
        case Call::Open:
            return "open";
        case Call::Create:
            return "create";
        case Call::Read:
            return "read";
        case Call::Write:
            return "write";
        case Call::CopyRange:
            return "copy_file_range";
        case Call::Close:
            return "close";
        case Call::Rename:
            return "rename";
        case Call::Unlink:
            return "unlink";
        case Call::Mkdir:
            return "mkdir";
        case Call::Rmdir:
            return "rmdir";
        case Call::OpenDir:
            return "opendir";
        case Call::ReadDir:
            return "readdir";
        case Call::Stat:
            return "stat";
        case Call::Chmod:
            return "chmod";
        case Call::Sync:
            return "syncfs";
        case Call::Xattr:
            return "fsetxattr";
        case Call::Times:
            return "futimens";
        case Call::Chown:
            return "fchownat";
        case Call::ReadLink:
            return "readlinkat";
        case Call::Lock:
            return "flock";
        case Call::Probe:
            return "probe";
        case Call::Mounts:
            return "mountinfo";
        case Call::Overlap:
            return "overlap";
        case Call::TimeStep:
            return "statfs";
        case Call::Keep:
            return "renameat2";
    }
    return "?";
}

namespace {
// The injected failure, or what `operation` returns when there is none.
template <typename Operation>
auto Unless(const platform::Status& failure, Operation operation) -> decltype(operation()) {
    if (!failure.ok()) {
        return failure;
    }
    return operation();
}
}  // namespace

platform::Status FaultyRoot::Fails(Call call, std::string_view relative) {
    std::string path = Path();
    if (!relative.empty()) {
        path.append(1, '/').append(relative);
    }
    int err;
    {
        std::lock_guard<std::mutex> lock(m_faults.m_mutex);
        err = m_faults.Fail(call, path);
    }
    return err != 0 ? platform::Status::Failed(CallName(call), err) : platform::Status();
}

platform::Result<int> FaultyRoot::OpenDirectory(std::string_view relative) {
    return Unless(Fails(Call::OpenDir, relative),
                  [&] { return TreeRootWrapper::OpenDirectory(relative); });
}

bool FaultyRoot::NextMatch(platform::DirSearch& search, platform::DirMatch& match) {
    // A listing breaks off the way a failing readdir or stat of an entry does.
    for (Call call : {Call::ReadDir, Call::Stat}) {
        if (const platform::Status failure = Fails(call); !failure.ok()) {
            search.Fail(failure);
            return false;
        }
    }
    return TreeRootWrapper::NextMatch(search, match);
}

platform::Result<int> FaultyRoot::OpenForRead(std::string_view relative, platform::FileInfo& info) {
    return Unless(Fails(Call::Open, relative),
                  [&] { return TreeRootWrapper::OpenForRead(relative, info); });
}

platform::Result<int> FaultyRoot::CreateExclusive(std::string_view relative, mode_t mode) {
    return Unless(Fails(Call::Create, relative),
                  [&] { return TreeRootWrapper::CreateExclusive(relative, mode); });
}

platform::Result<int> FaultyRoot::CreateUnnamed(std::string_view relativeDir, mode_t mode) {
    return Unless(Fails(Call::Create, relativeDir),
                  [&] { return TreeRootWrapper::CreateUnnamed(relativeDir, mode); });
}

platform::Status FaultyRoot::LinkUnnamed(int fd, std::string_view relative) {
    return Unless(Fails(Call::Rename, relative),
                  [&] { return TreeRootWrapper::LinkUnnamed(fd, relative); });
}

platform::Status FaultyRoot::RenameReplace(std::string_view from, std::string_view to) {
    return Unless(Fails(Call::Rename, to),
                  [&] { return TreeRootWrapper::RenameReplace(from, to); });
}

platform::Status FaultyRoot::RenameNoReplace(std::string_view from, std::string_view to) {
    return Unless(Fails(Call::Rename, to),
                  [&] { return TreeRootWrapper::RenameNoReplace(from, to); });
}

platform::Status FaultyRoot::MoveInto(std::string_view from, int toDir, std::string_view toName,
                                      std::string_view successor, bool& moved) {
    moved = false;
    if (const platform::Status kept = Fails(Call::Keep, from); !kept.ok()) {
        return kept;
    }
    // The successor's rename fails as a rename of its own would.
    if (const platform::Status renamed =
            successor.empty() ? platform::Status() : Fails(Call::Rename, from);
        !renamed.ok()) {
        const platform::Status away = TreeRootWrapper::MoveInto(from, toDir, toName, {}, moved);
        return away.ok() ? renamed : away;
    }
    return TreeRootWrapper::MoveInto(from, toDir, toName, successor, moved);
}

platform::Status FaultyRoot::MoveIntoIfUnchanged(std::string_view from, int toDir,
                                                 std::string_view toName,
                                                 const platform::FileInfo& expected, bool sized) {
    // The look at the source fails as DescribeName would, the rename as MoveInto's.
    if (const platform::Status looked = Fails(Call::Stat, from); !looked.ok()) {
        return looked;
    }
    return Unless(Fails(Call::Keep, from), [&] {
        return TreeRootWrapper::MoveIntoIfUnchanged(from, toDir, toName, expected, sized);
    });
}

platform::Status FaultyRoot::RemoveFile(std::string_view relative) {
    return Unless(Fails(Call::Unlink, relative),
                  [&] { return TreeRootWrapper::RemoveFile(relative); });
}

platform::Status FaultyRoot::MakeDirectory(std::string_view relative, mode_t mode) {
    return Unless(Fails(Call::Mkdir, relative),
                  [&] { return TreeRootWrapper::MakeDirectory(relative, mode); });
}

platform::Status FaultyRoot::SetMode(std::string_view relative, mode_t mode) {
    return Unless(Fails(Call::Chmod, relative),
                  [&] { return TreeRootWrapper::SetMode(relative, mode); });
}

platform::Status FaultyRoot::RemoveDirectory(std::string_view relative) {
    return Unless(Fails(Call::Rmdir, relative),
                  [&] { return TreeRootWrapper::RemoveDirectory(relative); });
}

platform::Result<bool> FaultyRoot::LeadsTo(std::string_view relative,
                                           const platform::FileInfo& opened,
                                           platform::FileInfo& named) {
    if (const platform::Status failed = Fails(Call::Stat, relative); !failed.ok()) {
        return failed;
    }
    return TreeRootWrapper::LeadsTo(relative, opened, named);
}

platform::Status FaultyRoot::DescribeName(std::string_view relative, platform::FileInfo& info) {
    return Unless(Fails(Call::Stat, relative),
                  [&] { return TreeRootWrapper::DescribeName(relative, info); });
}

platform::Status FaultyRoot::Flush() {
    return Unless(Fails(Call::Sync), [&] { return TreeRootWrapper::Flush(); });
}

platform::Result<size_t> FaultyRoot::Read(int fd, void* buffer, size_t size) {
    return Unless(Fails(Call::Read), [&] { return TreeRootWrapper::Read(fd, buffer, size); });
}

platform::Result<size_t> FaultyRoot::ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return Unless(Fails(Call::Read),
                  [&] { return TreeRootWrapper::ReadAt(fd, buffer, size, offset); });
}

platform::Status FaultyRoot::WriteAll(int fd, const void* buffer, size_t size) {
    return Unless(Fails(Call::Write), [&] { return TreeRootWrapper::WriteAll(fd, buffer, size); });
}

platform::Status FaultyRoot::WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    return Unless(Fails(Call::Write),
                  [&] { return TreeRootWrapper::WriteAllAt(fd, buffer, size, offset); });
}

platform::Result<size_t> FaultyRoot::CopyRange(int in, int out, size_t size) {
    return Unless(Fails(Call::CopyRange),
                  [&] { return TreeRootWrapper::CopyRange(in, out, size); });
}

platform::Result<size_t> FaultyRoot::CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                                 size_t size) {
    return Unless(Fails(Call::CopyRange),
                  [&] { return TreeRootWrapper::CopyRangeAt(in, inOffset, out, outOffset, size); });
}

platform::Result<off_t> FaultyRoot::SeekData(int fd, off_t offset) {
    return Unless(Fails(Call::Read), [&] { return TreeRootWrapper::SeekData(fd, offset); });
}

platform::Result<off_t> FaultyRoot::SeekHole(int fd, off_t offset) {
    return Unless(Fails(Call::Read), [&] { return TreeRootWrapper::SeekHole(fd, offset); });
}

platform::Status FaultyRoot::Truncate(int fd, off_t size) {
    return Unless(Fails(Call::Write), [&] { return TreeRootWrapper::Truncate(fd, size); });
}

platform::Status FaultyRoot::Describe(int fd, platform::FileInfo& info) {
    return Unless(Fails(Call::Stat), [&] { return TreeRootWrapper::Describe(fd, info); });
}

platform::Status FaultyRoot::KeepExtendedAttributes(int sourceFd, int fd) {
    return Unless(Fails(Call::Xattr),
                  [&] { return TreeRootWrapper::KeepExtendedAttributes(sourceFd, fd); });
}

platform::Status FaultyRoot::Close(int fd) {
    const platform::Status failure = Fails(Call::Close);
    const platform::Status closed =
        TreeRootWrapper::Close(fd);  // released whatever the injected result
    return failure.ok() ? closed : failure;
}

platform::Result<std::string> FaultyRoot::ReadLink(std::string_view relative) {
    return Unless(Fails(Call::ReadLink, relative),
                  [&] { return TreeRootWrapper::ReadLink(relative); });
}

platform::Status FaultyRoot::KeepAttributes(int fd, const platform::FileInfo& source) {
    return Unless(Fails(Call::Times), [&] { return TreeRootWrapper::KeepAttributes(fd, source); });
}

platform::Status FaultyRoot::KeepOwner(std::string_view relative,
                                       const platform::FileInfo& source) {
    return Unless(Fails(Call::Chown, relative),
                  [&] { return TreeRootWrapper::KeepOwner(relative, source); });
}

platform::Status FaultyRoot::Rewind(int fd) {
    return Unless(Fails(Call::Write), [&] { return TreeRootWrapper::Rewind(fd); });
}

platform::Status FaultyRoot::Lock() {
    return Unless(Fails(Call::Lock), [&] { return TreeRootWrapper::Lock(); });
}

bool FaultyRoot::MayHold(std::string_view relative) {
    return !Fails(Call::Probe, relative).ok() || TreeRootWrapper::MayHold(relative);
}

bool FaultyRoot::NameExists(std::string_view relative) {
    return Fails(Call::Probe, relative).ok() && TreeRootWrapper::NameExists(relative);
}

bool FaultyRoot::IgnoresCase(std::string_view relative) {
    return Fails(Call::Probe, relative).ok() && TreeRootWrapper::IgnoresCase(relative);
}

bool FaultyRoot::AncestorHolds(std::string_view name) {
    return Fails(Call::Probe).ok() && TreeRootWrapper::AncestorHolds(name);
}

std::string FaultyRoot::MountPointOn(std::string_view relative) {
    return Fails(Call::Probe, relative).ok() ? TreeRootWrapper::MountPointOn(relative)
                                             : std::string();
}

platform::Result<std::vector<std::string>> FaultyRoot::MountPointsBelow() {
    return Unless(Fails(Call::Mounts), [&] { return TreeRootWrapper::MountPointsBelow(); });
}

bool FaultyRoot::LiesInsideItself(int dirFd) {
    return Fails(Call::Mounts).ok() && TreeRootWrapper::LiesInsideItself(dirFd);
}

platform::Result<bool> FaultyRoot::Overlaps(platform::TreeRoot& other, std::string_view relative) {
    return Unless(Fails(Call::Overlap, relative),
                  [&] { return TreeRootWrapper::Overlaps(other, relative); });
}

platform::Result<bool> FaultyRoot::OverlapsDirectory(int dirFd) {
    return Unless(Fails(Call::Overlap), [&] { return TreeRootWrapper::OverlapsDirectory(dirFd); });
}

platform::Result<platform::FileTime> FaultyRoot::TimeStep() {
    return Unless(Fails(Call::TimeStep), [&] { return TreeRootWrapper::TimeStep(); });
}

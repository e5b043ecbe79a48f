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
                  [&] { return TreeRoot::OpenDirectory(relative); });
}

bool FaultyRoot::NextMatch(platform::DirSearch& search, platform::DirMatch& match) {
    // A listing breaks off the way a failing readdir or stat of an entry does.
    for (Call call : {Call::ReadDir, Call::Stat}) {
        if (const platform::Status failure = Fails(call); !failure.ok()) {
            search.Fail(failure);
            return false;
        }
    }
    return TreeRoot::NextMatch(search, match);
}

platform::Result<int> FaultyRoot::OpenForRead(std::string_view relative, platform::FileInfo& info) {
    return Unless(Fails(Call::Open, relative),
                  [&] { return TreeRoot::OpenForRead(relative, info); });
}

platform::Result<int> FaultyRoot::CreateExclusive(std::string_view relative, mode_t mode) {
    return Unless(Fails(Call::Create, relative),
                  [&] { return TreeRoot::CreateExclusive(relative, mode); });
}

platform::Result<int> FaultyRoot::CreateUnnamed(std::string_view relativeDir, mode_t mode) {
    return Unless(Fails(Call::Create, relativeDir),
                  [&] { return TreeRoot::CreateUnnamed(relativeDir, mode); });
}

platform::Status FaultyRoot::LinkUnnamed(int fd, std::string_view relative) {
    return Unless(Fails(Call::Rename, relative),
                  [&] { return TreeRoot::LinkUnnamed(fd, relative); });
}

platform::Status FaultyRoot::RenameReplace(std::string_view from, std::string_view to) {
    return Unless(Fails(Call::Rename, to), [&] { return TreeRoot::RenameReplace(from, to); });
}

platform::Status FaultyRoot::RenameNoReplace(std::string_view from, std::string_view to) {
    return Unless(Fails(Call::Rename, to), [&] { return TreeRoot::RenameNoReplace(from, to); });
}

platform::Status FaultyRoot::RemoveFile(std::string_view relative) {
    return Unless(Fails(Call::Unlink, relative), [&] { return TreeRoot::RemoveFile(relative); });
}

platform::Status FaultyRoot::MakeDirectory(std::string_view relative, mode_t mode) {
    return Unless(Fails(Call::Mkdir, relative),
                  [&] { return TreeRoot::MakeDirectory(relative, mode); });
}

platform::Status FaultyRoot::SetMode(std::string_view relative, mode_t mode) {
    return Unless(Fails(Call::Chmod, relative), [&] { return TreeRoot::SetMode(relative, mode); });
}

platform::Status FaultyRoot::RemoveDirectory(std::string_view relative) {
    return Unless(Fails(Call::Rmdir, relative),
                  [&] { return TreeRoot::RemoveDirectory(relative); });
}

platform::Status FaultyRoot::DescribeName(std::string_view relative, platform::FileInfo& info) {
    return Unless(Fails(Call::Stat, relative),
                  [&] { return TreeRoot::DescribeName(relative, info); });
}

platform::Status FaultyRoot::Flush() {
    return Unless(Fails(Call::Sync), [&] { return TreeRoot::Flush(); });
}

platform::Result<size_t> FaultyRoot::Read(int fd, void* buffer, size_t size) {
    return Unless(Fails(Call::Read), [&] { return TreeRoot::Read(fd, buffer, size); });
}

platform::Result<size_t> FaultyRoot::ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return Unless(Fails(Call::Read), [&] { return TreeRoot::ReadAt(fd, buffer, size, offset); });
}

platform::Status FaultyRoot::WriteAll(int fd, const void* buffer, size_t size) {
    return Unless(Fails(Call::Write), [&] { return TreeRoot::WriteAll(fd, buffer, size); });
}

platform::Status FaultyRoot::WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    return Unless(Fails(Call::Write),
                  [&] { return TreeRoot::WriteAllAt(fd, buffer, size, offset); });
}

platform::Result<size_t> FaultyRoot::CopyRange(int in, int out, size_t size) {
    return Unless(Fails(Call::CopyRange), [&] { return TreeRoot::CopyRange(in, out, size); });
}

platform::Result<size_t> FaultyRoot::CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                                 size_t size) {
    return Unless(Fails(Call::CopyRange),
                  [&] { return TreeRoot::CopyRangeAt(in, inOffset, out, outOffset, size); });
}

platform::Result<off_t> FaultyRoot::SeekData(int fd, off_t offset) {
    return Unless(Fails(Call::Read), [&] { return TreeRoot::SeekData(fd, offset); });
}

platform::Result<off_t> FaultyRoot::SeekHole(int fd, off_t offset) {
    return Unless(Fails(Call::Read), [&] { return TreeRoot::SeekHole(fd, offset); });
}

platform::Status FaultyRoot::Truncate(int fd, off_t size) {
    return Unless(Fails(Call::Write), [&] { return TreeRoot::Truncate(fd, size); });
}

platform::Status FaultyRoot::Describe(int fd, platform::FileInfo& info) {
    return Unless(Fails(Call::Stat), [&] { return TreeRoot::Describe(fd, info); });
}

platform::Status FaultyRoot::KeepExtendedAttributes(int sourceFd, int fd) {
    return Unless(Fails(Call::Xattr),
                  [&] { return TreeRoot::KeepExtendedAttributes(sourceFd, fd); });
}

platform::Status FaultyRoot::Close(int fd) {
    const platform::Status failure = Fails(Call::Close);
    const platform::Status closed = TreeRoot::Close(fd);  // released whatever the injected result
    return failure.ok() ? closed : failure;
}

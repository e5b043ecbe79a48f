#include "support/fault_injector.h"

#include <cerrno>

const char* CallName(Call call) {
    switch (call) {
        case Call::Open: return "open";
        case Call::Create: return "create";
        case Call::Read: return "read";
        case Call::Write: return "write";
        case Call::CopyRange: return "copy_file_range";
        case Call::Close: return "close";
        case Call::Rename: return "rename";
        case Call::Unlink: return "unlink";
        case Call::Mkdir: return "mkdir";
        case Call::Rmdir: return "rmdir";
        case Call::OpenDir: return "opendir";
        case Call::ReadDir: return "readdir";
        case Call::Stat: return "stat";
        case Call::Chmod: return "chmod";
        case Call::Sync: return "syncfs";
    }
    return "?";
}

bool FaultyRoot::Fails(Call call, std::string_view relative) {
    std::string path = Path();
    if (!relative.empty()) {
        path.append(1, '/').append(relative);
    }
    int err;
    {
        std::lock_guard<std::mutex> lock(m_faults.m_mutex);
        err = m_faults.Fail(call, path);
    }
    if (err != 0) {
        errno = err;
    }
    return err != 0;
}

int FaultyRoot::OpenDirectory(std::string_view relative) {
    return Fails(Call::OpenDir, relative) ? -1 : TreeRoot::OpenDirectory(relative);
}

bool FaultyRoot::NextMatch(platform::DirSearch& search, platform::DirMatch& match) {
    // A listing breaks off the way a failing readdir or stat of an entry does.
    for (Call call : {Call::ReadDir, Call::Stat}) {
        if (Fails(call)) {
            search.Fail(errno);
            return false;
        }
    }
    return TreeRoot::NextMatch(search, match);
}

int FaultyRoot::OpenForRead(std::string_view relative, platform::FileInfo& info) {
    return Fails(Call::Open, relative) ? -1 : TreeRoot::OpenForRead(relative, info);
}

int FaultyRoot::CreateExclusive(std::string_view relative, mode_t mode) {
    return Fails(Call::Create, relative) ? -1 : TreeRoot::CreateExclusive(relative, mode);
}

int FaultyRoot::CreateUnnamed(std::string_view relativeDir, mode_t mode) {
    return Fails(Call::Create, relativeDir) ? -1 : TreeRoot::CreateUnnamed(relativeDir, mode);
}

int FaultyRoot::LinkUnnamed(int fd, std::string_view relative) {
    return Fails(Call::Rename, relative) ? -1 : TreeRoot::LinkUnnamed(fd, relative);
}

int FaultyRoot::RenameReplace(std::string_view from, std::string_view to) {
    return Fails(Call::Rename, to) ? -1 : TreeRoot::RenameReplace(from, to);
}

int FaultyRoot::RenameNoReplace(std::string_view from, std::string_view to) {
    return Fails(Call::Rename, to) ? -1 : TreeRoot::RenameNoReplace(from, to);
}

int FaultyRoot::RemoveFile(std::string_view relative) {
    return Fails(Call::Unlink, relative) ? -1 : TreeRoot::RemoveFile(relative);
}

int FaultyRoot::MakeDirectory(std::string_view relative, mode_t mode) {
    return Fails(Call::Mkdir, relative) ? -1 : TreeRoot::MakeDirectory(relative, mode);
}

int FaultyRoot::SetMode(std::string_view relative, mode_t mode) {
    return Fails(Call::Chmod, relative) ? -1 : TreeRoot::SetMode(relative, mode);
}

int FaultyRoot::RemoveDirectory(std::string_view relative) {
    return Fails(Call::Rmdir, relative) ? -1 : TreeRoot::RemoveDirectory(relative);
}

int FaultyRoot::DescribeName(std::string_view relative, platform::FileInfo& info) {
    return Fails(Call::Stat, relative) ? -1 : TreeRoot::DescribeName(relative, info);
}

int FaultyRoot::Flush() {
    return Fails(Call::Sync) ? -1 : TreeRoot::Flush();
}

ssize_t FaultyRoot::Read(int fd, void* buffer, size_t size) {
    return Fails(Call::Read) ? -1 : TreeRoot::Read(fd, buffer, size);
}

ssize_t FaultyRoot::ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return Fails(Call::Read) ? -1 : TreeRoot::ReadAt(fd, buffer, size, offset);
}

ssize_t FaultyRoot::WriteAll(int fd, const void* buffer, size_t size) {
    return Fails(Call::Write) ? -1 : TreeRoot::WriteAll(fd, buffer, size);
}

ssize_t FaultyRoot::WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    return Fails(Call::Write) ? -1 : TreeRoot::WriteAllAt(fd, buffer, size, offset);
}

ssize_t FaultyRoot::CopyRange(int in, int out, size_t size) {
    return Fails(Call::CopyRange) ? -1 : TreeRoot::CopyRange(in, out, size);
}

ssize_t FaultyRoot::CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset, size_t size) {
    return Fails(Call::CopyRange) ? -1
                                            : TreeRoot::CopyRangeAt(in, inOffset, out, outOffset, size);
}

off_t FaultyRoot::SeekData(int fd, off_t offset) {
    return Fails(Call::Read) ? -1 : TreeRoot::SeekData(fd, offset);
}

off_t FaultyRoot::SeekHole(int fd, off_t offset) {
    return Fails(Call::Read) ? -1 : TreeRoot::SeekHole(fd, offset);
}

int FaultyRoot::Truncate(int fd, off_t size) {
    return Fails(Call::Write) ? -1 : TreeRoot::Truncate(fd, size);
}

int FaultyRoot::Describe(int fd, platform::FileInfo& info) {
    return Fails(Call::Stat) ? -1 : TreeRoot::Describe(fd, info);
}

int FaultyRoot::Close(int fd) {
    if (Fails(Call::Close)) {
        const int err = errno;
        TreeRoot::Close(fd);  // the descriptor is released whatever the injected result
        errno = err;
        return -1;
    }
    return TreeRoot::Close(fd);
}

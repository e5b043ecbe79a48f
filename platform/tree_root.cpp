// What the root handle does the same way on every system: the directory kept
// open between the operations of one step, the way to a name's directory, the
// letter-case probe, and the calls on open descriptors, which pass to the file
// services.
#include "platform/tree_root.h"

#include <cerrno>

#include "platform/file_ops.h"
#include "platform/path_compare.h"

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

TreeRoot::~TreeRoot() {
    ForgetKeptDirectory();
    if (m_fd >= 0) {
        (void)CloseFile(m_fd);
    }
}

void TreeRoot::ForgetKeptDirectory() {
    if (m_keptFd >= 0) {
        (void)CloseFile(m_keptFd);
        m_keptFd = -1;
    }
    m_keptDir.clear();
}

Result<int> TreeRoot::Parent(std::string_view relative, std::string_view& name) {
    const size_t slash = relative.rfind('/');
    name = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
    return Directory(slash == std::string_view::npos ? std::string_view()
                                                     : relative.substr(0, slash));
}

Result<int> TreeRoot::Directory(std::string_view dir) {
    if (m_fd < 0) {
        return m_openStatus;
    }
    if (dir.empty()) {
        return m_fd;
    }
    if (m_keptFd >= 0 && dir == m_keptDir) {
        return m_keptFd;
    }
    ForgetKeptDirectory();
    const Result<int> opened = OpenDirectoryBeneath(m_fd, dir, m_mounts);
    if (opened.ok()) {
        m_keptFd = *opened;
        m_keptDir = dir;
    }
    return opened;
}

Result<int> TreeRoot::OpenDirectory(std::string_view relative) {
    if (m_fd < 0) {
        return m_openStatus;
    }
    return OpenDirectoryBeneath(m_fd, relative, m_mounts);
}

bool TreeRoot::NameExists(std::string_view relative) {
    std::string_view name;
    const Result<int> dir = Parent(relative, name);
    return dir.ok() && detail::HasEntry(*dir, std::string(name));
}

bool TreeRoot::IgnoresCase(std::string_view relative) {
    std::string_view name;
    const Result<int> dir = Parent(relative, name);
    const std::string swapped = SwapCase(name);
    if (!dir.ok() || swapped == name || !detail::HasEntry(*dir, swapped)) {
        return false;
    }
    // The other spelling names something. It is the same entry unless the
    // directory lists it as one of its own (through FUSE the two spellings may
    // even show different inode numbers, so the listing decides).
    return !detail::ListsName(*dir, swapped);
}

bool TreeRoot::NextMatch(DirSearch& search, DirMatch& match) {
    return search.Next(match);
}

std::string TreeRoot::Reason(const Status& failure, std::string_view relative) {
    if (failure.Is(EXDEV) || failure.Is(EBUSY)) {
        const std::string mountPoint = MountPointOn(relative);
        if (!mountPoint.empty()) {
            return "another file system is mounted at " + m_path + kSeparator + mountPoint;
        }
    }
    return failure.Reason();
}

Result<size_t> TreeRoot::Read(int fd, void* buffer, size_t size) {
    return ReadSome(fd, buffer, size);
}

Result<size_t> TreeRoot::ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return platform::ReadAt(fd, buffer, size, offset);
}

Status TreeRoot::WriteAll(int fd, const void* buffer, size_t size) {
    return platform::WriteAll(fd, buffer, size);
}

Status TreeRoot::WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    return platform::WriteAllAt(fd, buffer, size, offset);
}

Result<size_t> TreeRoot::CopyRange(int in, int out, size_t size) {
    return platform::CopyRange(in, out, size);
}

Result<size_t> TreeRoot::CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                     size_t size) {
    return platform::CopyRangeAt(in, inOffset, out, outOffset, size);
}

Result<off_t> TreeRoot::SeekData(int fd, off_t offset) {
    return platform::SeekData(fd, offset);
}

Result<off_t> TreeRoot::SeekHole(int fd, off_t offset) {
    return platform::SeekHole(fd, offset);
}

Status TreeRoot::Truncate(int fd, off_t size) {
    return platform::Truncate(fd, size);
}

Status TreeRoot::Describe(int fd, FileInfo& info) {
    return DescribeOpenFile(fd, info);
}

Status TreeRoot::Close(int fd) {
    return CloseFile(fd);
}

}  // namespace platform

#include "platform/file_ops.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/fault_injection.h"

namespace platform {

using detail::InjectFault;

namespace {
mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}
}  // namespace

int OpenForRead(const std::string& path) {
    if (InjectFault(Call::Open, path.c_str())) {
        return -1;
    }
    // O_NONBLOCK keeps a FIFO that appeared in place of a file from blocking the
    // open; the type check below then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // O_NONBLOCK stays: reads of a regular file ignore it, and two calls per
    // file are saved.
    return fd;
}

int CreateExclusive(const std::string& path) {
    if (InjectFault(Call::Create, path.c_str())) {
        return -1;
    }
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

namespace {

// Linking an unnamed file needs its descriptor's entry under /proc (the other
// way, AT_EMPTY_PATH, needs a privilege a user does not have).
bool ProcFdAvailable() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

}  // namespace

int CreateUnnamed(const std::string& directory) {
    if (!ProcFdAvailable()) {
        errno = EOPNOTSUPP;
        return -1;
    }
    if (InjectFault(Call::Create, directory.c_str())) {
        return -1;
    }
    const int fd = ::open(directory.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    // A kernel that does not know O_TMPFILE sees O_DIRECTORY (EISDIR); a file
    // system that cannot do it says EOPNOTSUPP (or, through some layers, EINVAL
    // or ENOSYS).
    if (fd < 0 && (errno == EISDIR || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
        errno = EOPNOTSUPP;
    }
    return fd;
}

int LinkUnnamed(int fd, const std::string& path) {
    if (InjectFault(Call::Rename, path.c_str())) {
        return -1;
    }
    char procPath[48];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, procPath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
}

ssize_t ReadSome(int fd, void* buffer, size_t size) {
    if (InjectFault(Call::Read, nullptr)) {
        return -1;
    }
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t WriteAll(int fd, const void* buffer, size_t size) {
    if (InjectFault(Call::Write, nullptr)) {
        return -1;
    }
    const char* p = static_cast<const char*>(buffer);
    size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            errno = ENOSPC;
            return -1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(size);
}

ssize_t CopyRange(int in, int out, size_t size) {
    if (InjectFault(Call::CopyRange, nullptr)) {
        return -1;
    }
    ssize_t n;
    do {
        n = ::copy_file_range(in, nullptr, out, nullptr, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

int CloseFile(int fd) {
    if (InjectFault(Call::Close, nullptr)) {
        ::close(fd);  // the descriptor is released whatever the injected result
        return -1;
    }
    return ::close(fd);
}

int RenameReplace(const std::string& from, const std::string& to) {
    if (InjectFault(Call::Rename, to.c_str())) {
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (InjectFault(Call::Rename, to.c_str())) {
        return -1;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return -1;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing
    // name just the same, and the old name is then dropped.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return -1;
    }
    ::unlink(from.c_str());
    return 0;
}

int RemoveFile(const std::string& path) {
    if (InjectFault(Call::Unlink, path.c_str())) {
        return -1;
    }
    return ::unlink(path.c_str());
}

int MakeDirectory(const std::string& path) {
    if (InjectFault(Call::Mkdir, path.c_str())) {
        return -1;
    }
    return ::mkdir(path.c_str(), 0777);
}

int RemoveDirectory(const std::string& path) {
    if (InjectFault(Call::Rmdir, path.c_str())) {
        return -1;
    }
    return ::rmdir(path.c_str());
}

bool NameExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectoryPath(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ResolvePath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
    std::string target = path;
    mode_t mode = 0666 & ~CurrentUmask();
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            target = ResolvePath(path);
            if (target.empty()) {
                return false;
            }
            if (::stat(target.c_str(), &st) == 0) {
                mode = st.st_mode & 07777;
            }
        } else {
            mode = st.st_mode & 07777;
        }
    }
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content.data(), content.size()) >= 0 &&
              ::fsync(fd) == 0;
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = err;
    }
    return ok;
}

int ProcessId() {
    return static_cast<int>(::getpid());
}

namespace {
// True when `inner` is `outer` or lies below it.
bool IsWithin(const std::string& inner, const std::string& outer) {
    if (inner.compare(0, outer.size(), outer) != 0) {
        return false;
    }
    return inner.size() == outer.size() || outer.back() == '/' || inner[outer.size()] == '/';
}
}  // namespace

bool RootsOverlap(const std::string& a, const std::string& b) {
    const std::string ra = ResolvePath(a);
    const std::string rb = ResolvePath(b);
    if (ra.empty() || rb.empty()) {
        return false;
    }
    return IsWithin(ra, rb) || IsWithin(rb, ra);
}

}  // namespace platform

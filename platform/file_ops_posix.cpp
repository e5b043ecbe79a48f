#include "platform/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/path_compare.h"
#include "platform/system_root.h"

namespace platform {

bool ReachedByOwnerAlone(const FileInfo& info) {
    return (info.mode & 077) == 0 && info.owner == ::geteuid();
}

mode_t Umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

namespace {
// The count a read or a copy returned, or the failure of `call`.
Result<size_t> Counted(ssize_t n, const char* call) {
    if (n < 0) {
        return Status::FromErrno(call);
    }
    return static_cast<size_t>(n);
}
}  // namespace

Result<size_t> ReadSome(int fd, void* buffer, size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return Counted(n, "read");
}

Status WriteAll(int fd, const void* buffer, size_t size) {
    return WriteAllAt(fd, buffer, size, -1);
}

Result<size_t> CopyRange(int in, int out, size_t size) {
    ssize_t n;
    do {
        n = ::copy_file_range(in, nullptr, out, nullptr, size, 0);
    } while (n < 0 && errno == EINTR);
    return Counted(n, "copy_file_range");
}

Status CloseFile(int fd) {
    return ::close(fd) == 0 ? Status() : Status::FromErrno("close");
}

namespace {
std::atomic<int> g_discardsPending{0};
}

void DiscardFile(int fd) {
    g_discardsPending.fetch_add(1);
    try {
        std::thread([fd] {
            ::close(fd);
            g_discardsPending.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        ::close(fd);  // no thread to be had: closed here, only later
        g_discardsPending.fetch_sub(1);
    }
}

bool DiscardsPending() {
    return g_discardsPending.load() != 0;
}

OwnFileTable::OwnFileTable() {
    // ThreadSanitizer knows one table a process: it would take two files of
    // the same number on two threads for one file both use at once.
#if defined(__linux__) && !defined(__SANITIZE_THREAD__)
    if (::unshare(CLONE_FILES) != 0) {
        return;  // the shared table serves as before
    }
    // What the copy holds, to be closed at the end. Where the table cannot be
    // listed, all it holds then is closed, with any file a thread this one
    // started has yet to close (which is then freed here, not there).
    DIR* listing = ::opendir("/proc/thread-self/fd");
    if (listing == nullptr) {
        m_closeAll = true;
        return;
    }
    const int own = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (*end == '\0' && end != entry->d_name && fd != own) {
            m_copies.push_back(static_cast<int>(fd));
        }
    }
    ::closedir(listing);
#endif
}

OwnFileTable::~OwnFileTable() {
    for (const int fd : m_copies) {
        ::close(fd);
    }
    if (m_closeAll && ::close_range(0, ~0U, 0) != 0) {
        for (int fd = 0, n = ::getdtablesize(); fd < n; ++fd) {
            ::close(fd);
        }
    }
}

Result<size_t> ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, buffer, size, offset);
    } while (n < 0 && errno == EINTR);
    return Counted(n, "pread");
}

Status WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    const char* p = static_cast<const char*>(buffer);
    size_t left = size;
    while (left > 0) {
        // A negative offset writes at the descriptor's own offset (WriteAll).
        const ssize_t n = offset < 0 ? ::write(fd, p, left) : ::pwrite(fd, p, left, offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Status::FromErrno("write");
        }
        if (n == 0) {
            return Status::Failed("write", ENOSPC);
        }
        p += n;
        offset = offset < 0 ? offset : offset + n;
        left -= static_cast<size_t>(n);
    }
    return {};
}

Result<size_t> CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset, size_t size) {
    ssize_t n;
    do {
        n = ::copy_file_range(in, &inOffset, out, &outOffset, size, 0);
    } while (n < 0 && errno == EINTR);
    return Counted(n, "copy_file_range");
}

Result<off_t> SeekData(int fd, off_t offset) {
    const off_t at = ::lseek(fd, offset, SEEK_DATA);
    return at < 0 ? Result<off_t>(Status::FromErrno("lseek")) : at;
}

Result<off_t> SeekHole(int fd, off_t offset) {
    const off_t at = ::lseek(fd, offset, SEEK_HOLE);
    return at < 0 ? Result<off_t>(Status::FromErrno("lseek")) : at;
}

Status Truncate(int fd, off_t size) {
    return ::ftruncate(fd, size) == 0 ? Status() : Status::FromErrno("ftruncate");
}

Status Rewind(int fd) {
    return ::lseek(fd, 0, SEEK_SET) == 0 ? Status() : Status::FromErrno("lseek");
}

Status DescribeOpenFile(int fd, FileInfo& info) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return Status::FromErrno("fstat");
    }
    detail::FillFileInfo(st, info);
    return {};
}

bool IsDirectoryPath(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status MayCreateIn(const std::string& dir) {
    return ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0
               ? Status()
               : Status::FromErrno("access");
}

Status ReadWholeFile(const std::string& path, std::string& text) {
    // Looked at before it is opened: opening a FIFO or a device can block or
    // have effects of its own.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return Status::FromErrno("stat");
    }
    if (!S_ISREG(st.st_mode)) {
        return Status::Failed("stat", EINVAL);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return Status::FromErrno("open");
    }
    // It may have been replaced between the look and the open.
    Status status;
    if (::fstat(fd, &st) != 0) {
        status = Status::FromErrno("fstat");
    } else if (!S_ISREG(st.st_mode)) {
        status = Status::Failed("fstat", EINVAL);
    }
    if (status.ok()) {
        status = ReadToEnd(fd, text);
    }
    ::close(fd);
    return status;
}

Status WriteFileAtomically(const std::string& path, const std::string& content) {
    std::string target = path;
    mode_t mode = 0666 & ~Umask();
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // A link is followed only when it belongs to the user or to root, as
            // the kernel's protected symlinks have it in sticky directories: a
            // link planted by another user in a directory both can write must
            // not make the save fill a file of the user's (for root, any file).
            if (st.st_uid != ::geteuid() && st.st_uid != 0) {
                return Status::Failed("lstat", ELOOP);
            }
            // It is saved through only to a regular file of the user's own: a
            // link to a device, a FIFO or another user's file must not make the
            // save replace or fill what it points at.
            if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
                st.st_uid != ::geteuid()) {
                return Status::Failed("stat", EPERM);
            }
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (resolved == nullptr) {
                return Status::FromErrno("realpath");
            }
            target = resolved;
            std::free(resolved);
        } else if (!S_ISREG(st.st_mode)) {
            return Status::Failed("lstat", EPERM);
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return Status::FromErrno("lstat");
    }
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return Status::FromErrno("mkstemp");
    }
    Status status = ::fchmod(fd, mode) == 0 ? Status() : Status::FromErrno("fchmod");
    if (status.ok()) {
        status = WriteAll(fd, content.data(), content.size());
    }
    if (status.ok() && ::fsync(fd) != 0) {
        status = Status::FromErrno("fsync");
    }
    if (const Status closed = CloseFile(fd); status.ok()) {
        status = closed;
    }
    if (status.ok() && ::rename(temp.c_str(), target.c_str()) != 0) {
        status = Status::FromErrno("rename");
    }
    if (!status.ok()) {
        ::unlink(temp.c_str());
    }
    return status;
}

namespace {

// The directory `name` in `dir`, made when it is missing and `missing` says
// so. A link there is followed only when it belongs to the user or to root, as
// the kernel's protected links are in sticky directories: a link that another
// user planted (in /tmp, or a team folder) never leads a file of ours
// elsewhere.
Result<int> OpenDirectoryStep(int dir, const std::string& name, MissingDirectories missing) {
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    int fd = ::openat(dir, name.c_str(), kFlags | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT && missing == MissingDirectories::Make) {
        if (::mkdirat(dir, name.c_str(), 0700) != 0 && errno != EEXIST) {
            return Status::FromErrno("mkdir");
        }
        fd = ::openat(dir, name.c_str(), kFlags | O_NOFOLLOW);
    }
    if (fd < 0 && (errno == ENOTDIR || errno == ELOOP)) {
        struct stat link;
        if (::fstatat(dir, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(link.st_mode)) {
            if (link.st_uid != ::geteuid() && link.st_uid != 0) {
                return Status::Failed("open", ELOOP);
            }
            fd = ::openat(dir, name.c_str(), kFlags);
        } else {
            errno = ENOTDIR;
        }
    }
    if (fd < 0) {
        return Status::FromErrno("open");
    }
    return fd;
}

// The directory that holds `path`, opened one name at a time from the first,
// each beneath the last, so none of them is looked up again by its whole path.
Result<int> OpenParentDirectory(const std::string& path, MissingDirectories missing) {
    int dir = ::open(!path.empty() && path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return Status::FromErrno("open");
    }
    const size_t last = path.rfind('/');
    for (size_t at = 0; last != std::string::npos && at < last;) {
        const size_t end = std::min(path.find('/', at), last);
        const std::string name = path.substr(at, end - at);
        at = end + 1;
        if (name.empty() || name == ".") {
            continue;
        }
        const Result<int> next = OpenDirectoryStep(dir, name, missing);
        ::close(dir);
        if (!next.ok()) {
            return next.status();
        }
        dir = *next;
    }
    return dir;
}

}  // namespace

Status MakeParentDirectories(const std::string& path) {
    const Result<int> dir = OpenParentDirectory(path, MissingDirectories::Make);
    if (!dir.ok()) {
        return dir.status();
    }
    ::close(*dir);
    return {};
}

Result<int> OpenForAppend(const std::string& path, MissingDirectories missing,
                          MissingFile missingFile) {
    const Result<int> parent = OpenParentDirectory(path, missing);
    if (!parent.ok()) {
        return parent.status();
    }
    const int dir = *parent;
    const size_t last = path.rfind('/');
    const std::string name = last == std::string::npos ? path : path.substr(last + 1);
    // O_NONBLOCK: a FIFO in its place must not hold the run until someone reads.
    const int create = missingFile == MissingFile::Make ? O_CREAT : 0;
    const int fd =
        ::openat(dir, name.c_str(),
                 O_WRONLY | O_APPEND | create | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    ::close(dir);
    if (fd < 0) {
        return Status::FromErrno("open");
    }
    struct stat st;
    Status failure;
    if (::fstat(fd, &st) != 0) {
        failure = Status::FromErrno("fstat");
    } else if (!S_ISREG(st.st_mode)) {
        failure = Status::Failed("fstat", EINVAL);
    }
    if (!failure.ok()) {
        ::close(fd);
        return failure;
    }
    return fd;
}

Status RenameReplacing(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? Status() : Status::FromErrno("rename");
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

namespace {
// `path` with every symbolic link, "." and ".." resolved; empty when it cannot be.
std::string Resolved(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string text = resolved;
    std::free(resolved);
    return text;
}
}  // namespace

std::optional<std::string> PathBelow(const std::string& path, const std::string& root) {
    const std::string realRoot = Resolved(root);
    // The file, or directories above it, may not exist yet: the nearest
    // directory that does is resolved, and the names below it taken as written.
    std::string dir = ParentOf(path);
    std::string rest = path.substr(path.rfind('/') + 1);
    std::string realDir = Resolved(dir);
    while (realDir.empty() && errno == ENOENT && dir != "." && dir != "/") {
        rest = dir.substr(dir.rfind('/') + 1) + "/" + rest;
        dir = ParentOf(dir);
        realDir = Resolved(dir);
    }
    if (realRoot.empty() || realDir.empty() || rest.empty()) {
        return std::nullopt;
    }
    const std::string full = (realDir == "/" ? "" : realDir) + "/" + rest;
    const std::string prefix = realRoot == "/" ? "/" : realRoot + "/";
    if (full.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    return full.substr(prefix.size());
}

int ProcessId() {
    return static_cast<int>(::getpid());
}

std::string EnvironmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    return EnvironmentVariable("HOME");
}

std::string StateDirectory() {
    const std::string state = EnvironmentVariable("XDG_STATE_HOME");
    if (!state.empty() && state[0] == '/') {
        return state;
    }
    // A home that does not exist (root's HOME=/nonexistent in a service) is no
    // place to make directories in.
    const std::string home = HomeDirectory();
    return !home.empty() && home[0] == '/' && IsDirectoryPath(home) ? home + "/.local/state"
                                                                    : std::string();
}

std::string StateDirectoryUnknown() {
    const std::string home = HomeDirectory();
    if (!home.empty() && home[0] == '/' && !IsDirectoryPath(home)) {
        return "XDG_STATE_HOME is not set, and the home directory " + home + " does not exist";
    }
    return "neither XDG_STATE_HOME nor HOME is set";
}

const char* const kStateDirectoryShown = "~/.local/state";

std::string ConfigDirectory() {
    const std::string config = EnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.empty() && config[0] == '/') {
        return config;
    }
    const std::string home = HomeDirectory();
    return !home.empty() && home[0] == '/' && IsDirectoryPath(home) ? home + "/.config"
                                                                    : std::string();
}

const char* const kConfigDirectoryShown = "~/.config";
const char* const kProgramFolder = "kelvad";

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

}  // namespace platform

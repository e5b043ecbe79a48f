#include "platform/tree_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/system_root.h"

namespace platform {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Whether the kernel has openat2 (Linux 5.6 and later); learnt on first use.
std::atomic<bool> g_haveOpenat2{true};

// Keeps errno across a close on an error path.
void CloseKeepingErrno(int fd) {
    const int err = errno;
    ::close(fd);
    errno = err;
}

// Opens `path` (shorter than the path limit) beneath `dirFd`, component by
// component where the kernel cannot resolve it in one call.
int OpenPieceBeneath(int dirFd, const std::string& path, Mounts mounts) {
    if (g_haveOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = kDirFlags;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        if (mounts == Mounts::Stay) {
            how.resolve |= RESOLVE_NO_XDEV;  // bind mounts included
        }
        const long fd = ::syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS) {
            return static_cast<int>(fd);
        }
        g_haveOpenat2.store(false, std::memory_order_relaxed);
    }
    int fd = ::openat(dirFd, ".", kDirFlags);
    struct stat st;
    const dev_t device = fd >= 0 && ::fstat(fd, &st) == 0 ? st.st_dev : 0;
    size_t start = 0;
    while (fd >= 0 && start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            ::close(fd);
            errno = EXDEV;  // what openat2 says of a path that climbs out
            return -1;
        }
        int next = ::openat(fd, part.c_str(), kDirFlags | O_NOFOLLOW);
        CloseKeepingErrno(fd);
        // Without openat2 only another device shows a mount; a bind mount of
        // the same file system passes.
        if (next >= 0 && mounts == Mounts::Stay &&
            (::fstat(next, &st) != 0 || st.st_dev != device)) {
            ::close(next);
            next = -1;
            errno = EXDEV;
        }
        fd = next;
    }
    return fd;
}

// The outcome of a call that returned `result` (0 or -1, errno set).
Status Outcome(int result, const char* call) {
    return result == 0 ? Status() : Status::FromErrno(call);
}

// The same, where a failure that only says the file system keeps no such thing
// (permission bits or owners on FAT and exFAT) is not an error.
Status OutcomeUnlessUnsupported(int result, const char* call) {
    const bool unsupported =
        result != 0 && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS);
    return unsupported ? Status() : Outcome(result, call);
}

// An open descriptor, or the failure of `call`.
Result<int> Opened(int fd, const char* call) {
    return fd >= 0 ? Result<int>(fd) : Result<int>(Status::FromErrno(call));
}

// Only root may give a file another owner; looked up once.
bool RunningAsRoot() {
    static const bool root = ::geteuid() == 0;
    return root;
}

// The extended attributes a copy keeps, as `cp -a` does: the user's and the
// access control lists; the security and trusted ones only root may set.
bool KeptAttribute(std::string_view name) {
    return name.starts_with("user.") || name == "system.posix_acl_access" ||
           name == "system.posix_acl_default" ||
           (RunningAsRoot() && (name.starts_with("security.") || name.starts_with("trusted.")));
}

// Reads into `buffer` what `read(buffer, size)` gives (a list of names or a
// value), growing it while the call says it is too small (ERANGE).
template <typename ReadCall>
Result<size_t> ReadGrowing(std::vector<char>& buffer, const char* call, ReadCall read) {
    for (;;) {
        const ssize_t n = read(buffer.data(), buffer.size());
        if (n >= 0) {
            return static_cast<size_t>(n);
        }
        if (errno != ERANGE) {
            return Status::FromErrno(call);
        }
        const ssize_t needed = read(nullptr, 0);
        if (needed < 0) {
            return Status::FromErrno(call);
        }
        buffer.resize(static_cast<size_t>(needed) + 256);  // room if it grows meanwhile
    }
}

// Linking an unnamed file needs its descriptor's entry under /proc (the other
// way, AT_EMPTY_PATH, needs a privilege a user does not have).
bool ProcFdAvailable() {
    static const bool available = ::access("/proc/thread-self/fd", X_OK) == 0;
    return available;
}

}  // namespace

namespace detail {
void FillFileInfo(const struct stat& st, FileInfo& info) {
    info.size = st.st_size;
    info.mode = st.st_mode & 07777;
    info.lastWrite = FileTimeFromTimespec(st.st_mtim);
    info.lastChange = FileTimeFromTimespec(st.st_ctim);
    info.sparse = st.st_blocks * 512 < st.st_size;
    info.lastWriteExact = st.st_mtim;
    info.lastAccessExact = st.st_atim;
    info.owner = st.st_uid;
    info.group = st.st_gid;
    info.device = st.st_dev;
    info.inode = st.st_ino;
}

bool HasEntry(int dirFd, const std::string& name) {
    struct stat st;
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ListsName(int dirFd, const std::string& name) {
    DIR* listing = ::fdopendir(::openat(dirFd, ".", kDirFlags));
    if (listing == nullptr) {
        return true;
    }
    bool listed = false;
    while (const dirent* d = ::readdir(listing)) {
        listed = listed || name == d->d_name;
    }
    ::closedir(listing);
    return listed;
}
}  // namespace detail

namespace {
int OpenDirectoryBeneathOrMinusOne(int dirFd, std::string_view relative, Mounts mounts) {
    // The kernel takes at most PATH_MAX bytes a call: a longer path is opened a
    // piece at a time, each piece ending at a separator.
    constexpr size_t kPiece = PATH_MAX - 256;
    int fd = -1;  // the piece opened last, once there is one
    int from = dirFd;
    while (relative.size() > kPiece) {
        const size_t cut = relative.rfind('/', kPiece);
        const bool cuttable = cut != std::string_view::npos && cut != 0;
        const int next =
            cuttable ? OpenPieceBeneath(from, std::string(relative.substr(0, cut)), mounts) : -1;
        if (fd >= 0) {
            CloseKeepingErrno(fd);
        }
        if (!cuttable) {
            errno = ENAMETOOLONG;  // a single name longer than the limit
        }
        if (next < 0) {
            return -1;
        }
        fd = from = next;
        relative.remove_prefix(cut + 1);
    }
    const int last = relative.empty() ? ::openat(from, ".", kDirFlags)
                                      : OpenPieceBeneath(from, std::string(relative), mounts);
    if (fd >= 0) {
        CloseKeepingErrno(fd);
    }
    return last;
}
}  // namespace

Result<int> OpenDirectoryBeneath(int dirFd, std::string_view relative, Mounts mounts) {
    return Opened(OpenDirectoryBeneathOrMinusOne(dirFd, relative, mounts), "openat");
}

bool TellsCaseClashes() {
    return false;
}

SystemRoot::SystemRoot(std::string path, Mounts mounts)
    : m_path(std::move(path)), m_mounts(mounts) {
    m_fd = m_path.empty() ? -1 : ::open(m_path.c_str(), kDirFlags);
    if (m_fd < 0) {
        m_openStatus = m_path.empty() ? Status::Failed("open", ENOENT) : Status::FromErrno("open");
    }
}

SystemRoot::SystemRoot(int fd, std::string path, Mounts mounts, Status openStatus)
    : m_path(std::move(path)), m_mounts(mounts), m_fd(fd), m_openStatus(openStatus) {}

std::unique_ptr<TreeRoot> SystemRoot::SecondHandle() const {
    const int fd = m_fd < 0 ? -1 : ::openat(m_fd, ".", kDirFlags);
    const Status status = m_fd < 0 ? m_openStatus : fd < 0 ? Status::FromErrno("openat") : Status();
    return std::make_unique<SystemRoot>(fd, m_path, m_mounts, status);
}

namespace {
// Opens `relative` itself beneath `dirFd` in one call with `flags` (and `mode`
// for a file it makes), resolved as OpenPieceBeneath resolves a directory: no
// link on the way nor at its end and, with Mounts::Stay, no mount point.
// Returns the descriptor, or -1 with errno set; std::nullopt where the kernel
// cannot (no openat2, or a path past its limit), for the caller to walk.
std::optional<int> OpenAtOnce(int dirFd, std::string_view relative, Mounts mounts, int flags,
                              mode_t mode = 0) {
    if (relative.empty() || relative.size() >= PATH_MAX - 256 ||
        !g_haveOpenat2.load(std::memory_order_relaxed)) {
        return std::nullopt;
    }
    open_how how{};
    how.flags = static_cast<decltype(how.flags)>(static_cast<unsigned>(flags));
    how.mode = mode;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    if (mounts == Mounts::Stay) {
        how.resolve |= RESOLVE_NO_XDEV;
    }
    const std::string path(relative);
    const long fd = ::syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS) {
        g_haveOpenat2.store(false, std::memory_order_relaxed);
        return std::nullopt;
    }
    return static_cast<int>(fd);
}

// The file `fd` (-1 when opening it failed) described, when it is a regular
// file; otherwise closed, and why.
Result<int> RegularFile(int fd, FileInfo& info) {
    if (fd < 0) {
        return Status::FromErrno("openat");
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const Status failure = Status::FromErrno("fstat");
        ::close(fd);
        return failure;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::Failed("fstat", EINVAL);
    }
    detail::FillFileInfo(st, info);
    return fd;
}
}  // namespace

Result<int> SystemRoot::OpenForRead(std::string_view relative, FileInfo& info) {
    // O_NONBLOCK keeps a FIFO that appeared in place of a file from blocking
    // the open; the type check then refuses it. It stays set: reads of a
    // regular file ignore it, and two calls per file are saved.
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    // The whole way in one call where the kernel can: two calls fewer than
    // opening the directory, then the file in it, then closing the directory.
    if (m_fd >= 0) {
        if (const std::optional<int> fd = OpenAtOnce(m_fd, relative, m_mounts, kFlags)) {
            return RegularFile(*fd, info);
        }
    }
    return AtParent(relative, [&info](int dir, const std::string& name) {
        return RegularFile(::openat(dir, name.c_str(), kFlags), info);
    });
}

Status SystemRoot::Lock() {
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        return {};
    }
    const Status failure = Status::FromErrno("flock");
    return failure.Is(EWOULDBLOCK) ? failure : Status();
}

bool SystemRoot::AncestorHolds(std::string_view name) {
    const std::string wanted(name);
    int dir = ::openat(m_fd, "..", kDirFlags);
    // Up to the top, where ".." is the directory itself; a bound keeps a
    // file system that lies about that from holding the request.
    for (int depth = 0; dir >= 0 && depth < 4096; ++depth) {
        struct stat here;
        struct stat up;
        if (detail::HasEntry(dir, wanted)) {
            ::close(dir);
            return true;
        }
        const int parent = ::openat(dir, "..", kDirFlags);
        const bool top = parent < 0 || ::fstat(dir, &here) != 0 || ::fstat(parent, &up) != 0 ||
                         (here.st_dev == up.st_dev && here.st_ino == up.st_ino);
        ::close(dir);
        dir = parent;
        if (top) {
            break;
        }
    }
    if (dir >= 0) {
        ::close(dir);
    }
    return false;
}

Result<std::string> SystemRoot::ReadLink(std::string_view relative) {
    return AtParent(relative, [](int dir, const std::string& name) -> Result<std::string> {
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlinkat(dir, name.c_str(), target.data(), target.size());
        if (n < 0) {
            return Status::FromErrno("readlinkat");
        }
        if (static_cast<size_t>(n) == target.size()) {
            return Status::Failed("readlinkat", ENAMETOOLONG);
        }
        target.resize(static_cast<size_t>(n));
        return target;
    });
}

Result<bool> SystemRoot::LeadsTo(std::string_view relative, const FileInfo& opened,
                                 FileInfo& named) {
    if (m_fd < 0) {
        return m_openStatus;
    }
    if (relative.size() >= PATH_MAX) {  // too long for one call: a directory at a time
        if (const Status described = DescribeName(relative, named); !described.ok()) {
            return described;
        }
    } else {
        struct stat st;
        if (::fstatat(m_fd, std::string(relative).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return Status::FromErrno("fstatat");
        }
        if (S_ISLNK(st.st_mode)) {
            return Status::Failed("fstatat", ELOOP);
        }
        detail::FillFileInfo(st, named);
    }
    return named.device == opened.device && named.inode == opened.inode;
}

Status SystemRoot::DescribeIn(int dir, const std::string& name, FileInfo& info) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Status::FromErrno("fstatat");
    }
    detail::FillFileInfo(st, info);
    return Status();
}

Status SystemRoot::DescribeName(std::string_view relative, FileInfo& info) {
    return AtParent(relative, [&info](int dir, const std::string& name) {
        return DescribeIn(dir, name, info);
    });
}

Result<int> SystemRoot::CreateExclusive(std::string_view relative, mode_t mode) {
    return AtParent(relative, [mode](int dir, const std::string& name) {
        return Opened(
            ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode),
            "openat");
    });
}

Result<int> SystemRoot::CreateUnnamed(std::string_view relativeDir, mode_t mode) {
    if (!ProcFdAvailable()) {
        return Status::Failed("open", EOPNOTSUPP);
    }
    constexpr int kFlags = O_WRONLY | O_TMPFILE | O_CLOEXEC;
    // In one call where the kernel can, as OpenForRead opens a file.
    std::optional<int> opened;
    if (m_fd >= 0) {
        opened = OpenAtOnce(m_fd, relativeDir, m_mounts, kFlags, mode);
    }
    if (!opened) {
        const Dir dir = Directory(relativeDir);
        if (!(*dir).ok()) {
            return (*dir).status();
        }
        opened = ::openat(**dir, ".", kFlags, mode);
    }
    const int fd = *opened;
    // A kernel that does not know O_TMPFILE sees O_DIRECTORY (EISDIR); a file
    // system that cannot do it says EOPNOTSUPP (or, through some layers, EINVAL
    // or ENOSYS).
    if (fd < 0 && (errno == EISDIR || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
        return Status::Failed("openat", EOPNOTSUPP);
    }
    return Opened(fd, "openat");
}

namespace {
// Whether the descriptor itself may be linked (AT_EMPTY_PATH), which needs a
// privilege (CAP_DAC_READ_SEARCH): it spares the walk through /proc. Tried
// until it is refused once.
std::atomic<bool> g_linksDescriptors{true};
}  // namespace

Status SystemRoot::LinkUnnamed(int fd, std::string_view relative) {
    return AtParent(relative, [fd](int dir, const std::string& name) {
        if (g_linksDescriptors.load(std::memory_order_relaxed)) {
            if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) {
                return Status();
            }
            if (errno != EPERM && errno != ENOENT && errno != EINVAL) {
                return Status::FromErrno("linkat");
            }
            g_linksDescriptors.store(false, std::memory_order_relaxed);  // not this process
        }
        char procPath[48];
        std::snprintf(procPath, sizeof procPath, "/proc/thread-self/fd/%d", fd);
        return Outcome(::linkat(AT_FDCWD, procPath, dir, name.c_str(), AT_SYMLINK_FOLLOW),
                       "linkat");
    });
}

Status SystemRoot::RenameReplace(std::string_view from, std::string_view to) {
    const std::string fromName(from.substr(from.rfind('/') + 1));  // a sibling of `to`
    return AtParent(to, [&fromName](int dir, const std::string& toName) {
        return Outcome(::renameat(dir, fromName.c_str(), dir, toName.c_str()), "renameat");
    });
}

namespace {
// Renames `fromName` in `fromDir` to `toName` in `toDir`, a name the
// directory does not list but that leads to an entry it lists under another
// spelling: the volume ignores letter case, by its own rules, beyond A-Z too
// ("\xC3\x96lfile" and "\xC3\xB6lfile"). When that entry is the one renamed,
// it takes the new spelling by way of a free name; any other holds the name
// (EEXIST), and the entry goes back to its own.
Status Respell(int fromDir, const std::string& fromName, int toDir, const std::string& toName) {
    // Asked of the file system itself: the kernel may still hold the new
    // spelling as a name of the entry that has just left it (FUSE does).
    const auto free = [](int dir, const std::string& name) {
        struct statx st;
        return ::statx(dir, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_TYPE,
                       &st) != 0 &&
               errno == ENOENT;
    };
    std::string spare;
    for (int k = 0; spare.empty() || !free(fromDir, spare); ++k) {
        if (k == 100) {
            return Status::Failed("fstatat", EEXIST);
        }
        spare = ".~" + std::to_string(::getpid()) + "-" + std::to_string(k);
    }
    if (::renameat(fromDir, fromName.c_str(), fromDir, spare.c_str()) != 0) {
        return Status::FromErrno("renameat");
    }
    const bool freed = free(toDir, toName);
    if (freed && ::renameat(fromDir, spare.c_str(), toDir, toName.c_str()) == 0) {
        return Status();
    }
    const Status failed = freed ? Status::FromErrno("renameat") : Status::Failed("fstatat", EEXIST);
    // Back where it was, unless something took that name meanwhile: then it
    // stays under the free name, which a later run finds like any other.
    if (free(fromDir, fromName)) {
        (void)::renameat(fromDir, spare.c_str(), fromDir, fromName.c_str());
    }
    return failed;
}
}  // namespace

Status SystemRoot::RenameNoReplaceBetween(int fromDir, const std::string& fromName, int toDir,
                                          const std::string& toName) {
    if (::renameat2(fromDir, fromName.c_str(), toDir, toName.c_str(), RENAME_NOREPLACE) == 0) {
        return Status();
    }
    if (errno == EEXIST) {
        return detail::ListsName(toDir, toName) ? Status::Failed("renameat2", EEXIST)
                                                : Respell(fromDir, fromName, toDir, toName);
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return Status::FromErrno("renameat2");
    }
    // A hard link fails on an existing name just the same; the old name is
    // then dropped. A directory has none, and goes on below.
    if (::linkat(fromDir, fromName.c_str(), toDir, toName.c_str(), 0) == 0) {
        ::unlinkat(fromDir, fromName.c_str(), 0);
        return Status();
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) {
        return Status::FromErrno("linkat");
    }
    // No hard links either (FAT and exFAT, through FUSE too): the name is
    // looked at, then taken by a plain rename.
    struct stat st;
    if (::fstatat(toDir, toName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return detail::ListsName(toDir, toName) ? Status::Failed("fstatat", EEXIST)
                                                : Respell(fromDir, fromName, toDir, toName);
    }
    if (errno != ENOENT) {
        return Status::FromErrno("fstatat");
    }
    return Outcome(::renameat(fromDir, fromName.c_str(), toDir, toName.c_str()), "renameat");
}

Result<std::string> SystemRoot::RealPath() {
    if (m_fd < 0) {
        return m_openStatus;
    }
    char procPath[48];
    std::snprintf(procPath, sizeof procPath, "/proc/thread-self/fd/%d", m_fd);
    std::string path(4096, '\0');
    const ssize_t length = ::readlink(procPath, path.data(), path.size());
    if (length < 0) {
        return Status::FromErrno("readlink");
    }
    if (static_cast<size_t>(length) == path.size()) {
        return Status::Failed("readlink", ENAMETOOLONG);
    }
    path.resize(static_cast<size_t>(length));
    return path;
}

Status SystemRoot::RemoveFile(std::string_view relative) {
    return AtParent(relative, [](int dir, const std::string& name) {
        return Outcome(::unlinkat(dir, name.c_str(), 0), "unlinkat");
    });
}

Status SystemRoot::MakeDirectory(std::string_view relative, mode_t mode) {
    return AtParent(relative, [mode](int dir, const std::string& name) {
        return Outcome(::mkdirat(dir, name.c_str(), mode), "mkdirat");
    });
}

namespace {
// fchmodat(dir, name, mode, AT_SYMLINK_NOFOLLOW), 0 or -1 with errno set. Where
// the kernel cannot do it in one call, the C library would go by way of
// /proc/self/fd, the process's table, which is not the calling thread's when
// that has a table of its own (OwnFileTable): this goes by the thread's.
int ChangeModeNoFollow(int dir, const std::string& name, mode_t mode) {
    constexpr long kFchmodat2 = 452;  // the same number on every architecture
    if (::syscall(kFchmodat2, dir, name.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0) {
        return 0;
    }
    if (errno != ENOSYS && errno != EPERM) {  // EPERM: a filter that knows it not
        return -1;
    }
    const int fd = ::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st;
    int result = ::fstat(fd, &st);
    if (result == 0 && S_ISLNK(st.st_mode)) {
        errno = EOPNOTSUPP;  // a link has no mode of its own
        result = -1;
    } else if (result == 0) {
        char procPath[48];
        std::snprintf(procPath, sizeof procPath, "/proc/thread-self/fd/%d", fd);
        result = ::chmod(procPath, mode);
    }
    CloseKeepingErrno(fd);
    return result;
}
}  // namespace

Status SystemRoot::SetMode(std::string_view relative, mode_t mode) {
    return AtParent(relative, [mode](int dir, const std::string& name) {
        // Never through a link, so the mode lands on what we made; this works on
        // a directory that its owner cannot open (mode 000) as well.
        return OutcomeUnlessUnsupported(ChangeModeNoFollow(dir, name, mode), "fchmodat");
    });
}

Status SystemRoot::RemoveDirectory(std::string_view relative) {
    return AtParent(relative, [](int dir, const std::string& name) {
        return Outcome(::unlinkat(dir, name.c_str(), AT_REMOVEDIR), "unlinkat");
    });
}

bool SystemRoot::MayHold(std::string_view relative) {
    if (m_fd < 0 || !g_haveOpenat2.load(std::memory_order_relaxed) || relative.size() >= PATH_MAX) {
        return true;
    }
    open_how how{};
    how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const std::string path(relative);
    const long fd = ::syscall(SYS_openat2, m_fd, path.c_str(), &how, sizeof how);
    if (fd >= 0) {
        ::close(static_cast<int>(fd));
        return true;
    }
    return errno != ENOENT && errno != ENOTDIR;
}

Status SystemRoot::Flush() {
    if (m_fd < 0) {
        return m_openStatus;
    }
    return Outcome(::syncfs(m_fd), "syncfs");
}

Result<std::uint64_t> SystemRoot::FreeSpace() {
    if (m_fd < 0) {
        return m_openStatus;
    }
    struct statvfs fs;
    if (::fstatvfs(m_fd, &fs) != 0) {
        return Status::FromErrno("fstatvfs");
    }
    // What an unprivileged writer may use: root's reserve is not counted.
    return std::uint64_t{fs.f_bavail} * fs.f_frsize;
}

Status SystemRoot::WriteOut(int fd, off_t settled, off_t start, off_t end) {
    // The new stretch is queued for the disk; the one before it, queued by the
    // last call, has had the time the new one took to be copied to get there.
    if (end > start && ::sync_file_range(fd, start, end - start, SYNC_FILE_RANGE_WRITE) != 0) {
        return Status::FromErrno("sync_file_range");
    }
    if (start > settled) {
        if (::sync_file_range(fd, settled, start - settled,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
            return Status::FromErrno("sync_file_range");
        }
        (void)::posix_fadvise(fd, settled, start - settled, POSIX_FADV_DONTNEED);
    }
    return {};
}

std::string SystemRoot::MountPointOn(std::string_view relative) {
    if (m_fd < 0) {
        return {};
    }
    // Each directory on the way is compared with the one above it by mount id:
    // rare work, done only to word a message.
    int dir = ::openat(m_fd, ".", kDirFlags);
    struct statx above;
    if (dir < 0 || ::statx(dir, "", AT_EMPTY_PATH, STATX_MNT_ID, &above) != 0) {
        if (dir >= 0) {
            ::close(dir);
        }
        return {};
    }
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string_view::npos) {
            end = relative.size();
        }
        const std::string part(relative.substr(start, end - start));
        struct statx here;
        if (part.empty() || ::statx(dir, part.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                                    STATX_MNT_ID, &here) != 0) {
            break;
        }
        if (here.stx_mnt_id != above.stx_mnt_id || here.stx_dev_major != above.stx_dev_major ||
            here.stx_dev_minor != above.stx_dev_minor) {
            ::close(dir);
            return std::string(relative.substr(0, end));
        }
        const int next = ::openat(dir, part.c_str(), kDirFlags | O_NOFOLLOW);
        ::close(dir);
        dir = next;
        if (dir < 0) {
            return {};
        }
        start = end + 1;
    }
    ::close(dir);
    return {};
}

Status SystemRoot::KeepAttributes(int fd, const FileInfo& source) {
    // The owner first: changing it leaves the times alone.
    if (RunningAsRoot()) {
        if (Status owned =
                OutcomeUnlessUnsupported(::fchown(fd, source.owner, source.group), "fchown");
            !owned.ok()) {
            return owned;
        }
    }
    // Both times: some file systems (exFAT through FUSE) ignore a last-write
    // time set alone.
    const timespec times[2] = {source.lastAccessExact, source.lastWriteExact};
    return Outcome(::futimens(fd, times), "futimens");
}

Status SystemRoot::KeepExtendedAttributes(int sourceFd, int fd) {
    // Most files have none: one call with a buffer large enough for a few names
    // tells so.
    std::vector<char> names(1024);
    const Result<size_t> listed =
        ReadGrowing(names, "flistxattr",
                    [sourceFd](char* to, size_t size) { return ::flistxattr(sourceFd, to, size); });
    if (!listed.ok()) {
        // A master on a file system without them has none to keep.
        return listed.status().Is(ENOTSUP) ? Status() : listed.status();
    }
    Status first;
    std::vector<char> value(1024);
    for (size_t at = 0; at < *listed;) {
        const char* name = names.data() + at;
        const std::string_view nameView(name);
        at += nameView.size() + 1;
        if (!KeptAttribute(nameView)) {
            continue;
        }
        const Result<size_t> got =
            ReadGrowing(value, "fgetxattr", [sourceFd, name](char* to, size_t size) {
                return ::fgetxattr(sourceFd, name, to, size);
            });
        Status kept = got.status();
        if (got.ok() && ::fsetxattr(fd, name, value.data(), *got, 0) != 0) {
            kept = Status::FromErrno("fsetxattr");
        }
        // One gone since it was listed was not there to keep.
        if (first.ok() && !kept.ok() && !kept.Is(ENODATA)) {
            first = kept;
        }
    }
    return first;
}

Status SystemRoot::KeepOwner(std::string_view relative, const FileInfo& source) {
    if (!RunningAsRoot()) {
        return {};
    }
    return AtParent(relative, [&source](int dir, const std::string& name) {
        return OutcomeUnlessUnsupported(
            ::fchownat(dir, name.c_str(), source.owner, source.group, AT_SYMLINK_NOFOLLOW),
            "fchownat");
    });
}

}  // namespace platform

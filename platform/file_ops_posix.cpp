#include "platform/file_ops.h"

#include <fcntl.h>
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

namespace platform {

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

}  // namespace

Result<int> OpenForAppend(const std::string& path, MissingDirectories missing,
                          MissingFile missingFile) {
    // The directories are opened one by one from the first, each beneath the
    // last, so none of them is looked up again by its whole path.
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
    const std::string home = HomeDirectory();
    return !home.empty() && home[0] == '/' ? home + "/.local/state" : std::string();
}

const char* StateDirectoryUnknown() {
    return "neither XDG_STATE_HOME nor HOME is set";
}

const char* const kStateDirectoryShown = "~/.local/state";

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

namespace {

struct DirId {
    dev_t dev;
    ino_t ino;
    bool operator==(const DirId&) const = default;
};

// The directory `dirFd` and every directory above it, up to the root of the
// file system as this process sees it. Walking up by ".." from an open
// directory crosses bind mounts and links as the kernel does, whatever a path
// says. False when `dirFd` cannot be looked at.
bool DirectoryAndAncestors(int dirFd, std::vector<DirId>& chain) {
    int fd = ::openat(dirFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    // The depth is bounded only to be safe from a file system that loops.
    for (int depth = 0; ok && depth < 100000; ++depth) {
        chain.push_back({st.st_dev, st.st_ino});
        const int parent = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            ok = false;
            break;
        }
        if (chain.back() == DirId{st.st_dev, st.st_ino}) {
            break;  // ".." of the root is the root itself
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return !chain.empty();
}

// The path the kernel knows an open directory by.
std::string PathOf(int dirFd) {
    char link[48];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", dirFd);
    std::string path(PATH_MAX, '\0');
    const ssize_t n = ::readlink(link, path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) >= path.size()) {
        return {};
    }
    path.resize(static_cast<size_t>(n));
    return path;
}

// Undoes the octal escapes (\040 for a blank) of /proc/self/mountinfo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

// One line of /proc/self/mountinfo: "id parent major:minor root mount-point ...".
struct Mount {
    std::string id;
    std::string device;      // major:minor
    std::string root;        // the path, in its file system, that the mount shows
    std::string mountPoint;  // where it is shown, as this process sees it
};

// The mounts this process sees; empty when the table cannot be read.
std::vector<Mount> ReadMounts() {
    std::vector<Mount> mounts;
    std::string text;
    if (!ReadWholeFile("/proc/self/mountinfo", text).ok()) {
        return mounts;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string fields[5];
        size_t at = start;
        for (std::string& f : fields) {
            const size_t space = text.find(' ', at);
            if (space == std::string::npos || space > end) {
                break;
            }
            f = text.substr(at, space - at);
            at = space + 1;
        }
        start = end + 1;
        mounts.push_back({fields[0], fields[2], Unescape(fields[3]), Unescape(fields[4])});
    }
    return mounts;
}

// Where a directory lies within its file system, whichever mount shows it: the
// file system's device ("major:minor"), the path from its own root, and the
// path by which this process reaches it. A bind mount of a subdirectory shows
// that subdirectory's path here, so two roots that are one storage under
// different mounts are told. The mount is the directory's own, found by its
// mount id, not guessed from the path, which a mount moved over another would
// mislead.
struct Place {
    std::string device;
    std::string inside;
    std::string real;
};

bool PlaceInFileSystem(const std::vector<Mount>& mounts, int dirFd, Place& place) {
    place.real = PathOf(dirFd);
    struct statx self;
    if (place.real.empty() || place.real[0] != '/' ||
        ::statx(dirFd, "", AT_EMPTY_PATH, STATX_MNT_ID, &self) != 0 ||
        (self.stx_mask & STATX_MNT_ID) == 0) {
        return false;
    }
    const std::string id = std::to_string(self.stx_mnt_id);
    const auto mount = std::ranges::find(mounts, id, &Mount::id);
    if (mount == mounts.end() || !IsAtOrBelow(place.real, mount->mountPoint)) {
        return false;
    }
    place.device = mount->device;
    const std::string below =
        mount->mountPoint == "/" ? place.real : place.real.substr(mount->mountPoint.size());
    place.inside = mount->root == "/" ? (below.empty() ? "/" : below) : mount->root + below;
    return true;
}

// True when the directory `dir` lists `name` exactly as spelled (or cannot be
// listed).
bool Lists(const std::string& dir, const std::string& name) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    const bool listed = detail::ListsName(fd, name);
    ::close(fd);
    return listed;
}

// True when the absolute path `shorter` names, on one file system, the same
// directory as `longer` or one above it, though spelled otherwise: a file system
// that ignores letter case (FAT, exFAT through FUSE, which may even give each
// spelling its own inode number) takes "docs", "DOCS" and "été", "ÉTÉ" for one
// name. Where two names differ, the directory holding them decides: it lists
// only the name it keeps, so both spellings reaching something while only one
// is listed means one entry. No folding of letters is assumed.
bool SameEntries(const std::string& shorter, const std::string& longer) {
    const auto split = [](const std::string& path) {
        std::vector<std::string> parts;
        for (size_t start = 1; start < path.size();) {
            const size_t end = std::min(path.find('/', start), path.size());
            parts.push_back(path.substr(start, end - start));
            start = end + 1;
        }
        return parts;
    };
    const std::vector<std::string> a = split(shorter);
    const std::vector<std::string> b = split(longer);
    if (a.size() > b.size()) {
        return false;
    }
    std::string parent = "/";
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && Lists(parent, a[i]) && Lists(parent, b[i])) {
            return false;
        }
        parent += (i == 0 ? "" : "/") + a[i];
    }
    return true;
}

bool PlacesOverlap(const Place& a, const Place& b) {
    if (a.device != b.device) {
        return false;
    }
    if (IsAtOrBelow(a.inside, b.inside) || IsAtOrBelow(b.inside, a.inside)) {
        return true;
    }
    // Spelled otherwise but one directory, where the file system ignores case
    // (seen on one mount; through another the exact check above holds).
    return SameEntries(a.real, b.real) || SameEntries(b.real, a.real);
}

}  // namespace

bool RootsOverlap(int a, int b) {
    std::vector<DirId> chainA;
    std::vector<DirId> chainB;
    if (!DirectoryAndAncestors(a, chainA) || !DirectoryAndAncestors(b, chainB)) {
        return false;
    }
    if (std::ranges::find(chainB, chainA.front()) != chainB.end() ||
        std::ranges::find(chainA, chainB.front()) != chainA.end()) {
        return true;
    }
    // A bind mount of a subdirectory of one tree standing as the other tree is
    // not above it by "..": the file systems' own paths tell. Where they cannot
    // be told (a path past the system's limit), one device is taken for an
    // overlap: refusing a run is better than a run that deletes the master.
    const std::vector<Mount> mounts = ReadMounts();
    Place placeA;
    Place placeB;
    if (!PlaceInFileSystem(mounts, a, placeA) || !PlaceInFileSystem(mounts, b, placeB)) {
        struct stat stA;
        struct stat stB;
        return ::fstat(a, &stA) != 0 || ::fstat(b, &stB) != 0 || stA.st_dev == stB.st_dev;
    }
    return PlacesOverlap(placeA, placeB);
}

bool LiesInsideItself(int dirFd) {
    std::vector<DirId> chain;
    if (!DirectoryAndAncestors(dirFd, chain)) {
        return false;
    }
    if (chain.size() > 1) {
        return std::find(chain.begin() + 1, chain.end(), chain.front()) != chain.end();
    }
    // Its ".." is itself: the root of the file system as this process sees it,
    // or a directory bound onto one of its own subdirectories.
    struct stat root;
    return ::stat("/", &root) == 0 && !(chain.front() == DirId{root.st_dev, root.st_ino});
}

std::vector<std::string> MountPointsBelow(int dirFd) {
    std::vector<std::string> below;
    const std::string real = PathOf(dirFd);
    if (real.empty() || real[0] != '/') {
        return below;
    }
    for (const Mount& mount : ReadMounts()) {
        if (mount.mountPoint.size() > real.size() && IsAtOrBelow(mount.mountPoint, real)) {
            below.push_back(mount.mountPoint.substr(real == "/" ? 1 : real.size() + 1));
        }
    }
    return below;
}

FileTime TimeStepOf(int dirFd) {
    constexpr long kMsdos = 0x4d44;
    constexpr long kExfat = 0x2011BAB0;
    constexpr long kFuse = 0x65735546;
    struct statfs fs;
    if (::fstatfs(dirFd, &fs) != 0) {
        return 0;
    }
    const long type = static_cast<long>(fs.f_type);
    return type == kMsdos || type == kExfat || type == kFuse ? FileTime{2} * 10000000 : 0;
}

}  // namespace platform

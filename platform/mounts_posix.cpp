// Where trees lie among the mounted file systems: the overlap of two roots by
// what they are, the mounts below a root, a root mounted inside itself, and the
// step in which a file system keeps times.
#include "platform/mounts.h"

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

#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/system_root.h"

namespace platform {

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
    std::snprintf(link, sizeof link, "/proc/thread-self/fd/%d", dirFd);
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

bool OnSameMount(int a, int b) {
    struct statx sa {};
    struct statx sb {};
    if (::statx(a, "", AT_EMPTY_PATH, STATX_MNT_ID, &sa) != 0 ||
        ::statx(b, "", AT_EMPTY_PATH, STATX_MNT_ID, &sb) != 0) {
        return false;
    }
    if (sa.stx_dev_major != sb.stx_dev_major || sa.stx_dev_minor != sb.stx_dev_minor) {
        return false;
    }
    return (sa.stx_mask & sb.stx_mask & STATX_MNT_ID) == 0 || sa.stx_mnt_id == sb.stx_mnt_id;
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

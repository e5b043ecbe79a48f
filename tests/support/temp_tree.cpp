#include "support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ =
        std::string(base != nullptr && *base ? base : "/tmp") + "/kelvad-test-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = buffer.data();
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

ScopedWorkingDir::ScopedWorkingDir(const std::string& path) {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) == nullptr || ::chdir(path.c_str()) != 0) {
        throw std::runtime_error("cannot change to " + path);
    }
    m_old = buffer;
}

ScopedWorkingDir::~ScopedWorkingDir() {
    (void)!::chdir(m_old.c_str());
}

ScopedHome::ScopedHome(const std::string& path) {
    const char* old = std::getenv("HOME");
    m_old = old != nullptr ? old : "";
    ::setenv("HOME", path.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    ::setenv("HOME", m_old.c_str(), 1);
}

BindMount::BindMount(const std::string& from, const std::string& at, const char* type,
                     const char* options)
    : m_at(at) {
    MakeDirs(at);
    m_mounted =
        ::mount(from.c_str(), at.c_str(), type, type == nullptr ? MS_BIND : 0, options) == 0;
}

BindMount::~BindMount() {
    if (m_mounted) {
        ::umount2(m_at.c_str(), MNT_DETACH);
    }
}

void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            ::mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
}

void WriteFile(const std::string& path, const std::string& content, time_t mtime) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        MakeDirs(path.substr(0, slash));
    }
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error("cannot write " + path);
        }
        out << content;
    }
    if (mtime != 0) {
        SetMtime(path, mtime);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void SetMtime(const std::string& path, time_t mtime, long nanoseconds) {
    timespec times[2];
    times[0].tv_sec = mtime;
    times[0].tv_nsec = nanoseconds;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void SetMode(const std::string& path, mode_t mode) {
    ::chmod(path.c_str(), mode);
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        ::unlink(path.c_str());
        return;
    }
    // One directory open at a time, climbing back by "..", so trees deeper than
    // the path limit or the descriptor limit go too.
    struct Level {
        std::string name;
        std::vector<std::string> subdirs;
    };
    std::vector<Level> levels;
    ::chmod(path.c_str(), 0700);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    auto enter = [&](std::string name) {
        Level level{std::move(name), {}};
        if (DIR* dir = ::fdopendir(::dup(fd))) {
            while (dirent* d = ::readdir(dir)) {
                const std::string entry = d->d_name;
                if (entry == "." || entry == "..") {
                    continue;
                }
                struct stat est;
                if (::fstatat(fd, entry.c_str(), &est, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(est.st_mode)) {
                    ::fchmodat(fd, entry.c_str(), 0700, 0);
                    level.subdirs.push_back(entry);
                } else {
                    ::unlinkat(fd, entry.c_str(), 0);
                }
            }
            ::closedir(dir);
        }
        levels.push_back(std::move(level));
    };
    if (fd >= 0) {
        enter("");
    }
    while (fd >= 0 && !levels.empty()) {
        Level& top = levels.back();
        if (!top.subdirs.empty()) {
            const std::string name = top.subdirs.back();
            top.subdirs.pop_back();
            const int child =
                ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) {
                ::close(fd);
                fd = child;
                enter(name);
            }
            continue;
        }
        const std::string name = top.name;
        levels.pop_back();
        if (levels.empty()) {
            break;
        }
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        if (fd >= 0) {
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    ::rmdir(path.c_str());
}

std::string MakeDeepChain(const std::string& root, const std::string& name, int levels,
                          const std::string& fileContent) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string relative;
    for (int i = 0; i < levels && fd >= 0; ++i) {
        ::mkdirat(fd, name.c_str(), 0777);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        relative += name + "/";
    }
    if (fd < 0) {
        throw std::runtime_error("cannot make a deep chain in " + root);
    }
    const int file = ::openat(fd, "file", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    (void)!::write(file, fileContent.data(), fileContent.size());
    ::close(file);
    ::close(fd);
    return relative + "file";
}

void MakeManyFiles(const std::string& dir, int count) {
    MakeDirs(dir);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + dir);
    }
    constexpr int kNamesPerFile = 60000;  // ext4 gives a file at most 65,000 names
    std::string first;
    for (int i = 0; i < count; ++i) {
        const std::string name = "f" + std::to_string(i);
        bool made;
        if (i % kNamesPerFile == 0) {
            first = name;
            const int file = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            made = file >= 0 && ::close(file) == 0;
        } else {
            made = ::linkat(fd, first.c_str(), fd, name.c_str(), 0) == 0;
        }
        if (!made) {
            ::close(fd);
            throw std::runtime_error("cannot make " + dir + "/" + name);
        }
    }
    ::close(fd);
}

std::string ReadFileBeneath(const std::string& root, const std::string& relative) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t start = 0;
    for (size_t slash; fd >= 0 && (slash = relative.find('/', start)) != std::string::npos;
         start = slash + 1) {
        const int next = ::openat(fd, relative.substr(start, slash - start).c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    const int file =
        fd < 0 ? -1 : ::openat(fd, relative.substr(start).c_str(), O_RDONLY | O_CLOEXEC);
    std::string content;
    char buffer[4096];
    for (ssize_t n; file >= 0 && (n = ::read(file, buffer, sizeof buffer)) > 0;) {
        content.append(buffer, static_cast<size_t>(n));
    }
    if (file >= 0) {
        ::close(file);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return file < 0 ? "(missing)" : content;
}

namespace {
void SnapshotInto(const std::string& root, const std::string& rel,
                  std::map<std::string, std::string>& out) {
    const std::string dirPath = rel.empty() ? root : root + "/" + rel;
    DIR* dir = ::opendir(dirPath.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string childRel = rel.empty() ? name : rel + "/" + name;
        const std::string childPath = root + "/" + childRel;
        struct stat st;
        if (::lstat(childPath.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            out[childRel] = "d";
            SnapshotInto(root, childRel, out);
        } else if (S_ISREG(st.st_mode)) {
            out[childRel] = "f:" + ReadFile(childPath);
        } else if (S_ISLNK(st.st_mode)) {
            out[childRel] = "l";
        } else {
            out[childRel] = "o";
        }
    }
}
}  // namespace

std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    SnapshotInto(root, "", out);
    return out;
}

std::string ExtendedAttribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = ::lgetxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string() : std::string(value, static_cast<size_t>(n));
}

bool SetExtendedAttribute(const std::string& path, const char* name, const std::string& value) {
    return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

std::string LittleEndianWords(std::initializer_list<std::uint32_t> words) {
    std::string bytes;
    for (std::uint32_t w : words) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<char>((w >> (8 * i)) & 0xFF));
        }
    }
    return bytes;
}

std::string AclGrantingRead(std::uint32_t uid) {
    // Version 2, then (tag, permissions) and an id for each entry, in tag order.
    constexpr std::uint32_t kNoId = 0xFFFFFFFF;
    return LittleEndianWords({2, 0x00060001, kNoId, 0x00040002, uid, 0x00040004, kNoId, 0x00040010,
                              kNoId, 0x00000020, kNoId});
}

#include "support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && *base ? base : "/tmp") + "/kelvad-test-XXXXXX";
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

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.c_str(), 0700);
        if (DIR* dir = ::opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* d = ::readdir(dir)) {
                const std::string name = d->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            ::closedir(dir);
            for (const std::string& name : names) {
                RemoveTree(path + "/" + name);
            }
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
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

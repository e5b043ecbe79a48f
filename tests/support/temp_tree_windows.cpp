// The test trees on Windows: the same helpers on the system's own calls, with
// every path in its long form so that deep trees work as on Linux.
#include "support/temp_tree.h"

#include <stdexcept>
#include <vector>

#include "platform/file_ops.h"
#include "platform/windows_util.h"

using platform::win::LongPath;
using platform::win::Narrow;
using platform::win::Widen;

namespace {
void SetTimes(HANDLE file, time_t mtime, long nanoseconds) {
    timespec ts{};
    ts.tv_sec = mtime;
    ts.tv_nsec = nanoseconds;
    const LARGE_INTEGER t = platform::win::FiletimeOf(ts);
    FILETIME ft{static_cast<DWORD>(t.QuadPart & 0xffffffff), static_cast<DWORD>(t.QuadPart >> 32)};
    ::SetFileTime(file, nullptr, &ft, &ft);
}

// The names in the directory `path`, "." and ".." left out, with whether each
// is a directory (links are reported as what they are not: neither).
struct Listed {
    std::string name;
    DWORD attributes;
};
std::vector<Listed> List(const std::string& path) {
    std::vector<Listed> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((LongPath(path) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = Narrow(found.cFileName);
        if (name != "." && name != "..") {
            names.push_back({name, found.dwFileAttributes});
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}
}  // namespace

TempDir::TempDir() {
    wchar_t base[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
    const std::string root = Narrow(std::wstring(base, n));
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = root + "kelvad-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 std::to_string(++counter);
        for (char& c : m_path) {
            if (c == '\\') {
                c = '/';
            }
        }
        if (::CreateDirectoryW(LongPath(m_path).c_str(), nullptr)) {
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

ScopedWorkingDir::ScopedWorkingDir(const std::string& path) {
    wchar_t buffer[32768];
    const DWORD n = ::GetCurrentDirectoryW(32768, buffer);
    if (n == 0 || !::SetCurrentDirectoryW(Widen(path).c_str())) {
        throw std::runtime_error("cannot change to " + path);
    }
    m_old = Narrow(std::wstring(buffer, n));
}

ScopedWorkingDir::~ScopedWorkingDir() {
    ::SetCurrentDirectoryW(Widen(m_old).c_str());
}

ScopedHome::ScopedHome(const std::string& path)
    : m_old(platform::EnvironmentVariable("USERPROFILE")) {
    ::SetEnvironmentVariableW(L"USERPROFILE", Widen(path).c_str());
}

ScopedHome::~ScopedHome() {
    ::SetEnvironmentVariableW(L"USERPROFILE", Widen(m_old).c_str());
}

BindMount::BindMount(const std::string&, const std::string& at, const char*, const char*)
    : m_at(at) {
    MakeDirs(at);  // Windows has no bind mounts: Mounted() stays false and the test skips
}

BindMount::~BindMount() = default;

void MakeDirs(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/' || path[i] == '\\') {
            ::CreateDirectoryW(LongPath(path.substr(0, i)).c_str(), nullptr);
        }
    }
}

void WriteFile(const std::string& path, const std::string& content, time_t mtime) {
    const size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0 && !Exists(path.substr(0, slash))) {
        MakeDirs(path.substr(0, slash));
    }
    const std::wstring wide = LongPath(path);
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot write " + path);
    }
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    if (mtime != 0) {
        SetTimes(file, mtime, 0);
    }
    ::CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    HANDLE file =
        ::CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    std::string content;
    char buffer[65536];
    DWORD n = 0;
    while (file != INVALID_HANDLE_VALUE && ::ReadFile(file, buffer, sizeof buffer, &n, nullptr) &&
           n > 0) {
        content.append(buffer, n);
    }
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
    }
    return content;
}

void SetMtime(const std::string& path, time_t mtime, long nanoseconds) {
    HANDLE file = ::CreateFileW(LongPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        SetTimes(file, mtime, nanoseconds);
        ::CloseHandle(file);
    }
}

void SetMode(const std::string& path, mode_t mode) {
    const std::wstring wide = LongPath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return;
    }
    const DWORD changed = (mode & 0200) ? attributes & ~FILE_ATTRIBUTE_READONLY
                                        : attributes | FILE_ATTRIBUTE_READONLY;
    ::SetFileAttributesW(wide.c_str(), changed != 0 ? changed : FILE_ATTRIBUTE_NORMAL);
}

mode_t ModeOf(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return 0755;
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    const std::wstring wide = LongPath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!::DeleteFileW(wide.c_str())) {
            ::RemoveDirectoryW(wide.c_str());  // a link to a directory
        }
        return;
    }
    for (const Listed& entry : List(path)) {
        RemoveTree(path + "/" + entry.name);
    }
    ::RemoveDirectoryW(wide.c_str());
}

std::string MakeDeepChain(const std::string& root, const std::string& name, int levels,
                          const std::string& fileContent) {
    std::string relative;
    for (int i = 0; i < levels; ++i) {
        relative += name + "/";
        if (!::CreateDirectoryW(LongPath(root + "/" + relative).c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot make a deep chain in " + root);
        }
    }
    WriteFile(root + "/" + relative + "file", fileContent);
    return relative + "file";
}

void MakeManyFiles(const std::string& dir, int count) {
    MakeDirs(dir);
    for (int i = 0; i < count; ++i) {
        HANDLE file = ::CreateFileW(LongPath(dir + "/f" + std::to_string(i)).c_str(), GENERIC_WRITE,
                                    0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            throw std::runtime_error("cannot make " + dir + "/f" + std::to_string(i));
        }
        ::CloseHandle(file);
    }
}

std::string ReadFileBeneath(const std::string& root, const std::string& relative) {
    const std::string path = root + "/" + relative;
    if (::GetFileAttributesW(LongPath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
        return "(missing)";
    }
    return ReadFile(path);
}

namespace {
void SnapshotInto(const std::string& root, const std::string& rel,
                  std::map<std::string, std::string>& out) {
    for (const Listed& entry : List(rel.empty() ? root : root + "/" + rel)) {
        const std::string childRel = rel.empty() ? entry.name : rel + "/" + entry.name;
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            out[childRel] = "l";
        } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[childRel] = "d";
            SnapshotInto(root, childRel, out);
        } else {
            out[childRel] = "f:" + ReadFile(root + "/" + childRel);
        }
    }
}
}  // namespace

std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    SnapshotInto(root, "", out);
    return out;
}

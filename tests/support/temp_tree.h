// Real files in real temporary directories for the tests: a directory that
// removes itself, and helpers to make files with given content and times.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <map>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path() + "/" + relative.
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

// Makes a directory the working directory for as long as it lives.
class ScopedWorkingDir {
public:
    explicit ScopedWorkingDir(const std::string& path);
    ~ScopedWorkingDir();

private:
    std::string m_old;
};

// Makes `path` the user's home directory ($HOME; %USERPROFILE% on Windows) for
// as long as it lives.
class ScopedHome {
public:
    explicit ScopedHome(const std::string& path);
    ~ScopedHome();

private:
    std::string m_old;
};

// A bind mount of the directory `from` at `at` for as long as it lives.
// Mounted() is false where the system refuses one (the test then skips).
class BindMount {
public:
    // Mounts `from` at `at` as a bind mount or, with `type`, a file system of
    // that type named `from`, with `options` ("size=1m").
    BindMount(const std::string& from, const std::string& at, const char* type = nullptr,
              const char* options = nullptr);
    ~BindMount();
    bool Mounted() const { return m_mounted; }

private:
    std::string m_at;
    bool m_mounted = false;
};

// Writes `content` to `path`, creating the parent directories; when `mtime` is
// not 0 the last-write time is set to that many seconds since 1970.
void WriteFile(const std::string& path, const std::string& content, time_t mtime = 0);
std::string ReadFile(const std::string& path);
void MakeDirs(const std::string& path);
void SetMtime(const std::string& path, time_t mtime, long nanoseconds = 0);
bool Exists(const std::string& path);  // lstat: links count too
// Sets the permission bits of `path` (on Windows, what it keeps of them: a
// file without the owner's write bit is read-only), and reads them back as the
// system keeps them (on Windows 0444 or 0644 for a file, 0755 for a directory).
void SetMode(const std::string& path, mode_t mode);
mode_t ModeOf(const std::string& path);
// Removes a tree, making unreadable directories readable first; trees deeper
// than the path limit too.
void RemoveTree(const std::string& path);

// Makes `levels` nested directories called `name` below `root` and a file
// "file" holding `fileContent` at the bottom, however long the path grows.
// Returns the file's path relative to `root`.
std::string MakeDeepChain(const std::string& root, const std::string& name, int levels,
                          const std::string& fileContent);
// Makes `count` empty files, "f0" to "f<count - 1>", in the directory `dir`
// (made if need be), fast enough for a directory of hundreds of thousands:
// most are further names (hard links) of a few files, about a third of the
// time of a file each.
void MakeManyFiles(const std::string& dir, int count);
// The content of the file `relative` below `root`, read without the whole path
// ever being handed to the system; "(missing)" when it is not there.
std::string ReadFileBeneath(const std::string& root, const std::string& relative);

// Everything below `root` as relative path -> "d" for a directory, "f:" + content
// for a file, "l" for a link and "o" for anything else. Links are not followed.
std::map<std::string, std::string> Snapshot(const std::string& root);

// Extended attributes, on Linux only. The raw value of `name` on `path` (not
// through a link), "" when it has none; setting one returns false, errno set,
// where the file system refuses it.
std::string ExtendedAttribute(const std::string& path, const char* name);
bool SetExtendedAttribute(const std::string& path, const char* name, const std::string& value);
// 32-bit words in little-endian bytes, the kernel's form of ACLs and capabilities.
std::string LittleEndianWords(std::initializer_list<std::uint32_t> words);
// An ACL in the kernel's form (system.posix_acl_access or _default) that gives
// the user `uid` read: owner rw, user `uid` r, group r, mask r, others nothing.
std::string AclGrantingRead(std::uint32_t uid);

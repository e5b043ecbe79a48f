// Faults, delays and spies for tests, injected by wrapping a root: every call
// that a FaultyRoot makes is first put to its injector, which may make it fail
// with an errno of its choosing (a full disk, a failed rename, a read error
// that a real disk will not produce when asked), wait, or count it. Nothing of
// this is in the program itself.
#pragma once

#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/tree_root.h"

// The calls of a root that can be made to fail.
enum class Call {
    Open,    // opening a source file for reading
    Create,  // creating an output file, named or unnamed (then `path` is its directory)
    Read,
    Write,
    CopyRange,  // the kernel's in-place copy
    Close,
    Rename,  // giving an output its final name (a rename, or linking an unnamed file)
    Unlink,
    Mkdir,
    Rmdir,
    OpenDir,   // opening a directory for listing
    ReadDir,   // fetching the next entry of a listing
    Stat,      // looking at a file or directory
    Chmod,     // setting the permission bits of a directory that a run made
    Sync,      // flushing the slave's file system to its disk
    Xattr,     // giving an output its source's extended attributes
    Times,     // giving an output its source's times (and, as root, owner)
    Chown,     // giving a directory that a run made its master's owner
    ReadLink,  // reading what a symbolic link holds
    Lock,      // locking the slave for the run
    Probe,     // a look-up that answers yes or no: a name there, an ancestor's
               // entry, the letter case, a mount point on the way
    Mounts,    // the mount table: the mount points below a root, a loop
    Overlap,   // telling whether two roots overlap
    TimeStep,  // the step in which the file system keeps times
    Keep,      // moving an entry to another directory: what a run takes away to where
               // it is kept, a moved file or folder to its new place (`path` is where
               // it was)
};

const char* CallName(Call call);

class FaultInjector {
public:
    virtual ~FaultInjector() = default;
    // Returns the errno value that the call must fail with, or 0 to let it run.
    // `path` is the root's path and "/relative" for calls on a path, the root's
    // path alone for calls on an open file or listing. Calls from the roots of
    // one request come one at a time (the two scans run at once).
    virtual int Fail(Call call, const std::string& path) = 0;

    std::mutex m_mutex;  // taken by the roots around each Fail
};

// A root that wraps the system's root at `path` and asks `faults` before each
// of its calls; the call is not made, and fails as the injector says, when it
// says so. A yes-or-no look-up fails as its contract says it answers when it
// cannot tell. Its SecondHandle is the system's, unwrapped, so the calls of
// each root come in the same order in every run.
class FaultyRoot : public platform::TreeRootWrapper {
public:
    FaultyRoot(std::string path, platform::Mounts mounts, FaultInjector& faults)
        : TreeRootWrapper(platform::OpenTreeRoot(std::move(path), mounts)), m_faults(faults) {}

    platform::Result<int> OpenDirectory(std::string_view relative) override;
    bool NextMatch(platform::DirSearch& search, platform::DirMatch& match) override;
    platform::Result<int> OpenForRead(std::string_view relative, platform::FileInfo& info) override;
    platform::Result<int> CreateExclusive(std::string_view relative, mode_t mode) override;
    platform::Result<int> CreateUnnamed(std::string_view relativeDir, mode_t mode) override;
    platform::Status LinkUnnamed(int fd, std::string_view relative) override;
    platform::Status RenameReplace(std::string_view from, std::string_view to) override;
    platform::Status RenameNoReplace(std::string_view from, std::string_view to) override;
    platform::Status MoveInto(std::string_view from, int toDir, std::string_view toName,
                              std::string_view successor, bool& moved) override;
    platform::Status MoveIntoIfUnchanged(std::string_view from, int toDir, std::string_view toName,
                                         const platform::FileInfo& expected, bool sized) override;
    platform::Status RemoveFile(std::string_view relative) override;
    platform::Status MakeDirectory(std::string_view relative, mode_t mode) override;
    platform::Status SetMode(std::string_view relative, mode_t mode) override;
    platform::Status RemoveDirectory(std::string_view relative) override;
    platform::Status DescribeName(std::string_view relative, platform::FileInfo& info) override;
    platform::Result<bool> LeadsTo(std::string_view relative, const platform::FileInfo& opened,
                                   platform::FileInfo& named) override;
    platform::Status Flush() override;
    platform::Result<size_t> Read(int fd, void* buffer, size_t size) override;
    platform::Result<size_t> ReadAt(int fd, void* buffer, size_t size, off_t offset) override;
    platform::Status WriteAll(int fd, const void* buffer, size_t size) override;
    platform::Status WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) override;
    platform::Result<size_t> CopyRange(int in, int out, size_t size) override;
    platform::Result<size_t> CopyRangeAt(int in, off_t inOffset, int out, off_t outOffset,
                                         size_t size) override;
    platform::Result<off_t> SeekData(int fd, off_t offset) override;
    platform::Result<off_t> SeekHole(int fd, off_t offset) override;
    platform::Status Truncate(int fd, off_t size) override;
    platform::Status Describe(int fd, platform::FileInfo& info) override;
    platform::Status KeepExtendedAttributes(int sourceFd, int fd) override;
    platform::Status Close(int fd) override;
    platform::Result<std::string> ReadLink(std::string_view relative) override;
    platform::Status KeepAttributes(int fd, const platform::FileInfo& source) override;
    platform::Status KeepOwner(std::string_view relative,
                               const platform::FileInfo& source) override;
    platform::Status Rewind(int fd) override;
    platform::Status Lock() override;
    bool MayHold(std::string_view relative) override;
    bool NameExists(std::string_view relative) override;
    bool IgnoresCase(std::string_view relative) override;
    bool AncestorHolds(std::string_view name) override;
    std::string MountPointOn(std::string_view relative) override;
    platform::Result<std::vector<std::string>> MountPointsBelow() override;
    bool LiesInsideItself(int dirFd) override;
    platform::Result<bool> Overlaps(platform::TreeRoot& other, std::string_view relative) override;
    platform::Result<bool> OverlapsDirectory(int dirFd) override;
    platform::Result<platform::FileTime> TimeStep() override;

private:
    // The failure the injector gives `call` on `relative` ("" for a call on an
    // open file or listing); ok to let the call run.
    platform::Status Fails(Call call, std::string_view relative = {});

    FaultInjector& m_faults;
};

// What StartRequest::openRoot takes: both roots wrapped with `faults`.
inline auto WrapRoots(FaultInjector& faults) {
    return [&faults](const std::string& path, platform::Mounts mounts) {
        return std::unique_ptr<platform::TreeRoot>(new FaultyRoot(path, mounts, faults));
    };
}

// Fails the n-th (1-based) call of one kind, optionally only for paths that
// contain a given text, with a given errno, once.
class OneFault : public FaultInjector {
public:
    OneFault(Call call, int err, int nth = 1, std::string pathPart = {})
        : m_call(call), m_err(err), m_nth(nth), m_pathPart(std::move(pathPart)) {}

    int Fail(Call call, const std::string& path) override {
        if (call != m_call || m_fired) {
            return 0;
        }
        if (!m_pathPart.empty() && path.find(m_pathPart) == std::string::npos) {
            return 0;
        }
        if (++m_seen < m_nth) {
            return 0;
        }
        m_fired = true;
        return m_err;
    }

    bool Fired() const { return m_fired; }
    int Seen() const { return m_seen; }

private:
    Call m_call;
    int m_err;
    int m_nth;
    std::string m_pathPart;
    int m_seen = 0;
    bool m_fired = false;
};

// Several OneFaults at once: a call fails as the first of them that fails it.
class SeveralFaults : public FaultInjector {
public:
    struct Planned {
        Call call;
        int err;
        int nth;
        std::string pathPart;
    };
    SeveralFaults(std::initializer_list<Planned> faults) {
        for (const Planned& f : faults) {
            m_faults.emplace_back(f.call, f.err, f.nth, f.pathPart);
        }
    }

    int Fail(Call call, const std::string& path) override {
        for (OneFault& fault : m_faults) {
            if (const int err = fault.Fail(call, path); err != 0) {
                return err;
            }
        }
        return 0;
    }

private:
    std::deque<OneFault> m_faults;
};

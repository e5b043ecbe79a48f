// The directory search: lists the entries of one directory with their type and
// last-write time. Only regular files and directories are reported; symbolic
// links, FIFOs, sockets and device files are passed over as if absent, so that
// nothing is ever followed or opened through them.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_time.h"

namespace platform {

struct DirMatch {
    std::string_view name;  // valid until the next call of Next or Close
    bool isDirectory = false;
    FileTime lastWrite = 0;
    std::uint64_t size = 0;  // in bytes; 0 for a directory
    // Another file system (or a bind mount, even of the same one) is mounted
    // here: the entry is not part of the listed directory's own file system.
    bool mountPoint = false;
};

class DirSearch {
public:
    DirSearch() = default;
    ~DirSearch() { Close(); }
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    // Starts the search of the open directory `fd` (TreeRoot::OpenDirectory),
    // which the search now owns and closes. Returns false (errno set) when it
    // cannot be listed; `fd` is closed then too.
    bool Open(int fd);

    // Fills `match` with the next entry, "." and ".." included where the system
    // reports them. Returns false at the end of the listing, and also when the
    // listing broke off with an error: Failed() then tells which.
    bool Next(DirMatch& match);

    // True when the listing ended in an error, so the entries seen are not all.
    bool Failed() const { return m_failed; }
    // Ends the listing as broken off with `err` (errno set), as a failing
    // system call would.
    void Fail(int err);

    // Ends the search; the directory is no longer held open.
    void Close();

private:
    DIR* m_dir = nullptr;
    int m_fd = -1;
    bool m_failed = false;
    // The mount that the listed directory belongs to (statx's mount id, or its
    // device where the kernel gives no mount id).
    std::uint64_t m_mountId = 0;
    std::uint64_t m_device = 0;
    bool m_haveMountId = false;
};

}  // namespace platform

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
    // Why it ended so (an errno value); 0 while it has not failed.
    int Error() const { return m_failed ? m_error : 0; }
    // Ends the listing as broken off with `err` (errno set), as a failing
    // system call would.
    void Fail(int err);

    // Ends the search; the directory is no longer held open.
    void Close();

private:
    DIR* m_dir = nullptr;
    int m_fd = -1;
    bool m_failed = false;
    int m_error = 0;
};

}  // namespace platform

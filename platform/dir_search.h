// The directory search: lists the entries of one directory with their type and
// last-write time. Symbolic links, FIFOs, sockets, device files (and on
// Windows every reparse point) are reported as "other", by name only: nothing
// is ever followed or opened through them.
#pragma once

#ifndef _WIN32
#include <dirent.h>
#endif

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_time.h"
#include "platform/status.h"

namespace platform {

struct DirMatch {
    std::string_view name;  // valid until the next call of Next or Close
    bool isDirectory = false;
    // Neither a regular file nor a directory: a link, FIFO, socket or device,
    // which takes no part in the mirror. Its time and size are 0.
    bool isOther = false;
    // A name the system cannot open as one name (on Windows, one holding a
    // separator, as a Linux directory or a share may have it); always with
    // isOther. Never on Linux.
    bool unusableName = false;
    FileTime lastWrite = 0;
    // The nanoseconds below lastWrite's 100 ns (0 to 99), where the file
    // system keeps them; 0 otherwise.
    std::uint8_t lastWriteNs = 0;
    std::uint64_t size = 0;  // in bytes; 0 for a directory
};

class DirSearch {
public:
    DirSearch() = default;
    ~DirSearch() { Close(); }
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    // Starts the search of the open directory `fd` (TreeRoot::OpenDirectory),
    // which the search now owns and closes, also when it cannot be listed.
    Status Open(int fd);

    // Fills `match` with the next entry, "." and ".." included where the system
    // reports them. Returns false at the end of the listing, and also when the
    // listing broke off with an error: status() then tells which.
    bool Next(DirMatch& match);

    // A failure when the listing ended in an error, so the entries seen are
    // not all; ok otherwise.
    const Status& status() const { return m_status; }
    // Ends the listing as broken off with `failure`, as a failing system call
    // would.
    void Fail(Status failure) { m_status = failure; }

    // Ends the search; the directory is no longer held open.
    void Close();

private:
#ifdef _WIN32
    bool FillBuffer();

    int m_fd = -1;
    std::unique_ptr<unsigned char[]> m_buffer;  // entries as the system gives them
    size_t m_next = 0;                          // the offset of the next entry in m_buffer
    bool m_bufferFull = false;
    bool m_first = true;
    std::string m_name;  // the current entry's name in UTF-8
#else
    DIR* m_dir = nullptr;
    int m_fd = -1;
#endif
    Status m_status;
};

}  // namespace platform

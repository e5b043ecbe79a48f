#include "platform/dir_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace platform {

Status DirSearch::Open(int fd) {
    Close();
    m_status = Status();
    m_dir = ::fdopendir(fd);
    if (m_dir == nullptr) {
        m_status = Status::FromErrno("fdopendir");
        ::close(fd);
        return m_status;
    }
    m_fd = fd;
    return {};
}

bool DirSearch::Next(DirMatch& match) {
    if (m_dir == nullptr || !m_status.ok()) {
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(m_dir);
        if (d == nullptr) {
            if (errno != 0) {
                m_status = Status::FromErrno("readdir");
            }
            return false;
        }
        const unsigned char type = d->d_type;
        const char* name = d->d_name;
        const bool dots = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
        if (dots || (type != DT_REG && type != DT_DIR && type != DT_UNKNOWN)) {
            // Links and special files are named, never looked into.
            match.name = name;
            match.isDirectory = dots;
            match.isOther = !dots;
            match.lastWrite = 0;
            match.lastWriteNs = 0;
            match.size = 0;
            return true;
        }
        struct stat st;
        if (::fstatat(m_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue;  // removed since it was listed: it is simply not there
            }
            // e.g. a directory that may be read but not searched
            m_status = Status::FromErrno("fstatat");
            return false;
        }
        match.name = name;
        match.isDirectory = S_ISDIR(st.st_mode);
        match.isOther = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
        match.lastWrite = match.isOther ? 0 : FileTimeFromTimespec(st.st_mtim);
        match.lastWriteNs = match.isOther ? 0 : static_cast<std::uint8_t>(st.st_mtim.tv_nsec % 100);
        match.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
        return true;
    }
}

void DirSearch::Close() {
    if (m_dir != nullptr) {
        ::closedir(m_dir);  // also closes m_fd
        m_dir = nullptr;
        m_fd = -1;
    }
}

}  // namespace platform

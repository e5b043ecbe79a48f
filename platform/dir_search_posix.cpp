#include "platform/dir_search.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr unsigned kStatxWanted = STATX_TYPE | STATX_MTIME | STATX_SIZE | STATX_MNT_ID;

std::uint64_t DeviceOf(const struct statx& st) {
    return (static_cast<std::uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
}

}  // namespace

bool DirSearch::Open(int fd) {
    Close();
    m_failed = false;
    if (fd < 0) {
        return false;
    }
    // The directory's own mount, to tell which of its entries are mount points:
    // the mount id sees bind mounts too, which share the device.
    struct statx self;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &self) == 0) {
        m_haveMountId = (self.stx_mask & STATX_MNT_ID) != 0;
        m_mountId = self.stx_mnt_id;
        m_device = DeviceOf(self);
    }
    m_dir = ::fdopendir(fd);
    if (m_dir == nullptr) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    m_fd = fd;
    return true;
}

void DirSearch::Fail(int err) {
    m_failed = true;
    errno = err;
}

bool DirSearch::Next(DirMatch& match) {
    if (m_dir == nullptr || m_failed) {
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(m_dir);
        if (d == nullptr) {
            m_failed = errno != 0;
            return false;
        }
        const unsigned char type = d->d_type;
        if (type != DT_REG && type != DT_DIR && type != DT_UNKNOWN) {
            continue;  // links and special files are not reported
        }
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) {
            match.name = name;
            match.isDirectory = true;
            match.lastWrite = 0;
            match.size = 0;
            match.mountPoint = false;
            return true;
        }
        struct statx st;
        if (::statx(m_fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kStatxWanted, &st) != 0) {
            if (errno == ENOENT) {
                continue;  // removed since it was listed: it is simply not there
            }
            m_failed = true;  // e.g. a directory that may be read but not searched
            return false;
        }
        if (!S_ISREG(st.stx_mode) && !S_ISDIR(st.stx_mode)) {
            continue;
        }
        match.name = name;
        match.isDirectory = S_ISDIR(st.stx_mode);
        match.lastWrite = FileTimeFromTimespec(timespec{st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec});
        match.size = S_ISREG(st.stx_mode) ? st.stx_size : 0;
        match.mountPoint = m_haveMountId && (st.stx_mask & STATX_MNT_ID) != 0
                               ? st.stx_mnt_id != m_mountId
                               : DeviceOf(st) != m_device;
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

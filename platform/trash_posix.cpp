#include "platform/trash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_ops.h"

namespace platform {

const bool kHasTrash = true;

namespace {

// Whether the missing directory `path` could be made: its parent is a
// directory, on the file system `device`, that this user may write.
Status CouldMake(const std::string& path, std::uint64_t device) {
    const std::string parent = ParentOf(path);
    struct stat st {};
    if (::stat(parent.c_str(), &st) != 0) {
        return Status::FromErrno("stat");
    }
    if (static_cast<std::uint64_t>(st.st_dev) != device) {
        return Status::Failed("stat", EXDEV);
    }
    if (::access(parent.c_str(), W_OK | X_OK) != 0) {
        return Status::FromErrno("access");
    }
    return {};
}

// Makes the directory `path` (0700) unless it exists, then checks that it is a
// directory of this user's, and no link, on the file system `device`. Looking
// only, a directory missing is one that could be made.
Status MakeOwnDirectory(const std::string& path, std::uint64_t device, TrashLook look,
                        bool& missing) {
    if (look == TrashLook::Make && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return Status::FromErrno("mkdir");
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && look == TrashLook::LookOnly) {
            missing = true;
            return CouldMake(path, device);
        }
        return Status::FromErrno("lstat");
    }
    if (S_ISLNK(st.st_mode)) {
        return Status::Failed("lstat", ELOOP);
    }
    if (!S_ISDIR(st.st_mode)) {
        return Status::Failed("lstat", ENOTDIR);
    }
    if (st.st_uid != ::geteuid()) {
        return Status::Failed("lstat", EPERM);
    }
    if (static_cast<std::uint64_t>(st.st_dev) != device) {
        return Status::Failed("lstat", EXDEV);
    }
    return {};
}

// The trash directory `directory` with its "files" and "info", made as needed.
Result<TrashCan> Prepared(std::string directory, std::string topDirectory, std::uint64_t device,
                          TrashLook look) {
    bool missing = false;
    for (const std::string& dir : {directory, directory + "/files", directory + "/info"}) {
        if (const Status made = MakeOwnDirectory(dir, device, look, missing); !made.ok()) {
            return made;
        }
        if (missing) {
            break;  // what lies below a directory to be made will be made with it
        }
    }
    return TrashCan{std::move(directory), std::move(topDirectory)};
}

// The device of `path`, or of its nearest ancestor that exists.
bool DeviceOfNearest(std::string path, std::uint64_t& device) {
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            device = static_cast<std::uint64_t>(st.st_dev);
            return true;
        }
        const size_t slash = path.rfind('/');
        if (path == "/" || slash == std::string::npos) {
            return false;
        }
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

// The top directory of the file system `device` that holds `absolute`.
std::string TopDirectory(std::string absolute, std::uint64_t device) {
    while (absolute.size() > 1) {
        const size_t slash = absolute.rfind('/');
        const std::string parent = slash == 0 ? "/" : absolute.substr(0, slash);
        struct stat st {};
        if (::stat(parent.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != device) {
            break;
        }
        absolute = parent;
    }
    return absolute;
}

// Makes the directories of `path` that are missing, each 0700, as the data
// home is made.
void MakeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        (void)::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    (void)::mkdir(path.c_str(), 0700);
}

}  // namespace

Result<TrashCan> FindTrash(const std::string& absolute, std::uint64_t device, TrashLook look) {
    std::string dataHome = EnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome[0] != '/') {
        const std::string home = HomeDirectory();
        dataHome = !home.empty() && home[0] == '/' ? home + "/.local/share" : std::string();
    }
    std::uint64_t homeDevice = 0;
    if (!dataHome.empty() && DeviceOfNearest(dataHome, homeDevice) && homeDevice == device) {
        if (look == TrashLook::Make) {
            MakeParents(dataHome);
        } else if (!IsDirectoryPath(dataHome)) {
            return TrashCan{dataHome + "/Trash", ""};  // made with the data home
        }
        return Prepared(dataHome + "/Trash", "", device, look);
    }
    const std::string top = TopDirectory(absolute, device);
    const std::string uid = std::to_string(::geteuid());
    const std::string shared = (top == "/" ? "" : top) + "/.Trash";
    struct stat st {};
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        if (Result<TrashCan> can = Prepared(shared + "/" + uid, top, device, look); can.ok()) {
            return can;
        }
    }
    return Prepared((top == "/" ? "" : top) + "/.Trash-" + uid, top, device, look);
}

}  // namespace platform

// The desktop's Trash, as file managers keep it: a "files" directory that holds
// what was deleted and an "info" directory with one ".trashinfo" file for each,
// saying where it came from and when it went. A file system has its own trash,
// so that deleting is a rename, never a copy.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

// Whether this system has such a Trash; on Windows the versions folder keeps
// what a run takes away instead.
extern const bool kHasTrash;

struct TrashCan {
    std::string directory;  // holds "files" and "info"; absolute
    // The top directory of the file system of a trash kept there, to which the
    // paths in its ".trashinfo" files are relative; "" for the home trash,
    // whose paths are absolute.
    std::string topDirectory;
};

// The trash that takes entries of the directory `absolute` (on the file system
// `device`) by a rename, made where it is missing as the desktop would make it:
// the home trash ($XDG_DATA_HOME/Trash) when `absolute` lies on the home's file
// system; otherwise, at the top directory of its file system, ".Trash/UID" when
// ".Trash" is a directory with the sticky bit and no link, else ".Trash-UID".
// Fails when none can be used without a copy: EXDEV when the one found lies on
// another file system, ELOOP when it is a link, EPERM when another user owns it,
// or the failure of making it (EACCES, EROFS); ENOTSUP where !kHasTrash.
// Looking only, nothing is made: a directory missing counts when it could be
// made (its parent is a directory this user may write, on that file system).
enum class TrashLook { Make, LookOnly };
Result<TrashCan> FindTrash(const std::string& absolute, std::uint64_t device,
                           TrashLook look = TrashLook::Make);

// The content of the ".trashinfo" file of an entry at `path` (absolute, or
// relative to the trash's top directory), deleted at `when`: its path with
// every byte but unreserved ones and '/' percent-encoded, and the local time.
std::string TrashInfo(std::string_view path, std::time_t when);

}  // namespace platform

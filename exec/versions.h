// Earlier versions: what a run deletes, replaces or removes in the slave is
// moved, never copied, into a folder of that run below the versions folder
// (".kelvad-versions" at the slave's root), under the same relative path; and
// the folders of runs older than the retention are removed at the end of a run.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "tree/scanner.h"

namespace platform {
class TreeRoot;
}

// How many days a run's folder is kept by default; std::nullopt keeps them all.
inline constexpr int kDefaultKeepDays = 30;

// The name of the folder of a run that started at `start`, in local time, in
// an order that sorts: "2026-12-10 04.12.05".
std::string RunFolderName(std::time_t start);

// The local start time that `name` says, when it is a run folder's name as
// RunFolderName makes it, with or without the " (2)" a second run of the same
// second adds; nothing for any other name, which pruning never touches.
std::optional<std::time_t> RunFolderTime(std::string_view name);

// Moves what a run takes away from the slave into the run's folder, beneath the
// slave's root: a rename, never through a symbolic link nor into a mounted file
// system, so nothing is written outside the slave and nothing is copied.
class VersionKeeper {
public:
    // `versions` is the versions folder relative to the slave's root; the run's
    // folder below it is named for `start` and made on the first keep.
    VersionKeeper(platform::TreeRoot& slave, std::string versions, std::time_t start);

    // Moves the file `relative` to the same path below the run's folder. On
    // failure (the versions folder is a link or not writable, a name it cannot
    // take) `relative` stays where it was and the Status says which call failed.
    platform::Status KeepFile(std::string_view relative);

    // Keeps the directory `relative`, whose entries have all been kept or
    // deleted: the run's folder gets a directory of that path with its bits,
    // owner and times, and `relative` is removed. ENOTEMPTY when something is
    // still in it; it then stays.
    platform::Status KeepDirectory(std::string_view relative);

    // Where a kept entry went, relative to the slave's root, or where the
    // run's folder will be before the first keep.
    std::string KeptPath(std::string_view relative) const;
    // The run's folder relative to the slave's root, as made (or planned).
    std::string RunFolder() const;

private:
    // Makes the run's folder on first use; a second run of the same second
    // gets " (2)", and so on.
    platform::Status MakeRunFolder();
    // Makes the directories of the run's folder down to `relativeDir`, each
    // with the bits of the slave's directory of that path.
    platform::Status MakeParents(std::string_view relativeDir);

    platform::TreeRoot& m_slave;
    std::string m_versions;
    std::string m_name;
    bool m_made = false;
};

// Removes the run folders below `versions` (relative to the slave's root) that
// are older than `keepDays` days at `now`, oldest first: only folders whose
// names RunFolderTime reads, each with all it holds, following no symbolic
// link (a link is removed as a name) and never leaving the versions folder.
// Returns the names removed; stops at the first failure, which `failure` then
// holds with the path it happened at (relative to the slave's root).
struct Pruned {
    std::vector<std::string> removed;
    platform::Status failure;
    std::string failedAt;
};
Pruned PruneVersions(platform::TreeRoot& slave, const std::string& versions, std::time_t now,
                     int keepDays);

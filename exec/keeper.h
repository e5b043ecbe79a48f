// Keeping instead of destroying: what a run deletes, replaces or removes in the
// slave is moved, never copied, either into a folder of that run below the
// versions folder, under the same relative path, or into the desktop's Trash of
// the slave's file system. The run folders of the versions folder older than
// the retention are removed at the end of a run.
#pragma once

#include <cstddef>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "tree/scanner.h"

namespace platform {
class TreeRoot;
}

// How many days a run's folder is kept unless told otherwise.
inline constexpr int kDefaultKeepDays = 30;

// Where what a run deletes, replaces or removes goes instead of being destroyed.
struct Keeping {
    enum class Place { Nowhere, VersionsFolder, Trash };
    Place place = Place::Nowhere;
    // The versions folder: "" for kVersionsFolderName at the slave's root, or
    // a directory as typed, on the slave's file system and outside both trees.
    std::string versionsDir;
    // How many days a run's folder is kept; nothing keeps them all.
    std::optional<int> keepDays = kDefaultKeepDays;
};

// What pruning removed: the run folders' names, oldest first, and where it
// stopped, when it failed.
struct Pruned {
    std::string versions;  // the versions folder, as the log shows it
    std::vector<std::string> removed;
    platform::Status failure;
    std::string failedAt;  // relative to the versions root
};

// The directory kept entries last went into. It is kept open for the next
// entry that goes there only where no other user can reach it (the place
// kept entries go is its owner's alone), so that no one but that user or the
// superuser can have moved it meanwhile; elsewhere each entry's way is
// resolved anew, like every step's.
class TargetDirectory {
public:
    explicit TargetDirectory(platform::TreeRoot& root) : m_root(root) {}
    ~TargetDirectory() { Forget(); }
    TargetDirectory(const TargetDirectory&) = delete;
    TargetDirectory& operator=(const TargetDirectory&) = delete;

    // Whether a directory may be kept open from one entry to the next.
    void KeepOpen(bool keepOpen) { m_keepOpen = keepOpen; }
    // The directory `dir` below the root, open: the one kept open when it is
    // that, else opened anew. Give it back with Release.
    platform::Result<int> Open(const std::string& dir);
    // Closes `fd` unless it is the directory kept open.
    void Release(int fd);
    // Closes the directory kept open, as when it was removed meanwhile.
    void Forget();

private:
    platform::TreeRoot& m_root;
    bool m_keepOpen = false;
    std::string m_dir;
    int m_fd = -1;
};

// Takes entries out of the slave without destroying them.
class Keeper {
public:
    virtual ~Keeper() = default;
    // Moves the file or the directory `relative` (with all it holds) out of
    // the slave, by a rename beneath the roots. On failure (the place it goes
    // to is a link or not writable, a name it cannot take) `relative` stays
    // where it was and the Status says which call failed.
    platform::Status Keep(std::string_view relative) {
        bool moved = false;
        return Keep(relative, {}, moved);
    }
    // Keeps the file `relative`, then its sibling `successor` takes its name,
    // never replacing, in one step (TreeRoot::MoveInto): a replacement. `moved`
    // says whether `relative` was kept, whatever the Status says.
    virtual platform::Status Keep(std::string_view relative, std::string_view successor,
                                  bool& moved) = 0;
    // The place the last Keep could not make or reach, as a message names it
    // (the run's folder), when its failure was that place's and not the
    // entry's own; empty otherwise.
    virtual std::string Blame() const { return {}; }
    // Where the last Keep of `relative` put it, as the log shows it: a path
    // that begins with the slave's root as typed, or the trash's.
    virtual std::string KeptPath(std::string_view relative) const = 0;
    // Where this run's kept entries go, as the totals and the summary say it:
    // "the Trash", ".kelvad-versions/2026-12-10 04.12.05".
    virtual std::string Where() const = 0;
    // Removes what earlier runs kept more than `keepDays` days before `now`,
    // where this keeper keeps its own (PruneVersions); the desktop empties
    // its Trash itself.
    virtual Pruned Prune(std::time_t now, int keepDays);
};

// The name of the folder of a run that started at `start`, in local time, in
// an order that sorts: "2026-12-10 04.12.05".
std::string RunFolderName(std::time_t start);

// The local start time that `name` says, when it is a run folder's name as
// RunFolderName makes it, with or without the " (2)" a second run of the same
// second adds; nothing for any other name, which pruning never touches.
std::optional<std::time_t> RunFolderTime(std::string_view name);

// Keeps entries below the run's folder of the versions folder: by default
// beneath the slave's root, so that nothing is written outside the slave.
class VersionKeeper : public Keeper {
public:
    // `versions` is the versions folder relative to the slave's root; the run's
    // folder below it is named for `start` and made on the first Keep.
    VersionKeeper(platform::TreeRoot& slave, std::string versions, std::time_t start);
    // The versions folder is the root `versions`, on the slave's file system,
    // shown as `shown`; the keeper owns it.
    VersionKeeper(platform::TreeRoot& slave, std::unique_ptr<platform::TreeRoot> versions,
                  std::string shown, std::time_t start);

    using Keeper::Keep;
    platform::Status Keep(std::string_view relative, std::string_view successor,
                          bool& moved) override;
    std::string KeptPath(std::string_view relative) const override;
    // The run's folder relative to the slave's root, as made (or planned).
    std::string Where() const override;
    std::string Blame() const override { return m_blame; }
    Pruned Prune(std::time_t now, int keepDays) override;

private:
    // The run's folder below the versions root.
    std::string Folder() const;
    // Makes the run's folder on first use; a second run of the same second
    // gets " (2)", and so on.
    platform::Status MakeRunFolder();
    // Makes the directories of the run's folder down to `relativeDir`, each
    // with the bits of the slave's directory of that path.
    platform::Status MakeParents(std::string_view relativeDir);
    // Moves `relative` to `target`, below the run's folder, then `successor`
    // to `relative` (TreeRoot::MoveInto).
    platform::Status MoveTo(std::string_view relative, const std::string& target,
                            std::string_view successor, bool& moved);

    platform::TreeRoot& m_slave;
    std::unique_ptr<platform::TreeRoot> m_ownRoot;  // a versions folder of its own
    platform::TreeRoot& m_root;                     // the slave or m_ownRoot
    std::string m_versions;                         // the versions folder below m_root
    std::string m_shown;                            // and as it is shown, without the run
    std::string m_name;
    bool m_made = false;
    std::string m_blame;  // Blame
    TargetDirectory m_target{m_root};
};

// Keeps entries in the desktop's Trash of the slave's file system, as a file
// manager trashes them: each with its ".trashinfo" written first, under a name
// of its own there (a clash is given another name, never overwritten), so the
// file manager shows it and can put it back.
class TrashKeeper : public Keeper {
public:
    // `trash` is the trash's directory, open as a root on the slave's file
    // system; `slaveShown` the slave's root as the ".trashinfo" paths begin:
    // absolute for the home trash, relative to the file system's top directory
    // for a trash kept there. The keeper owns `trash`.
    TrashKeeper(platform::TreeRoot& slave, std::unique_ptr<platform::TreeRoot> trash,
                std::string slaveShown);

    using Keeper::Keep;
    platform::Status Keep(std::string_view relative, std::string_view successor,
                          bool& moved) override;
    std::string KeptPath(std::string_view relative) const override;
    std::string Where() const override { return "the Trash"; }

private:
    platform::TreeRoot& m_slave;
    std::unique_ptr<platform::TreeRoot> m_trash;
    std::string m_slaveShown;
    std::string m_lastName;  // the name the last Keep gave in the trash
    TargetDirectory m_files{*m_trash};
};

// Removes the run folders below `versions` (relative to the slave's root) that
// are older than `keepDays` days at `now`, oldest first: only folders whose
// names RunFolderTime reads, each with all it holds, following no symbolic
// link (a link is removed as a name) and never leaving the versions folder.
// It stops at the first failure.
// The folder named `spared` (this run's own) is never removed.
Pruned PruneVersions(platform::TreeRoot& slave, const std::string& versions, std::time_t now,
                     int keepDays, const std::string& spared = {});

// The preview's line for one action: its label, a tab and the slave-side path.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tree/action.h"

// What follows a modification's line when the slave's file is the newer one.
inline constexpr const char* kReplacesNewerMark = "  (the slave's copy is newer)";

// "Modify:\t", "Delete:\t", "Create:\t", "Mkdir:\t" or "Rmdir:\t", then
// `slaveRootWithSeparator` (the slave root with one separator appended), then
// the relative path the change touches in the slave (and, for a modification
// that replaces a newer slave file, kReplacesNewerMark); "Move:\t", the old
// path, " -> " and the new one, each after the root, for a move; for an unknown kind
// "Eh?\t", the master path, " <> " and the slave path, without a root.
std::string BuildActionLine(const CAction& action, const std::string& slaveRootWithSeparator);

// The same line for a terminal: the paths escaped as EscapeForTerminal does,
// the label and its tab as they are.
std::string BuildTerminalActionLine(const CAction& action,
                                    const std::string& slaveRootWithSeparator);

// What a plan holds, counted once a request and passed along: to the guard
// against a mass deletion, to the plan's totals and to the run's record.
struct PlanCounts {
    // How many actions of each kind (ACTION_MODIFY to ACTION_MOVE); index 0
    // counts any other kind.
    std::array<size_t, kActionKinds> byKind{};
    std::uint64_t bytes = 0;       // what the creations and replacements copy
    std::uint64_t freed = 0;       // the slave files the deletions and replacements take away
    std::uint64_t movedBytes = 0;  // what the moves spare copying
    size_t replacingNewer = 0;     // replacements of a newer slave file (CAction::ReplacesNewer)
};
PlanCounts CountPlan(const CActionList& actions);

// "1 newer slave file", "3 newer slave files".
std::string ReplacingNewerText(size_t files);

// A plan that needs more room in the slave than its file system has free:
// the bytes it copies less those its deletions and replacements free (none
// where what they take away is kept), and the free bytes.
struct SpaceShortage {
    std::uint64_t needed = 0;
    std::uint64_t free = 0;
};

// "This run needs 1.2 GiB more in the slave, which has 1015.0 MiB free"
std::string SpaceText(const SpaceShortage& shortage);

// What is told of a plan beside its actions.
struct PlanNotes {
    size_t leftOut = 0;  // master entries left out of the mirror
    // Where what the run deletes, replaces or removes is kept (Keeper::Where);
    // "" when it is destroyed.
    std::string keptIn;
    // Set when the plan does not fit in the slave's free space.
    std::optional<SpaceShortage> space;
};

// What the plan comes to, for the preview and a dry run: "12 to create, 3 to
// replace (1.2 GiB); 200 to delete; 4 directories to make, 1 to remove", the
// bytes being those the creations and replacements copy, then, when there are
// moves, "; 5 to move (40 GiB not copied)", then "; 3 newer slave
// files to be replaced by older ones" when there are any. With `notes`, the
// deletions end ", kept in the Trash" where they are kept, and the totals
// LeftOutText, and "; needs 1.2 GiB, 1015.0 MiB free in the slave" when the
// plan does not fit.
std::string PlanTotals(const PlanCounts& counts, const PlanNotes& notes = {});
inline std::string PlanTotals(const CActionList& actions, const PlanNotes& notes = {}) {
    return PlanTotals(CountPlan(actions), notes);
}

// "; 12 left out" for the entries left out of the mirror, after a plan's totals
// or a run's summary; "" for none.
std::string LeftOutText(size_t entries);

// The preview's line for one action: its label, a tab and the slave-side path.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "tree/action.h"

// "Modify:\t", "Delete:\t", "Create:\t", "Mkdir:\t" or "Rmdir:\t", then
// `slaveRootWithSeparator` (the slave root with one separator appended), then
// the relative path the change touches in the slave; for an unknown kind
// "Eh?\t", the master path, " <> " and the slave path, without a root.
std::string BuildActionLine(const CAction& action, const std::string& slaveRootWithSeparator);

// The same line for a terminal: the paths escaped as EscapeForTerminal does,
// the label and its tab as they are.
std::string BuildTerminalActionLine(const CAction& action,
                                    const std::string& slaveRootWithSeparator);

// How many actions of each kind `actions` holds, by kind (ACTION_MODIFY to
// ACTION_RMDIR); index 0 counts any other kind.
std::array<size_t, 6> CountByKind(const CActionList& actions);

// What the plan comes to, for the preview and a dry run: "12 to create, 3 to
// replace (1.2 GiB); 200 to delete; 4 directories to make, 1 to remove", the
// bytes being those the creations and replacements copy.
std::string PlanTotals(const CActionList& actions);

// "; 12 left out" for the entries left out of the mirror, after a plan's totals
// or a run's summary; "" for none.
std::string LeftOutText(size_t entries);

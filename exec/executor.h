// Carries out an action list in the slave tree, action by action, talking to its
// window only through IExecHost.
#pragma once

#include <string>

#include "exec/run_host.h"
#include "tree/action.h"

// Status-line prefixes; each is followed directly by a relative path.
inline constexpr const char* kStatusModify = "..modifying ../";
inline constexpr const char* kStatusCreate = "..creating ../";
inline constexpr const char* kStatusDelete = "..deleting ../";
inline constexpr const char* kStatusMkdir = "..creating directory ../";
inline constexpr const char* kStatusRmdir = "..deleting directory ../";

// Carries out `actions` in list order: files are copied (CopyOneFile), deleted
// and directories created at once; directory removals are held back and done
// after everything else, in reverse order. Before each action the cancel flag
// is read; after each the host is pumped once and the bar set to the action's
// index. Returns true when every action was carried out. Returns false after
// the first failure, which has been shown with host.ShowMessage, or after a
// cancel (no message). Whatever was done stays done. The roots are used as
// given, with one separator appended.
bool ExecuteActions(IExecHost& host, const CActionList& actions, std::string masterRoot,
                    std::string slaveRoot);

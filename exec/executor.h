// Carries out an action list in the slave tree, action by action, talking to its
// window only through IExecHost.
#pragma once

#include <string>

#include "exec/run_host.h"
#include "platform/tree_root.h"
#include "tree/action.h"

// Status-line prefixes; each is followed directly by a relative path.
inline constexpr const char* kStatusModify = "..modifying ../";
inline constexpr const char* kStatusCreate = "..creating ../";
inline constexpr const char* kStatusDelete = "..deleting ../";
inline constexpr const char* kStatusMkdir = "..creating directory ../";
inline constexpr const char* kStatusRmdir = "..deleting directory ../";

// Whether a successful run ends by flushing the slave's file system to its
// disk. Only a benchmark that times the flush apart leaves it out.
enum class FlushAtEnd { Yes, No };

// Carries out `actions` in list order: files are copied (CopyFileBetween),
// deleted and directories created at once; directory removals are held back and
// done after everything else, in reverse order, but a directory that a master
// file replaces goes just before that file is created. Every path is resolved
// beneath the open roots, anew for each step, through no symbolic link (and,
// in a slave opened with Mounts::Stay, into no mounted file system). Before
// each action the cancel flag is read; after each the host is pumped once and
// the bar set to the action's index. Directories take the master's permission
// bits once the run has filled them, and the slave's file system is flushed to
// its disk at the end. Returns true when every action was carried out. Returns
// false after the first failure, which has been shown with host.ShowMessage, or
// after a cancel (no message). Whatever was done stays done. The roots' paths
// as typed, with one separator appended, begin the paths in messages.
bool ExecuteActions(IExecHost& host, const CActionList& actions, platform::TreeRoot& master,
                    platform::TreeRoot& slave, FlushAtEnd flush = FlushAtEnd::Yes);

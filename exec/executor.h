// Carries out an action list in the slave tree, action by action, talking to its
// window only through IExecHost.
#pragma once

#include <string>

#include "exec/keeper.h"
#include "exec/run_host.h"
#include "platform/tree_root.h"
#include "tree/action.h"

// Status-line prefixes; each is followed directly by a relative path.
inline constexpr const char* kStatusModify = "..modifying ../";
inline constexpr const char* kStatusCreate = "..creating ../";
inline constexpr const char* kStatusDelete = "..deleting ../";
inline constexpr const char* kStatusMkdir = "..creating directory ../";
inline constexpr const char* kStatusRmdir = "..deleting directory ../";
inline constexpr const char* kStatusMove = "..moving ../";

// What a failed step does to the run: the window's runs stop at the first; the
// command line's go on with every step that does not depend on it.
enum class OnFailure { Stop, KeepGoing };

// Whether a successful run ends by flushing the slave's file system to its
// disk. Only a benchmark that times the flush apart leaves it out.
enum class FlushAtEnd { Yes, No };

// The status line while the run's changes are written to the disk at its end.
inline constexpr const char* kWritingToDisk = "Writing to the disk\u2026";

// Carries out `actions` in list order: files are copied (CopyOneFile),
// deleted and directories created at once; directory removals are held back and
// done after everything else, in reverse order, but a directory that a master
// file replaces goes just before that file is created. Every path is resolved
// beneath the open roots, anew for each step, through no symbolic link (and,
// in a slave opened with Mounts::Stay, into no mounted file system). Before
// each action the cancel flag is read; after each the host is pumped once and
// told the action's index (SetPosition), having been told the plan (SetPlan)
// before the first. Directories take the master's permission bits with their
// owner's rights added; a slave directory without its owner's
// rights is given them back when a change inside it is refused. The slave's
// file system is flushed to its disk at the end. Returns true when every action
// was carried out; a copy whose master file was deleted since the scan is no
// failure, and is told to host.SourceVanished instead. Each failure is shown with host.ShowMessage;
// with OnFailure::Stop the run ends there, with KeepGoing it goes on, every step that depends on a
// failed one (below a directory that could not be made, the removal of a directory that still holds
// something) not tried, and returns false at the end. How each step ended is told to
// host.StepEnded. A cancel ends the run with false and no message. Whatever was done stays done,
// and when it returns no file of the run is still open. The roots' paths as typed, with one
// separator appended, begin the paths in messages.
// A move (ACTION_MOVE) renames its slave source to its new name beneath the
// slave root, never replacing anything there (RenameNoReplace), after it is
// found to be the one compared: the same identity, time and, for a file, size,
// and the master still has the new name. One that is not is told to
// host.MoveFellBack and the actions it stood for are carried out instead. A
// directory removal whose directory holds a move's source waits until the main
// pass has ended; when a move out of it failed, the directory stays, with that
// source in it.
// With `keeper`, nothing is destroyed: a file deleted or replaced, and a
// directory removed with everything below it (at its own place in the list, in
// one move), is kept there (Keeper::Keep) and told to host.Kept; the steps
// below a directory kept so end as done.
// With `jobs` above 1, file copies are made by that many worker threads, handed
// over in list order while the run goes on, and told to the host in list order
// on the caller's thread, which serves the window meanwhile; every other step
// waits until the copies before it have ended. A replacement with a keeper
// and a copy that takes a directory's place are made on the caller's thread.
// With OnFailure::Stop, no copy starts after a failed one; those under way
// are aborted (each leaves nothing) and told; the failure shown is the earliest
// in the list. A cancel aborts the copies under way.
bool ExecuteActions(IExecHost& host, const CActionList& actions, platform::TreeRoot& master,
                    platform::TreeRoot& slave, FlushAtEnd flush = FlushAtEnd::Yes,
                    OnFailure onFailure = OnFailure::Stop, Keeper* keeper = nullptr,
                    unsigned jobs = 1);

// The copies a run makes at once unless told otherwise: one for each core the
// machine has, at most 8.
unsigned DefaultJobs();

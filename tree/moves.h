// Moves found in a plan: a master entry to be created and a slave entry to be
// deleted that are the same file, or the same folder with everything in it,
// under another name become one ACTION_MOVE, a rename in the slave instead of
// a copy and a deletion.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file_time.h"
#include "platform/tree_root.h"
#include "tree/action.h"
#include "tree/compare_trees.h"
#include "tree/file_list.h"

// What the planning of moves reads: the lists the plan was made from, the
// lengths of the roots their keys begin with, the slave's time step
// (CompareTrees) and the open roots, whose files are read to compare them.
// Every byte read to compare files is added to `compared`, when given, as it
// is read: another thread may show it meanwhile.
struct MoveSearch {
    const CFileList& masterList;
    const CFileList& slaveList;
    size_t masterRootLength;
    size_t slaveRootLength;
    platform::FileTime slaveTimeStep;
    platform::TreeRoot& master;
    platform::TreeRoot& slave;
    std::atomic<std::uint64_t>* compared = nullptr;
    unsigned threads = 1;  // at most, to compare files at once
};

// The folders moved whole among the candidates FindMoveCandidates found, in
// the order of their master directories, for CompareTrees to plan: a master
// directory to be made and a slave directory to be removed whose subtrees
// hold the same relative names, kinds, sizes and times (to the slave's time
// step), at least one file that is not empty, nothing left out, nothing of
// unknown contents, and no mount point, when each is the other's only such
// directory. The outermost pair is taken; below a pair nothing else is.
// Nothing below a mount point of either list takes part. When `stop` turns
// true the search ends, the folders found so far kept.
std::vector<FolderMove> FindFolderMoves(const FolderCandidates& candidates,
                                        const MoveSearch& search,
                                        const std::atomic<bool>* stop = nullptr);

// Rewrites `actions` (made by CompareTrees with `candidates`) so that each
// file it finds moved is one ACTION_MOVE from the slave path to the master
// path, at the place of the master side's creation; the creation and the
// deletion it stands for are kept in it (CAction::GetReplaced) and leave the
// plan. A file moved: a master file to be created and a slave file to be
// deleted of the same size (not 0) and time, each the other's only such file,
// and the same bytes, read through the roots in large blocks (many pairs on
// several threads at once). A partly equal folder gives moves of its files,
// each to its own place. Nothing below a mount point of either list takes
// part. When `stop` turns true the search ends, the moves found so far
// planned. Returns how many moves were planned. A plan without candidates on
// both sides costs nothing.
size_t PlanMoves(CActionList& actions, const MoveCandidates& candidates, const MoveSearch& search,
                 const std::atomic<bool>* stop = nullptr);

// True when the master's file `masterRelative` and the slave's `slaveRelative`
// hold the same `size` bytes, read through their roots; `slaveInfo` is given
// what opening the slave's told of it. False when either cannot be read, has
// another size, differs, or `stop` turned true meanwhile. The bytes read from
// both files, as they are read, are added to `read` when given: twice `size`
// for a pair found the same.
bool SameContent(platform::TreeRoot& master, std::string_view masterRelative,
                 platform::TreeRoot& slave, std::string_view slaveRelative, std::uint64_t size,
                 platform::FileInfo& slaveInfo, const std::atomic<bool>* stop = nullptr,
                 std::atomic<std::uint64_t>* read = nullptr);

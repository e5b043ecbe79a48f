// The merge of two file lists into the plan that brings the slave in line with
// the master.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "tree/action.h"
#include "tree/file_list.h"

// Walks both lists side by side and appends to `actionList`, in ascending order
// of relative path: ACTION_MODIFY where the master file was written strictly
// later than the slave file at the same path or the two sizes differ (marked
// ReplacesNewer when the slave's was written later, beyond its time step),
// ACTION_CREATE / ACTION_MKDIR for master-only files / directories,
// ACTION_DELETE / ACTION_RMDIR for slave-only ones. A path that is a file on
// one side and a directory on the other is planned so that one run converges:
// a slave file is deleted before the master's directory is made; a slave
// directory is removed with everything below it, and the master's file
// created after the last of those steps. Slave entries below a master
// directory whose contents are unknown get no action: not seen is not gone. An
// entry marked excluded on either side gets none either, nor anything below
// its path on either side.
// `match` says whether the slave's file system tells names apart by letter
// case; `slaveTimeStep` is the step in which it keeps times (0 when exact): a
// master time later by less than that is the same time rounded by the slave.
// The roots must be the strings the lists were scanned from. The lists are not
// changed. When `stop` is given and turns true (from another thread), the
// merge ends within a few thousand entries, leaving a plan that is only good
// for throwing away. With `blocked`, the relative paths of master entries that
// cannot be mirrored because a slave entry left out of the mirror holds their
// place (a folder of kept files where the master has a file, a link) are
// appended to it.
// With `clashes` and a slave that matches names ignoring case, a master entry
// whose path equals the one before it but for letter case gets no action (the
// slave can hold only one of the two; the first is mirrored) and is appended
// to it with that other path; what lies below it is compared as usual.
// With `slaveKeepsNanoseconds` (and a time step of 0), times are compared to
// the nanosecond, not only to the 100 ns of a FileTime.
// With `candidates`, the one-sided actions a move may stand for (PlanMoves):
// the creations and makings of master entries, and the deletions and removals
// of slave entries, each with its entry's index in its list; none on either
// side of a path whose type changes, nor below a slave directory that a
// master file replaces. The pointers are into `actionList`.
// With `folderMoves` (FindFolderMoves, in the order of their master
// directories), each folder moved whole is one ACTION_MOVE at its master
// directory's place, which stands for the actions of both subtrees (made only
// when asked for, from both lists, which must then still be there); nothing
// else is planned for them, and none of their entries is a candidate.
struct MoveCandidates {
    struct Candidate {
        CAction* action;
        size_t entry;
    };
    std::vector<Candidate> master;
    std::vector<Candidate> slave;
};
// A folder moved whole: a master directory and a slave directory, each at its
// list index, with everything below each (list indices from begin to before
// end: not always right after the directory, whose siblings named as it is
// followed by a byte below the separator stand between), the slave's relative
// path, what it was when it was compared, and the bytes of the files below it.
struct FolderMove {
    size_t master;
    size_t masterBegin;
    size_t masterEnd;
    size_t slave;
    size_t slaveBegin;
    size_t slaveEnd;
    std::string slavePath;
    MoveSource source;
    std::uint64_t bytes;
};
struct CaseClash {
    std::string path;   // the master's relative path left unmirrored
    std::string other;  // the master's relative path the slave takes it for
};
void CompareTrees(const CFileList* masterList, const CFileList* slaveList, CActionList* actionList,
                  std::string masterRoot, std::string slaveRoot,
                  platform::NameMatch match = platform::NameMatch::Exact,
                  platform::FileTime slaveTimeStep = 0, const std::atomic<bool>* stop = nullptr,
                  std::vector<std::string>* blocked = nullptr,
                  std::vector<CaseClash>* clashes = nullptr, bool slaveKeepsNanoseconds = false,
                  MoveCandidates* candidates = nullptr,
                  const std::vector<FolderMove>* folderMoves = nullptr);

// What FindMoveCandidates finds: by list index, the entries CompareTrees
// would hand over as candidates, and the directories among them, in list order.
struct FolderCandidates {
    std::vector<bool> master;
    std::vector<bool> slave;
    std::vector<size_t> masterDirs;
    std::vector<size_t> slaveDirs;
};
// The candidates CompareTrees would hand over with the same lists and
// arguments, found without making the plan: a tree of a million files costs
// no million paths to find that its folders moved. Fills `blocked` and
// `clashes` as CompareTrees does. Returns how many actions the plan would hold.
size_t FindMoveCandidates(const CFileList& masterList, const CFileList& slaveList,
                          const std::string& masterRoot, const std::string& slaveRoot,
                          platform::NameMatch match, platform::FileTime slaveTimeStep,
                          const std::atomic<bool>* stop, std::vector<std::string>* blocked,
                          std::vector<CaseClash>* clashes, bool slaveKeepsNanoseconds,
                          FolderCandidates& candidates);

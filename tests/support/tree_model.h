// An independent model of what a one-way sync must make of a slave, written
// from the rules rather than from Kelvad's code, and a generator of seeded
// master/slave pairs to check Kelvad against it.
#pragma once

#include <sys/types.h>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

// A tree as relative path -> entry. Paths use "/".
struct ModelEntry {
    bool isDirectory = false;
    std::string content;
    time_t mtime = 0;
    mode_t mode = 0;  // the permission bits; 0 leaves what creating it gives
};
using ModelTree = std::map<std::string, ModelEntry>;

// Makes a seeded pair: nested directories, files only in one tree, newer in
// the master, newer in the slave and equal in time, empty directories, names
// with dots, spaces, UTF-8 and mixed case (case variants included), contents of
// equal and of different sizes, various permission bits, and now and then a
// path that is a file in one tree and a directory in the other.
void GeneratePair(std::mt19937& rng, int size, ModelTree& master, ModelTree& slave);

// Writes a model tree below `root` (which must exist), with its times.
void Materialize(const std::string& root, const ModelTree& tree);

// Makes `dir`/m and `dir`/s and writes the pair there.
void MaterializePair(const std::string& dir, const ModelTree& master, const ModelTree& slave);

// True when `content` (in the form of Snapshot()) at `path` is whole: the
// slave's old file or the master's, never a mix or a part of either.
bool IsOldOrNew(const ModelTree& master, const ModelTree& slave, const std::string& path,
                const std::string& content);

// What the slave must hold after a successful run, in the form of Snapshot():
// every master path; a file's content is the master's when the master's copy
// was written strictly later, the sizes differ or the slave has no file there,
// else the slave's.
std::map<std::string, std::string> ExpectedSlave(const ModelTree& master, const ModelTree& slave);

// The permission bits the slave's entries must have after that run: what the
// run made or copied takes the master's bits less `umask`; the rest keep the
// slave's own.
std::map<std::string, mode_t> ExpectedModes(const ModelTree& master, const ModelTree& slave,
                                            mode_t umask);

// The permission bits of everything below `root`, links not followed.
std::map<std::string, mode_t> Modes(const std::string& root);

// A random ignore file for `master`, of a few patterns drawn from names the
// master holds: plain, with a "*" or "?" in place of part of a name, anchored
// with "/" or not, for directories only or not, taken back with "!" or not.
// No "**": the model's matcher is the C library's fnmatch, which has none.
std::string GenerateIgnoreFile(std::mt19937& rng, const ModelTree& master);

// Whether the rules of the ignore file `text` in the root leave out `path`
// (a directory or not), or one of the directories above it; the model's own
// reading of the rules, matching with fnmatch(3).
bool ModelExcludes(const std::string& text, const std::string& path, bool isDirectory);

// ExpectedSlave when the master's root holds the ignore file `text`: a path
// left out on either side (by the type it has there) keeps the slave's entry
// at it and below it as it was, and the slave's directories above it, and
// gets nothing of the master's.
std::map<std::string, std::string> ExpectedSlaveLeavingOut(const ModelTree& master,
                                                           const ModelTree& slave,
                                                           const std::string& text);

// A file's move, old path to new path.
using ModelMove = std::pair<std::string, std::string>;

// What a run that keeps what it takes away (--keep-versions) must have moved
// into its run's folder, in the form of Snapshot() and under the slave's own
// paths: every slave entry the master lacks or has as the other type, with
// all below it, and every slave file replaced; and the directories above them.
// The files `moved` (by renaming) are kept nowhere.
std::map<std::string, std::string> ExpectedKept(const ModelTree& master, const ModelTree& slave,
                                                const std::vector<ModelMove>& moved = {});

// The snapshot of a slave split into its own entries and, by their slave
// paths, those of the run folders below its ".kelvad-versions" (a path kept by
// two runs shows once).
std::pair<std::map<std::string, std::string>, std::map<std::string, std::string>> KeptByAnyRun(
    const std::map<std::string, std::string>& snapshot);

// The form of Snapshot() for a model tree.
std::map<std::string, std::string> SnapshotOf(const ModelTree& tree);

// Moves and renames a few of `master`'s files and folders: renamed in place,
// moved into a new folder, renamed in letter case only (not on Windows), a
// folder renamed with all it holds; now and then a directory takes a moved
// file's old path, or a file is copied rather than moved. Returns the files'
// moves, those below a moved folder included.
std::vector<ModelMove> MoveSome(std::mt19937& rng, ModelTree& master);

// Of `moves`, those a run must make by renaming, when `slave` is what the
// slave holds: the old path gone from `master` and the new one not in
// `slave`, no directory of the slave above the old path that the master has
// as a file, and no other file to be created or deleted of the same size and
// time.
std::vector<ModelMove> ExpectedMoves(const ModelTree& master, const ModelTree& slave,
                                     const std::vector<ModelMove>& moves);

// True when the slave's file that `move` renames is whole at its old place or
// at its new one in `own` (in the form of Snapshot()): a move, finished or
// not, loses nothing.
bool AtOldOrNewPlace(const std::map<std::string, std::string>& own, const ModelTree& slave,
                     const ModelMove& move);

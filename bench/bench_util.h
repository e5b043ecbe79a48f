// Helpers for the benchmark: seeded trees, timing of Kelvad's phases in a child
// process (for its peak memory), and timing of the peer commands.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Figure {
    std::vector<double> seconds;  // one per run
    long peakKiB = 0;             // the largest peak resident size of a run
    double Median() const;
    double Min() const;
    double Max() const;
};

// Where file creation is probed before each timed run (see WaitForQuietFileSystem).
void SetProbeDirectory(const std::string& dir);

// An ext4 file system without a journal (this machine's) will not hand out an
// inode number freed less than a minute ago (six while the inode table block
// holding it is unwritten): every file created skips all of them, one by one,
// so after a large delete creating files is many times slower for minutes. The
// benchmark never deletes between the timed runs that create files. Before each
// such run it flushes the page cache's dirty data and creates a few hundred
// empty files; while that takes more than 100 us a file (about 30 us on a quiet
// file system) it waits, up to 10 minutes, and says so.
void WaitForQuietFileSystem();

// Runs `work` once in a child process and adds its time and peak memory to `f`.
void TimeInChild(const std::function<void()>& work, Figure& f);

// Runs the shell command once and adds its time and peak memory to `f`; false
// when it failed.
bool TimeCommand(const std::string& command, Figure& f);

bool HaveCommand(const std::string& name);

// A peer doing the same work as Kelvad: a shell command, its label and the label
// of Kelvad's ratio to it. A peer whose first word is not installed is left out.
struct Peer {
    std::string label;
    std::string command;
    std::string ratioLabel;
};

enum class Writes { No, Yes };

// Times Kelvad's `work` (in a child process) and every peer, round-robin: run r
// of each before run r + 1 of any, so that a drift of the machine weighs on all
// alike, and each round started by another tool. Every timed run has its own
// serial, 0 to ContestSerials() - 1, handed to `prepare` (not timed, before the
// run) and `work`, and put in place of "{n}" in a peer's command, so that each
// run can have a slave of its own. Prints each figure and Kelvad's ratio to
// each peer, and returns Kelvad's figure. With Writes::Yes every run first
// waits for a quiet file system.
using RunStep = std::function<void(int serial)>;
Figure Contest(int runs, const std::string& kelvadLabel, const RunStep& prepare,
               const RunStep& work, const std::vector<Peer>& peers, Writes writes);
int ContestSerials(int runs, const std::vector<Peer>& peers);

// Makes a tree of about `entries` entries below `root` (a tenth directories,
// names with mixed case, dots, spaces and UTF-8, empty files, all files last
// written at `mtime`). The same seed makes the same tree.
void MakeTree(const std::string& root, long entries, unsigned seed, long mtime);

// Makes `count` files of 0 to `maxBytes` bytes below `root`, in directories of 100.
void MakeSizedFiles(const std::string& root, long count, long maxBytes, unsigned seed);

void MakeBigFile(const std::string& path, long long bytes);

void RemoveTree(const std::string& path);
// Makes `count` copies of `from` (times kept), at nameOf(0) ... nameOf(count - 1),
// all before any timed run: a copy made after a timed run deleted a tree would
// be made in the file system's slow state.
void MakeCopies(const std::string& from, const std::function<std::string(int)>& nameOf, int count);
// Reads every directory of the tree once, so that a timed run finds it cached.
void WarmUp(const std::string& root);
void Run(const std::string& command);  // a shell command whose failure ends the benchmark

void PrintFigure(const std::string& what, const Figure& f);
void PrintRatio(const std::string& what, const Figure& kelvad, const Figure& peer);

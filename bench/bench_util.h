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

// After a large tree has been deleted, this machine's file system creates files
// several times more slowly for minutes. Before each timed run the benchmark
// creates a few hundred empty files; while that takes more than 200 us a file
// it waits (up to 10 minutes) and says so.
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
// alike; `prepare` (not timed) runs before every run of every one. Prints each
// figure and Kelvad's ratio to each peer, and returns Kelvad's figure. With
// Writes::Yes every run first waits for a quiet file system.
Figure Contest(int runs, const std::string& kelvadLabel, const std::function<void()>& prepare,
               const std::function<void()>& work, const std::vector<Peer>& peers,
               Writes writes);

// Makes a tree of about `entries` entries below `root` (a tenth directories,
// names with mixed case, dots, spaces and UTF-8, empty files, all files last
// written at `mtime`). The same seed makes the same tree.
void MakeTree(const std::string& root, long entries, unsigned seed, long mtime);

// Makes `count` files of 0 to `maxBytes` bytes below `root`, in directories of 100.
void MakeSizedFiles(const std::string& root, long count, long maxBytes, unsigned seed);

void MakeBigFile(const std::string& path, long long bytes);

void RemoveTree(const std::string& path);
// Makes `to` a fresh copy of `from` (times kept) and reads its directories once.
void RestoreCopy(const std::string& from, const std::string& to);
void Run(const std::string& command);  // a shell command whose failure ends the benchmark

void PrintFigure(const std::string& what, const Figure& f);
void PrintRatio(const std::string& what, const Figure& kelvad, const Figure& peer);

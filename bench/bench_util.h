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

// Runs `work` in a child process `runs` times, after `prepare` (not timed) each
// time; times `work` and reads the child's peak memory.
Figure TimeInChild(int runs, const std::function<void()>& prepare,
                   const std::function<void()>& work);

// Runs the shell command `runs` times after `prepare`; false when it failed.
bool TimeCommand(const std::string& command, int runs, const std::function<void()>& prepare,
                 Figure& figure);

bool HaveCommand(const std::string& name);

// Makes a tree of about `entries` entries below `root` (a tenth directories,
// names with mixed case, dots, spaces and UTF-8, empty files, all files last
// written at `mtime`). The same seed makes the same tree.
void MakeTree(const std::string& root, long entries, unsigned seed, long mtime);

// Makes `count` files of 0 to `maxBytes` bytes below `root`, in directories of 100.
void MakeSizedFiles(const std::string& root, long count, long maxBytes, unsigned seed);

void MakeBigFile(const std::string& path, long long bytes);

void RemoveTree(const std::string& path);
void Run(const std::string& command);  // a shell command whose failure ends the benchmark

void PrintFigure(const std::string& what, const Figure& f);
void PrintRatio(const std::string& what, const Figure& kelvad, const Figure& peer);

// This test program started again as a child process that runs one test, for
// tests that kill a real run at a random moment.
#pragma once

#include <string>
#include <utility>
#include <vector>

using Environment = std::vector<std::pair<std::string, std::string>>;

class ChildProcess {
public:
    // Starts this program again with `--gtest_filter=<filter>` and the
    // environment variables `environment` names set to their values.
    ChildProcess(const std::string& filter, const Environment& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // The child's process id, which its temporary names are tagged with.
    int Id() const { return m_id; }
    // Kills the child at once (SIGKILL; TerminateProcess on Windows) and waits
    // for it; true when it was still running, so the kill landed mid-run.
    bool Kill();

private:
    int m_id = -1;
    bool m_running = false;
    void* m_handle = nullptr;  // the process handle on Windows
};

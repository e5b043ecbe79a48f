// The threads of a Start request: work that the request waits for while it
// keeps its host alive, and the release of its lists, which a stopped request
// does not wait for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "sync/start_request.h"
#include "tree/action.h"
#include "tree/file_list.h"

// Work on a thread of its own that the request waits for. Where the system
// gives no thread (a limit on processes reached), the work is done at once on
// the caller's: slower, and the host not kept alive meanwhile, but done; the
// wait then asks the host once whether the user asked to stop meanwhile.
class Worker {
public:
    explicit Worker(std::function<void()> work);
    ~Worker() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    // Waits until the work is done, keeping the host alive every few
    // milliseconds, each time after `beat` (when given) has told it how far
    // the work got; false when the user asked to stop first (then `stop` is
    // set for the work to see).
    bool WaitKeepingAlive(IRequestHost& host, std::atomic<bool>& stop,
                          const std::function<void()>& beat = {});

private:
    std::mutex m_mutex;
    std::condition_variable m_doneChanged;
    bool m_done = false;
    std::thread m_thread;  // none when the work was done here
};

// Frees the two lists and the plan when the request ends, each list on a core
// of its own: a million entries take about a quarter of a second to free.
// After a stop the request does not wait for that: the user is waiting for
// the window, not for the memory.
class ReleaseTogether {
public:
    ReleaseTogether(CFileList& a, CFileList& b, CActionList& plan) : m_a(a), m_b(b), m_plan(plan) {}
    ReleaseTogether(const ReleaseTogether&) = delete;
    ReleaseTogether& operator=(const ReleaseTogether&) = delete;
    void InBackground() { m_inBackground = true; }
    ~ReleaseTogether();

private:
    CFileList& m_a;
    CFileList& m_b;
    CActionList& m_plan;
    bool m_inBackground = false;
};

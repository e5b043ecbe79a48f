#include "sync/request_threads.h"

#include <chrono>
#include <memory>
#include <system_error>

namespace {

// Runs `work` on a thread of its own, or on this one when none can be had.
void RunOnThreadOrHere(std::thread& thread, std::function<void()> work) {
    try {
        thread = std::thread(work);
    } catch (const std::system_error&) {
        work();
    }
}

// How often the host is kept alive while work runs elsewhere: well within the
// 100 ms in which a stop must land, and often enough for smooth painting.
constexpr auto kKeepAliveInterval = std::chrono::milliseconds(10);

// What stopped requests leave behind, freed on two threads of its own that
// nobody waits for: each release first joins the one before (long done by
// then), and the end of the program joins the last.
class Leftovers {
public:
    static void Free(CFileList a, CFileList b, CActionList plan) {
        static Leftovers leftovers;
        leftovers.Join();
        RunOnThreadOrHere(leftovers.m_threads[0],
                          [a = std::make_shared<CFileList>(std::move(a)),
                           plan = std::make_shared<CActionList>(std::move(plan))] {
                              CFileList().swap(*a);
                              CActionList().swap(*plan);
                          });
        RunOnThreadOrHere(leftovers.m_threads[1], [b = std::make_shared<CFileList>(std::move(b))] {
            CFileList().swap(*b);
        });
    }
    ~Leftovers() { Join(); }

private:
    void Join() {
        for (std::thread& thread : m_threads) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }

    std::thread m_threads[2];
};

}  // namespace

Worker::Worker(std::function<void()> work) {
    RunOnThreadOrHere(m_thread, [this, work = std::move(work)] {
        work();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
        m_doneChanged.notify_all();
    });
}

bool Worker::WaitKeepingAlive(IRequestHost& host, std::atomic<bool>& stop,
                              const std::function<void()>& beat) {
    if (!m_thread.joinable()) {  // done here: no thread was to be had
        if (beat) {
            beat();
        }
        if (host.KeepAliveWhileBusy()) {
            stop = true;
            return false;
        }
        return true;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_done) {
        if (m_doneChanged.wait_for(lock, kKeepAliveInterval, [this] { return m_done; })) {
            break;
        }
        lock.unlock();
        if (beat) {
            beat();
        }
        const bool stopAsked = host.KeepAliveWhileBusy();
        lock.lock();
        if (stopAsked) {
            stop = true;
            return false;
        }
    }
    return true;
}

ReleaseTogether::~ReleaseTogether() {
    if (m_inBackground) {
        Leftovers::Free(std::move(m_a), std::move(m_b), std::move(m_plan));
        return;
    }
    std::thread other;
    RunOnThreadOrHere(other, [this] { CFileList().swap(m_b); });
    CFileList().swap(m_a);
    CActionList().swap(m_plan);
    if (other.joinable()) {
        other.join();
    }
}

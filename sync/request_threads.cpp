#include "sync/request_threads.h"

#include <chrono>

namespace {

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
        leftovers.m_threads[0] = std::thread([a = std::move(a), plan = std::move(plan)]() mutable {
            CFileList().swap(a);
            CActionList().swap(plan);
        });
        leftovers.m_threads[1] = std::thread([b = std::move(b)]() mutable { CFileList().swap(b); });
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

bool Worker::WaitKeepingAlive(IRequestHost& host, std::atomic<bool>& stop,
                              const std::function<void()>& beat) {
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
    std::thread other([this] { CFileList().swap(m_b); });
    CFileList().swap(m_a);
    CActionList().swap(m_plan);
    other.join();
}

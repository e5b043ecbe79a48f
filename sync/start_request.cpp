#include "sync/start_request.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/file_ops.h"
#include "tree/compare_trees.h"
#include "tree/scanner.h"

namespace {

// How often the host is kept alive while work runs elsewhere: well within the
// 100 ms in which a stop must land, and often enough for smooth painting.
constexpr auto kKeepAliveInterval = std::chrono::milliseconds(10);

// Work on a thread of its own that the request waits for.
class Worker {
public:
    explicit Worker(std::function<void()> work)
        : m_thread([this, work = std::move(work)] {
              work();
              std::lock_guard<std::mutex> lock(m_mutex);
              m_done = true;
              m_doneChanged.notify_all();
          }) {}
    ~Worker() { m_thread.join(); }

    // Waits until the work is done, keeping the host alive; false when the user
    // asked to stop first (then `stop` is set for the work to see).
    bool WaitKeepingAlive(IRequestHost& host, std::atomic<bool>& stop) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_done) {
            if (m_doneChanged.wait_for(lock, kKeepAliveInterval, [this] { return m_done; })) {
                break;
            }
            lock.unlock();
            const bool stopAsked = host.KeepAliveWhileBusy();
            lock.lock();
            if (stopAsked) {
                stop = true;
                return false;
            }
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_doneChanged;
    bool m_done = false;
    std::thread m_thread;  // last: it starts once the rest is ready
};

// The wait cursor for as long as it lives, or until End.
class Busy {
public:
    explicit Busy(IRequestHost& host) : m_host(host) { m_host.SetBusy(true); }
    ~Busy() { End(); }
    void End() {
        if (m_on) {
            m_host.SetBusy(false);
            m_on = false;
        }
    }

private:
    IRequestHost& m_host;
    bool m_on = true;
};

// The checks that come before any scan, each with its message.
bool CheckRoots(IRequestHost& host, const StartRequest& r) {
    if (r.masterDir.empty() || r.slaveDir.empty()) {
        host.ShowMessage("You must specify both Master and Slave directories", nullptr);
        return false;
    }
    if (r.masterDir == r.slaveDir) {
        host.ShowMessage("Master and slave cannot be the same (are you mad?)", nullptr);
        return false;
    }
    if (!IsExistingDirectory(r.masterDir)) {
        host.ShowMessage("Master directory doesn't exist or isn't a directory", "Kelvad");
        return false;
    }
    if (!IsExistingDirectory(r.slaveDir)) {
        host.ShowMessage("Slave directory doesn't exist or isn't a directory", "Kelvad");
        return false;
    }
    // Overlapping trees would make the run delete or overwrite the master. They
    // are judged by what the directories are, so links and bind mounts count.
    if (platform::RootsOverlap(r.masterDir, r.slaveDir)) {
        host.ShowMessage("Master and slave directories overlap", "Kelvad");
        return false;
    }
    return true;
}

// Frees the two lists when the request ends, each on a core of its own: a
// million entries take about a quarter of a second to free.
class ReleaseTogether {
public:
    ReleaseTogether(CFileList& a, CFileList& b) : m_a(a), m_b(b) {}
    ~ReleaseTogether() {
        std::thread other([this] { CFileList().swap(m_b); });
        CFileList().swap(m_a);
        other.join();
    }

private:
    CFileList& m_a;
    CFileList& m_b;
};

}  // namespace

RequestResult RunStartRequest(IRequestHost& host, const StartRequest& r) {
    // The request's lists live until it returns, on every path.
    CFileList masterList;
    CFileList slaveList;
    ReleaseTogether release(masterList, slaveList);
    CActionList actionList;
    if (!CheckRoots(host, r)) {
        return RequestResult::Refused;
    }

    Busy busy(host);
    std::atomic<bool> stop{false};
    std::atomic<bool> stopSlave{false};
    {
        // The two trees are independent: each is scanned on a thread of its own,
        // so the two disks, or the two cores, work at once.
        Worker slaveScan([&] { ScanDirectory(r.slaveDir, &slaveList, &stopSlave); });
        Worker masterScan([&] { ScanDirectory(r.masterDir, &masterList, &stop); });
        const bool masterScanned = masterScan.WaitKeepingAlive(host, stop);
        if (!masterScanned || masterList.empty()) {
            stopSlave = true;  // its list is thrown away
        }
        if (!masterScanned) {
            return RequestResult::Stopped;
        }
        if (masterList.empty()) {
            busy.End();
            host.ShowMessage("Master directory is empty", nullptr);
            return RequestResult::Refused;
        }
        if (!slaveScan.WaitKeepingAlive(host, stopSlave)) {
            return RequestResult::Stopped;
        }
    }
    {
        Worker compare([&] {
            CompareTrees(&masterList, &slaveList, &actionList, r.masterDir, r.slaveDir,
                         NameMatchOf(r.slaveDir, slaveList));
        });
        if (!compare.WaitKeepingAlive(host, stop)) {
            return RequestResult::Stopped;  // the comparison ends on its own; its plan is dropped
        }
    }
    busy.End();

    if (actionList.empty()) {
        host.ShowMessage("Slave directory structure is up-to-date", "Info");
        return RequestResult::UpToDate;
    }
    if (r.option == 1) {
        if (!host.ApprovePlan(actionList, r.slaveDir)) {
            return RequestResult::NotRun;
        }
    } else if (r.option != 0) {
        host.ShowMessage("You just couldn't resist it, could you?", nullptr);
        return RequestResult::NotRun;
    }
    if (!host.ExecutePlan(actionList, r.masterDir, r.slaveDir)) {
        return RequestResult::Failed;
    }
    host.SaveSettings();
    return RequestResult::Done;
}

#include "exec/executor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "exec/copier.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/tree_root.h"

namespace {

// Runs `operation` (a change in the slave's `relative`, returning a Status);
// when the directory that holds it refuses with EACCES because it lacks its
// owner's write or search right (an earlier run copied a master directory's
// 0555 or 000), that right is given back and the change tried once more.
template <typename Operation>
platform::Status WithOwnerRights(platform::TreeRoot& slave, std::string_view relative,
                                 Operation operation) {
    const platform::Status first = operation();
    const std::string_view dir = platform::DirectoryOf(relative);
    if (!first.Is(EACCES) || dir.empty()) {
        return first;
    }
    platform::FileInfo info;
    if (!slave.DescribeName(dir, info).ok() || (info.mode & 0700) == 0700 ||
        !slave.SetMode(dir, (info.mode & 07777) | 0700).ok()) {
        return first;
    }
    return operation();
}

// Writes the slave out to its disk on a thread of its own, the window answering
// meanwhile: a few gigabytes take seconds to write. Cancel cannot stop it, as
// every change is made by then.
platform::Status FlushKeepingAlive(IExecHost& host, platform::TreeRoot& slave) {
    std::future<platform::Status> flushing;
    try {
        flushing = std::async(std::launch::async, [&slave] { return slave.Flush(); });
    } catch (const std::system_error&) {
        return slave.Flush();  // no thread to be had (a limit on threads): here, the window waits
    }
    while (flushing.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        host.PumpPending();
    }
    return flushing.get();
}

// A set of slave paths, asked what lies below them: the paths whose step
// failed, and whatever depends on them (a step below a directory that could
// not be made is not tried, nor the removal of a directory that still holds
// something that failed to go); the directories kept whole.
class PathSet {
public:
    void Add(std::string_view path) { m_paths.emplace(path); }
    bool Any() const { return !m_paths.empty(); }

    // True when `path` lies below a failed path.
    bool Below(std::string_view path) const {
        for (size_t i = path.find(platform::kSeparator);
             !m_paths.empty() && i != std::string_view::npos;
             i = path.find(platform::kSeparator, i + 1)) {
            if (m_paths.count(path.substr(0, i)) != 0) {
                return true;
            }
        }
        return false;
    }

    // True when one of the paths lies below the directory `dir`.
    bool StrictlyBelow(std::string_view dir) const {
        std::string prefix(dir);
        prefix.push_back(platform::kSeparator);
        const auto next = m_paths.lower_bound(prefix);
        return next != m_paths.end() && next->starts_with(prefix);
    }

    // True when a failed path lies at or below the directory `dir`: the paths
    // below it are the ones that start with it and a separator, next to each
    // other in byte order.
    bool AtOrBelow(std::string_view dir) const {
        if (m_paths.empty()) {
            return false;
        }
        if (m_paths.count(dir) != 0) {
            return true;
        }
        std::string prefix(dir);
        prefix.push_back(platform::kSeparator);
        const auto next = m_paths.lower_bound(prefix);
        return next != m_paths.end() && next->starts_with(prefix);
    }

private:
    std::set<std::string, std::less<>> m_paths;
};

// Copies files on worker threads while the run's own thread goes on with the
// plan: it hands over copies in list order and takes their ends back in the
// same order, so the host hears of each step as a run on one thread tells it,
// the earliest failure first. With OnFailure::Stop a failed copy lets no
// worker start a later one; a cancel aborts those under way (each leaves
// nothing, as a copy cancelled on the run's thread does) and starts no other.
class CopyPool {
public:
    struct Slot {
        size_t index = 0;  // in the plan
        const CAction* action = nullptr;
        CopyMode mode = CopyMode::Create;
        std::atomic<std::uint64_t> bytes{0};  // copied by the worker so far
        std::uint64_t told = 0;               // of them told to the host
        CopyOutcome outcome;
        bool started = false;  // these two under the pool's lock
        bool ended = false;
    };
    using CopyFunction = std::function<CopyOutcome(ICopyHost&, const Slot&)>;

    // As many slots as may be handed over before the oldest has ended: enough
    // for small files to go on past a large one for a while.
    static constexpr size_t kSlots = 256;

    CopyPool(unsigned workers, OnFailure onFailure, CopyFunction copy)
        : m_onFailure(onFailure), m_copy(std::move(copy)) {
        for (unsigned i = 0; i < workers; ++i) {
            try {
                m_workers.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;  // the workers there are will do
            }
        }
        if (m_workers.empty()) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        // Each worker's table is taken before the run opens anything for a
        // step: a copy of a file the run's thread opens would keep it (and
        // the space it holds) until the worker ends.
        std::unique_lock lock(m_mutex);
        m_work.wait(lock, [this] { return m_ready == m_workers.size(); });
    }
    ~CopyPool() {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_work.notify_all();
        for (auto& worker : m_workers) {
            worker.join();
        }
    }
    CopyPool(const CopyPool&) = delete;
    CopyPool& operator=(const CopyPool&) = delete;

    bool Full() const { return m_slots.size() >= kSlots; }
    bool Empty() const { return m_slots.empty(); }
    Slot& Oldest() { return *m_slots.front(); }

    void Hand(size_t index, const CAction& action, CopyMode mode) {
        auto slot = std::make_unique<Slot>();
        slot->index = index;
        slot->action = &action;
        slot->mode = mode;
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(slot.get());
        }
        m_slots.push_back(std::move(slot));
        m_work.notify_one();
    }

    // What the run's thread waits for besides the oldest slot's end: nothing
    // more, the workers running short of slots to take, or every slot's end
    // (or a failure); it then wakes once for many small files, not for each.
    enum class Until { OldestEnded, WorkersShort, AllEnded };

    // Waits at most `wait` for the oldest slot to end, and for `until`. True
    // when both have.
    bool WaitOldest(std::chrono::milliseconds wait, Until until) {
        std::unique_lock lock(m_mutex);
        m_awaited = m_slots.front().get();
        m_until = until;
        const bool ended = m_ended.wait_for(lock, wait, [this] { return Awake(); });
        m_awaited = nullptr;
        return ended;
    }

    // True when the oldest slot has ended; it does not wait.
    bool OldestEnded() {
        std::lock_guard lock(m_mutex);
        return m_slots.front()->ended;
    }

    // Forgets the oldest slot, which has ended.
    void DropOldest() { m_slots.pop_front(); }

    // Adds a step that the run's thread has carried out itself, to be told
    // in its turn like the copies.
    void HandEnded(size_t index, const CAction& action, CopyOutcome outcome) {
        auto slot = std::make_unique<Slot>();
        slot->index = index;
        slot->action = &action;
        slot->outcome = std::move(outcome);
        {
            std::lock_guard lock(m_mutex);
            slot->started = slot->ended = true;
        }
        m_slots.push_back(std::move(slot));
    }

    // True when a copy handed over and not yet taken back is to be made in
    // `dir` (letter case ignored, as some slaves do).
    bool CopiesInto(std::string_view dir) const {
        const platform::PathPieces wanted{{dir, {}, {}}};
        return std::ranges::any_of(m_slots, [&](const std::unique_ptr<Slot>& slot) {
            const platform::PathPieces in{
                {platform::DirectoryOf(slot->action->GetTargetPath()), {}, {}}};
            return slot->action->GetKind() != ACTION_MKDIR &&
                   platform::ComparePaths(in, wanted, platform::NameMatch::IgnoreCase) == 0;
        });
    }

    // Aborts the copies under way and starts no other.
    void Cancel() { m_cancelled.store(true); }

private:
    // What a copy on a worker tells: the bytes, to its slot; the window is
    // served by the run's thread meanwhile.
    class WorkerHost : public ICopyHost {
    public:
        WorkerHost(const std::atomic<bool>& cancelled, Slot& slot)
            : m_cancelled(cancelled), m_slot(slot) {}
        void PumpPending() override {}
        bool IsCancelled() const override { return m_cancelled.load(); }
        void AddCopiedBytes(std::uint64_t bytes) override { m_slot.bytes.fetch_add(bytes); }

    private:
        const std::atomic<bool>& m_cancelled;
        Slot& m_slot;
    };

    void Work() {
        // Every copy opens and closes its two files on this thread alone.
        const platform::OwnFileTable table;
        std::unique_lock lock(m_mutex);
        ++m_ready;
        m_work.notify_all();
        for (;;) {
            m_work.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            if (m_queue.empty()) {
                return;
            }
            Slot& slot = *m_queue.front();
            m_queue.pop_front();
            if (!m_cancelled.load() && slot.index <= m_stopAfter) {
                slot.started = true;
                ++m_running;
                lock.unlock();
                WorkerHost host(m_cancelled, slot);
                CopyOutcome outcome = m_copy(host, slot);
                lock.lock();
                --m_running;
                slot.outcome = std::move(outcome);
                const int code = slot.outcome.code;
                m_failed = m_failed || code != COPY_OK;
                if (m_onFailure == OnFailure::Stop && code != COPY_OK && code != COPY_ABORTED &&
                    code != COPY_SOURCE_VANISHED) {
                    m_stopAfter = std::min(m_stopAfter, slot.index);
                }
            }
            slot.ended = true;
            if (m_awaited != nullptr && Awake()) {
                m_ended.notify_one();
            }
        }
    }

    // What the run's thread waits for (WaitOldest); under the lock. A failure
    // is told at once, so a stop aborts what is still under way.
    bool Awake() const {
        if (!m_awaited->ended) {
            return false;
        }
        switch (m_until) {
            case Until::WorkersShort:
                return m_queue.size() <= kSlots / 4;
            case Until::AllEnded:
                return (m_queue.empty() && m_running == 0) || m_failed;
            default:
                return true;
        }
    }

    OnFailure m_onFailure;
    CopyFunction m_copy;
    std::deque<std::unique_ptr<Slot>> m_slots;  // handed over and not yet taken back, oldest first
    std::mutex m_mutex;
    std::condition_variable m_work;   // a slot to take, or the pool closing
    std::condition_variable m_ended;  // the slot awaited has ended
    Slot* m_awaited = nullptr;        // by the run's thread
    Until m_until = Until::OldestEnded;
    std::deque<Slot*> m_queue;      // not yet taken by a worker
    unsigned m_running = 0;         // slots being copied
    bool m_failed = false;          // a copy has failed
    size_t m_stopAfter = SIZE_MAX;  // no slot after this index starts
    bool m_closing = false;
    size_t m_ready = 0;  // workers with their own tables
    std::atomic<bool> m_cancelled{false};
    std::vector<std::thread> m_workers;
};

class Executor {
public:
    Executor(IExecHost& host, platform::TreeRoot& master, platform::TreeRoot& slave,
             OnFailure onFailure, Keeper* keeper, unsigned jobs)
        : m_jobs(jobs),
          m_host(host),
          m_master(master),
          m_slave(slave),
          m_onFailure(onFailure),
          m_keeper(keeper),
          m_masterRoot(master.Path() + platform::kSeparator),
          m_slaveRoot(slave.Path() + platform::kSeparator) {}

    // The main pass, then the held-back removals and the flush; see ExecuteActions.
    bool Run(const CActionList& actions, FlushAtEnd flush) {
        const size_t n = actions.size();
        m_host.SetPlan(actions);
        for (const auto& action : actions) {
            if (action->GetKind() == ACTION_MOVE) {
                m_moveSources.Add(action->GetSlavePath());
            }
        }
        if (m_jobs > 1) {
            try {
                m_pool.emplace(m_jobs, m_onFailure,
                               [this](ICopyHost& host, const CopyPool::Slot& slot) {
                                   return CopyFile(host, slot.action->GetMasterPath(),
                                                   slot.action->GetTargetPath(), slot.mode);
                               });
            } catch (const std::system_error&) {
                // No thread to be had: the run's thread copies, one after the other.
                m_pool.reset();
            }
        }
        for (size_t i = 0; i < n; ++i) {
            if (m_host.IsCancelled()) {
                (void)TakeBackAll();
                return false;
            }
            if (m_pool && Poolable(*actions[i]) && !CaseTwinOfPrevious(actions, i)) {
                if ((m_pool->Full() && !TakeBackEnded()) || m_stopped) {
                    (void)TakeBackAll();
                    return false;
                }
                m_pool->Hand(
                    i, *actions[i],
                    actions[i]->GetKind() == ACTION_MODIFY ? CopyMode::Replace : CopyMode::Create);
                continue;
            }
            if (m_pool && !m_pool->Empty() && actions[i]->GetKind() == ACTION_MKDIR) {
                // A directory is made while the copies before it go on.
                const Early early = MakeDirectoryEarly(i, *actions[i]);
                if (early == Early::Failed && !TakeBackAll()) {
                    return false;
                }
                if (early != Early::Waits) {
                    continue;  // told in its turn
                }
            }
            // Every other step waits for the copies before it: it may depend
            // on them, and none starts after a failure.
            if (!TakeBackAll() || !Step(*actions[i])) {
                return false;
            }
            m_host.PumpPending();
            m_host.SetPosition(i);
        }
        // A Cancel pressed during the last action is honoured: the run ends as
        // cancelled before any directory is removed.
        if (!TakeBackAll() || m_host.IsCancelled() || !KeepHeldBack() || !RemoveHeldBack()) {
            return false;
        }
        m_pool.reset();  // its threads are not held through the flush
        // "Done" means on the disk: a drive pulled out after Kelvad closes keeps
        // every change.
        if (n > 0 && flush == FlushAtEnd::Yes) {
            m_host.SetStatus(kWritingToDisk);  // the bar is full, and the disk still busy
            if (const platform::Status flushed = FlushKeepingAlive(m_host, m_slave);
                !flushed.ok()) {
                m_host.ShowMessage("Unable to write the slave directory to disk (" +
                                   m_slave.Reason(flushed, "") + ")");
                return false;
            }
        }
        return !m_failures.Any();
    }

private:
    // True when the step before `i` has the same path but for letter case
    // (the plan's order puts such steps side by side): on a slave that ignores
    // it, the first to take the name keeps it, so the second must come after
    // the first, as on one thread.
    static bool CaseTwinOfPrevious(const CActionList& actions, size_t i) {
        return i > 0 && platform::ComparePaths({{actions[i - 1]->GetTargetPath(), {}, {}}},
                                               {{actions[i]->GetTargetPath(), {}, {}}},
                                               platform::NameMatch::IgnoreCase) == 0;
    }

    // True when `action` is a copy a worker may make: one that the steps
    // before it cannot have kept from being tried, and that takes nothing
    // away first (a directory in its place, an old file to keep).
    bool Poolable(const CAction& action) const {
        const int kind = action.GetKind();
        const std::string& path = action.GetTargetPath();
        if ((kind != ACTION_MODIFY && kind != ACTION_CREATE) || m_failures.Below(path) ||
            m_keptTrees.Below(path)) {
            return false;
        }
        return kind == ACTION_MODIFY
                   ? m_keeper == nullptr
                   : !m_failures.AtOrBelow(path) && !m_pendingPaths.contains(path);
    }

    // Waits for the oldest copy handed to the workers (and for `until`) and
    // tells its end, serving the window and passing a Cancel on meanwhile;
    // false when the run must stop (a failure, or a cancel).
    bool TakeBackOldest(CopyPool::Until until = CopyPool::Until::OldestEnded) {
        CopyPool::Slot& slot = m_pool->Oldest();
        const std::string& path = slot.action->GetTargetPath();
        const bool directory = slot.action->GetKind() == ACTION_MKDIR;
        if (!m_stopped) {
            m_host.SetStatus((directory                        ? kStatusMkdir
                              : slot.mode == CopyMode::Replace ? kStatusModify
                                                               : kStatusCreate) +
                             path);
        }
        const auto tellBytes = [&] {
            const std::uint64_t bytes = slot.bytes.load();
            if (bytes > slot.told) {
                m_host.AddCopiedBytes(bytes - slot.told);
                slot.told = bytes;
            }
        };
        while (!m_pool->WaitOldest(std::chrono::milliseconds(5), until)) {
            // Waiting for all goes on while the oldest is under way: a long
            // copy after it then shows its own name and progress.
            if (until == CopyPool::Until::AllEnded && m_pool->OldestEnded()) {
                break;
            }
            tellBytes();
            m_host.PumpPending();
            if (m_host.IsCancelled()) {
                m_pool->Cancel();
            }
        }
        tellBytes();
        bool goOn = true;
        if (slot.started) {
            const CAction& action = *slot.action;
            if (m_stopped && slot.outcome.code != COPY_OK) {
                // Under way when the run stopped at an earlier failure: whether
                // aborted or failed on its own, it left nothing and is not shown,
                // so it is counted as not tried, not as a failure nobody names.
            } else if (directory) {
                goOn =
                    TellDirectoryMade(action.GetMasterPath(),
                                      {slot.outcome.status, slot.outcome.extendedAttributesLost});
            } else {
                goOn = CopyEnded(slot.outcome, action.GetMasterPath(), path, slot.mode,
                                 action.GetKind());
            }
            m_host.PumpPending();
            m_host.SetPosition(slot.index);
        }
        m_pool->DropOldest();
        if (m_host.IsCancelled()) {
            m_pool->Cancel();
            goOn = false;
        }
        m_stopped = m_stopped || !goOn;
        return !m_stopped;
    }

    // Takes back the oldest copy handed to the workers, waiting for it, and
    // later ones that have ended by then: the run's thread wakes once for
    // many small files. Never more than a quarter of the slots at once, so the
    // workers are handed more before they run out. False when the run must stop.
    bool TakeBackEnded() {
        if (!TakeBackOldest(CopyPool::Until::WorkersShort)) {
            return false;
        }
        for (size_t taken = 1;
             taken < CopyPool::kSlots / 4 && !m_pool->Empty() && m_pool->OldestEnded(); ++taken) {
            if (!TakeBackOldest()) {
                return false;
            }
        }
        return true;
    }

    // Takes back every copy handed to the workers, in order, waking once for
    // all unless one fails; false when the run must stop. After a stop the
    // copies under way are aborted, and each is still taken back.
    bool TakeBackAll() {
        if (!m_pool) {
            return !m_stopped;
        }
        for (auto until = CopyPool::Until::AllEnded; !m_pool->Empty();
             until = CopyPool::Until::OldestEnded) {
            if (!TakeBackOldest(until)) {
                m_pool->Cancel();  // nothing new starts
            }
        }
        return !m_stopped;
    }

    // Carries out one action; false when the run must stop.
    bool Step(const CAction& action) {
        const int kind = action.GetKind();
        const std::string& slavePath = action.GetTargetPath();
        if (kind < ACTION_MODIFY || kind > ACTION_MOVE ||
            (kind == ACTION_MOVE && !action.IsWholeMove())) {
            m_host.ShowMessage("Invalid action");
            return false;
        }
        // A step that is not tried gets no status line: a verbose run lists
        // only what it tried.
        if (m_failures.Below(slavePath)) {
            m_host.StepEnded(kind, slavePath, IExecHost::StepOutcome::Skipped);
            m_failures.Add(slavePath);
            return true;
        }
        if (m_keptTrees.Below(slavePath)) {
            // It went with its directory.
            m_host.StepEnded(kind, slavePath, IExecHost::StepOutcome::Done);
            return true;
        }
        if (kind == ACTION_CREATE) {
            if (!RemoveNow(slavePath)) {
                return false;
            }
            if (m_failures.AtOrBelow(slavePath)) {
                // The directory in its place is still there.
                m_host.StepEnded(kind, slavePath, IExecHost::StepOutcome::Skipped);
                return true;
            }
        } else if (kind == ACTION_MKDIR && m_failures.AtOrBelow(slavePath)) {
            // The file in its place could not be deleted, and is still there.
            m_host.StepEnded(kind, slavePath, IExecHost::StepOutcome::Skipped);
            return true;
        }
        static const char* const kStatus[] = {
            "",           kStatusModify, kStatusDelete, kStatusCreate,
            kStatusMkdir, kStatusRmdir,  kStatusMove};
        m_host.SetStatus(kStatus[kind] + slavePath);
        switch (kind) {
            case ACTION_MODIFY:
                return Copy(action.GetMasterPath(), slavePath, CopyMode::Replace, kind);
            case ACTION_CREATE:
                return Copy(action.GetMasterPath(), slavePath, CopyMode::Create, kind);
            case ACTION_DELETE:
                if (m_keeper != nullptr && m_heldTrees.Below(slavePath)) {
                    m_heldKeeps.emplace_back(kind, &slavePath);  // goes with its directory
                    return true;
                }
                return Check(WithOwnerRights(m_slave, slavePath,
                                             [&] {
                                                 return m_keeper != nullptr
                                                            ? Keep(slavePath)
                                                            : m_slave.RemoveFile(slavePath);
                                             }),
                             "Error deleting file ", slavePath, kind);
            case ACTION_MKDIR:
                return MakeDirectory(action.GetMasterPath());
            case ACTION_MOVE:
                return Move(action);
            default:
                // Kept whole, with all below it, once the moves out of it
                // have been made.
                if (m_keeper != nullptr &&
                    (m_moveSources.StrictlyBelow(slavePath) || m_heldTrees.Below(slavePath))) {
                    m_heldTrees.Add(slavePath);
                    m_heldKeeps.emplace_back(kind, &slavePath);
                    return true;
                }
                if (m_keeper != nullptr) {
                    return KeepTree(slavePath);
                }
                m_pendingRemovals.push_back(&slavePath);
                m_pendingPaths.insert(slavePath);
                return true;
        }
    }

    // A move: the rename when its source is still the one compared, the
    // actions it stood for otherwise. A failed rename leaves the source where
    // it was, and the directory that holds it.
    bool Move(const CAction& action) {
        const std::string& from = action.GetSlavePath();
        const std::string& to = action.GetMasterPath();
        bool sourceThere = true;
        std::string why = "changed since the scan";
        if (!StillInMaster(to, action.GetMoveSource())) {
            why = "gone from the master since the scan";
            platform::FileInfo info;
            const platform::Status described = m_slave.DescribeName(from, info);
            sourceThere = !described.Is(ENOENT) && !described.Is(ENOTDIR);
        } else {
            bool intoFound = false;
            const platform::Status renamed = WithOwnerRights(
                m_slave, to, [&] { return Rename(from, to, action.GetMoveSource(), intoFound); });
            if (renamed.ok()) {
                m_host.Moved(from, to);
                m_host.StepEnded(ACTION_MOVE, to, IExecHost::StepOutcome::Done);
                return true;
            }
            if (intoFound && (renamed.Is(ENOENT) || renamed.Is(ENOTDIR))) {
                sourceThere = false;  // the source has gone: the copy alone is made
            } else if (renamed.Is(platform::kChanged)) {
                // Another entry, or one changed since it was compared.
            } else if (!renamed.Is(EACCES) && !renamed.Is(EPERM)) {
                m_failures.Add(from);
                return Fail("Error moving " + m_slaveRoot + from + " to " + m_slaveRoot + to +
                                " (" + m_slave.Reason(renamed, to) + ")",
                            to, ACTION_MOVE);
            } else {
                // A read-only folder the entry leaves, or a read-only folder
                // moved to another, refuses the rename: the copy and the
                // deletion the move stood for take those rights back, as a
                // deletion does.
                why = renamed.Reason();
            }
        }
        m_host.MoveFellBack(from, to, why);
        // The copies come first, then the deletions: a source goes only once
        // all it holds has arrived (a copy that failed or was cancelled
        // leaves it where it was, as a failed rename does).
        bool arrived = true;
        for (const auto& replaced : action.GetReplaced()) {
            const int kind = replaced->GetKind();
            const std::string& path = replaced->GetTargetPath();
            const bool slaveSide = kind == ACTION_DELETE || kind == ACTION_RMDIR;
            if (m_host.IsCancelled()) {
                return false;
            }
            if (slaveSide && sourceThere && !arrived) {
                m_host.StepEnded(kind, path, IExecHost::StepOutcome::Skipped);
                m_failures.Add(path);
                continue;
            }
            if ((sourceThere || !slaveSide) && !Step(*replaced)) {
                return false;
            }
            arrived = arrived && (slaveSide || !m_failures.AtOrBelow(path));
        }
        return true;
    }

    // Renames the slave's `from` to `to` when it is still what was compared
    // (kChanged otherwise), never replacing what is there, each directory
    // found from the root; `intoFound` tells whether the directory `to` goes
    // into was.
    platform::Status Rename(const std::string& from, const std::string& to,
                            const MoveSource& source, bool& intoFound) {
        const platform::Result<int> dir =
            m_slave.OpenDirectory(std::string(platform::DirectoryOf(to)));
        intoFound = dir.ok();
        if (!dir.ok()) {
            return dir.status();
        }
        platform::FileInfo compared;
        compared.size = static_cast<off_t>(source.size);
        compared.lastWrite = source.lastWrite;
        compared.lastChange = source.lastChange;
        compared.device = source.device;
        compared.inode = source.inode;
        const platform::Status renamed =
            m_slave.MoveIntoIfUnchanged(from, *dir, to.substr(to.rfind(platform::kSeparator) + 1),
                                        compared, !source.isDirectory);
        (void)m_slave.Close(*dir);
        return renamed;
    }

    // True when the master still has `path`, a file still of the size
    // compared: the move brings nothing the master no longer holds.
    bool StillInMaster(const std::string& path, const MoveSource& source) {
        platform::FileInfo info;
        return m_master.DescribeName(path, info).ok() &&
               (source.isDirectory || static_cast<std::uint64_t>(info.size) == source.size);
    }

    // The removals a keeper takes whole that waited for moves out of them,
    // and the deletions and removals below them, in plan order: an outer
    // directory takes what is below it along.
    bool KeepHeldBack() {
        for (const auto& held : m_heldKeeps) {
            const int kind = held.first;
            const std::string* const path = held.second;  // a lambda below takes it
            if (m_keptTrees.Below(*path)) {
                m_host.StepEnded(kind, *path, IExecHost::StepOutcome::Done);  // went with it
                continue;
            }
            // A directory that still holds a source whose move failed stays,
            // with that source in it, as a removal would; what else goes from
            // it is kept entry by entry.
            if (kind == ACTION_RMDIR ? m_failures.AtOrBelow(*path) : m_failures.Below(*path)) {
                m_host.StepEnded(kind, *path, IExecHost::StepOutcome::Skipped);
                continue;
            }
            const bool goOn =
                kind == ACTION_RMDIR
                    ? KeepTree(*path)
                    : Check(WithOwnerRights(m_slave, *path, [&] { return Keep(*path); }),
                            "Error deleting file ", *path, kind);
            if (!goOn) {
                return false;
            }
        }
        return true;
    }

    // Moves `path` to the keeper and tells the host where it went.
    platform::Status Keep(const std::string& path) {
        const platform::Status kept = m_keeper->Keep(path);
        if (kept.ok()) {
            m_host.Kept(path, m_keeper->KeptPath(path));
        }
        return kept;
    }

    // A directory removed while a keeper keeps what goes: moved whole at its
    // place in the list, before anything below it, which then goes with it.
    bool KeepTree(const std::string& dir) {
        const platform::Status kept = WithOwnerRights(m_slave, dir, [&] { return Keep(dir); });
        if (kept.ok()) {
            m_keptTrees.Add(dir);
        }
        return Check(kept, "Unable to delete directory ", dir, ACTION_RMDIR);
    }

    bool Copy(const std::string& masterPath, const std::string& slavePath, CopyMode mode,
              int kind) {
        return CopyEnded(CopyFile(m_host, masterPath, slavePath, mode), masterPath, slavePath, mode,
                         kind);
    }

    // The copy itself, on whichever thread `host` serves; it touches nothing
    // of the run's own.
    CopyOutcome CopyFile(ICopyHost& host, const std::string& masterPath,
                         const std::string& slavePath, CopyMode mode) {
        Keeper* const keeper = mode == CopyMode::Replace ? m_keeper : nullptr;
        CopyOutcome result;
        (void)WithOwnerRights(m_slave, slavePath, [&] {
            result = CopyOneFile(host, m_master, masterPath, m_slave, slavePath, mode, keeper);
            return result.status;
        });
        return result;
    }

    // Tells the host how a copy ended; false when the run must stop there.
    bool CopyEnded(const CopyOutcome& result, const std::string& masterPath,
                   const std::string& slavePath, CopyMode mode, int kind) {
        if (result.keptOld) {
            m_host.Kept(slavePath, m_keeper->KeptPath(slavePath));
        }
        if (result.code == COPY_OK) {
            m_host.StepEnded(kind, slavePath, IExecHost::StepOutcome::Done);
            if (result.extendedAttributesLost) {
                m_host.ExtendedAttributesNotKept(slavePath);
            }
            return true;
        }
        if (result.code == COPY_ABORTED) {
            return true;  // it left nothing; the run ends at the cancel
        }
        if (result.code == COPY_SOURCE_VANISHED) {
            m_host.SourceVanished(kind,
                                  m_masterRoot + masterPath);  // the slave's entry stays as it is
            return true;
        }
        const char* what = mode == CopyMode::Replace ? "Error copying " : "Error creating ";
        std::string reason = CopyOutcomeText(result, m_slave, slavePath);
        if (result.code == COPY_CANNOT_DELETE_TARGET && !result.keptOld) {
            reason = KeepingBlamed(std::move(reason));
        }
        return Fail(what + m_slaveRoot + slavePath + " (" + reason + ")", slavePath, kind);
    }

    // A directory takes the master directory's bits, as cp gives them, and
    // always its owner's rights, so that later runs can change what is in it;
    // one that has gone from the master since the scan is made as a new
    // directory would be.
    bool MakeDirectory(const std::string& path) {
        return TellDirectoryMade(path, MakeDirectoryLikeMaster(path, true));
    }

    struct DirectoryMade {
        platform::Status status;
        bool attributesLost = false;
    };

    // Makes the directory at `path` as MakeDirectory says; with
    // `ownerRights`, with its owner's rights over a parent that refuses it.
    DirectoryMade MakeDirectoryLikeMaster(const std::string& path, bool ownerRights) {
        platform::FileInfo master;
        const bool known = m_master.DescribeName(path, master).ok();
        const mode_t mode = (known ? master.mode : 0777) & 0777;
        const auto make = [&] {
            const platform::Status madeHere = m_slave.MakeDirectory(path, mode | 0700);
            // As root, the master's owner too, as cp -a gives it.
            return !madeHere.ok() || !known ? madeHere : m_slave.KeepOwner(path, master);
        };
        DirectoryMade made{ownerRights ? WithOwnerRights(m_slave, path, make) : make()};
        made.attributesLost = made.status.ok() && known && !KeepDirectoryAttributes(path);
        return made;
    }

    // Tells the host how making the directory at `path` ended; false when the
    // run must stop.
    bool TellDirectoryMade(const std::string& path, const DirectoryMade& made) {
        const bool goOn = Check(made.status, "Error creating directory ", path, ACTION_MKDIR);
        if (made.attributesLost) {
            m_host.ExtendedAttributesNotKept(path);
        }
        return goOn;
    }

    // Gives the directory just made at `path` the extended attributes and ACLs
    // (the default ACL too) of the master's; false when the slave does not
    // keep them, which is no failure, but counted as for a copy. An ACL that
    // takes its owner's rights away is put right as any such directory is
    // (WithOwnerRights).
    bool KeepDirectoryAttributes(const std::string& path) {
        const platform::Result<int> from = m_master.OpenDirectory(path);
        if (!from.ok()) {
            return true;  // gone since it was looked at: nothing to keep
        }
        const platform::Result<int> to = m_slave.OpenDirectory(path);
        const bool kept = to.ok() && m_slave.KeepExtendedAttributes(*from, *to).ok();
        if (to.ok()) {
            (void)m_slave.Close(*to);
        }
        (void)m_master.Close(*from);
        return kept;
    }

    enum class Early { Made, Failed, Waits };

    // Makes the directory of `action` while the copies before it go on, and
    // has it told in its turn: they cannot change what it needs, as its
    // parent was made before them and none of them lies at its path or below.
    // Waits (doing nothing) where it must come after them:
    // - in a run that stops at its first failure, which any of them may be:
    //   nothing later in the plan is then made;
    // - while one of them goes into the same directory, where a slave that
    //   ignores letter case may take its name for the directory's;
    // - with every slot taken, which bounds the steps told late (and the
    //   look for copies into its folder);
    // - after a cancel (only a run that stops at its first failure stops
    //   the workers otherwise), below a failure, and where the parent refuses
    //   it, which its owner's rights may only be given over it alone.
    // A failure is told at once, after the copies before it.
    Early MakeDirectoryEarly(size_t index, const CAction& action) {
        const std::string& path = action.GetMasterPath();
        if (m_onFailure == OnFailure::Stop || m_stopped || m_pool->Full() ||
            m_failures.AtOrBelow(path) || m_keptTrees.Below(path) ||
            m_pool->CopiesInto(platform::DirectoryOf(path))) {
            return Early::Waits;
        }
        DirectoryMade made = MakeDirectoryLikeMaster(path, false);
        if (made.status.Is(EACCES)) {
            return Early::Waits;
        }
        CopyOutcome outcome{made.status.ok() ? COPY_OK : COPY_WRITE_ERROR, made.status};
        outcome.extendedAttributesLost = made.attributesLost;
        m_pool->HandEnded(index, action, std::move(outcome));
        return made.status.ok() ? Early::Made : Early::Failed;
    }

    // A slave directory that gives way to a master file of the same path is
    // removed just before that file is created, with the directories below it:
    // the held-back removals in reverse, innermost first, as the removal pass
    // would.
    bool RemoveNow(const std::string& path) {
        if (m_pendingPaths.erase(path) == 0) {
            return true;  // nothing held back there
        }
        std::vector<const std::string*> below;
        std::erase_if(m_pendingRemovals, [&](const std::string* dir) {
            const bool isBelow = platform::IsAtOrBelow(*dir, path);
            if (isBelow) {
                below.push_back(dir);
            }
            return isBelow;
        });
        return RemoveDirectories(below);
    }

    // The held-back removals: a directory precedes its contents in the list, so
    // the reverse order removes the innermost first. Those a move fell back to
    // came later than the list's, and are put in their place.
    bool RemoveHeldBack() {
        std::stable_sort(m_pendingRemovals.begin(), m_pendingRemovals.end(),
                         [](const std::string* a, const std::string* b) { return *a < *b; });
        return RemoveDirectories(m_pendingRemovals);
    }

    bool RemoveDirectories(const std::vector<const std::string*>& dirs) {
        for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
            const std::string& dir = **it;
            if (m_failures.AtOrBelow(dir)) {
                m_host.StepEnded(
                    ACTION_RMDIR, dir,
                    IExecHost::StepOutcome::Skipped);  // something below it failed to go
                m_failures.Add(dir);
                continue;
            }
            if (!Check(WithOwnerRights(m_slave, dir, [&] { return m_slave.RemoveDirectory(dir); }),
                       "Unable to delete directory ", dir, ACTION_RMDIR)) {
                return false;
            }
        }
        return true;
    }

    // Tells the host of a change of `kind` done, or reports it failed as
    // `what`, the path and the reason; false when the run must stop there.
    bool Check(const platform::Status& result, const char* what, const std::string& path,
               int kind) {
        if (result.ok()) {
            m_host.StepEnded(kind, path, IExecHost::StepOutcome::Done);
            return true;
        }
        return Fail(
            what + m_slaveRoot + path + " (" + KeepingBlamed(m_slave.Reason(result, path)) + ")",
            path, kind);
    }

    // The reason of a failure, saying where the keeper could not keep the
    // entry when that was the failure.
    std::string KeepingBlamed(std::string reason) const {
        const std::string blame = m_keeper != nullptr ? m_keeper->Blame() : std::string();
        return blame.empty() ? reason : "cannot keep it in " + blame + ": " + reason;
    }

    bool Fail(const std::string& message, const std::string& path, int kind) {
        m_host.ShowMessage(message);
        m_host.StepEnded(kind, path, IExecHost::StepOutcome::Failed);
        m_failures.Add(path);
        return m_onFailure == OnFailure::KeepGoing;
    }

    unsigned m_jobs;
    bool m_stopped = false;  // at a failure or a cancel, with copies under way
    IExecHost& m_host;
    platform::TreeRoot& m_master;
    platform::TreeRoot& m_slave;
    OnFailure m_onFailure;
    Keeper* m_keeper;
    std::string m_masterRoot;  // with one separator appended, for messages
    std::string m_slaveRoot;
    std::vector<const std::string*> m_pendingRemovals;
    std::unordered_set<std::string_view> m_pendingPaths;  // theirs, for a quick look
    PathSet m_failures;
    PathSet m_keptTrees;    // directories a keeper took whole
    PathSet m_moveSources;  // the slave paths moves rename
    PathSet m_heldTrees;    // removals a keeper takes whole after the main pass
    std::vector<std::pair<int, const std::string*>> m_heldKeeps;
    std::optional<CopyPool> m_pool;  // with more than one job; its workers go first
};

// Waits, keeping the window served, until every output thrown away by this run
// is closed: a run that has ended holds nothing open in the slave, so a stick
// can be unmounted at once.
class DiscardsClosedAtEnd {
public:
    explicit DiscardsClosedAtEnd(IExecHost& host) : m_host(host) {}
    ~DiscardsClosedAtEnd() {
        while (platform::DiscardsPending()) {
            m_host.PumpPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    IExecHost& m_host;
};

}  // namespace

bool ExecuteActions(IExecHost& host, const CActionList& actions, platform::TreeRoot& master,
                    platform::TreeRoot& slave, FlushAtEnd flush, OnFailure onFailure,
                    Keeper* keeper, unsigned jobs) {
    DiscardsClosedAtEnd discards(host);
    return Executor(host, master, slave, onFailure, keeper, jobs).Run(actions, flush);
}

unsigned DefaultJobs() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

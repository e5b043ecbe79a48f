#include "sync/start_request.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/status.h"
#include "sync/action_line.h"
#include "sync/keeping.h"
#include "sync/request_threads.h"
#include "sync/run_log.h"
#include "sync/run_marker.h"
#include "tree/compare_trees.h"
#include "tree/moves.h"
#include "tree/scanner.h"

namespace {

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

constexpr const char* kOverlap = "Master and slave directories overlap";

std::unique_ptr<platform::TreeRoot> OpenRoot(const StartRequest& r, const std::string& path,
                                             platform::Mounts mounts) {
    return r.openRoot ? r.openRoot(path, mounts) : platform::OpenTreeRoot(path, mounts);
}

// "Master directory can't be read (Permission denied)"
std::string CannotRead(const char* which, const platform::Status& failure) {
    return std::string(which) + " directory can't be read (" + failure.Reason() + ")";
}

// Whether the open `root` will do as the master or the slave; shows why not,
// naming `named` when it is not empty.
bool CheckRoot(IRequestHost& host, const platform::TreeRoot& root, const char* which,
               const std::string& named = {}) {
    if (root.IsOpen()) {
        return true;
    }
    // A directory that is there but cannot be opened is not a missing one.
    if (root.OpenStatus().Is(EACCES) || root.OpenStatus().Is(EPERM)) {
        host.ShowMessage(CannotRead(which, root.OpenStatus()), MessageKind::KelvadError);
    } else {
        host.ShowMessage(std::string(which) + " directory " + (named.empty() ? "" : named + " ") +
                             "doesn't exist or isn't a directory",
                         MessageKind::KelvadError);
    }
    return false;
}

// The directory that would hold `path` and the last name in it, separators
// at its end aside; std::nullopt when there is no such name ("/", "a/..").
std::optional<std::pair<std::string, std::string>> SplitLastName(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && platform::IsSeparator(path[end - 1])) {
        --end;
    }
    size_t start = end;
    while (start > 0 && !platform::IsSeparator(path[start - 1])) {
        --start;
    }
    const std::string name = path.substr(start, end - start);
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    std::string parent = platform::ParentOf(path.substr(0, end));
    if (parent.back() == ':') {
        parent += platform::kSeparator;  // "C:" alone is the drive's current directory
    }
    return std::make_pair(parent, name);
}

// A slave this request makes (or, in a dry run, would make): the directory
// it is made in, open, and its name there. Its free space is the new slave's;
// a request that ends before its run removes the slave it made, still empty.
struct NewSlave {
    std::unique_ptr<platform::TreeRoot> parent;
    std::string name;
    bool made = false;
};

// A missing slave whose parent directory `parent` (open) exists: made as
// `name` beneath it when the host agrees, never through a link at that name,
// then opened into `slave`. In a dry run nothing is made and `slave` is left
// null: the plan is made against an empty slave. A result ends the request.
std::optional<RequestResult> CreateSlave(IRequestHost& host, const StartRequest& r,
                                         NewSlave& created,
                                         std::unique_ptr<platform::TreeRoot>& slave) {
    platform::TreeRoot& parent = *created.parent;
    const std::string& name = created.name;
    // Made inside the master, it would change the master before the overlap
    // check of the open roots could refuse it.
    if (platform::PathBelow(r.slaveDir, r.masterDir)) {
        host.ShowMessage(kOverlap, MessageKind::KelvadError);
        return RequestResult::Refused;
    }
    const std::string named = r.nameSlaveInRefusal ? r.slaveDir : "";
    switch (host.ConfirmCreateSlave(r.slaveDir)) {
        case IRequestHost::Answer::No:
            return RequestResult::NotRun;
        case IRequestHost::Answer::Refused:
            CheckRoot(host, *slave, "Slave", named);
            return RequestResult::Refused;
        case IRequestHost::Answer::Yes:
            break;
    }
    if (r.dryRun) {
        slave.reset();
        host.TellSlaveCreated("Slave directory " + r.slaveDir + " would be created");
        return std::nullopt;
    }
    if (const platform::Status made = parent.MakeDirectory(name, 0777); !made.ok()) {
        host.ShowMessage("Error creating directory " + r.slaveDir + " (" + made.Reason() + ")",
                         MessageKind::KelvadError);
        return RequestResult::Refused;
    }
    created.made = true;
    host.TellSlaveCreated("Created slave directory " + r.slaveDir);
    slave = OpenRoot(r, r.slaveDir, platform::Mounts::Stay);
    return CheckRoot(host, *slave, "Slave", named) ? std::nullopt
                                                   : std::optional(RequestResult::Refused);
}

// The checks that come before any scan, each with its message; the roots are
// opened here, once for the whole request. A result ends the request; the
// slave is left null when a dry run plans for a slave it would make.
std::optional<RequestResult> CheckRoots(IRequestHost& host, const StartRequest& r,
                                        std::unique_ptr<platform::TreeRoot>& master,
                                        std::unique_ptr<platform::TreeRoot>& slave,
                                        NewSlave& created) {
    if (r.masterDir.empty() || r.slaveDir.empty()) {
        host.ShowMessage("You must specify both Master and Slave directories", MessageKind::Error);
        return RequestResult::Refused;
    }
    if (r.masterDir == r.slaveDir) {
        host.ShowMessage("Master and slave cannot be the same (are you mad?)", MessageKind::Error);
        return RequestResult::Refused;
    }
    master = OpenRoot(r, r.masterDir, platform::Mounts::Cross);
    if (!CheckRoot(host, *master, "Master")) {
        return RequestResult::Refused;
    }
    slave = OpenRoot(r, r.slaveDir, platform::Mounts::Stay);
    if (!slave->IsOpen() && slave->OpenStatus().Is(ENOENT)) {
        if (const auto place = SplitLastName(r.slaveDir)) {
            created.parent = OpenRoot(r, place->first, platform::Mounts::Stay);
            created.name = place->second;
            if (created.parent->IsOpen()) {
                if (const auto ended = CreateSlave(host, r, created, slave);
                    ended || slave == nullptr) {
                    return ended;
                }
            }
        }
    }
    if (!CheckRoot(host, *slave, "Slave", r.nameSlaveInRefusal ? r.slaveDir : "")) {
        return RequestResult::Refused;
    }
    // Overlapping trees would make the run delete or overwrite the master. They
    // are judged by what the directories are, so links and bind mounts count.
    // One whose overlap cannot be told is refused as one.
    if (const platform::Result<bool> overlap = master->Overlaps(*slave, {});
        !overlap.ok() || *overlap) {
        host.ShowMessage(kOverlap, MessageKind::KelvadError);
        return RequestResult::Refused;
    }
    return std::nullopt;
}

// True when a mount point that the scan of `tree` met shows `other` (or lies
// inside it): the master mounted inside the slave, or the slave inside the
// master, which would make the run delete the master's files or copy the
// slave into itself.
bool MountShowsOther(platform::TreeRoot& tree, const CFileList& list, platform::TreeRoot& other) {
    for (const std::string& mountPoint : list.mountPoints) {
        // A mount point that cannot be opened is a file, or gone: no tree to show.
        if (const platform::Result<bool> overlap = tree.Overlaps(other, mountPoint);
            overlap.ok() && *overlap) {
            return true;
        }
    }
    return false;
}

// A master that holds nothing but an empty "lost+found" is a freshly made file
// system, not a tree to mirror: taken for empty. So is one whose every entry
// is left out (links, patterns): there is nothing to mirror.
bool HoldsNothing(const CFileList& masterList) {
    const CFileEntry* only = nullptr;
    for (const auto& entry : masterList) {
        if (!entry->IsExcluded()) {
            if (only != nullptr) {
                return false;
            }
            only = entry.get();
        }
    }
    return only == nullptr ||
           (only->IsDirectory() && only->GetName() == "lost+found" && !only->HasUnknownContents());
}

// "Error reading directory /m/tax (Permission denied)" for each directory of
// the tree scanned from `root` that could not be listed, appended to `messages`.
// A mount point inside the slave is not read by design, and not told.
void AddUnreadable(const std::string& root, const CFileList& list,
                   std::vector<std::string>& messages) {
    for (const CFileList::Unreadable& u : list.unreadable) {
        if (!u.status.Is(EXDEV)) {
            messages.push_back("Error reading directory " + root + platform::kSeparator + u.path +
                               " (" + u.status.Reason() + ")");
        }
    }
}

// "Left out /m/x\\y (the name cannot be used on Windows)" for each entry of
// the tree scanned from `root` whose name the system cannot open as one name,
// appended to `messages`.
void AddUnusable(const std::string& root, const CFileList& list,
                 std::vector<std::string>& messages) {
    for (const std::string& path : list.unusable) {
        messages.push_back("Left out " + root + platform::kSeparator + path + " (" +
                           platform::ErrorText(platform::kUnusableName) + ")");
    }
}

// The guard against a wrong master or a reversed direction: Yes when the plan
// may go ahead.
IRequestHost::Answer RunAllowed(IRequestHost& host, const StartRequest& r, const PlanCounts& counts,
                                size_t slaveEntries, const std::string& keptIn) {
    const size_t deletions = counts.byKind[ACTION_DELETE] + counts.byKind[ACTION_RMDIR];
    const size_t older = r.allowOlder ? 0 : counts.replacingNewer;
    if (r.maxDelete >= 0 &&
        static_cast<unsigned long long>(deletions) > static_cast<unsigned long long>(r.maxDelete)) {
        // Everything that stands in the way, so one change of the options does.
        const std::string replace = RiskText({0, 0, false, older, {}});
        host.ShowMessage(MassDeletionText(deletions, slaveEntries) + ", more than the " +
                             std::to_string(r.maxDelete) + " allowed" +
                             (older == 0 ? "" : ", and" + replace.substr(replace.find(" replace"))),
                         MessageKind::KelvadError);
        return IRequestHost::Answer::Refused;
    }
    const RunRisk risk{
        deletions, slaveEntries,
        r.maxDelete < 0 && deletions >= kMassDeletion && deletions * 2 >= slaveEntries, older,
        keptIn};
    return !risk.massDeletion && risk.replacingNewer == 0 ? IRequestHost::Answer::Yes
                                                          : host.ConfirmRisk(risk);
}

}  // namespace

std::string MassDeletionText(size_t deletions, size_t entries) {
    return "This run would delete " + std::to_string(deletions) + " of the " +
           std::to_string(entries) + " files and directories in the slave";
}

std::string RiskText(const RunRisk& risk) {
    const std::string kept =
        risk.keptIn.empty() ? "" : " (what it deletes and replaces is kept in " + risk.keptIn + ")";
    if (risk.replacingNewer == 0) {
        return MassDeletionText(risk.deletions, risk.entries) + kept;
    }
    const std::string replace = "replace " + ReplacingNewerText(risk.replacingNewer) + " with " +
                                (risk.replacingNewer == 1 ? "an older one" : "older ones");
    return (risk.deletions == 0
                ? "This run would " + replace
                : MassDeletionText(risk.deletions, risk.entries) + " and " + replace) +
           kept;
}

IRequestHost::Answer IRequestHost::ConfirmSpace(const SpaceShortage& shortage) {
    ShowMessage(SpaceText(shortage), MessageKind::KelvadError);
    return Answer::Refused;
}

void IRequestHost::ShowUnreadable(const std::vector<std::string>& messages) {
    ShowMessage(Together(messages), MessageKind::KelvadError);
}

void IRequestHost::ShowUnusable(const std::vector<std::string>& messages) {
    ShowMessage(Together(messages), MessageKind::KelvadError);
}

std::string IRequestHost::Together(const std::vector<std::string>& messages) {
    // One message for them all: the first few, and how many more.
    constexpr size_t kShown = 5;
    std::string text;
    for (size_t i = 0; i < messages.size() && i < kShown; ++i) {
        text += (i == 0 ? "" : "\n") + messages[i];
    }
    if (messages.size() > kShown) {
        text += "\n... and " + std::to_string(messages.size() - kShown) + " more";
    }
    return text;
}

namespace {

// One Start request from its checks on, in named steps. A step that ends the
// request returns its result; std::nullopt goes on.
class Request {
public:
    Request(IRequestHost& host, const StartRequest& r) : m_host(host), m_r(r) {}

    RequestResult Run() {
        m_result.end = Steps().end;
        // These ends ran nothing.
        if (m_newSlave.made &&
            (m_result == RequestResult::Refused || m_result == RequestResult::NotRun ||
             m_result == RequestResult::Stopped)) {
            UnmakeSlave();
        }
        if (m_result == RequestResult::Stopped) {
            m_release.InBackground();
        }
        return m_result;
    }

private:
    RequestResult Steps() {
        if (const auto ended = CheckRoots(m_host, m_r, m_master, m_slave, m_newSlave)) {
            return *ended;
        }
        // A dry run for a slave it would make plans against an empty one.
        if (m_slave != nullptr) {
            // One run at a time on a slave: two would copy over each other.
            if (!m_slave->Lock().ok()) {
                return Refuse("Slave directory is in use by another Kelvad run");
            }
            m_marker.emplace(*m_slave);
        }
        // The log is made or written inside the master only once the master
        // has been scanned as it was; elsewhere (inside the slave) before the
        // scans, so that the slave's scan finds it and keeps the directories
        // above it.
        const bool ownFilesInMaster = FindOwnFiles();
        if (m_r.log != nullptr && !ownFilesInMaster) {
            m_r.log->Release();
        }
        Busy busy(m_host);
        const auto scanned = ScanBoth(busy);
        if (m_r.log != nullptr) {
            m_r.log->Release();
        }
        if (scanned) {
            return *scanned;
        }
        if (const auto ended = CheckScans(busy); ended) {
            return *ended;
        }
        if (!Compare()) {
            return RequestResult::Stopped;
        }
        busy.End();
        return Decide();
    }

    // Both trees at once, each on a thread of its own, so the two disks, or the
    // two cores, work at once. A master found empty (or unreadable) ends the
    // request before the slave's scan is looked at.
    std::optional<RequestResult> ScanBoth(Busy& busy) {
        std::atomic<bool> stopSlave{false};
        // Each scan reads the master's ignore files and cache tags through a
        // handle of its own; the slave's looks for them in every directory.
        Exclusions masterRules(*m_master, m_r.excludes, false);
        const std::unique_ptr<platform::TreeRoot> masterForSlave = m_master->SecondHandle();
        Exclusions slaveRules(*masterForSlave, m_r.excludes, true,
                              m_marker ? m_marker->SlaveMatch() : platform::NameMatch::Exact);
        Worker slaveScan([&] {
            if (m_slave != nullptr) {
                ScanDirectory(*m_slave, &m_slaveList, &stopSlave, &slaveRules,
                              OtherEntries::Skipped);
            }
        });
        Worker masterScan([&] { ScanDirectory(*m_master, &m_masterList, &m_stop, &masterRules); });
        const bool masterScanned = masterScan.WaitKeepingAlive(m_host, m_stop);
        if (masterScanned) {
            LeaveOutOwnFiles(m_masterList, m_r.masterDir, platform::NameMatch::Exact);
        }
        const bool masterEmpty = masterScanned && HoldsNothing(m_masterList);
        if (!masterScanned || masterEmpty) {
            stopSlave = true;  // its list is thrown away
        }
        if (!masterScanned) {
            return RequestResult::Stopped;
        }
        if (masterEmpty) {
            busy.End();
            // A root that cannot be listed is not an empty one.
            if (m_masterList.rootContentsUnknown && !m_masterList.unreadable.empty()) {
                return Refuse(CannotRead("Master", m_masterList.unreadable[0].status));
            }
            m_host.ShowMessage("Master directory is empty", MessageKind::Error);
            return RequestResult::Refused;
        }
        if (!slaveScan.WaitKeepingAlive(m_host, stopSlave)) {
            return RequestResult::Stopped;
        }
        LeaveOutOwnFiles(m_slaveList, m_r.slaveDir, SlaveNameMatch());
        return std::nullopt;
    }

    // The paths below either root of the files that take no part in the
    // mirror; true when one lies inside the master.
    bool FindOwnFiles() {
        bool inMaster = false;
        for (const std::string& file : m_r.notMirrored) {
            for (const std::string* root : {&m_r.masterDir, &m_r.slaveDir}) {
                if (auto relative = platform::PathBelow(file, *root)) {
                    m_ownPaths.push_back(std::move(*relative));
                    inMaster = inMaster || root == &m_r.masterDir;
                }
            }
        }
        return inMaster;
    }

    // Marks the entries of `list` at those paths left out, without counting
    // them: the comparison then plans nothing there in either tree, and keeps
    // the slave's directories above them.
    void LeaveOutOwnFiles(CFileList& list, const std::string& root, platform::NameMatch match) {
        const platform::NameMatch ownMatch =
            IgnoreRules::kFoldsCase ? platform::NameMatch::IgnoreCase : match;
        for (const std::string& path : m_ownPaths) {
            const platform::PathPieces own{{path, {}, {}}};
            const size_t nameLength = path.size() - (path.rfind(platform::kSeparator) + 1);
            for (const auto& entry : list) {
                const platform::PathPieces relative = entry->RelativePieces(root.size());
                if (entry->GetName().size() == nameLength &&
                    platform::ComparePaths(relative, own, ownMatch) == 0) {
                    entry->MarkExcluded();
                }
            }
        }
    }

    // What the scans found that ends the request before any plan.
    std::optional<RequestResult> CheckScans(Busy& busy) {
        // What to leave out is not known: nothing may change.
        for (const CFileList* list : {&m_masterList, &m_slaveList}) {
            if (!list->ruleErrors.empty()) {
                busy.End();
                return Refuse(list->ruleErrors[0]);
            }
        }
        // A slave that cannot be listed would be planned as empty: every copy
        // would meet a file already there.
        if (!m_slaveList.unreadable.empty() && m_slaveList.unreadable[0].path.empty()) {
            busy.End();
            return Refuse(CannotRead("Slave", m_slaveList.unreadable[0].status));
        }
        if (m_slave == nullptr) {
            return std::nullopt;  // nothing to show the master, nor to be shown in it
        }
        if (MountShowsOther(*m_master, m_masterList, *m_slave) ||
            MountShowsOther(*m_slave, m_slaveList, *m_master) ||
            m_marker->SeenFrom(*m_master, m_masterList)) {
            busy.End();
            return Refuse(kOverlap);
        }
        m_marker->RemoveFrom(m_slaveList);
        return std::nullopt;
    }

    // The plan, made on a thread of its own, its moves found (PlanMoves)
    // through both roots, which nothing else uses meanwhile; false when the
    // user stopped. The host is told the bytes read to compare files as they
    // grow.
    bool Compare() {
        const platform::FileTime step =
            m_slave == nullptr ? 0 : std::max(m_slave->TimeStep().ValueOr(0), m_marker->TimeStep());
        std::atomic<std::uint64_t> compared{0};
        std::uint64_t told = 0;
        const auto tell = [&] {
            if (const std::uint64_t now = compared.load(std::memory_order_relaxed); now != told) {
                told = now;
                m_host.TellCompared(now);
            }
        };
        Worker compare([&] {
            std::vector<CaseClash>* clashes = platform::TellsCaseClashes() ? &m_clashes : nullptr;
            const bool nanoseconds = m_slave != nullptr && m_marker->KeepsNanoseconds();
            if (m_slave == nullptr) {
                CompareTrees(&m_masterList, &m_slaveList, &m_actions, m_r.masterDir, m_r.slaveDir,
                             SlaveNameMatch(), step, &m_stop, &m_blocked, clashes, nanoseconds);
                return;
            }
            const MoveSearch search{m_masterList,
                                    m_slaveList,
                                    m_r.masterDir.size(),
                                    m_r.slaveDir.size(),
                                    step,
                                    *m_master,
                                    *m_slave,
                                    &compared,
                                    DefaultJobs()};
            // Folders moved whole are found before the plan is made: each is
            // then one action, not one for every entry on either side.
            std::vector<FolderMove> folders;
            // Into an empty slave, or from an empty master, nothing can move.
            if (!m_masterList.empty() && !m_slaveList.empty()) {
                FolderCandidates found;
                const size_t blocked = m_blocked.size();
                const size_t clashed = m_clashes.size();
                if (FindMoveCandidates(m_masterList, m_slaveList, m_r.masterDir, m_r.slaveDir,
                                       SlaveNameMatch(), step, &m_stop, &m_blocked, clashes,
                                       nanoseconds, found) == 0 ||
                    m_stop) {
                    return;  // nothing to plan: what it told stands
                }
                m_blocked.resize(blocked);
                m_clashes.resize(clashed);
                folders = FindFolderMoves(found, search, &m_stop);
            }
            MoveCandidates candidates;
            CompareTrees(&m_masterList, &m_slaveList, &m_actions, m_r.masterDir, m_r.slaveDir,
                         SlaveNameMatch(), step, &m_stop, &m_blocked, clashes, nanoseconds,
                         &candidates, &folders);
            if (!m_stop) {
                PlanMoves(m_actions, candidates, search, &m_stop);
            }
        });
        if (!compare.WaitKeepingAlive(m_host, m_stop, tell)) {
            return false;
        }
        tell();
        return true;
    }

    // Up to date, or the mode's road: the preview or the guard, then the run.
    // What could not be read was not mirrored: such a run is not a success. In
    // the master nothing below such a directory was copied, nor its
    // counterpart's contents deleted; in the slave what it holds was not brought
    // in line.
    RequestResult Decide() {
        TellUnusable();
        m_unreadable = Unreadable();
        m_blockedMessages = Blocked();
        if (m_actions.empty()) {
            TellNotes();
            if (m_unreadable.empty() && m_blockedMessages.empty()) {
                m_host.ShowMessage("Slave directory structure is up-to-date", MessageKind::Info);
                if (!PruneWhenUpToDate()) {
                    return RequestResult::Failed;
                }
            }
            return TellUnreadable(RequestResult::UpToDate);
        }
        const PlanCounts counts = CountPlan(m_actions);  // the one count of the plan
        // Asked before anything is made for keeping (the Trash's folders).
        m_notes.space = SpaceShort(counts);
        if (m_notes.space && m_r.mode == RunMode::JustDoIt) {
            if (const IRequestHost::Answer answer = m_host.ConfirmSpace(*m_notes.space);
                answer != IRequestHost::Answer::Yes) {
                return answer == IRequestHost::Answer::Refused ? RequestResult::Refused
                                                               : RequestResult::NotRun;
            }
        }
        if (const std::optional<std::string> refusal = PrepareKeeping()) {
            return Refuse(*refusal);
        }
        TellNotes();
        if (const std::optional<RequestResult> notRun = Approve(counts)) {
            return *notRun;
        }
        LogPlan(counts);  // in Just Do It mode, not yet
        if (!CarryOut(counts)) {
            TellUnreadable(RequestResult::Failed);
            return RequestResult::Failed;
        }
        const RequestResult result = TellUnreadable(RequestResult::Done);
        if (result == RequestResult::Done) {
            m_host.SaveSettings();
        }
        return result;
    }

    // The mode's road up to the run: the preview approved, or the guard passed;
    // nothing when the plan may be carried out, how the request ends otherwise.
    std::optional<RequestResult> Approve(const PlanCounts& counts) {
        if (m_r.mode == RunMode::Preview) {
            LogPlan(counts);
            if (!m_host.ApprovePlan(m_actions, m_r.slaveDir)) {
                TellUnreadable(RequestResult::NotRun);  // the plan leaves them out
                return RequestResult(RequestResult::NotRun);
            }
        } else if (m_r.mode != RunMode::JustDoIt) {
            m_host.ShowMessage("You just couldn't resist it, could you?", MessageKind::Error);
            return RequestResult(RequestResult::NotRun);
        } else if (const IRequestHost::Answer answer =
                       RunAllowed(m_host, m_r, counts, m_slaveList.size(), m_notes.keptIn);
                   answer != IRequestHost::Answer::Yes) {
            return answer == IRequestHost::Answer::Refused ? RequestResult::Refused
                                                           : RequestResult::NotRun;
        }
        if (m_slave == nullptr) {
            return RequestResult(RequestResult::NotRun);  // a dry run: no slave to change
        }
        return std::nullopt;
    }

    // Tells what could not be read and which master entries were blocked;
    // `result` when there were none, Failed otherwise.
    RequestResult TellUnreadable(RequestResult result) {
        if (!m_unreadable.empty()) {
            m_host.ShowUnreadable(m_unreadable);
        }
        if (!m_blockedMessages.empty()) {
            m_host.ShowBlocked(m_blockedMessages);
        }
        m_result.unreadable = m_unreadable.size();
        m_result.blocked = m_blockedMessages.size();
        return m_unreadable.empty() && m_blockedMessages.empty() ? result : RequestResult::Failed;
    }

    void TellUnusable() {
        std::vector<std::string> unusable;
        AddUnusable(m_r.masterDir, m_masterList, unusable);
        AddUnusable(m_r.slaveDir, m_slaveList, unusable);
        if (!unusable.empty()) {
            m_host.ShowUnusable(unusable);
        }
    }

    std::vector<std::string> Unreadable() const {
        std::vector<std::string> unreadable;
        AddUnreadable(m_r.masterDir, m_masterList, unreadable);
        AddUnreadable(m_r.slaveDir, m_slaveList, unreadable);
        return unreadable;
    }

    std::vector<std::string> Blocked() const {
        std::vector<std::string> blocked;
        for (const std::string& path : m_blocked) {
            blocked.push_back("Error creating " + m_r.slaveDir + platform::kSeparator + path +
                              " (a slave entry left out of the mirror is in its place)");
        }
        for (const CaseClash& clash : m_clashes) {
            blocked.push_back("Error creating " + m_r.slaveDir + platform::kSeparator + clash.path +
                              " (the master also has " + clash.other +
                              ", which Windows takes for the same name)");
        }
        return blocked;
    }

    // What the plan needs beyond the slave's free space; nothing when it fits,
    // when the check is off or when the free space cannot be known. What a
    // run keeps frees nothing: it stays on the slave's file system.
    std::optional<SpaceShortage> SpaceShort(const PlanCounts& counts) {
        // A slave still to be made has its parent's room.
        platform::TreeRoot* const slave =
            m_slave != nullptr ? m_slave.get() : m_newSlave.parent.get();
        if (!m_r.spaceCheck || slave == nullptr) {
            return std::nullopt;
        }
        const std::uint64_t freed = m_r.keeping.place == Keeping::Place::Nowhere ? counts.freed : 0;
        const platform::Result<std::uint64_t> free = slave->FreeSpace();
        if (!free.ok() || counts.bytes <= freed || counts.bytes - freed <= *free) {
            return std::nullopt;
        }
        return SpaceShortage{counts.bytes - freed, *free};
    }

    void TellNotes() {
        m_notes.leftOut = m_masterList.leftOut;
        if (m_notes.leftOut > 0 || !m_notes.keptIn.empty() || m_notes.space) {
            m_host.TellPlanNotes(m_notes);
        }
    }

    // Where the run keeps what it takes away, made ready: the keeper, and the
    // words for where it keeps them. Nothing when the run may go on; the
    // refusal's words when what the user asked for cannot be had without a
    // copy.
    std::optional<std::string> PrepareKeeping() {
        if (m_r.keeping.place == Keeping::Place::Nowhere) {
            return std::nullopt;
        }
        PreparedKeeping prepared = ::PrepareKeeping(m_r, m_slave.get(), *m_master, m_start);
        if (!prepared.refusal.empty()) {
            return prepared.refusal;
        }
        m_keeper = std::move(prepared.keeper);
        m_notes.keptIn = prepared.where;
        return std::nullopt;
    }

    // The plan carried out, recorded, through the host's display of it; true
    // when everything was done. The result keeps what the run came to, its
    // summary counting the directories not read and the entries blocked.
    bool CarryOut(const PlanCounts& counts) {
        IExecHost* display = m_host.BeginRun();
        if (display == nullptr) {
            return false;
        }
        RunRecord record(*display, m_r.log);
        record.SetLeftUndone(m_unreadable.size(), m_blockedMessages.size());
        bool done = record.Run(m_actions, counts, *m_master, *m_slave, m_r.onFailure, m_r.flush,
                               m_keeper.get(), m_r.jobs);
        if (done && m_r.keeping.place == Keeping::Place::VersionsFolder && m_r.keeping.keepDays) {
            done = record.Prune(*m_keeper, *m_r.keeping.keepDays);
        }
        const std::string leftOut = LeftOutText(m_masterList.leftOut);
        m_result.ran = true;
        m_result.vanished = record.Vanished();
        m_result.summary = record.Summary(m_unreadable.size(), m_blockedMessages.size()) + leftOut;
        const bool recorded = m_r.log != nullptr && m_r.log->IsOpen();
        m_host.EndRun({done, !done && display->IsCancelled(), record.Summary() + leftOut,
                       recorded ? m_r.log->Path() : ""});
        return done;
    }

    // A slave already up to date still sheds the versions that earlier runs
    // kept beyond the retention (where nothing can be kept, nothing was);
    // false when that failed.
    bool PruneWhenUpToDate() {
        const Keeping& keeping = m_r.keeping;
        if (keeping.place != Keeping::Place::VersionsFolder || !keeping.keepDays ||
            m_slave == nullptr || m_r.dryRun || PrepareKeeping()) {
            return true;
        }
        const std::string failure = PruneOldVersions(*m_keeper, *keeping.keepDays, m_r.log);
        if (!failure.empty()) {
            m_host.ShowMessage(failure, MessageKind::KelvadError);
        }
        return failure.empty();
    }

    // The plan's totals in the log, once a request.
    void LogPlan(const PlanCounts& counts) {
        if (m_r.log != nullptr && !m_planLogged) {
            m_r.log->Write("plan: " + PlanTotals(counts, m_notes));
            m_planLogged = true;
        }
    }

    // How the slave's file system matches names; exactly for a slave not yet made.
    platform::NameMatch SlaveNameMatch() {
        return m_slave == nullptr ? platform::NameMatch::Exact : NameMatchOf(*m_slave, m_slaveList);
    }

    // Removes the slave this request made, closed first, when it is still
    // empty: a request that ended before its run leaves the slave's parent
    // as it found it.
    void UnmakeSlave() {
        m_marker.reset();
        m_slave.reset();
        (void)m_newSlave.parent->RemoveDirectory(m_newSlave.name);
    }

    RequestResult Refuse(const std::string& message) {
        m_host.ShowMessage(message, MessageKind::KelvadError);
        return RequestResult::Refused;
    }

    IRequestHost& m_host;
    const StartRequest& m_r;
    std::unique_ptr<platform::TreeRoot> m_master;
    std::unique_ptr<platform::TreeRoot> m_slave;
    NewSlave m_newSlave;
    // The request's lists and plan live until it returns, on every path, and
    // are freed together.
    CFileList m_masterList;
    CFileList m_slaveList;
    CActionList m_actions;
    std::vector<std::string> m_blocked;  // master paths a left-out slave entry holds
    std::vector<CaseClash> m_clashes;    // master paths the slave takes for others
    std::optional<RunMarker> m_marker;
    ReleaseTogether m_release{m_masterList, m_slaveList, m_actions};
    std::atomic<bool> m_stop{false};      // the master's scan and the comparison
    std::vector<std::string> m_ownPaths;  // below either root, of notMirrored
    RequestResult m_result;               // what is told beside how the request ended
    bool m_planLogged = false;
    std::vector<std::string> m_unreadable;       // messages, one a directory not read
    std::vector<std::string> m_blockedMessages;  // one a master entry blocked
    PlanNotes m_notes;
    std::unique_ptr<Keeper> m_keeper;
    const std::time_t m_start = std::time(nullptr);  // names the run's versions folder
};

// The host of a request that is recorded: every call passed on, the messages,
// the questions with their answers written to the log. The request writes the
// plan's totals and the run (RunRecord) itself.
class LoggedRequestHost : public IRequestHost {
public:
    LoggedRequestHost(IRequestHost& inner, RunLog& log) : m_inner(inner), m_log(log) {}

    void ShowMessage(const std::string& text, MessageKind kind) override {
        m_log.Write("message: " + text);
        m_inner.ShowMessage(text, kind);
    }
    void SetBusy(bool busy) override { m_inner.SetBusy(busy); }
    bool KeepAliveWhileBusy() override { return m_inner.KeepAliveWhileBusy(); }
    void TellCompared(std::uint64_t bytes) override { m_inner.TellCompared(bytes); }
    Answer ConfirmRisk(const RunRisk& risk) override {
        const Answer answer = m_inner.ConfirmRisk(risk);
        m_log.Write(RiskText(risk) + (answer == Answer::Yes ? ": allowed" : ": refused"));
        return answer;
    }
    Answer ConfirmSpace(const SpaceShortage& shortage) override {
        const Answer answer = m_inner.ConfirmSpace(shortage);
        m_log.Write(SpaceText(shortage) + (answer == Answer::Yes ? ": allowed" : ": refused"));
        return answer;
    }
    void ShowUnreadable(const std::vector<std::string>& messages) override {
        LogFailures(messages);
        m_inner.ShowUnreadable(messages);
    }
    void ShowBlocked(const std::vector<std::string>& messages) override {
        LogFailures(messages);
        m_inner.ShowBlocked(messages);
    }
    void ShowUnusable(const std::vector<std::string>& messages) override {
        for (const std::string& message : messages) {
            m_log.Write("message: " + message);
        }
        m_inner.ShowUnusable(messages);
    }
    Answer ConfirmCreateSlave(const std::string& path) override {
        const Answer answer = m_inner.ConfirmCreateSlave(path);
        if (answer != Answer::Refused) {
            m_log.Write("create slave " + path +
                        (answer == Answer::Yes ? ": allowed" : ": refused"));
        }
        return answer;
    }
    void TellSlaveCreated(const std::string& text) override {
        m_log.Write("message: " + text);
        m_inner.TellSlaveCreated(text);
    }
    void TellPlanNotes(const PlanNotes& notes) override { m_inner.TellPlanNotes(notes); }
    bool ApprovePlan(const CActionList& actions, const std::string& slaveRoot) override {
        const bool approved = m_inner.ApprovePlan(actions, slaveRoot);
        m_log.Write(approved ? "plan approved" : "plan not approved");
        return approved;
    }
    IExecHost* BeginRun() override { return m_inner.BeginRun(); }
    void EndRun(const RunEnd& end) override { m_inner.EndRun(end); }
    void SaveSettings() override { m_inner.SaveSettings(); }

private:
    void LogFailures(const std::vector<std::string>& messages) {
        for (const std::string& message : messages) {
            m_log.Write("failed: " + message);
        }
    }

    IRequestHost& m_inner;
    RunLog& m_log;
};

}  // namespace

RequestResult RunStartRequest(IRequestHost& host, const StartRequest& r) {
    StartRequest expanded = r;
    expanded.masterDir = ExpandHome(r.masterDir);
    expanded.slaveDir = ExpandHome(r.slaveDir);
    if (r.log == nullptr) {
        return Request(host, expanded).Run();
    }
    RunLog& log = *r.log;
    if (!log.Path().empty()) {
        expanded.notMirrored.push_back(log.Path());
    }
    log.Hold();  // released once the trees are scanned: the log may lie in one
    log.Write(std::string("start: ") + (r.mode == RunMode::JustDoIt  ? "Just Do It"
                                        : r.mode == RunMode::Preview ? "Preview"
                                                                     : "no mode"));
    log.Write("master: " + expanded.masterDir);
    log.Write("slave: " + expanded.slaveDir);
    LoggedRequestHost logged(host, log);
    const RequestResult result = Request(logged, expanded).Run();
    log.Release();  // a request refused before its scans
    static const char* const kEnds[] = {"refused", "stopped", "up to date",
                                        "not run", "failed",  "done"};
    const bool cancelled = result == RequestResult::Failed && log.Cancelled();
    log.Write(std::string("end: ") + (cancelled ? "cancelled" : kEnds[result.end]));
    return result;
}

std::string ExpandHome(const std::string& typed) {
    const std::string home = platform::HomeDirectory();
    const bool separator = typed.size() > 1 && platform::IsSeparator(typed[1]);
    if (typed.empty() || typed[0] != '~' || (typed.size() > 1 && !separator) || home.empty()) {
        return typed;
    }
    return home + typed.substr(1);
}

#include "tree/compare_trees.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// 1980-01-02 00:00 UTC as a FileTime: after the earliest time FAT and exFAT
// keep, in any time zone.
constexpr platform::FileTime kEarliestJudged =
    static_cast<platform::FileTime>(315619200LL + platform::kEpochDifferenceSeconds) * 10000000ULL;

// Master directories whose contents are unknown, by relative path, matched as
// the slave's names are matched (a case-only rename on a slave that ignores
// case must not make the slave's spelling look uncovered).
class UnknownDirs {
public:
    explicit UnknownDirs(platform::NameMatch match) : m_match(match) {}

    void Add(std::string path) { m_paths.insert(Key(std::move(path))); }
    bool Empty() const { return m_paths.empty(); }

    // True when `relative` lies below one of the directories.
    bool Covers(std::string_view relative) const {
        if (m_paths.empty()) {
            return false;
        }
        for (size_t i = relative.find(platform::kSeparator); i != std::string_view::npos;
             i = relative.find(platform::kSeparator, i + 1)) {
            if (m_paths.count(Key(std::string(relative.substr(0, i)))) != 0) {
                return true;
            }
        }
        return false;
    }

private:
    std::string Key(std::string path) const {
        if (m_match == platform::NameMatch::IgnoreCase) {
            platform::FoldBytes(path);
        }
        return path;
    }

    platform::NameMatch m_match;
    std::unordered_set<std::string> m_paths;
};

// True when `path` lies below the directory `dir`.
bool IsBelow(std::string_view path, std::string_view dir, platform::NameMatch match) {
    return path.size() > dir.size() && path[dir.size()] == platform::kSeparator &&
           platform::ComparePaths(platform::PathPieces{{path.substr(0, dir.size()), {}, {}}},
                                  platform::PathPieces{{dir, {}, {}}}, match) == 0;
}

// A master file that meets a slave directory of the same path: its creation
// waits until every slave entry below that directory has had its action.
struct DeferredCreate {
    std::string path;     // the master's relative path
    std::string bound;    // the path followed by '0', the byte after '/': every
                          // path below it sorts before this
    std::uint64_t bytes;  // the master file's size
};

// The merge of the two lists, in named steps. Each action carries the relative
// paths of both entries the walk stands on; where one side has none there, its
// field holds the other list's next path or "~~~~" (a quirk kept on purpose:
// readers take the path a step changes from CAction::GetTargetPath).
// Without a plan to append to (`actions` null), the walk only counts the
// actions and finds the candidates for folder moves (`folderCandidates`).
class Merge {
public:
    Merge(const CFileList& masterList, const CFileList& slaveList, CActionList* actions,
          size_t masterRootLength, size_t slaveRootLength, platform::NameMatch match,
          platform::FileTime slaveTimeStep, const std::atomic<bool>* stop,
          std::vector<std::string>* blocked, std::vector<CaseClash>* clashes, bool nanoseconds,
          MoveCandidates* candidates, const std::vector<FolderMove>* folderMoves,
          FolderCandidates* folderCandidates = nullptr)
        : m_masterList(masterList),
          m_slaveList(slaveList),
          m_actions(actions),
          m_masterRootLength(masterRootLength),
          m_slaveRootLength(slaveRootLength),
          m_match(match),
          m_slaveTimeStep(slaveTimeStep),
          m_stop(stop),
          m_blocked(blocked),
          m_clashes(clashes),
          m_nanoseconds(nanoseconds && slaveTimeStep == 0),
          m_unknownDirs(match),
          m_candidates(candidates),
          m_folderCandidates(folderCandidates) {
        if (m_folderCandidates != nullptr) {
            m_folderCandidates->master.assign(masterList.size(), false);
            m_folderCandidates->slave.assign(slaveList.size(), false);
        }
        if (folderMoves != nullptr) {
            for (const FolderMove& moved : *folderMoves) {
                m_moveAt.emplace(moved.master, &moved);
                m_masterSkips.emplace(moved.masterBegin, moved.masterEnd);
                m_slaveSkips.emplace(moved.slave, moved.slave + 1);
                m_slaveSkips.emplace(moved.slaveBegin, moved.slaveEnd);
            }
        }
    }

    // How many actions the plan holds.
    size_t Planned() const { return m_actions != nullptr ? m_actions->size() : m_counted; }

    void Run() {
        size_t i = 0;
        size_t j = 0;
        for (size_t steps = 0; i < m_masterList.size() || j < m_slaveList.size(); ++steps) {
            if (steps % kStopEvery == 0 && Stopped()) {
                return;
            }
            m_masterIndex = i;
            m_slaveIndex = j;
            const Advance advance = Step(i < m_masterList.size() ? m_masterList[i].get() : nullptr,
                                         j < m_slaveList.size() ? m_slaveList[j].get() : nullptr);
            i += advance.master;
            j += advance.slave;
        }
        while (!m_deferred.empty()) {
            Add(m_deferred.back().path, kNoPath, ACTION_CREATE, m_deferred.back().bytes);
            m_deferred.pop_back();
        }
        HandOverCandidates();
        if (m_kept && m_actions != nullptr) {
            std::erase(*m_actions, nullptr);
        }
        m_counted -= m_takenBack.size();
    }

private:
    // How far one step of the merge moves along each list.
    struct Advance {
        size_t master;
        size_t slave;
    };

    // Plans for the next entry of either list, or both when they share a path
    // (null for a list used up).
    Advance Step(const CFileEntry* master, const CFileEntry* slave) {
        const platform::PathPieces masterKey = master != nullptr
                                                   ? master->RelativePieces(m_masterRootLength)
                                                   : platform::PathPieces{{kNoPath, {}, {}}};
        const platform::PathPieces slaveKey = slave != nullptr
                                                  ? slave->RelativePieces(m_slaveRootLength)
                                                  : platform::PathPieces{{kNoPath, {}, {}}};
        AddDueCreations(slave, slaveKey);
        // A used-up side comes after everything; "~~~~" is never compared.
        const int order = master == nullptr  ? 1
                          : slave == nullptr ? -1
                                             : platform::ComparePaths(masterKey, slaveKey, m_match);
        if (master != nullptr && BelowLeftOut(masterKey, m_leftOutInMaster)) {
            return {1, 0};
        }
        if (slave != nullptr && BelowLeftOut(slaveKey, m_leftOutInSlave)) {
            return {0, 1};
        }
        if ((order <= 0 && master->IsExcluded()) || (order >= 0 && slave->IsExcluded())) {
            return LeaveOut(order, master, masterKey, slaveKey);
        }
        if (master != nullptr && order <= 0 && ClashesWithLast(master, masterKey)) {
            return {1, 0};  // the slave's entry, if any, stands for the one before
        }
        if (master != nullptr && order <= 0) {
            m_lastMaster = master;
            if (master->IsDirectory() && master->HasUnknownContents()) {
                m_unknownDirs.Add(JoinPieces(masterKey));
            }
        }
        if (order == 0) {
            SamePath(*master, *slave, masterKey, slaveKey);
            return {1, 1};
        }
        if (order < 0) {
            if (!m_moveAt.empty()) {
                if (const auto at = m_moveAt.find(m_masterIndex); at != m_moveAt.end()) {
                    AddFolderMove(*at->second, masterKey);
                    return {1, 0};
                }
                // What lies below a folder moved whole: the move stands for it.
                if (const auto skip = m_masterSkips.find(m_masterIndex);
                    skip != m_masterSkips.end()) {
                    m_lastMaster = m_masterList[skip->second - 1].get();
                    return {skip->second - m_masterIndex, 0};
                }
            }
            Add(masterKey, slaveKey, master->IsDirectory() ? ACTION_MKDIR : ACTION_CREATE,
                master->GetSize());
            if (m_candidates != nullptr) {
                m_masterCandidates.emplace_back(Planned() - 1, m_masterIndex);
            } else if (m_folderCandidates != nullptr) {
                m_folderCandidates->master[m_masterIndex] = true;
                if (master->IsDirectory()) {
                    m_folderCandidates->masterDirs.push_back(m_masterIndex);
                }
            }
            return {1, 0};
        }
        if (!m_slaveSkips.empty()) {
            // The move at its master directory's place stands for all of it.
            if (const auto skip = m_slaveSkips.find(m_slaveIndex); skip != m_slaveSkips.end()) {
                return {0, skip->second - m_slaveIndex};
            }
        }
        SlaveOnly(*slave, masterKey, slaveKey);
        return {0, 1};
    }

    // The move of a folder whose master directory the walk stands on, in the
    // place of its making.
    void AddFolderMove(const FolderMove& moved, const platform::PathPieces& masterKey) {
        if (m_actions == nullptr) {
            ++m_counted;
            return;
        }
        auto action =
            std::make_unique<CAction>(JoinPieces(masterKey), moved.slavePath, ACTION_MOVE);
        // The making and the creations first, then the deletions and the
        // removals, each in plan order: made before filled, as the plan had them.
        action->MakeMove(moved.source, moved.bytes, {},
                         [&masterList = m_masterList, &slaveList = m_slaveList,
                          masterRoot = m_masterRootLength, slaveRoot = m_slaveRootLength, moved] {
                             std::vector<std::unique_ptr<CAction>> replaced;
                             replaced.reserve(2 + moved.masterEnd - moved.masterBegin +
                                              moved.slaveEnd - moved.slaveBegin);
                             const auto make = [&](const CFileEntry& e) {
                                 replaced.push_back(std::make_unique<CAction>(
                                     JoinPieces(e.RelativePieces(masterRoot)), kNoPath,
                                     e.IsDirectory() ? ACTION_MKDIR : ACTION_CREATE, e.GetSize()));
                             };
                             const auto remove = [&](const CFileEntry& e) {
                                 replaced.push_back(std::make_unique<CAction>(
                                     kNoPath, JoinPieces(e.RelativePieces(slaveRoot)),
                                     e.IsDirectory() ? ACTION_RMDIR : ACTION_DELETE));
                                 replaced.back()->SetFreedBytes(e.IsDirectory() ? 0 : e.GetSize());
                             };
                             make(*masterList[moved.master]);
                             for (size_t i = moved.masterBegin; i < moved.masterEnd; ++i) {
                                 make(*masterList[i]);
                             }
                             remove(*slaveList[moved.slave]);
                             for (size_t i = moved.slaveBegin; i < moved.slaveEnd; ++i) {
                                 remove(*slaveList[i]);
                             }
                             return replaced;
                         });
        m_actions->push_back(std::move(action));
    }

    // A path left out on either side (`order` as in Step): nothing is planned
    // for it, nor below it on either side (a side that left it out did not
    // read below it; the other may have, where names differ by case).
    Advance LeaveOut(int order, const CFileEntry* master, const platform::PathPieces& masterKey,
                     const platform::PathPieces& slaveKey) {
        const std::string path = JoinPieces(order <= 0 ? masterKey : slaveKey);
        if (order == 0 && !master->IsExcluded() && m_blocked != nullptr) {
            m_blocked->push_back(path);  // the slave's own entry is in the way
        }
        const LeftOut leftOut{path, path + static_cast<char>(platform::kSeparator + 1)};
        m_leftOutInMaster.push_back(leftOut);
        m_leftOutInSlave.push_back(leftOut);
        if (order >= 0) {
            KeepDirectoriesAbove(JoinPieces(slaveKey));
        }
        return {order <= 0 ? 1u : 0u, order >= 0 ? 1u : 0u};
    }

    struct LeftOut {
        std::string path;
        std::string bound;  // as DeferredCreate's: every path below sorts before it
    };

    // True when the master's `entry` at `key` has the path of the master entry
    // before it but for letter case, which the slave takes for the same name;
    // the clash is recorded. Only when clashes are asked for.
    bool ClashesWithLast(const CFileEntry* entry, const platform::PathPieces& key) {
        if (m_clashes == nullptr || m_lastMaster == nullptr) {
            return false;
        }
        const platform::PathPieces last = m_lastMaster->RelativePieces(m_masterRootLength);
        if (platform::ComparePaths(last, key, m_match) != 0 || entry == m_lastMaster) {
            return false;
        }
        m_clashes->push_back({JoinPieces(key), JoinPieces(last)});
        return true;
    }

    // True when `key`, of the list whose paths left out wait in `leftOut`, lies
    // below one. What lies below a path is one stretch of each list, and a
    // later path's stretch comes first, so the paths wait in a stack (one a
    // list: the two walks pass a stretch at different times) until their
    // stretch has passed.
    bool BelowLeftOut(const platform::PathPieces& key, std::vector<LeftOut>& leftOut) {
        while (!leftOut.empty()) {
            if (platform::ComparePaths(key, platform::PathPieces{{leftOut.back().bound, {}, {}}},
                                       m_match) < 0) {
                return IsBelow(JoinPieces(key), leftOut.back().path, m_match);
            }
            leftOut.pop_back();
        }
        return false;
    }

    // A slave entry left out stays, and so must every slave directory above
    // it: a removal already planned for one is taken back (its place in the
    // plan emptied, the plan closed up at the end), and so is a master file's
    // creation waiting for it to go.
    void KeepDirectoriesAbove(std::string_view slavePath) {
        for (size_t slash = slavePath.find(platform::kSeparator); slash != std::string_view::npos;
             slash = slavePath.find(platform::kSeparator, slash + 1)) {
            const auto it = m_removals.find(std::string(slavePath.substr(0, slash)));
            if (it == m_removals.end()) {
                continue;
            }
            if (m_actions != nullptr) {
                (*m_actions)[it->second].reset();
            } else {
                m_takenBack.insert(it->second);
            }
            m_kept = true;
            const size_t erased = std::erase_if(m_deferred, [&](const DeferredCreate& d) {
                return platform::ComparePaths(platform::PathPieces{{d.path, {}, {}}},
                                              platform::PathPieces{{it->first, {}, {}}},
                                              m_match) == 0;
            });
            if (erased > 0 && m_blocked != nullptr) {
                m_blocked->push_back(it->first);  // the master's file cannot take its place
            }
            m_removals.erase(it);
        }
    }

    // How often the merge looks at its stop: 4,096 steps take well under a
    // millisecond, and the look is one relaxed load.
    static constexpr size_t kStopEvery = 4096;

    bool Stopped() const { return m_stop != nullptr && m_stop->load(std::memory_order_relaxed); }

    // Appends an action, and returns it; null when only counting.
    CAction* Add(std::string masterPath, std::string slavePath, int kind, std::uint64_t bytes = 0) {
        if (kind == ACTION_RMDIR) {
            m_removals.emplace(slavePath, Planned());
        }
        if (m_actions == nullptr) {
            ++m_counted;
            return nullptr;
        }
        m_actions->push_back(
            std::make_unique<CAction>(std::move(masterPath), std::move(slavePath), kind, bytes));
        return m_actions->back().get();
    }
    // The same, its paths joined only when the action is made.
    CAction* Add(const platform::PathPieces& master, const platform::PathPieces& slave, int kind,
                 std::uint64_t bytes = 0) {
        if (m_actions == nullptr && kind != ACTION_RMDIR) {
            ++m_counted;
            return nullptr;
        }
        return Add(JoinPieces(master), JoinPieces(slave), kind, bytes);
    }

    // A deferred creation is due once the slave walk has passed everything
    // below its path.
    void AddDueCreations(const CFileEntry* slave, const platform::PathPieces& slaveKey) {
        while (!m_deferred.empty() &&
               (slave == nullptr ||
                platform::ComparePaths(slaveKey,
                                       platform::PathPieces{{m_deferred.back().bound, {}, {}}},
                                       m_match) >= 0)) {
            Add(m_deferred.back().path, m_actions != nullptr ? JoinPieces(slaveKey) : "",
                ACTION_CREATE, m_deferred.back().bytes);
            m_deferred.pop_back();
        }
    }

    // Both trees have the path.
    void SamePath(const CFileEntry& master, const CFileEntry& slave,
                  const platform::PathPieces& masterPath, const platform::PathPieces& slavePath) {
        if (!master.IsDirectory() && !slave.IsDirectory()) {
            // Sizes too: content with an earlier time (a restore, mv, cp -p, tar)
            // must reach the slave as well. A time later by less than the step the
            // slave keeps times in is that time rounded.
            const bool later =
                m_slaveTimeStep == 0
                    ? master.CompareTime(&slave, m_nanoseconds) > 0
                    : master.GetLastWriteTime() >= slave.GetLastWriteTime() + m_slaveTimeStep;
            if (later || master.GetSize() != slave.GetSize()) {
                CAction* modify = Add(masterPath, slavePath, ACTION_MODIFY, master.GetSize());
                if (modify == nullptr) {
                    return;
                }
                modify->SetFreedBytes(slave.GetSize());
                // The slave's copy was written later still, beyond its rounding.
                // A master time before 1980 is not judged: FAT and exFAT keep
                // nothing earlier (and ext2 nothing before 1901), so the slave
                // holds a later time than the master's for want of an earlier one.
                const bool earlier =
                    m_slaveTimeStep == 0
                        ? master.CompareTime(&slave, m_nanoseconds) < 0
                        : slave.GetLastWriteTime() >= master.GetLastWriteTime() + m_slaveTimeStep;
                if (earlier && master.GetLastWriteTime() >= kEarliestJudged) {
                    modify->MarkReplacesNewer();
                }
            }
        } else if (master.IsDirectory() && !slave.IsDirectory()) {
            // The slave's file gives way to the master's directory, whose contents
            // then find no counterpart and are created.
            if (CAction* deletion = Add(masterPath, slavePath, ACTION_DELETE)) {
                deletion->SetFreedBytes(slave.GetSize());
            }
            Add(masterPath, slavePath, ACTION_MKDIR);
        } else if (!master.IsDirectory()) {
            // The slave's directory goes, with everything below it, before the
            // master's file takes its place.
            std::string slaveJoined = JoinPieces(slavePath);
            Add(JoinPieces(masterPath), slaveJoined, ACTION_RMDIR);
            m_deferred.push_back({JoinPieces(masterPath),
                                  slaveJoined + static_cast<char>(platform::kSeparator + 1),
                                  master.GetSize()});
        }
    }

    // Only the slave has the path: it goes, unless the master's side of it is
    // unknown (not seen is not gone).
    void SlaveOnly(const CFileEntry& slave, const platform::PathPieces& masterKey,
                   const platform::PathPieces& slaveKey) {
        // The path is joined only where it is looked at or kept.
        std::string slavePath;
        if (m_actions != nullptr || !m_deferred.empty() || !m_unknownDirs.Empty() ||
            slave.IsDirectory()) {
            slavePath = JoinPieces(slaveKey);
        }
        // Below a master file that replaces a slave directory everything is known
        // to be gone from the master.
        bool belowReplacedDirectory = false;
        for (const DeferredCreate& d : m_deferred) {
            belowReplacedDirectory = belowReplacedDirectory || IsBelow(slavePath, d.path, m_match);
        }
        if (belowReplacedDirectory ||
            (!m_masterList.rootContentsUnknown && !m_unknownDirs.Covers(slavePath))) {
            const int kind = slave.IsDirectory() ? ACTION_RMDIR : ACTION_DELETE;
            CAction* action =
                m_actions != nullptr
                    ? Add(JoinPieces(masterKey), std::move(slavePath), kind)
                    : Add(std::string(), std::move(slavePath), kind);  // a removal's path is kept
            if (action != nullptr) {
                action->SetFreedBytes(slave.IsDirectory() ? 0 : slave.GetSize());
            }
            if (belowReplacedDirectory) {
                return;
            }
            if (m_candidates != nullptr || (m_folderCandidates != nullptr && slave.IsDirectory())) {
                m_slaveCandidates.emplace_back(Planned() - 1, m_slaveIndex);
            }
            if (m_folderCandidates != nullptr) {
                m_folderCandidates->slave[m_slaveIndex] = true;
            }
        }
    }

    // The candidates for moves, by their actions' places in the plan, handed
    // over as pointers to those actions that were not taken back.
    void HandOverCandidates() {
        if (m_folderCandidates != nullptr) {
            // Only the slave's directories are kept with their places: only a
            // removal is ever taken back.
            for (const auto& [action, entry] : m_slaveCandidates) {
                if (m_takenBack.count(action) != 0) {
                    m_folderCandidates->slave[entry] = false;
                } else {
                    m_folderCandidates->slaveDirs.push_back(entry);
                }
            }
            return;
        }
        if (m_candidates == nullptr) {
            return;
        }
        const auto handOver = [this](const std::vector<std::pair<size_t, size_t>>& from,
                                     std::vector<MoveCandidates::Candidate>& to) {
            for (const auto& [action, entry] : from) {
                if ((*m_actions)[action] != nullptr) {
                    to.push_back({(*m_actions)[action].get(), entry});
                }
            }
        };
        handOver(m_masterCandidates, m_candidates->master);
        handOver(m_slaveCandidates, m_candidates->slave);
    }

    const CFileList& m_masterList;
    const CFileList& m_slaveList;
    CActionList* m_actions;
    size_t m_counted = 0;                    // without a plan: the actions planned
    std::unordered_set<size_t> m_takenBack;  // without a plan: the removals taken back
    // The caller's folder moves, by their master directory's index.
    std::unordered_map<size_t, const FolderMove*> m_moveAt;
    // By list index: where a stretch a folder move stands for begins, and
    // after it ends (the slave's directory is a stretch of its own).
    std::unordered_map<size_t, size_t> m_masterSkips;
    std::unordered_map<size_t, size_t> m_slaveSkips;
    size_t m_masterRootLength;
    size_t m_slaveRootLength;
    platform::NameMatch m_match;
    platform::FileTime m_slaveTimeStep;
    const std::atomic<bool>* m_stop;
    std::vector<std::string>* m_blocked;
    std::vector<CaseClash>* m_clashes;
    bool m_nanoseconds;                        // times compared below the 100 ns
    const CFileEntry* m_lastMaster = nullptr;  // the master entry the walk last stood on
    UnknownDirs m_unknownDirs;
    std::vector<DeferredCreate> m_deferred;
    std::vector<LeftOut> m_leftOutInMaster;
    std::vector<LeftOut> m_leftOutInSlave;
    // The removals planned, by slave path, with their place in the plan.
    std::unordered_map<std::string, size_t> m_removals;
    bool m_kept = false;  // a removal was taken back
    MoveCandidates* m_candidates;
    FolderCandidates* m_folderCandidates;
    size_t m_masterIndex = 0;  // the list indices the walk stands on
    size_t m_slaveIndex = 0;
    // (place in the plan, index in the list) of each candidate for a move
    std::vector<std::pair<size_t, size_t>> m_masterCandidates;
    std::vector<std::pair<size_t, size_t>> m_slaveCandidates;
};

}  // namespace

void CompareTrees(const CFileList* masterList, const CFileList* slaveList, CActionList* actionList,
                  std::string masterRoot, std::string slaveRoot, platform::NameMatch match,
                  platform::FileTime slaveTimeStep, const std::atomic<bool>* stop,
                  std::vector<std::string>* blocked, std::vector<CaseClash>* clashes,
                  bool slaveKeepsNanoseconds, MoveCandidates* candidates,
                  const std::vector<FolderMove>* folderMoves) {
    Merge(*masterList, *slaveList, actionList, masterRoot.size(), slaveRoot.size(), match,
          slaveTimeStep, stop, blocked,
          match == platform::NameMatch::IgnoreCase ? clashes : nullptr, slaveKeepsNanoseconds,
          candidates, folderMoves)
        .Run();
}

size_t FindMoveCandidates(const CFileList& masterList, const CFileList& slaveList,
                          const std::string& masterRoot, const std::string& slaveRoot,
                          platform::NameMatch match, platform::FileTime slaveTimeStep,
                          const std::atomic<bool>* stop, std::vector<std::string>* blocked,
                          std::vector<CaseClash>* clashes, bool slaveKeepsNanoseconds,
                          FolderCandidates& candidates) {
    Merge merge(masterList, slaveList, nullptr, masterRoot.size(), slaveRoot.size(), match,
                slaveTimeStep, stop, blocked,
                match == platform::NameMatch::IgnoreCase ? clashes : nullptr, slaveKeepsNanoseconds,
                nullptr, nullptr, &candidates);
    merge.Run();
    return merge.Planned();
}

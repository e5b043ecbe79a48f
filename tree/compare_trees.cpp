#include "tree/compare_trees.h"

#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

// Master directories whose contents are unknown, by relative path, matched as
// the slave's names are matched (a case-only rename on a slave that ignores
// case must not make the slave's spelling look uncovered).
class UnknownDirs {
public:
    explicit UnknownDirs(platform::NameMatch match) : m_match(match) {}

    void Add(std::string path) { m_paths.insert(Key(std::move(path))); }

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
            for (char& c : path) {
                c = static_cast<char>(platform::FoldByte(static_cast<unsigned char>(c)));
            }
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
    std::string path;   // the master's relative path
    std::string bound;  // the path followed by '0', the byte after '/': every
                        // path below it sorts before this
};

}  // namespace

void CompareTrees(const CFileList* masterList, const CFileList* slaveList,
                  CActionList* actionList, std::string masterRoot, std::string slaveRoot,
                  platform::NameMatch match, platform::FileTime slaveTimeStep) {
    const size_t masterCount = masterList->size();
    const size_t slaveCount = slaveList->size();
    const bool masterUnknown = masterList->m_rootContentsUnknown;
    UnknownDirs unknownDirs(match);
    std::vector<DeferredCreate> deferred;
    auto add = [actionList](std::string masterPath, std::string slavePath, int kind) {
        actionList->push_back(
            std::make_unique<CAction>(std::move(masterPath), std::move(slavePath), kind));
    };
    size_t i = 0;
    size_t j = 0;
    while (i < masterCount || j < slaveCount) {
        const CFileEntry* master = i < masterCount ? (*masterList)[i].get() : nullptr;
        const CFileEntry* slave = j < slaveCount ? (*slaveList)[j].get() : nullptr;
        const platform::PathPieces key1 =
            master != nullptr ? master->RelativePieces(masterRoot.size())
                              : platform::PathPieces{{kNoPath, {}, {}}};
        const platform::PathPieces key2 =
            slave != nullptr ? slave->RelativePieces(slaveRoot.size())
                             : platform::PathPieces{{kNoPath, {}, {}}};
        // A deferred creation is due once the slave walk has passed everything
        // below its path.
        while (!deferred.empty() &&
               (slave == nullptr ||
                platform::ComparePaths(key2, platform::PathPieces{{deferred.back().bound, {}, {}}},
                                       match) >= 0)) {
            add(deferred.back().path, JoinPieces(key2), ACTION_CREATE);
            deferred.pop_back();
        }
        // A used-up side comes after everything; "~~~~" is never compared.
        int order;
        if (master == nullptr) {
            order = 1;
        } else if (slave == nullptr) {
            order = -1;
        } else {
            order = platform::ComparePaths(key1, key2, match);
        }
        if (master != nullptr && order <= 0 && master->IsDirectory() &&
            master->HasUnknownContents()) {
            unknownDirs.Add(JoinPieces(key1));
        }
        if (order == 0) {
            if (!master->IsDirectory() && !slave->IsDirectory()) {
                // Sizes too: content with an earlier time (a restore, mv, cp -p,
                // tar) must reach the slave as well.
                const bool later = slaveTimeStep == 0
                                       ? master->CompareTime(slave) > 0
                                       : master->GetLastWriteTime() >=
                                             slave->GetLastWriteTime() + slaveTimeStep;
                if (later || master->GetSize() != slave->GetSize()) {
                    add(JoinPieces(key1), JoinPieces(key2), ACTION_MODIFY);
                }
            } else if (master->IsDirectory() && !slave->IsDirectory()) {
                // The slave's file gives way to the master's directory, whose
                // contents then find no counterpart and are created.
                add(JoinPieces(key1), JoinPieces(key2), ACTION_DELETE);
                add(JoinPieces(key1), JoinPieces(key2), ACTION_MKDIR);
            } else if (!master->IsDirectory()) {
                // The slave's directory goes, with everything below it, before
                // the master's file takes its place.
                std::string slavePath = JoinPieces(key2);
                add(JoinPieces(key1), slavePath, ACTION_RMDIR);
                deferred.push_back(
                    {JoinPieces(key1), slavePath + static_cast<char>(platform::kSeparator + 1)});
            }
            ++i;
            ++j;
        } else if (order < 0) {
            add(JoinPieces(key1), JoinPieces(key2),
                master->IsDirectory() ? ACTION_MKDIR : ACTION_CREATE);
            ++i;
        } else {
            std::string slavePath = JoinPieces(key2);
            // Below a master file that replaces a slave directory everything is
            // known to be gone from the master.
            bool belowReplacedDirectory = false;
            for (const DeferredCreate& d : deferred) {
                belowReplacedDirectory = belowReplacedDirectory || IsBelow(slavePath, d.path, match);
            }
            if (belowReplacedDirectory || (!masterUnknown && !unknownDirs.Covers(slavePath))) {
                add(JoinPieces(key1), std::move(slavePath),
                    slave->IsDirectory() ? ACTION_RMDIR : ACTION_DELETE);
            }
            ++j;
        }
    }
    while (!deferred.empty()) {
        add(deferred.back().path, kNoPath, ACTION_CREATE);
        deferred.pop_back();
    }
}

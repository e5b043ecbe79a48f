#include "tree/compare_trees.h"

#include <string_view>
#include <unordered_set>

namespace {

// Master directories whose contents are unknown, by relative path.
class UnknownDirs {
public:
    void Add(std::string path) { m_paths.insert(std::move(path)); }

    // True when `relative` lies below one of the directories.
    bool Covers(std::string_view relative) const {
        if (m_paths.empty()) {
            return false;
        }
        for (size_t i = relative.find(platform::kSeparator); i != std::string_view::npos;
             i = relative.find(platform::kSeparator, i + 1)) {
            if (m_paths.count(std::string(relative.substr(0, i))) != 0) {
                return true;
            }
        }
        return false;
    }

private:
    std::unordered_set<std::string> m_paths;
};

}  // namespace

void CompareTrees(const CFileList* masterList, const CFileList* slaveList,
                  CActionList* actionList, std::string masterRoot, std::string slaveRoot) {
    const size_t masterCount = masterList->size();
    const size_t slaveCount = slaveList->size();
    const bool masterUnknown = masterList->m_rootContentsUnknown;
    UnknownDirs unknownDirs;
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
        // A used-up side comes after everything; "~~~~" is never compared.
        int order;
        if (master == nullptr) {
            order = 1;
        } else if (slave == nullptr) {
            order = -1;
        } else {
            order = platform::ComparePaths(key1, key2);
        }
        if (master != nullptr && order <= 0 && master->IsDirectory() &&
            master->HasUnknownContents()) {
            unknownDirs.Add(JoinPieces(key1));
        }
        if (platform::SamePath(order)) {
            // Only the master's directory flag is consulted; a slave directory
            // facing a newer master file is planned as a modification too.
            if (!master->IsDirectory() && master->CompareTime(slave) > 0) {
                actionList->push_back(
                    std::make_unique<CAction>(JoinPieces(key1), JoinPieces(key2), ACTION_MODIFY));
            }
            ++i;
            ++j;
        } else if (order < 0) {
            actionList->push_back(std::make_unique<CAction>(
                JoinPieces(key1), JoinPieces(key2),
                master->IsDirectory() ? ACTION_MKDIR : ACTION_CREATE));
            ++i;
        } else {
            const std::string slavePath = JoinPieces(key2);
            if (!masterUnknown && !unknownDirs.Covers(slavePath)) {
                actionList->push_back(std::make_unique<CAction>(
                    JoinPieces(key1), slavePath, slave->IsDirectory() ? ACTION_RMDIR : ACTION_DELETE));
            }
            ++j;
        }
    }
}

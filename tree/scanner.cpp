#include "tree/scanner.h"

#include <mutex>
#include <utility>
#include <vector>

#include "platform/dir_search.h"
#include "platform/file_ops.h"
#include "platform/tree_root.h"

namespace {

// A directory whose listing failed or broke off; for the root, the whole list.
void MarkUnknown(CFileEntry* entry, CFileList* fileList) {
    if (entry != nullptr) {
        entry->MarkContentsUnknown();
    } else {
        fileList->m_rootContentsUnknown = true;
    }
}

}  // namespace

bool IsExistingDirectory(std::string path) {
    return platform::IsDirectoryPath(path);
}

void ScanDirectory(std::string dirPath, CFileList* fileList, const std::atomic<bool>* stop) {
    struct PendingDir {
        SharedDirPath path;
        CFileEntry* entry;  // null for the root
    };

    const size_t firstNew = fileList->size();
    const size_t rootLength = dirPath.size();
    // Every directory below the root is opened beneath the root's handle and
    // through no symbolic link, so a directory swapped for a link mid-scan
    // cannot pull another tree in.
    platform::TreeRoot root(dirPath);
    // Each directory is read whole and closed before its subdirectories are
    // opened, so a deep tree never holds more than one directory open.
    std::vector<PendingDir> pending;
    pending.push_back({SharedDirPath(std::move(dirPath)), nullptr});
    platform::DirSearch search;
    platform::DirMatch match;
    while (!pending.empty()) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            return;
        }
        PendingDir dir = std::move(pending.back());
        pending.pop_back();
        const std::string_view relative =
            dir.entry == nullptr ? std::string_view()
                                 : std::string_view(dir.path.Get()).substr(rootLength + 1);
        if (!search.Open(root.OpenDirectory(relative))) {
            MarkUnknown(dir.entry, fileList);
            continue;
        }
        while (search.Next(match)) {
            if (match.name == "." || match.name == "..") {
                continue;
            }
            auto entry = std::make_unique<CFileEntry>(std::string(match.name), match.isDirectory,
                                                      match.lastWrite, dir.path, match.size);
            if (match.isDirectory) {
                std::string childPath;
                childPath.reserve(dir.path.Get().size() + 1 + match.name.size());
                childPath.append(dir.path.Get()).push_back(platform::kSeparator);
                childPath.append(match.name);
                // The order of the walk does not matter: the list is sorted at the end.
                pending.push_back({SharedDirPath(std::move(childPath)), entry.get()});
            }
            fileList->push_back(std::move(entry));
        }
        if (search.Failed()) {
            MarkUnknown(dir.entry, fileList);
        }
        search.Close();
    }
    // The list ends in the order one InsertSorted per entry would give. Every
    // new key starts with the root and one separator, so that prefix is skipped.
    // Two trees scanned at once are sorted one after the other: each sort holds
    // its keys folded in a buffer of its own (about 57 bytes an entry), and two
    // at once would lift the peak past 200 bytes an entry at a million.
    static std::mutex sorting;
    std::lock_guard<std::mutex> oneAtATime(sorting);
    SortInsertedEntries(fileList, firstNew, firstNew == 0 ? rootLength + 1 : 0);
}

platform::NameMatch NameMatchOf(const std::string& root, const CFileList& fileList) {
    for (const auto& entry : fileList) {
        const std::string& name = entry->GetName();
        for (char c : name) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
                platform::TreeRoot tree(root);
                return tree.IgnoresCase(JoinPieces(entry->RelativePieces(root.size())))
                           ? platform::NameMatch::IgnoreCase
                           : platform::NameMatch::Exact;
            }
        }
    }
    return platform::NameMatch::Exact;
}

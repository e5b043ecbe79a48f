#include "tree/scanner.h"

#include <utility>
#include <vector>

#include "platform/dir_search.h"
#include "platform/file_ops.h"

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

void ScanDirectory(std::string dirPath, CFileList* fileList) {
    struct PendingDir {
        SharedDirPath path;
        CFileEntry* entry;  // null for the root
    };

    const size_t firstNew = fileList->size();
    const size_t rootLength = dirPath.size();
    // Each directory is read whole and closed before its subdirectories are
    // opened, so a deep tree never holds more than one directory open.
    std::vector<PendingDir> pending;
    pending.push_back({SharedDirPath(std::move(dirPath)), nullptr});
    platform::DirSearch search;
    platform::DirMatch match;
    while (!pending.empty()) {
        PendingDir dir = std::move(pending.back());
        pending.pop_back();
        const auto follow = dir.entry == nullptr ? platform::DirSearch::Follow::Link
                                                 : platform::DirSearch::Follow::NoLink;
        if (!search.Open(dir.path.Get(), follow)) {
            MarkUnknown(dir.entry, fileList);
            continue;
        }
        while (search.Next(match)) {
            if (match.name == "." || match.name == "..") {
                continue;
            }
            auto entry = std::make_unique<CFileEntry>(std::string(match.name), match.isDirectory,
                                                      match.lastWrite, dir.path);
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
    SortInsertedEntries(fileList, firstNew, firstNew == 0 ? rootLength + 1 : 0);
}

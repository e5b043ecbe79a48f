#include "tree/file_list.h"

#include <algorithm>

namespace {

int CompareKeys(const CFileEntry& a, const CFileEntry& b) {
    return platform::ComparePaths(a.KeyPieces(), b.KeyPieces());
}

}  // namespace

void InsertSorted(CFileList* fileList, std::unique_ptr<CFileEntry> entry) {
    long lo = 0;
    long hi = static_cast<long>(fileList->size()) - 1;
    if (hi < 0) {
        fileList->push_back(std::move(entry));
        return;
    }
    while (lo <= hi) {
        const long mid = (lo + hi) / 2;
        if (CompareKeys(*entry, *(*fileList)[static_cast<size_t>(mid)]) < 0) {
            hi = mid - 1;
        } else {
            lo = mid + 1;  // equal keys: the new entry goes after them
        }
    }
    fileList->insert(fileList->begin() + lo, std::move(entry));
}

void SortInsertedEntries(CFileList* fileList, size_t firstNew) {
    const auto before = [](const std::unique_ptr<CFileEntry>& a,
                           const std::unique_ptr<CFileEntry>& b) {
        return CompareKeys(*a, *b) < 0;
    };
    // Both steps are stable: equal new keys keep their order, and the earlier
    // entries stay ahead of equal new ones.
    const auto middle = fileList->begin() + static_cast<long>(std::min(firstNew, fileList->size()));
    std::stable_sort(middle, fileList->end(), before);
    std::inplace_merge(fileList->begin(), middle, fileList->end(), before);
}

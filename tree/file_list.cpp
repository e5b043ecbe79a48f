#include "tree/file_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>

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

void SortInsertedEntries(CFileList* fileList, size_t firstNew, size_t sharedPrefixLength) {
    CFileList& list = *fileList;
    const size_t n = list.size();
    if (firstNew >= n) {
        return;
    }
    if (firstNew > 0) {
        // Rare (a list filled from more than one scan): sort by the keys themselves.
        // The stable sort keeps the earlier entries ahead of equal new ones.
        std::stable_sort(list.begin(), list.end(),
                         [](const std::unique_ptr<CFileEntry>& a,
                            const std::unique_ptr<CFileEntry>& b) {
                             return CompareKeys(*a, *b) < 0;
                         });
        return;
    }
    // Keys are folded once into one buffer, so each comparison is a memcmp; only
    // keys equal when folded fall back to the full comparison.
    std::vector<std::uint64_t> offset(n + 1);
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        const platform::PathPieces p = list[i]->KeyPieces();
        total += p.part[0].size() + p.part[1].size() + p.part[2].size() - sharedPrefixLength;
    }
    std::string folded;
    folded.resize(total);
    char* out = folded.data();
    for (size_t i = 0; i < n; ++i) {
        offset[i] = static_cast<std::uint64_t>(out - folded.data());
        platform::PathPieces p = list[i]->KeyPieces();
        size_t skip = sharedPrefixLength;
        for (std::string_view part : p.part) {
            const size_t drop = std::min(skip, part.size());
            skip -= drop;
            for (size_t k = drop; k < part.size(); ++k) {
                *out++ = static_cast<char>(platform::FoldByte(static_cast<unsigned char>(part[k])));
            }
        }
    }
    offset[n] = total;

    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0U);
    const char* base = folded.data();
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const size_t la = offset[a + 1] - offset[a];
        const size_t lb = offset[b + 1] - offset[b];
        const int c = std::memcmp(base + offset[a], base + offset[b], std::min(la, lb));
        if (c != 0) {
            return c < 0;
        }
        if (la != lb) {
            return la < lb;
        }
        return CompareKeys(*list[a], *list[b]) < 0;
    });
    folded.clear();
    folded.shrink_to_fit();
    offset.clear();
    offset.shrink_to_fit();

    // Put each entry in its place by following the permutation's cycles, so no
    // second array of a million pointers is needed.
    for (size_t start = 0; start < n; ++start) {
        if (order[start] == start) {
            continue;
        }
        std::unique_ptr<CFileEntry> held = std::move(list[start]);
        size_t at = start;
        while (order[at] != start) {
            const size_t from = order[at];
            list[at] = std::move(list[from]);
            order[at] = static_cast<std::uint32_t>(at);
            at = from;
        }
        list[at] = std::move(held);
        order[at] = static_cast<std::uint32_t>(at);
    }
}

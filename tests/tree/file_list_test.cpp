#include "tree/file_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

std::unique_ptr<CFileEntry> Entry(const std::string& dir, const std::string& name,
                                  bool isDirectory = false, platform::FileTime time = 0) {
    return std::make_unique<CFileEntry>(name, isDirectory, time, SharedDirPath(dir));
}

std::vector<std::string> Keys(const CFileList& list) {
    std::vector<std::string> keys;
    for (const auto& e : list) {
        keys.push_back(e->GetKey());
    }
    return keys;
}

}  // namespace

TEST(InsertSorted, DirectoryComesBeforeItsContentsButNotAlwaysRightBefore) {
    // Every insertion order of D, D.txt, D/x and Da gives the same list.
    std::vector<std::pair<std::string, std::string>> items = {
        {"/m", "D"}, {"/m", "D.txt"}, {"/m/D", "x"}, {"/m", "Da"}};
    std::sort(items.begin(), items.end());
    do {
        CFileList list;
        for (const auto& [dir, name] : items) {
            InsertSorted(&list, Entry(dir, name));
        }
        EXPECT_EQ(Keys(list), (std::vector<std::string>{"/m/D", "/m/D.txt", "/m/D/x", "/m/Da"}));
    } while (std::next_permutation(items.begin(), items.end()));
}

TEST(InsertSorted, PlacesAtBothEndsAndEqualKeysInInsertionOrder) {
    CFileList list;
    InsertSorted(&list, Entry("/m", "b"));
    InsertSorted(&list, Entry("/m", "c"));
    InsertSorted(&list, Entry("/m", "a"));
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"/m/a", "/m/b", "/m/c"}));
    // Two entries with the very same key: the later one stands after the earlier.
    InsertSorted(&list, Entry("/m", "b", false, 1));
    InsertSorted(&list, Entry("/m", "b", false, 2));
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[1]->GetLastWriteTime(), 0u);
    EXPECT_EQ(list[2]->GetLastWriteTime(), 1u);
    EXPECT_EQ(list[3]->GetLastWriteTime(), 2u);
}

TEST(InsertSorted, CaseVariantsAreTwoEntriesInByteOrder) {
    CFileList list;
    InsertSorted(&list, Entry("/m", "Readme.txt"));
    InsertSorted(&list, Entry("/m", "README.TXT"));
    InsertSorted(&list, Entry("/m", "\xC3\xA9"));  // é
    InsertSorted(&list, Entry("/m", "\xC3\x89"));  // É
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"/m/README.TXT", "/m/Readme.txt", "/m/\xC3\x89",
                                                    "/m/\xC3\xA9"}));
}

TEST(SortInsertedEntries, GivesTheOrderOfOneInsertSortedPerEntry) {
    // Random names from an alphabet full of the bytes where folding and the
    // separator matter, in random directories.
    std::mt19937 rng(12345);
    const std::string alphabet =
        "aAbB.-_ /~zZ\xC3\xA9\xC3\x89"
        "09";
    auto randomName = [&] {
        std::string s;
        const int len = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < len; ++i) {
            char c = alphabet[rng() % alphabet.size()];
            s.push_back(c == '/' ? 'x' : c);
        }
        return s;
    };
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> dirs = {"/r"};
        for (int d = 0; d < 30; ++d) {
            dirs.push_back(dirs[rng() % dirs.size()] + "/" + randomName());
        }
        CFileList byInsert;
        CFileList bySort;
        for (platform::FileTime k = 0; k < 300; ++k) {
            const std::string& dir = dirs[rng() % dirs.size()];
            const std::string name = randomName();
            const platform::FileTime t = k;
            InsertSorted(&byInsert, Entry(dir, name, false, t));
            bySort.push_back(Entry(dir, name, false, t));
        }
        SortInsertedEntries(&bySort, 0);
        ASSERT_EQ(byInsert.size(), bySort.size());
        for (size_t i = 0; i < byInsert.size(); ++i) {
            ASSERT_EQ(byInsert[i]->GetKey(), bySort[i]->GetKey()) << "round " << round;
            // Equal keys keep their insertion order, as the times show.
            ASSERT_EQ(byInsert[i]->GetLastWriteTime(), bySort[i]->GetLastWriteTime());
        }
        // Entries added to a list that already holds some go where InsertSorted
        // would have put them.
        CFileList more;
        for (const auto& e : byInsert) {
            more.push_back(Entry(e->GetDirPath(), e->GetName(), false, e->GetLastWriteTime()));
        }
        const size_t first = more.size();
        for (platform::FileTime k = 0; k < 50; ++k) {
            const std::string name = randomName();
            InsertSorted(&byInsert, Entry("/r", name, false, 1000 + k));
            more.push_back(Entry("/r", name, false, 1000 + k));
        }
        SortInsertedEntries(&more, first);
        for (size_t i = 0; i < byInsert.size(); ++i) {
            ASSERT_EQ(byInsert[i]->GetKey(), more[i]->GetKey());
            ASSERT_EQ(byInsert[i]->GetLastWriteTime(), more[i]->GetLastWriteTime());
        }
    }
}

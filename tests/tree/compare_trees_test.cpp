#include "tree/compare_trees.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "support/fault_injector.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "tree/scanner.h"

namespace {

struct Item {
    std::string path;  // relative, "/" separated
    bool isDirectory;
    platform::FileTime time;
    std::uint64_t size = 0;
};

// Builds the file list a scan of `root` holding these items would give.
CFileList MakeList(const std::string& root, const std::vector<Item>& items) {
    CFileList list;
    for (const Item& item : items) {
        const size_t slash = item.path.rfind('/');
        const std::string dir =
            slash == std::string::npos ? root : root + "/" + item.path.substr(0, slash);
        const std::string name =
            slash == std::string::npos ? item.path : item.path.substr(slash + 1);
        InsertSorted(&list, std::make_unique<CFileEntry>(name, item.isDirectory, item.time,
                                                         SharedDirPath(dir), item.size));
    }
    return list;
}

struct Plan {
    int kind;
    std::string master;
    std::string slave;
    bool operator==(const Plan&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Plan& p) {
    return os << "{" << p.kind << ", " << p.master << ", " << p.slave << "}";
}

std::vector<Plan> Compare(const std::vector<Item>& master, const std::vector<Item>& slave,
                          const std::string& masterRoot = "/m",
                          const std::string& slaveRoot = "/s") {
    const CFileList m = MakeList(masterRoot, master);
    const CFileList s = MakeList(slaveRoot, slave);
    CActionList actions;
    CompareTrees(&m, &s, &actions, masterRoot, slaveRoot);
    std::vector<Plan> plan;
    for (const auto& a : actions) {
        plan.push_back({a->GetKind(), a->GetMasterPath(), a->GetSlavePath()});
    }
    return plan;
}

constexpr bool F = false;
constexpr bool D = true;

}  // namespace

TEST(CompareTrees, EqualTreesAndNewerSlaveFilesPlanNothing) {
    EXPECT_TRUE(Compare({{"a", F, 5}, {"d", D, 1}, {"d/x", F, 5}},
                        {{"a", F, 5}, {"d", D, 9}, {"d/x", F, 6}})
                    .empty());
}

TEST(CompareTrees, EmptySlaveCreatesEverythingWithTildesInTheSlaveField) {
    EXPECT_EQ(Compare({{"D", D, 1}, {"D/x", F, 1}, {"a.txt", F, 1}}, {}),
              (std::vector<Plan>{{ACTION_CREATE, "a.txt", "~~~~"},
                                 {ACTION_MKDIR, "D", "~~~~"},
                                 {ACTION_CREATE, "D/x", "~~~~"}}));
}

TEST(CompareTrees, TheMergeExamples) {
    // The master's a.txt written later; b.txt only in the slave.
    EXPECT_EQ(
        Compare({{"a.txt", F, 2}}, {{"a.txt", F, 1}, {"b.txt", F, 1}}),
        (std::vector<Plan>{{ACTION_MODIFY, "a.txt", "a.txt"}, {ACTION_DELETE, "~~~~", "b.txt"}}));
    // The unused field holds the other side's current entry.
    EXPECT_EQ(Compare({{"D", D, 1}, {"D/x", F, 1}}, {{"c.txt", F, 1}}),
              (std::vector<Plan>{{ACTION_DELETE, "D", "c.txt"},
                                 {ACTION_MKDIR, "D", "~~~~"},
                                 {ACTION_CREATE, "D/x", "~~~~"}}));
    EXPECT_EQ(Compare({{"a", F, 1}}, {{"E", D, 1}, {"E/f", D, 1}, {"E/f/g", F, 1}}),
              (std::vector<Plan>{{ACTION_CREATE, "a", "E"},
                                 {ACTION_RMDIR, "~~~~", "E"},
                                 {ACTION_RMDIR, "~~~~", "E/f"},
                                 {ACTION_DELETE, "~~~~", "E/f/g"}}));
}

TEST(CompareTrees, MixedEntryTypesAtOnePathConvergeInOneRun) {
    // A master file facing a slave directory, newer or older: the directory goes
    // with everything below it, and the file is created after the last of that
    // (p.txt sorts between p and p/x, and is left alone).
    const std::vector<Plan> fileOverDirectory = {{ACTION_RMDIR, "p", "p"},
                                                 {ACTION_DELETE, "~~~~", "p/x"},
                                                 {ACTION_RMDIR, "~~~~", "p/y"},
                                                 {ACTION_DELETE, "~~~~", "p/y/z"},
                                                 {ACTION_CREATE, "p", "~~~~"}};
    for (platform::FileTime masterTime : {5u, 3u}) {
        EXPECT_EQ(
            Compare({{"p", F, masterTime}, {"p.txt", F, 1}},
                    {{"p", D, 4}, {"p.txt", F, 1}, {"p/x", F, 1}, {"p/y", D, 1}, {"p/y/z", F, 1}}),
            fileOverDirectory);
    }
    // A master directory facing a slave file: the file is deleted, the directory
    // made, and its contents created.
    EXPECT_EQ(
        Compare({{"p", D, 9}, {"p/q", F, 1}}, {{"p", F, 1}}),
        (std::vector<Plan>{
            {ACTION_DELETE, "p", "p"}, {ACTION_MKDIR, "p", "p"}, {ACTION_CREATE, "p/q", "~~~~"}}));
    EXPECT_TRUE(Compare({{"p", D, 9}}, {{"p", D, 1}}).empty());
}

TEST(CompareTrees, SizesThatDifferAreAModificationWhateverTheTimes) {
    // Content restored with an earlier time still reaches the slave.
    EXPECT_EQ(Compare({{"a", F, 1, 10}}, {{"a", F, 5, 11}}),
              (std::vector<Plan>{{ACTION_MODIFY, "a", "a"}}));
    EXPECT_TRUE(Compare({{"a", F, 1, 10}}, {{"a", F, 5, 10}}).empty());
    // Such a modification is marked when the slave's copy is newer beyond the
    // slave's time step; not when the master's time is one a FAT slave cannot
    // keep (before 1980), which the slave holds as a later one.
    constexpr platform::FileTime k2000 =
        (946684800LL + platform::kEpochDifferenceSeconds) * 10000000LL;
    constexpr platform::FileTime kSecond = 10000000;
    const struct {
        platform::FileTime master, slave, step;
        bool marked;
    } cases[] = {{k2000, k2000 + 1, 0, true},
                 {k2000, k2000 + kSecond, 2 * kSecond, false},
                 {k2000, k2000 + 2 * kSecond, 2 * kSecond, true},
                 {k2000 + 5, k2000, 0, false},
                 {kSecond, k2000, 0, false}};
    for (const auto& c : cases) {
        const CFileList m = MakeList("/m", {{"a", F, c.master, 10}});
        const CFileList s = MakeList("/s", {{"a", F, c.slave, 11}});
        CActionList actions;
        CompareTrees(&m, &s, &actions, "/m", "/s", platform::NameMatch::Exact, c.step);
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(actions[0]->ReplacesNewer(), c.marked)
            << c.master << " " << c.slave << " " << c.step;
    }
    // Written 50 ns later at the same size: a change where the slave keeps
    // nanoseconds, the same time where it keeps 100 ns.
    const CFileList m = MakeList("/m", {{"a", F, k2000, 10}});
    const CFileList s = MakeList("/s", {{"a", F, k2000, 10}});
    m[0]->SetLastWriteNanoseconds(50);
    for (const bool nanoseconds : {false, true}) {
        CActionList actions;
        CompareTrees(&m, &s, &actions, "/m", "/s", platform::NameMatch::Exact, 0, nullptr, nullptr,
                     nullptr, nanoseconds);
        EXPECT_EQ(actions.size(), nanoseconds ? 1u : 0u);
    }
}

TEST(CompareTrees, LetterCaseMakesDifferentPathsOnLinux) {
    // Readme.txt and README.TXT are two files here: the slave's is deleted and
    // the master's created, whatever their times.
    EXPECT_EQ(Compare({{"Readme.txt", F, 1}}, {{"README.TXT", F, 1}}),
              (std::vector<Plan>{{ACTION_DELETE, "Readme.txt", "README.TXT"},
                                 {ACTION_CREATE, "Readme.txt", "~~~~"}}));
    EXPECT_EQ(Compare({{"\xC3\x89"
                        "cole.txt",
                        F, 1}},
                      {{"\xC3\xA9"
                        "cole.txt",
                        F, 1}}),
              (std::vector<Plan>{{ACTION_CREATE,
                                  "\xC3\x89"
                                  "cole.txt",
                                  "\xC3\xA9"
                                  "cole.txt"},
                                 {ACTION_DELETE, "~~~~",
                                  "\xC3\xA9"
                                  "cole.txt"}}));
}

TEST(CompareTrees, MasterNamesEqualButForCaseClashOnASlaveThatIgnoresCase) {
    // The slave holds one of the two: the first is mirrored, the second named
    // with it; the contents of two such directories are compared as one.
    const CFileList m = MakeList("/m", {{"PAIR.TXT", F, 2},
                                        {"pair.txt", F, 2},
                                        {"Docs", D, 1},
                                        {"docs", D, 1},
                                        {"docs/new", F, 1}});
    const CFileList s = MakeList("/s", {{"pair.txt", F, 1}, {"docs", D, 1}});
    for (const platform::NameMatch match :
         {platform::NameMatch::IgnoreCase, platform::NameMatch::Exact}) {
        CActionList actions;
        std::vector<CaseClash> clashes;
        CompareTrees(&m, &s, &actions, "/m", "/s", match, 0, nullptr, nullptr, &clashes);
        if (match == platform::NameMatch::Exact) {
            EXPECT_TRUE(clashes.empty());  // two names, as Linux keeps them
            continue;
        }
        ASSERT_EQ(clashes.size(), 2u);
        EXPECT_EQ(clashes[0].path, "docs");
        EXPECT_EQ(clashes[0].other, "Docs");
        EXPECT_EQ(clashes[1].path, "pair.txt");
        EXPECT_EQ(clashes[1].other, "PAIR.TXT");
        ASSERT_EQ(actions.size(), 2u);
        EXPECT_EQ(actions[0]->GetKind(), ACTION_CREATE);
        EXPECT_EQ(actions[0]->GetMasterPath(), "docs/new");
        EXPECT_EQ(actions[1]->GetKind(), ACTION_MODIFY);
        EXPECT_EQ(actions[1]->GetMasterPath(), "PAIR.TXT");
    }
}

TEST(CompareTrees, OddNamesAfterTheOtherSideIsUsedUp) {
    EXPECT_EQ(
        Compare({{"a", F, 1}}, {{"a", F, 1}, {"~~~~", F, 1}, {"\xFF", F, 1}}),
        (std::vector<Plan>{{ACTION_DELETE, "~~~~", "~~~~"}, {ACTION_DELETE, "~~~~", "\xFF"}}));
}

TEST(CompareTrees, RootsWithATrailingSeparatorGiveTheSameRelativePaths) {
    EXPECT_EQ(Compare({{"d", D, 1}, {"d/x", F, 2}}, {{"d", D, 1}, {"d/x", F, 1}}, "/m/", "/s"),
              (std::vector<Plan>{{ACTION_MODIFY, "d/x", "d/x"}}));
}

TEST(CompareTrees, NothingBelowAMasterDirectoryWithUnknownContentsIsDeleted) {
    TempDir t;
    WriteFile(t / "m/keep/a", "");
    WriteFile(t / "m/other/b", "");
    WriteFile(t / "s/keep/a", "");
    WriteFile(t / "s/keep/sub/deep", "");
    WriteFile(t / "s/keepsake", "");
    WriteFile(t / "s/other/stale", "");
    CFileList master;
    {
        OneFault fault(Call::OpenDir, EACCES, 1, "m/keep");
        ScanPath(t / "m", &master, &fault);
        ASSERT_TRUE(fault.Fired());
    }
    CFileList slave;
    ScanPath(t / "s", &slave);
    CActionList actions;
    CompareTrees(&master, &slave, &actions, t / "m", t / "s");
    std::vector<std::pair<int, std::string>> plan;
    for (const auto& a : actions) {
        plan.emplace_back(a->GetKind(), a->GetSlavePath());
    }
    // keep/a, keep/sub and keep/sub/deep stay; keepsake and other/stale go; other/b is new.
    ASSERT_EQ(actions.size(), 3u);
    EXPECT_EQ(actions[0]->GetKind(), ACTION_DELETE);
    EXPECT_EQ(actions[0]->GetSlavePath(), "keepsake");
    EXPECT_EQ(actions[1]->GetKind(), ACTION_CREATE);
    EXPECT_EQ(actions[1]->GetMasterPath(), "other/b");
    EXPECT_EQ(actions[2]->GetKind(), ACTION_DELETE);
    EXPECT_EQ(actions[2]->GetSlavePath(), "other/stale");

    // A master root whose listing broke off deletes nothing at all.
    CFileList partial = MakeList(t / "m", {{"x", F, 1}});
    partial.rootContentsUnknown = true;
    CActionList none;
    CompareTrees(&partial, &slave, &none, t / "m", t / "s");
    for (const auto& a : none) {
        EXPECT_NE(a->GetKind(), ACTION_DELETE);
        EXPECT_NE(a->GetKind(), ACTION_RMDIR);
    }
}

TEST(CompareTrees, AStopEndsTheMergeEarly) {
    std::vector<Item> many;
    for (int i = 0; i < 100000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%06d", i);  // in list order: each insert appends
        many.push_back({name, F, 1});
    }
    const CFileList master = MakeList("/m", many);
    const CFileList slave;
    CActionList actions;
    std::atomic<bool> stop{true};
    CompareTrees(&master, &slave, &actions, "/m", "/s", platform::NameMatch::Exact, 0, &stop);
    EXPECT_LT(actions.size(), many.size() / 10);  // not the whole plan
    stop = false;
    CompareTrees(&master, &slave, &actions, "/m", "/s", platform::NameMatch::Exact, 0, &stop);
    EXPECT_EQ(actions.size(), many.size());
}

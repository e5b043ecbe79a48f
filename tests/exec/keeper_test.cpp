#include "exec/keeper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "platform/tree_root.h"
#include "support/temp_tree.h"

namespace {

TEST(RunFolderName, SortsAndReadsBackOnlyItsOwnShape) {
    const std::time_t start = 1765339925;  // a second of December 2025
    const std::string name = RunFolderName(start);
    ASSERT_EQ(name.size(), 19u);
    EXPECT_EQ(RunFolderTime(name), start);
    EXPECT_EQ(RunFolderTime(name + " (2)"), start);
    EXPECT_EQ(RunFolderTime(name + " (12)"), start);
    EXPECT_LT(RunFolderName(start - 1), name);
    EXPECT_LT(name, RunFolderName(start + 86400 * 40));
    for (const std::string& other : std::vector<std::string>{
             "", "notes", name + " (0)", name + " (x)", name + " 2", name + " (2) ", name + "x",
             "2026-13-01 00.00.00", "2026-12-10 24.00.00", "2026-12-10T04.12.05",
             "2026-1-10 04.12.05"}) {
        EXPECT_FALSE(RunFolderTime(other)) << other;
    }
}

#ifndef _WIN32
TEST(VersionKeeper, MovesFilesAndDirectoriesWithTheirTimesAndBits) {
    TempDir t;
    WriteFile(t / "s/a/b/old.txt", "old", 1000000000);
    MakeDirs(t / "s/a/empty");
    SetMode(t / "s/a/empty", 0750);
    SetMtime(t / "s/a/empty", 1100000000);
    const std::time_t start = std::time(nullptr);
    platform::TreeRoot slave(t / "s", platform::Mounts::Stay);
    VersionKeeper keeper(slave, ".kelvad-versions", start);
    const std::string folder = ".kelvad-versions/" + RunFolderName(start);
    EXPECT_EQ(keeper.RunFolder(), folder);
    const platform::Status kept = keeper.KeepFile("a/b/old.txt");
    ASSERT_TRUE(kept.ok()) << kept.ToString();
    ASSERT_TRUE(keeper.KeepDirectory("a/empty").ok());
    EXPECT_FALSE(Exists(t / "s/a/b/old.txt"));
    EXPECT_FALSE(Exists(t / "s/a/empty"));
    EXPECT_EQ(ReadFile(t / "s/" + folder + "/a/b/old.txt"), "old");
    struct stat st {};
    ASSERT_EQ(::stat((t / "s/" + folder + "/a/b/old.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
    ASSERT_EQ(::stat((t / "s/" + folder + "/a/empty").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1100000000);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    // A directory that still holds something stays, and so does its content.
    WriteFile(t / "s/a/b/new.txt", "new");
    EXPECT_TRUE(keeper.KeepDirectory("a/b").Is(ENOTEMPTY));
    EXPECT_EQ(ReadFile(t / "s/a/b/new.txt"), "new");

    // A second run of the same second has a folder of its own.
    VersionKeeper second(slave, ".kelvad-versions", start);
    ASSERT_TRUE(second.KeepFile("a/b/new.txt").ok());
    EXPECT_EQ(second.RunFolder(), folder + " (2)");
    EXPECT_EQ(ReadFile(t / "s/" + folder + " (2)/a/b/new.txt"), "new");

    // A versions folder swapped for a link is never followed.
    RemoveTree(t / "s/.kelvad-versions");
    MakeDirs(t / "elsewhere");
    ASSERT_EQ(::symlink((t / "elsewhere").c_str(), (t / "s/.kelvad-versions").c_str()), 0);
    WriteFile(t / "s/c.txt", "c");
    VersionKeeper third(slave, ".kelvad-versions", start);
    EXPECT_FALSE(third.KeepFile("c.txt").ok());
    EXPECT_EQ(ReadFile(t / "s/c.txt"), "c");
    EXPECT_TRUE(Snapshot(t / "elsewhere").empty());
}

TEST(PruneVersions, RemovesOnlyOldRunFoldersOldestFirstAndFollowsNoLink) {
    TempDir t;
    const std::time_t now = std::time(nullptr);
    const std::string versions = t / "s/.kelvad-versions/";
    const std::string oldest = RunFolderName(now - 86400 * 50);
    const std::string old = RunFolderName(now - 86400 * 31) + " (2)";
    const std::string recent = RunFolderName(now - 86400 * 29);
    WriteFile(versions + oldest + "/deep/er/file", "x");
    WriteFile(versions + old + "/file", "x");
    WriteFile(versions + recent + "/file", "x");
    WriteFile(versions + "notes/file", "mine");
    WriteFile(t / "outside/keep", "keep");
    ASSERT_EQ(::symlink((t / "outside").c_str(), (versions + old + "/link").c_str()), 0);
    platform::TreeRoot slave(t / "s", platform::Mounts::Stay);

    const Pruned pruned = PruneVersions(slave, ".kelvad-versions", now, 30);
    ASSERT_TRUE(pruned.failure.ok()) << pruned.failedAt;
    EXPECT_EQ(pruned.removed, (std::vector<std::string>{oldest, old}));
    EXPECT_FALSE(Exists(versions + oldest));
    EXPECT_FALSE(Exists(versions + old));
    EXPECT_TRUE(Exists(versions + recent + "/file"));
    EXPECT_EQ(ReadFile(versions + "notes/file"), "mine");
    EXPECT_EQ(ReadFile(t / "outside/keep"), "keep");
    EXPECT_TRUE(PruneVersions(slave, ".kelvad-versions", now, 0).removed.size() == 1);
    EXPECT_TRUE(PruneVersions(slave, ".none", now, 0).failure.ok());
}
#endif

}  // namespace

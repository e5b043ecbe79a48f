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
TEST(VersionKeeper, MovesFilesAndWholeDirectoriesWithTheirTimesAndBits) {
    TempDir t;
    WriteFile(t / "s/a/b/old.txt", "old", 1000000000);
    WriteFile(t / "s/a/gone/x", "x");
    SetMode(t / "s/a/gone", 0750);
    SetMtime(t / "s/a/gone", 1100000000);
    const std::time_t start = std::time(nullptr);
    auto slave = platform::OpenTreeRoot(t / "s", platform::Mounts::Stay);
    VersionKeeper keeper(*slave, ".kelvad-versions", start);
    const std::string folder = ".kelvad-versions/" + RunFolderName(start);
    EXPECT_EQ(keeper.Where(), folder);
    const platform::Status kept = keeper.Keep("a/b/old.txt");
    ASSERT_TRUE(kept.ok()) << kept.ToString();
    EXPECT_EQ(keeper.KeptPath("a/b/old.txt"), t / "s/" + folder + "/a/b/old.txt");
    ASSERT_TRUE(keeper.Keep("a/gone").ok());
    EXPECT_FALSE(Exists(t / "s/a/b/old.txt"));
    EXPECT_FALSE(Exists(t / "s/a/gone"));
    EXPECT_EQ(ReadFile(t / "s/" + folder + "/a/b/old.txt"), "old");
    EXPECT_EQ(ReadFile(t / "s/" + folder + "/a/gone/x"), "x");
    struct stat st {};
    ASSERT_EQ(::stat((t / "s/" + folder + "/a/b/old.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
    ASSERT_EQ(::stat((t / "s/" + folder + "/a/gone").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1100000000);
    EXPECT_EQ(st.st_mode & 07777, 0750u);

    // A second run of the same second has a folder of its own.
    WriteFile(t / "s/a/b/new.txt", "new");
    VersionKeeper second(*slave, ".kelvad-versions", start);
    ASSERT_TRUE(second.Keep("a/b/new.txt").ok());
    EXPECT_EQ(second.Where(), folder + " (2)");
    EXPECT_EQ(ReadFile(t / "s/" + folder + " (2)/a/b/new.txt"), "new");

    // A versions folder swapped for a link is never followed.
    RemoveTree(t / "s/.kelvad-versions");
    MakeDirs(t / "elsewhere");
    ASSERT_EQ(::symlink((t / "elsewhere").c_str(), (t / "s/.kelvad-versions").c_str()), 0);
    WriteFile(t / "s/c.txt", "c");
    VersionKeeper third(*slave, ".kelvad-versions", start);
    EXPECT_FALSE(third.Keep("c.txt").ok());
    EXPECT_EQ(ReadFile(t / "s/c.txt"), "c");
    EXPECT_TRUE(Snapshot(t / "elsewhere").empty());
}

TEST(TrashKeeper, WritesTheInfoFirstAndNeverOverwrites) {
    TempDir t;
    WriteFile(t / "s/dir/a b%.txt", "one");
    WriteFile(t / "s/other/a b%.txt", "two");
    WriteFile(t / "s/tree/x", "x");
    for (const char* dir : {"Trash/files", "Trash/info"}) {
        MakeDirs(t / dir);
    }
    auto slave = platform::OpenTreeRoot(t / "s", platform::Mounts::Stay);
    TrashKeeper keeper(*slave, platform::OpenTreeRoot(t / "Trash", platform::Mounts::Stay),
                       "/media/stick/s");
    EXPECT_EQ(keeper.Where(), "the Trash");
    ASSERT_TRUE(keeper.Keep("dir/a b%.txt").ok());
    ASSERT_TRUE(keeper.Keep("other/a b%.txt").ok());
    EXPECT_EQ(keeper.KeptPath("other/a b%.txt"), t / "Trash/files/a b%.txt.2");
    ASSERT_TRUE(keeper.Keep("tree").ok());  // a directory is one entry
    EXPECT_EQ(ReadFile(t / "Trash/files/a b%.txt"), "one");
    EXPECT_EQ(ReadFile(t / "Trash/files/a b%.txt.2"), "two");
    EXPECT_EQ(ReadFile(t / "Trash/files/tree/x"), "x");
    const std::string info = ReadFile(t / "Trash/info/a b%.txt.2.trashinfo");
    EXPECT_TRUE(
        info.starts_with("[Trash Info]\nPath=/media/stick/s/other/a%20b%25.txt\n"
                         "DeletionDate="))
        << info;
    EXPECT_FALSE(Exists(t / "s/tree"));
    // A name the trash already holds without its .trashinfo is never replaced:
    // the entry takes the next free name.
    WriteFile(t / "Trash/files/y", "theirs");
    WriteFile(t / "s/y", "mine");
    ASSERT_TRUE(keeper.Keep("y").ok());
    EXPECT_EQ(ReadFile(t / "Trash/files/y"), "theirs");
    EXPECT_EQ(ReadFile(t / "Trash/files/y.2"), "mine");
    EXPECT_FALSE(Exists(t / "Trash/info/y.trashinfo"));
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
    auto slave = platform::OpenTreeRoot(t / "s", platform::Mounts::Stay);

    const Pruned pruned = PruneVersions(*slave, ".kelvad-versions", now, 30);
    ASSERT_TRUE(pruned.failure.ok()) << pruned.failedAt;
    EXPECT_EQ(pruned.removed, (std::vector<std::string>{oldest, old}));
    EXPECT_FALSE(Exists(versions + oldest));
    EXPECT_FALSE(Exists(versions + old));
    EXPECT_TRUE(Exists(versions + recent + "/file"));
    EXPECT_EQ(ReadFile(versions + "notes/file"), "mine");
    EXPECT_EQ(ReadFile(t / "outside/keep"), "keep");
    // A run's own folder is spared, however young the retention.
    EXPECT_TRUE(PruneVersions(*slave, ".kelvad-versions", now, 0, recent).removed.empty());
    EXPECT_TRUE(PruneVersions(*slave, ".kelvad-versions", now, 0).removed.size() == 1);
    EXPECT_TRUE(PruneVersions(*slave, ".none", now, 0).failure.ok());
}
#endif

}  // namespace

// Where the Windows platform layer differs from Linux: letter case, read-only
// files, long paths, names in any script, names Windows cannot hold, files in
// use by another program, times kept to the 100 ns, reparse points below a
// root, and a directory moved out of the tree between two opens below it.
#include <gtest/gtest.h>

#include "platform/dir_search.h"
#include "platform/tree_root.h"
#include "platform/windows_util.h"
#include "support/temp_tree.h"

namespace {
std::vector<std::string> Listed(platform::TreeRoot& root, const std::string& dir) {
    std::vector<std::string> names;
    const platform::Result<int> fd = root.OpenDirectory(dir);
    platform::DirSearch search;
    if (!fd.ok() || !search.Open(*fd).ok()) {
        return names;
    }
    platform::DirMatch match;
    while (search.Next(match)) {
        if (match.name != "." && match.name != "..") {
            names.emplace_back(match.name);
        }
    }
    return names;
}
}  // namespace

TEST(WindowsTreeRoot, NamesMatchIgnoringCaseAndKeepTheirScript) {
    TempDir t;
    const std::string name = "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt";
    WriteFile(t / name, "x");
    const auto opened = platform::OpenTreeRoot(t.Path());
    platform::TreeRoot& root = *opened;
    EXPECT_EQ(Listed(root, ""), std::vector<std::string>{name});
    EXPECT_TRUE(root.IgnoresCase(name));
    platform::FileInfo info;
    EXPECT_TRUE(root.DescribeName("CAF\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.TXT", info).ok());
}

TEST(WindowsTreeRoot, ReadOnlyFilesAreReplacedAndDeleted) {
    TempDir t;
    WriteFile(t / "old", "old");
    WriteFile(t / "new", "new");
    WriteFile(t / "gone", "gone");
    for (const char* name : {"old", "new", "gone"}) {
        SetMode(t / name, 0444);
    }
    const auto opened = platform::OpenTreeRoot(t.Path());
    platform::TreeRoot& root = *opened;
    ASSERT_TRUE(root.RenameReplace("new", "old").ok());
    EXPECT_EQ(ReadFile(t / "old"), "new");
    ASSERT_TRUE(root.RemoveFile("gone").ok());
    EXPECT_FALSE(Exists(t / "gone"));
}

class WindowsUnusableName : public testing::TestWithParam<const char*> {};

// Wine would open "a." as "a" and "x\y" as a path, and NTFS a stream for
// "a:b": such a name is refused by every operation before the system sees it.
TEST_P(WindowsUnusableName, IsRefusedWithWordsThatSaySoAndNothingElseIsTouched) {
    TempDir t;
    WriteFile(t / "a", "a");
    WriteFile(t / "ok", "ok");
    MakeDirs(t / "x");
    const auto opened = platform::OpenTreeRoot(t.Path());
    platform::TreeRoot& root = *opened;
    const std::string name = GetParam();
    platform::FileInfo info;
    const platform::Result<int> created = root.CreateExclusive(name, 0644);
    const platform::Result<int> read = root.OpenForRead(name, info);
    for (const platform::Status& status :
         {created.status(), read.status(), root.MakeDirectory(name, 0755), root.RemoveFile(name),
          root.RenameReplace("ok", name), root.OpenDirectory(name).status()}) {
        EXPECT_TRUE(status.Is(platform::kUnusableName)) << name << ": " << status.ToString();
        EXPECT_EQ(root.Reason(status, name), "the name cannot be used on Windows");
    }
    EXPECT_EQ(ReadFile(t / "a"), "a");
    EXPECT_EQ(ReadFile(t / "ok"), "ok");
    EXPECT_EQ(Listed(root, "x"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Names, WindowsUnusableName,
                         testing::Values("a.", "a ", "a?", "a*", "a<b", "a>b", "a|b", "a\"b", "a:b",
                                         "x\\a", "CON", "nul.txt", "Com1", "lpt9.log", "a\x01"));

TEST(WindowsTreeRoot, AFileInUseByAnotherProgramIsSaidToBe) {
    TempDir t;
    WriteFile(t / "held", "held");
    WriteFile(t / "new", "new");
    const HANDLE held = ::CreateFileW(platform::win::LongPath(t / "held").c_str(), GENERIC_READ, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto opened = platform::OpenTreeRoot(t.Path());
    platform::TreeRoot& root = *opened;
    platform::FileInfo info;
    const platform::Result<int> read = root.OpenForRead("held", info);
    for (const platform::Status& status :
         {read.status(), root.RemoveFile("held"), root.RenameReplace("new", "held")}) {
        EXPECT_EQ(root.Reason(status, "held"), "in use by another program") << status.ToString();
    }
    ::CloseHandle(held);
    EXPECT_EQ(ReadFile(t / "held"), "held");
}

// The slave's time step is measured with a marker (RunMarker), as every volume
// says "NTFS" under Wine: a time set to the 100 ns reads back so.
TEST(WindowsTreeRoot, ATimeSetToTheHundredNanosecondsReadsBackSo) {
    TempDir t;
    const auto opened = platform::OpenTreeRoot(t.Path());
    platform::TreeRoot& root = *opened;
    const platform::Result<int> fd = root.CreateExclusive("marker", 0600);
    ASSERT_TRUE(fd.ok());
    platform::FileInfo set;
    set.lastWriteExact = {1000000001, 999999900};
    set.lastAccessExact = set.lastWriteExact;
    set.mode = 0600;
    EXPECT_TRUE(root.KeepAttributes(*fd, set).ok());
    EXPECT_TRUE(root.Close(*fd).ok());
    platform::FileInfo kept;
    ASSERT_TRUE(root.DescribeName("marker", kept).ok());
    EXPECT_EQ(kept.lastWrite, platform::FileTimeFromTimespec(set.lastWriteExact));
    EXPECT_NE(kept.mode & 0200, 0u);  // not left read-only
}

TEST(WindowsTreeRoot, PathsPastTheOldLimitAndNoWayOut) {
    TempDir t;
    const std::string deep = MakeDeepChain(t.Path(), std::string(100, 'd'), 5, "deep");
    const auto opened = platform::OpenTreeRoot(t.Path());
    platform::TreeRoot& root = *opened;
    platform::FileInfo info;
    const platform::Result<int> fd = root.OpenForRead(deep, info);
    ASSERT_TRUE(fd.ok()) << fd.status().ToString();
    EXPECT_EQ(info.size, 4);
    (void)root.Close(*fd);
    EXPECT_TRUE(root.OpenDirectory("..").status().Is(EXDEV));
    EXPECT_TRUE(root.OpenDirectory(std::string(100, 'd') + "/..").status().Is(EXDEV));
}

TEST(WindowsTreeRoot, AReparsePointBelowTheRootIsNeitherFollowedNorItsTargetChanged) {
    TempDir t;
    MakeDirs(t / "outside");
    WriteFile(t / "outside/secret", "x");
    MakeDirs(t / "root");
    const auto link = [&](const std::string& at, const std::string& to, DWORD flags) {
        return ::CreateSymbolicLinkW(platform::win::LongPath(t / at).c_str(),
                                     platform::win::LongPath(t / to).c_str(),
                                     flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
    };
    if (!link("root/link", "outside", SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !link("root/filelink", "outside/secret", 0)) {
        GTEST_SKIP() << "this system makes no symbolic links here";
    }
    const auto opened = platform::OpenTreeRoot(t / "root");
    platform::TreeRoot& root = *opened;
    // Wine lists a link to a file as a file; opening it must still not reach the target.
    for (const char* name : {"filelink", "link/secret"}) {
        platform::FileInfo info;
        EXPECT_FALSE(root.OpenForRead(name, info).ok()) << name;
        EXPECT_FALSE(root.RemoveFile(name).ok()) << name;
        EXPECT_FALSE(root.RenameReplace(name, "taken").ok()) << name;
    }
    EXPECT_EQ(ReadFile(t / "outside/secret"), "x");
    platform::FileInfo info;
    const platform::Result<int> file = root.OpenForRead("link/secret", info);
    // Refused (ELOOP on Windows; Wine finds no such name), never followed.
    EXPECT_FALSE(file.ok());
    const platform::Result<int> dir = root.OpenDirectory("link");
    EXPECT_FALSE(dir.ok());
}

TEST(WindowsTreeRoot, ADirectoryMovedOutOfTheTreeBetweenTwoOpensIsNotListedThere) {
    TempDir t;
    WriteFile(t / "root/a/b1/x", "x");
    WriteFile(t / "root/a/b2/y", "y");
    MakeDirs(t / "outside");
    const auto opened = platform::OpenTreeRoot(t / "root");
    platform::TreeRoot& root = *opened;
    EXPECT_EQ(Listed(root, "a/b1"), std::vector<std::string>{"x"});
    EXPECT_EQ(Listed(root, "a/b2"), std::vector<std::string>{"y"});
    ASSERT_TRUE(::MoveFileExW(platform::win::LongPath(t / "root/a").c_str(),
                              platform::win::LongPath(t / "outside/a").c_str(), 0));
    EXPECT_TRUE(Listed(root, "a/b2").empty());
    WriteFile(t / "root/a/b2/z", "z");
    EXPECT_EQ(Listed(root, "a/b2"), std::vector<std::string>{"z"});
}

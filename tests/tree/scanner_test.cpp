#include "tree/scanner.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>

#include "platform/file_ops.h"
#include "support/fault_injector.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"

namespace {

std::vector<std::string> Keys(const CFileList& list) {
    std::vector<std::string> keys;
    for (const auto& e : list) {
        keys.push_back(e->GetKey());
    }
    return keys;
}

}  // namespace

#ifndef _WIN32
TEST(IsDirectoryPath, TrueOnlyForDirectoriesAndLinksToThem) {
    TempDir t;
    WriteFile(t / "file", "x");
    MakeDirs(t / "dir");
    ASSERT_EQ(::symlink((t / "dir").c_str(), (t / "link").c_str()), 0);
    EXPECT_TRUE(platform::IsDirectoryPath(t.Path()));
    EXPECT_TRUE(platform::IsDirectoryPath(t / "dir"));
    EXPECT_TRUE(platform::IsDirectoryPath(t / "dir/"));
    EXPECT_TRUE(platform::IsDirectoryPath(t / "link"));
    EXPECT_FALSE(platform::IsDirectoryPath(t / "file"));
    EXPECT_FALSE(platform::IsDirectoryPath(t / "nothing"));
    EXPECT_FALSE(platform::IsDirectoryPath(""));
}
#endif

TEST(ScanDirectory, ListsEveryFileAndDirectoryDepthFirstWithTheirDirectoryPaths) {
    TempDir t;
    const std::string root = t / "root";
    MakeDirs(root + "/a/c");
    MakeDirs(root + "/empty");
    WriteFile(root + "/a/b", "");
    WriteFile(root + "/a/c/d", "", 1000000000);
    WriteFile(root + "/.profile", "");
#ifdef _WIN32
    const std::string dots = "/..a";  // Windows drops the dots that end a name
#else
    const std::string dots = "/...";
#endif
    WriteFile(root + dots, "");
    CFileList list;
    ScanPath(root, &list);
    EXPECT_EQ(Keys(list),
              (std::vector<std::string>{root + dots, root + "/.profile", root + "/a", root + "/a/b",
                                        root + "/a/c", root + "/a/c/d", root + "/empty"}));
    EXPECT_EQ(list[3]->GetDirPath(), root + "/a");
    EXPECT_EQ(list[5]->GetDirPath(), root + "/a/c");
    EXPECT_TRUE(list[2]->IsDirectory());
    EXPECT_FALSE(list[3]->IsDirectory());
    EXPECT_FALSE(list[2]->HasUnknownContents());
    // Siblings share one copy of their directory's path.
    EXPECT_TRUE(list[3]->GetSharedDirPath().SameAs(list[4]->GetSharedDirPath()));
    // 1000000000 s after 1970 in 100 ns units after 1601.
    EXPECT_EQ(list[5]->GetLastWriteTime(), (1000000000ULL + 11644473600ULL) * 10000000ULL);
    EXPECT_FALSE(list.rootContentsUnknown);
}

TEST(ScanDirectory, EmptyRootAndTrailingSeparator) {
    TempDir t;
    CFileList empty;
    ScanPath(t.Path(), &empty);
    EXPECT_TRUE(empty.empty());

    WriteFile(t / "x/y", "");
    CFileList list;
    ScanPath(t.Path() + "/", &list);
    // The root is used as typed: the keys carry the doubled separator.
    EXPECT_EQ(Keys(list), (std::vector<std::string>{t.Path() + "//x", t.Path() + "//x/y"}));
}

#ifndef _WIN32
TEST(ScanDirectory, NamesThatDifferOnlyInCaseAreTwoEntries) {
    TempDir t;
    WriteFile(t / "Readme.txt", "1");
    WriteFile(t / "README.TXT", "2");
    CFileList list;
    ScanPath(t.Path(), &list);
    EXPECT_EQ(Keys(list), (std::vector<std::string>{t / "README.TXT", t / "Readme.txt"}));

    // Directories equal but for case: what lies below them interleaves.
    WriteFile(t / "Abc/x", "");
    WriteFile(t / "Abc/Y", "");
    WriteFile(t / "abc/X", "");
    WriteFile(t / "abc/x/z", "");
    WriteFile(t / "abc.txt", "");
    WriteFile(t / "abc-", "");
    CFileList twins;
    ScanPath(t.Path(), &twins);
    EXPECT_EQ(Keys(twins),
              (std::vector<std::string>{t / "Abc", t / "abc", t / "abc-", t / "abc.txt",
                                        t / "Abc/x", t / "abc/X", t / "abc/x", t / "abc/x/z",
                                        t / "Abc/Y", t / "README.TXT", t / "Readme.txt"}));
}

TEST(ScanDirectory, LinksSpecialFilesAndTheVersionsFolderAreLeftOutAndNeverFollowed) {
    TempDir t;
    const std::string root = t / "root";
    WriteFile(root + "/sub/file", "x");
    WriteFile(root + "/.kelvad-versions/2026-12-10 04.12.05/file", "x");
    MakeDirs(root + "/.Kelvad-Versions");      // the same folder where case is ignored
    MakeDirs(root + "/sub/.kelvad-versions");  // only the root's is the versions folder
    WriteFile(t / "outside/secret", "x");
    ASSERT_EQ(::symlink(root.c_str(), (root + "/sub/loop").c_str()), 0);
    ASSERT_EQ(::symlink((t / "outside").c_str(), (root + "/out").c_str()), 0);
    ASSERT_EQ(::symlink("dangling-target", (root + "/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sock = root + "/sock";
    if (sock.size() < sizeof addr.sun_path) {
        std::copy(sock.begin(), sock.end(), addr.sun_path);
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    CFileList list;
    ScanPath(root, &list);  // must return: the FIFO is not opened, the loop not followed
    ::close(s);
    // Each is listed, left out, so that its path stays out of the mirror.
    std::vector<std::string> mirrored;
    for (const auto& entry : list) {
        if (!entry->IsExcluded()) {
            mirrored.push_back(entry->GetKey());
        }
        EXPECT_FALSE(entry->IsDirectory() && entry->IsExcluded() &&
                     !IsVersionsFolderName(entry->GetName()))
            << entry->GetKey();
    }
    EXPECT_EQ(mirrored, (std::vector<std::string>{root + "/sub", root + "/sub/.kelvad-versions",
                                                  root + "/sub/file"}));
    EXPECT_EQ(list.size(), list.leftOut + 3);
    EXPECT_GE(list.leftOut, 6u);  // the socket too, where its path fits
}

TEST(ScanDirectory, RootThatIsALinkIsFollowed) {
    TempDir t;
    WriteFile(t / "real/f", "");
    ASSERT_EQ(::symlink((t / "real").c_str(), (t / "alias").c_str()), 0);
    CFileList list;
    ScanPath(t / "alias", &list);
    EXPECT_EQ(Keys(list), (std::vector<std::string>{t / "alias/f"}));
}

TEST(ScanDirectory, DirectoryThatCannotBeListedHasUnknownContents) {
    TempDir t;
    WriteFile(t / "locked/inner", "");
    WriteFile(t / "open/inner", "");
    {
        OneFault fault(Call::OpenDir, EACCES, 1, "/locked");
        CFileList list;
        ScanPath(t.Path(), &list, &fault);
        EXPECT_TRUE(fault.Fired());
        EXPECT_EQ(Keys(list),
                  (std::vector<std::string>{t / "locked", t / "open", t / "open/inner"}));
        EXPECT_TRUE(list[0]->HasUnknownContents());
        EXPECT_FALSE(list[1]->HasUnknownContents());
    }
    {
        // A listing that breaks off part-way is not complete either.
        OneFault fault(Call::ReadDir, EIO, 1);
        CFileList list;
        ScanPath(t.Path(), &list, &fault);
        EXPECT_TRUE(list.rootContentsUnknown);
    }
    {
        OneFault fault(Call::OpenDir, EACCES, 1);
        CFileList list;
        ScanPath(t.Path(), &list, &fault);
        EXPECT_TRUE(list.empty());
        EXPECT_TRUE(list.rootContentsUnknown);
    }
}

TEST(ScanDirectory, TwoThousandLevelsDeepWithFewDescriptors) {
    TempDir t;
    std::string path = t.Path();
    for (int i = 0; i < 2000; ++i) {
        path += "/d";
        ASSERT_EQ(::mkdir(path.c_str(), 0777), 0) << i;
    }
    WriteFile(path + "/f", "");
    rlimit old{};
    ::getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = 32;  // far fewer than the depth
    ::setrlimit(RLIMIT_NOFILE, &low);
    CFileList list;
    ScanPath(t.Path(), &list);
    ::setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_EQ(list.size(), 2001u);
    EXPECT_EQ(list.back()->GetKey(), path + "/f");
    for (const auto& e : list) {
        EXPECT_FALSE(e->HasUnknownContents());
    }
}
#endif

TEST(ScanDirectory, AStopIsHeardInTheMiddleOfALargeDirectory) {
    TempDir t;
#ifdef _WIN32
    const int files = 10000;  // each file made costs a trip to the Wine server
#else
    const int files = 20000;
#endif
    MakeManyFiles(t / "big", files);
    // Asks the stop once 2,000 entries have been fetched, and counts the rest.
    struct StopAfter : FaultInjector {
        int Fail(Call call, const std::string&) override {
            if (call == Call::ReadDir && ++m_fetched == 2000) {
                m_stop = true;
            }
            return 0;
        }
        int m_fetched = 0;
        std::atomic<bool> m_stop{false};
    } injector;
    FaultyRoot root(t / "big", platform::Mounts::Cross, injector);
    CFileList list;
    ScanDirectory(root, &list, &injector.m_stop);
    EXPECT_LT(injector.m_fetched, files / 2);  // not the whole directory
    EXPECT_LE(list.size(), static_cast<size_t>(injector.m_fetched));
    // Asked before the scan begins, nothing is read.
    CFileList none;
    injector.m_fetched = 0;
    ScanDirectory(root, &none, &injector.m_stop);
    EXPECT_EQ(injector.m_fetched, 0);
    EXPECT_TRUE(none.empty());
}

#ifdef _WIN32
TEST(ScanDirectory, LinuxOnlyCases) {
    GTEST_SKIP() << "names equal but for letter case, symbolic links, FIFOs, sockets, unreadable "
                    "directories and descriptor limits: Linux only";
}
#endif

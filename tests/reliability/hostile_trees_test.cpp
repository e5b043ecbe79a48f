// Trees that fight back: odd names, special files, files that change between
// the plan and its execution, a slave that fills up.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "exec/copier.h"
#include "support/fault_injector.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"


TEST(HostileTrees, OddNamesAreCopiedAndDeletedLikeAnyOther) {
    TempDir t;
    const std::vector<std::string> names = {
        std::string(255, 'n'), "new\nline", "bad\xFF\xFEutf8", "-rf", "--", "file~123", "~~~~",
        " leading and trailing ", "*?[glob]", "back\\slash", "\xC3\xA9t\xC3\xA9"};
    for (const std::string& name : names) {
        WriteFile(t / "m/" + name, "content of " + name);
        WriteFile(t / "s/old " + name.substr(0, 200), "stale");
    }
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host)) << (host.m_messages.empty() ? "" : host.m_messages[0]);
    EXPECT_EQ(Snapshot(t / "s"), Snapshot(t / "m"));
    EXPECT_TRUE(PlanRun(t / "m", t / "s")->actions.empty());
}

TEST(HostileTrees, SpecialFilesInTheMasterAreNeitherOpenedNorCopied) {
    TempDir t;
    WriteFile(t / "m/plain", "x");
    ASSERT_EQ(::mkfifo((t / "m/fifo").c_str(), 0600), 0);
    const bool haveDevice = ::mknod((t / "m/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    ASSERT_EQ(::symlink("/etc/passwd", (t / "m/outside").c_str()), 0);
    ASSERT_EQ(::symlink((t / "m").c_str(), (t / "m/loop").c_str()), 0);
    MakeDirs(t / "s");
    // Links and special files in the slave are not the run's to delete either.
    ASSERT_EQ(::symlink("/etc/passwd", (t / "s/mine").c_str()), 0);
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host));
    EXPECT_EQ(Snapshot(t / "s"),
              (std::map<std::string, std::string>{{"mine", "l"}, {"plain", "f:x"}}));
    if (!haveDevice) {
        GTEST_SKIP() << "device nodes cannot be made here; FIFOs, sockets and links were checked";
    }
}

TEST(HostileTrees, FilesThatChangeBetweenThePlanAndItsExecution) {
    TempDir t;
    WriteFile(t / "m/a-vanishes", "a");
    WriteFile(t / "m/b-shrinks", "a long original content");
    WriteFile(t / "m/c-stays", "c");
    MakeDirs(t / "s");
    auto plan = PlanRun(t / "m", t / "s");
    ASSERT_EQ(plan->actions.size(), 3u);
    ::unlink((t / "m/a-vanishes").c_str());
    WriteFile(t / "m/b-shrinks", "short");
    WriteFile(t / "m/d-appears", "d");
    // A vanished source is reported and stops the run; nothing else is lost.
    RecordingHost host;
    EXPECT_FALSE(ExecuteActions(host, plan->actions, t / "m", t / "s"));
    EXPECT_EQ(host.m_messages, (std::vector<std::string>{
                                   "Error creating " + t.Path() +
                                   "/s/a-vanishes (Source file does not exist)"}));
    EXPECT_TRUE(Snapshot(t / "s").empty());
    // The next run plans from what is there now: the shrunk file as it is now,
    // the new one too.
    RecordingHost again;
    EXPECT_TRUE(SyncRun(t / "m", t / "s", again));
    EXPECT_EQ(Snapshot(t / "s"), Snapshot(t / "m"));
}

TEST(HostileTrees, ASlaveThatCannotBeWrittenStopsTheRunWithItsMessage) {
    TempDir t;
    WriteFile(t / "m/a", "a");
    WriteFile(t / "m/b", "b");
    MakeDirs(t / "s");
    OneFault readOnly(platform::Call::Create, EACCES);
    RecordingHost host;
    EXPECT_FALSE(SyncRun(t / "m", t / "s", host));
    EXPECT_EQ(host.m_messages,
              (std::vector<std::string>{"Error creating " + t.Path() +
                                        "/s/a (Target file exists (and should not): Permission denied)"}));
    EXPECT_TRUE(Snapshot(t / "s").empty());
}

TEST(HostileTrees, ASlaveThatFillsUpMidCopyKeepsNoPartialFile) {
    TempDir t;
    MakeDirs(t / "s");
    if (::mount("kelvad-test", (t / "s").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here; the fault sweep covers a full disk";
    }
    WriteFile(t / "m/small", "fits");
    WriteFile(t / "m/zbig", std::string(3 << 20, 'z'));
    WriteFile(t / "s/old", "old", 1000000000);
    WriteFile(t / "m/old", "newer master", 1100000000);
    RecordingHost host;
    const bool ok = SyncRun(t / "m", t / "s", host);
    const auto after = Snapshot(t / "s");
    ::umount((t / "s").c_str());
    EXPECT_FALSE(ok);
    EXPECT_EQ(host.m_messages, (std::vector<std::string>{"Error creating " + t.Path() +
                                                         "/s/zbig (Write error on target file: No space left on device)"}));
    EXPECT_EQ(after, (std::map<std::string, std::string>{{"old", "f:newer master"},
                                                        {"small", "f:fits"}}));
}

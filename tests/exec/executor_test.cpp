#include "exec/executor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "exec/run_progress.h"
#include "support/fault_injector.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "sync/display_text.h"
#include "sync/run_log.h"

namespace {

CActionList Plan(std::initializer_list<CAction> actions) {
    CActionList list;
    for (const CAction& a : actions) {
        list.push_back(std::make_unique<CAction>(a));
    }
    return list;
}

// Carries `plan` out beneath the roots `m` and `s`, wrapped with `faults` when given.
bool Execute(RecordingHost& host, const CActionList& plan, const std::string& m,
             const std::string& s, FaultInjector* faults = nullptr,
             OnFailure onFailure = OnFailure::Stop) {
    OneFault none(Call::Open, 0);
    FaultyRoot master(m, platform::Mounts::Cross, faults != nullptr ? *faults : none);
    FaultyRoot slave(s, platform::Mounts::Stay, faults != nullptr ? *faults : none);
    return ExecuteActions(host, plan, master, slave, FlushAtEnd::Yes, onFailure);
}

// Records the directories removed, in order, and lets the removals happen.
struct RmdirRecorder : FaultInjector {
    int Fail(Call call, const std::string& path) override {
        if (call == Call::Rmdir) {
            removed.push_back(path);
        }
        return 0;
    }
    std::vector<std::string> removed;
};

// Makes the flush to disk take a while, as a few gigabytes would.
struct SlowFlush : FaultInjector {
    int Fail(Call call, const std::string&) override {
        if (call == Call::Sync) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return 0;
    }
};

}  // namespace

TEST(ExecuteActions, TheWindowIsServedWhileTheSlaveIsFlushed) {
    TempDir t;
    WriteFile(t / "m/a", "x");
    MakeDirs(t / "s");
    RecordingHost host;
    SlowFlush slow;
    ASSERT_TRUE(Execute(host, Plan({{"a", "~~~~", ACTION_CREATE}}), t / "m", t / "s", &slow));
    EXPECT_GE(host.m_pumps,
              3);  // about one every 5 ms of the 100; a run that waited unpumped has 1
    // A cancel while the finished run is flushed stops nothing: the run is done,
    // and recorded as done.
    RecordingHost late;
    late.m_cancelAtPump = 3;
    RunLog log;
    ASSERT_TRUE(log.Open(t / "log").ok());
    RunRecord record(late, &log);
    FaultyRoot master(t / "m", platform::Mounts::Cross, slow);
    FaultyRoot slave(t / "s", platform::Mounts::Stay, slow);
    const CActionList modify = Plan({{"a", "a", ACTION_MODIFY}});
    EXPECT_TRUE(record.Run(modify, CountPlan(modify), master, slave, OnFailure::Stop));
    EXPECT_TRUE(late.m_cancelled);
    EXPECT_EQ(ReadFile(t / "log").find("cancelled"), std::string::npos) << ReadFile(t / "log");
}

TEST(ExecuteActions, EmptyPlanSucceedsQuietly) {
    RecordingHost host;
    EXPECT_TRUE(Execute(host, {}, "/m", "/s"));
    EXPECT_EQ(host.m_planSizes, (std::vector<size_t>{0}));
    EXPECT_TRUE(host.m_statuses.empty());
    EXPECT_TRUE(host.m_messages.empty());
}

TEST(ExecuteActions, CarriesOutEveryKindWithItsStatusLineAndRemovesInnermostFirst) {
    TempDir t;
    const std::string m = t / "m";
    const std::string s = t / "s";
    WriteFile(m + "/changed", "new", 2000000000);
    WriteFile(m + "/dir/added", "added");
    WriteFile(s + "/changed", "old", 1000000000);
    WriteFile(s + "/gone", "x");
    WriteFile(s + "/old/sub/file", "x");
    const CActionList plan = Plan({
        {"changed", "changed", ACTION_MODIFY},
        {"dir", "~~~~", ACTION_MKDIR},
        {"dir/added", "~~~~", ACTION_CREATE},
        {"~~~~", "gone", ACTION_DELETE},
        {"~~~~", "old", ACTION_RMDIR},
        {"~~~~", "old/sub", ACTION_RMDIR},
        {"~~~~", "old/sub/file", ACTION_DELETE},
    });
#ifdef _WIN32
    const bool root = false;  // no owners to keep
#else
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((m + "/dir").c_str(), 123, 456), 0);
    }
#endif
    RecordingHost host;
    RmdirRecorder rmdirs;
    EXPECT_TRUE(Execute(host, plan, m, s, &rmdirs));
    struct stat st;
    ASSERT_EQ(::stat((s + "/dir").c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_uid, 123u);  // as cp -a makes it
        EXPECT_EQ(st.st_gid, 456u);
    }
    EXPECT_EQ(host.m_statuses, (std::vector<std::string>{
                                   "..modifying ../changed", "..creating directory ../dir",
                                   "..creating ../dir/added", "..deleting ../gone",
                                   "..deleting directory ../old", "..deleting directory ../old/sub",
                                   "..deleting ../old/sub/file", kWritingToDisk}));
    EXPECT_EQ(rmdirs.removed, (std::vector<std::string>{s + "/old/sub", s + "/old"}));
    EXPECT_EQ(Snapshot(s), Snapshot(m));
    EXPECT_EQ(host.m_planSizes, (std::vector<size_t>{7}));
    // Each action is told by its index once it has ended.
    EXPECT_EQ(host.m_positions, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(host.m_messages.empty());
}

TEST(ExecuteActions, EachFailureHasItsMessageAndStopsTheRun) {
    TempDir t;
    const std::string m = t / "m";
    const std::string s = t / "s";
    MakeDirs(m);
    WriteFile(s + "/taken", "x");
    WriteFile(s + "/full/file", "x");
    WriteFile(m + "/sub/f", "x");  // the slave has no "sub"
    WriteFile(m + "/plain", "x");  // no directory: nothing can be below it
    struct Case {
        CAction action;
        std::string message;
    };
    const Case cases[] = {
        {{"plain/x", "plain/x", ACTION_MODIFY},
         "Error copying " + s + "/plain/x (Source file does not exist: Not a directory)"},
        {{"plain/x", "~~~~", ACTION_CREATE},
         "Error creating " + s + "/plain/x (Source file does not exist: Not a directory)"},
        {{"sub/f", "~~~~", ACTION_CREATE},
         "Error creating " + s + "/sub/f (Write error on target file: No such file or directory)"},
        {{"~~~~", "nothing", ACTION_DELETE},
         "Error deleting file " + s + "/nothing (No such file or directory)"},
        {{"taken", "~~~~", ACTION_MKDIR}, "Error creating directory " + s + "/taken (File exists)"},
        {{"~~~~", "full", ACTION_RMDIR},
         "Unable to delete directory " + s + "/full (Directory not empty)"},
        {{"a", "b", 0}, "Invalid action"},
        {{"a", "b", 6}, "Invalid action"},  // a move that knows nothing of its source
        {{"a", "b", 7}, "Invalid action"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        CActionList plan =
            Plan({{"~~~~", "exists", ACTION_DELETE}, c.action, {"never", "~~~~", ACTION_MKDIR}});
        WriteFile(s + "/exists", "x");
        RecordingHost host;
        EXPECT_FALSE(Execute(host, plan, m, s));
        EXPECT_EQ(host.m_messages, (std::vector<std::string>{c.message}));
        EXPECT_FALSE(Exists(s + "/exists"));       // the earlier action stays done
        if (c.action.GetKind() != ACTION_RMDIR) {  // removals fail after the main pass
            EXPECT_FALSE(Exists(s + "/never"));    // no later action is attempted
        }
        RemoveTree(s + "/never");
    }
}

TEST(ExecuteActions, TheRemovalPassStopsAtTheFirstDirectoryThatWillNotGo) {
    TempDir t;
    const std::string s = t / "s";
    MakeDirs(s + "/a");
    WriteFile(s + "/b/keep", "x");
    MakeDirs(s + "/c");
    const CActionList plan = Plan(
        {{"~~~~", "a", ACTION_RMDIR}, {"~~~~", "b", ACTION_RMDIR}, {"~~~~", "c", ACTION_RMDIR}});
    RecordingHost host;
    EXPECT_FALSE(Execute(host, plan, t / "m", s));
    EXPECT_EQ(host.m_messages, (std::vector<std::string>{"Unable to delete directory " + s +
                                                         "/b (Directory not empty)"}));
    EXPECT_FALSE(Exists(s + "/c"));  // removed first, in reverse order
    EXPECT_TRUE(Exists(s + "/a"));   // after the failure: not attempted
}

TEST(ExecuteActions, CancelStopsBeforeTheNextActionSilently) {
    TempDir t;
    const std::string m = t / "m";
    const std::string s = t / "s";
    WriteFile(m + "/a", "a");
    WriteFile(m + "/b", "b");
    MakeDirs(s + "/old");
    const CActionList plan = Plan({{"a", "~~~~", ACTION_CREATE},
                                   {"b", "~~~~", ACTION_CREATE},
                                   {"~~~~", "old", ACTION_RMDIR}});
    // Cancel pressed during the first action: it completes, the second never starts.
    RecordingHost host;
    host.m_cancelAtPump = 2;  // the copier's pump, then the executor's
    EXPECT_FALSE(Execute(host, plan, m, s));
    EXPECT_TRUE(host.m_messages.empty());
    EXPECT_EQ(ReadFile(s + "/a"), "a");
    EXPECT_FALSE(Exists(s + "/b"));
    EXPECT_EQ(host.m_statuses.size(), 1u);

    // Cancel inside a copy: the copy leaves nothing and the run stops.
    RecordingHost inCopy;
    inCopy.m_cancelAtPump = 1;
    ::unlink((s + "/a").c_str());
    EXPECT_FALSE(Execute(inCopy, plan, m, s));
    EXPECT_FALSE(Exists(s + "/a"));
    EXPECT_TRUE(inCopy.m_messages.empty());

    // Cancel during the last action ends the run as cancelled: no removals.
    RecordingHost atLast;
    atLast.m_cancelAtPump = 5;  // a: 2 pumps, b: 2 pumps, the removal's own pump
    ::unlink((s + "/a").c_str());
    EXPECT_FALSE(Execute(atLast, plan, m, s));
    EXPECT_TRUE(Exists(s + "/b"));
    EXPECT_TRUE(Exists(s + "/old"));
    EXPECT_TRUE(atLast.m_messages.empty());
}

TEST(ExecuteActions, RootsGetOneMoreSeparatorAndLongPathsWork) {
    TempDir t;
    const std::string m = t / "m";
    std::string deep;
    for (int i = 0; i < 30; ++i) {
        deep += std::string(20, static_cast<char>('a' + i % 26)) + "/";
    }
    deep += "file";
    WriteFile(m + "/" + deep, "deep");
    WriteFile(m + "/plain", "x");
    MakeDirs(t / "s/" + deep.substr(0, deep.size() - 5));
    const CActionList plan = Plan({{deep, "~~~~", ACTION_CREATE}, {"plain/x", "x", ACTION_MODIFY}});
    RecordingHost host;
    EXPECT_FALSE(Execute(host, plan, m + "/", t / "s/"));
    EXPECT_EQ(ReadFile(t / "s/" + deep), "deep");
    EXPECT_GT((t / "s/" + deep).size(), 600u);
    EXPECT_EQ(host.m_messages,
              (std::vector<std::string>{"Error copying " + t.Path() +
                                        "/s//x (Source file does not exist: Not a directory)"}));
}

TEST(ExecuteActions, KeepingGoingSkipsOnlyWhatDependsOnAFailedStep) {
    TempDir t;
    const std::string m = t / "m";
    const std::string s = t / "s";
    WriteFile(m + "/d/x", "x");
    WriteFile(m + "/e", "e");
    WriteFile(s + "/d", "a file where the master has a directory");
    WriteFile(m + "/g/y", "y");
    WriteFile(s + "/g", "a file that will not be deleted");
    WriteFile(s + "/old/f", "f");
    const CActionList plan = Plan({{"d", "~~~~", ACTION_MKDIR},
                                   {"d/x", "~~~~", ACTION_CREATE},
                                   {"e", "~~~~", ACTION_CREATE},
                                   {"g", "g", ACTION_DELETE},
                                   {"g", "g", ACTION_MKDIR},
                                   {"g/y", "~~~~", ACTION_CREATE},
                                   {"~~~~", "old", ACTION_RMDIR},
                                   {"~~~~", "old/f", ACTION_DELETE}});
    SeveralFaults stuck({{Call::Unlink, EIO, 1, "/old/f"}, {Call::Unlink, EPERM, 1, "/g"}});
    RecordingHost host;
    EXPECT_FALSE(Execute(host, plan, m, s, &stuck, OnFailure::KeepGoing));
    // The directory whose file could not be deleted is not tried, nor what it holds.
    EXPECT_EQ(host.m_messages, (std::vector<std::string>{
                                   "Error creating directory " + s + "/d (File exists)",
                                   "Error deleting file " + s + "/g (Operation not permitted)",
                                   "Error deleting file " + s + "/old/f (Input/output error)"}));
    EXPECT_EQ(host.m_skipped,
              (std::vector<std::string>{
                  std::to_string(ACTION_CREATE) + " d/x", std::to_string(ACTION_MKDIR) + " g",
                  std::to_string(ACTION_CREATE) + " g/y", std::to_string(ACTION_RMDIR) + " old"}));
    EXPECT_EQ(ReadFile(s + "/e"), "e");  // independent of both failures
    EXPECT_EQ(ReadFile(s + "/old/f"), "f");
}

#ifndef _WIN32
TEST(ExecuteActions, ASlaveDirectoryWithoutItsOwnersRightsGetsThemBack) {
    // An earlier version copied a master directory's 0555: every change inside
    // it was refused on every later run.
    TempDir t;
    for (mode_t mode : {0555u, 0u}) {
        SCOPED_TRACE(mode);
        WriteFile(t / "s/ro/stale", "x");
        ASSERT_EQ(::chmod((t / "s/ro").c_str(), mode), 0);
        MakeDirs(t / "m");
        OneFault refused(Call::Unlink, EACCES, 1,
                         "ro/stale");  // as a user other than root would see
        RecordingHost host;
        EXPECT_TRUE(
            Execute(host, Plan({{"~~~~", "ro/stale", ACTION_DELETE}}), t / "m", t / "s", &refused));
        EXPECT_TRUE(refused.Fired());
        EXPECT_FALSE(Exists(t / "s/ro/stale"));
        struct stat st;
        ASSERT_EQ(::stat((t / "s/ro").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode | 0700);
    }
}

TEST(ExecuteActions, DirectoriesMadeKeepTheMastersExtendedAttributesAndAcls) {
    TempDir t;
    WriteFile(t / "m/d/f", "f");
    MakeDirs(t / "s");
    if (!SetExtendedAttribute(t / "m/d", "user.colour", "blue")) {
        GTEST_SKIP() << "the temporary directory's file system keeps no user attributes";
    }
    for (const char* acl : {"system.posix_acl_access", "system.posix_acl_default"}) {
        ASSERT_TRUE(SetExtendedAttribute(t / "m/d", acl, AclGrantingRead(4242))) << acl;
    }
    RecordingHost host;
    EXPECT_TRUE(Execute(host, Plan({{"d", "~~~~", ACTION_MKDIR}, {"d/f", "~~~~", ACTION_CREATE}}),
                        t / "m", t / "s"));
    EXPECT_TRUE(host.m_attributesNotKept.empty());
    for (const char* name :
         {"user.colour", "system.posix_acl_access", "system.posix_acl_default"}) {
        EXPECT_EQ(ExtendedAttribute(t / "s/d", name), ExtendedAttribute(t / "m/d", name)) << name;
    }
    EXPECT_EQ(ReadFile(t / "s/d/f"), "f");
}
#endif

#ifdef _WIN32
TEST(ExecuteActions, LinuxOnlyCases) {
    GTEST_SKIP()
        << "a directory without its owner's rights, extended attributes of directories: Linux only";
}
#endif

TEST(ExecuteActions, VanishedMasterFilesAndAttributesTheSlaveRefusesAreCountedNotFailed) {
    TempDir t;
    for (const char* name : {"a", "b", "c"}) {
        WriteFile(t / "m/" + name, "new");
    }
    WriteFile(t / "s/b", "old");
    const CActionList plan = Plan({{"a", "~~~~", ACTION_CREATE},
                                   {"b", "b", ACTION_MODIFY},
                                   {"c", "~~~~", ACTION_CREATE},
                                   {"d", "~~~~", ACTION_MKDIR}});
    // Deleted after the plan was made; the slave refuses the attributes of "a".
    ::unlink((t / "m/b").c_str());
    ::unlink((t / "m/c").c_str());
    OneFault refused(Call::Xattr, EOPNOTSUPP, 1, t / "s");
    RunLog log;
    ASSERT_TRUE(log.Open(t / "log").ok());
    FaultyRoot master(t / "m", platform::Mounts::Cross, refused);
    FaultyRoot slave(t / "s", platform::Mounts::Stay, refused);
    RecordingHost host;
    RunRecord record(host, &log);
    // The run goes on past them, even one that stops at the first failure.
    EXPECT_TRUE(record.Run(plan, CountPlan(plan), master, slave, OnFailure::Stop));
    EXPECT_TRUE(refused.Fired());
    EXPECT_TRUE(host.m_messages.empty());
    EXPECT_TRUE(host.m_skipped.empty());
    EXPECT_EQ(host.m_vanished, (std::vector<std::string>{t / "m/b", t / "m/c"}));
    EXPECT_EQ(host.m_attributesNotKept, (std::vector<std::string>{"a"}));
    EXPECT_EQ(Snapshot(t / "s"),
              (std::map<std::string, std::string>{{"a", "f:new"}, {"b", "f:old"}, {"d", "d"}}));
    const std::string summary = record.Summary();
    EXPECT_TRUE(
        summary.starts_with("1 created, 0 modified, 0 deleted, 1 directories made, 0 removed;"))
        << summary;
    // Nothing "not tried".
    EXPECT_TRUE(summary.ends_with(" s; 2 vanished; extended attributes of 1 file not kept"))
        << summary;
    const std::string logged = ReadFile(t / "log");
    EXPECT_NE(logged.find(" vanished: " + WithNativeSeparators(t / "m/b")), std::string::npos)
        << logged;
    EXPECT_EQ(logged.find("failed:"), std::string::npos) << logged;
}

TEST(RunProgress, WeighsEachStepByItsBytesAndAStepWithoutBytesAsALittle) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    const CActionList plan = Plan({{"big", "~~~~", ACTION_CREATE, 10 * kMiB},
                                   {"d", "~~~~", ACTION_MKDIR},
                                   {"~~~~", "gone", ACTION_DELETE},
                                   {"small", "small", ACTION_MODIFY, 100}});
    RunProgress progress(plan, RunProgress::Clock::now());
    // Half of the large file is about half of the run: the other steps weigh little.
    progress.AddCopiedBytes(5 * kMiB);
    EXPECT_NEAR(progress.Fraction(), 0.495, 0.005);
    // A copy made again does not run past the file's share of the run; what
    // was copied counts it all.
    progress.AddCopiedBytes(20 * kMiB);
    EXPECT_EQ(progress.BytesDone(), 10 * kMiB);
    EXPECT_EQ(progress.BytesCopied(), 25 * kMiB);
    progress.StepEnded(1);
    EXPECT_GT(progress.Fraction(), 0.99);
    EXPECT_LT(progress.Fraction(), 1.0);
    // A step that ended without copying (failed, or not tried) counts as whole.
    progress.StepEnded(3);
    EXPECT_EQ(progress.BytesDone(), progress.Bytes());
    EXPECT_DOUBLE_EQ(progress.Fraction(), 1.0);
}

TEST(RunProgress, EstimatesTheTimeLeftOnlyOnceItCanBe) {
    const CActionList plan =
        Plan({{"a", "~~~~", ACTION_CREATE, 1000000}, {"b", "~~~~", ACTION_CREATE, 1000000}});
    const auto start = RunProgress::Clock::now();
    using std::chrono::seconds;
    RunProgress progress(plan, start);
    // Nothing done: no rate to go by, however long it has been.
    EXPECT_FALSE(progress.TimeLeft(start + seconds(60)).has_value());
    progress.StepEnded(0);
    // Half done in 2 s is too short a run to tell from.
    EXPECT_FALSE(progress.TimeLeft(start + seconds(2)).has_value());
    EXPECT_EQ(progress.TimeLeft(start + seconds(4)), seconds(4));
    // Done: nothing left to estimate, though the flush may still take a while.
    progress.StepEnded(1);
    EXPECT_FALSE(progress.TimeLeft(start + seconds(5)).has_value());
}

TEST(ExecuteActions, CopiesOnWorkersAreToldInListOrderTheEarliestFailureFirst) {
    TempDir t;
    const std::string m = t / "m";
    const std::string s = t / "s";
    CActionList plan;
    // Directories are made while the copies before them go on: one that
    // fails, and one that copies go into.
    const auto dir = [&](const std::string& name) {
        MakeDirs(m + "/" + name);
        plan.push_back(std::make_unique<CAction>(name, "~~~~", ACTION_MKDIR));
    };
    for (int i = 0; i < 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d", i);
        WriteFile(m + "/" + name, std::string(static_cast<size_t>(i) * 97, 'x'));
        plan.push_back(std::make_unique<CAction>(name, "~~~~", ACTION_CREATE));
        if (i == 150 || i == 200) {
            dir(std::string(name) + "d");
        }
        if (i == 200) {
            WriteFile(m + "/f200d/x", "x");
            plan.push_back(std::make_unique<CAction>("f200d/x", "~~~~", ACTION_CREATE));
        }
    }
    dir("never");
    for (const OnFailure onFailure : {OnFailure::KeepGoing, OnFailure::Stop}) {
        SCOPED_TRACE(onFailure == OnFailure::Stop ? "stop" : "keep going");
        RemoveTree(s);
        MakeDirs(s);
        // The later file may well fail first on its worker: the host hears of
        // the earlier first all the same, and with Stop of it alone.
        SeveralFaults faults{{Call::Rename, EIO, 1, "f250"},
                             {Call::Rename, EIO, 1, "f100"},
                             {Call::Mkdir, EIO, 1, "f150d"}};
        OneFault none(Call::Open, 0);
        FaultyRoot master(m, platform::Mounts::Cross, none);
        FaultyRoot slave(s, platform::Mounts::Stay, faults);
        RecordingHost host;
        EXPECT_FALSE(
            ExecuteActions(host, plan, master, slave, FlushAtEnd::No, onFailure, nullptr, 4));
        const auto failed = [&](const char* name) {
            return "Error creating " + s + "/" + name +
                   " (Write error on target file: " + std::strerror(EIO) + ")";
        };
        EXPECT_TRUE(std::ranges::is_sorted(host.m_positions));
        EXPECT_EQ(std::ranges::adjacent_find(host.m_positions), host.m_positions.end());
        if (onFailure == OnFailure::Stop) {
            EXPECT_EQ(host.m_messages, std::vector<std::string>{failed("f100")});
            EXPECT_EQ(host.m_failedSteps, 1);    // a later one under way is not tried, not failed
            EXPECT_FALSE(Exists(s + "/never"));  // nothing after the failure but what was under way
            EXPECT_TRUE(Exists(s + "/f099"));
            continue;
        }
        EXPECT_EQ(host.m_messages,
                  (std::vector<std::string>{
                      failed("f100"),
                      "Error creating directory " + s + "/f150d (" + std::strerror(EIO) + ")",
                      failed("f250")}));
        EXPECT_EQ(host.m_positions.size(), plan.size());
        EXPECT_EQ(Snapshot(s).size(), plan.size() - 3);  // all but the three, "never" made
    }
}

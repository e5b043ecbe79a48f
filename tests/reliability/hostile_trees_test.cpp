// Trees that fight back: odd names, special files, files that change between
// the plan and its execution, a slave that fills up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "exec/copier.h"
#include "platform/file_ops.h"
#include "support/fault_injector.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "support/tree_model.h"

TEST(HostileTrees, OddNamesAreCopiedAndDeletedLikeAnyOther) {
    TempDir t;
    const std::vector<std::string> names = {std::string(255, 'n'),
                                            "new\nline",
                                            "bad\xFF\xFEutf8",
                                            "-rf",
                                            "--",
                                            "file~123",
                                            "~~~~",
                                            " leading and trailing ",
                                            "*?[glob]",
                                            "back\\slash",
                                            "\xC3\xA9t\xC3\xA9"};
    for (const std::string& name : names) {
        WriteFile(t / "m/" + name, "content of " + name);
        WriteFile(t / "s/old " + name.substr(0, 200), "stale");
    }
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host))
        << (host.m_messages.empty() ? "" : host.m_messages[0]);
    EXPECT_EQ(Snapshot(t / "s"), Snapshot(t / "m"));
    EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());
}

// Names that stand in the list between a folder and what it holds: a
// sibling named as the folder is followed by a byte before the separator
// ("pics.zip", "pics 2") leaves it free to move whole; a case twin, whose
// entries stand among its own, does not (what lay past them would travel
// with the rename unplanned): that folder moves file by file.
TEST(HostileTrees, FoldersWithNamesBetweenThemAndTheirEntriesMoveWholeOnlyWhenWhole) {
    TempDir t;
    time_t time = 1000000000;
    for (const char* name : {"old/a", "old/d", "OLD/c", "pics/p", "pics/q/r", "pics 2/s"}) {
        WriteFile(t / "s/" + name, std::string("content of ") + name, ++time);
    }
    WriteFile(t / "s/pics.zip", "zip", time);
    WriteFile(t / "m/pics.zip", "zip", time);
    WriteFile(t / "m/new/a", "content of old/a", 1000000001);
    WriteFile(t / "m/OLD/c", "content of OLD/c", 1000000003);
    WriteFile(t / "m/photos/p", "content of pics/p", 1000000004);
    WriteFile(t / "m/photos/q/r", "content of pics/q/r", 1000000005);
    std::vector<std::string> moves;
    for (const auto& action : PlanRun(t / "m", t / "s")) {
        if (action->GetKind() == ACTION_MOVE) {
            moves.push_back(action->GetSlavePath() + " -> " + action->GetMasterPath() +
                            (action->GetMoveSource().isDirectory ? " whole" : ""));
        }
    }
    EXPECT_EQ(moves, (std::vector<std::string>{"old/a -> new/a", "pics -> photos whole"}));
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host))
        << (host.m_messages.empty() ? "" : host.m_messages[0]);
    EXPECT_EQ(Snapshot(t / "s"), Snapshot(t / "m"));
}

TEST(HostileTrees, IgnorePatternsForOddNamesLeaveOutThoseNamesExactly) {
    TempDir t;
    // Each pattern, escaped where an ignore file would read it otherwise,
    // leaves out the first name of its pair and not the second.
    const std::pair<std::string, std::pair<std::string, std::string>> cases[] = {
        {"\\# not a comment", {"# not a comment", "not a comment"}},
        {"\\!bang", {"!bang", "bang"}},
        {"trail\\ ", {"trail ", "trail"}},
        {"sp ace", {"sp ace", "space"}},
        {"*.tmp", {"bad\xFF\xFE.tmp", "bad\xFF\xFE.tmpx"}},
        {"x\\*y", {"x*y", "xzy"}},
        {"[[]br]", {"[br]", "br"}},
    };
    std::string rules;
    for (const auto& [pattern, names] : cases) {
        rules += pattern + "\n";
        WriteFile(t / "m/" + names.first, "master");
        WriteFile(t / "m/" + names.second, "master");
        WriteFile(t / "s/" + names.first, "the slave's own");
    }
    WriteFile(t / "m/.kelvadignore", rules);
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host))
        << (host.m_messages.empty() ? "" : host.m_messages[0]);
    for (const auto& [pattern, names] : cases) {
        EXPECT_EQ(ReadFile(t / "s/" + names.first), "the slave's own") << pattern;
        EXPECT_EQ(ReadFile(t / "s/" + names.second), "master") << pattern;
    }
    EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());
}

TEST(HostileTrees, IgnoreFilesAreReadWholeThroughLinksBeneathTheMasterOrRefused) {
    // How the master's root ignore file is made, and the message that refuses
    // the run (empty: the rules apply, the slave's x.keep stays).
    struct Case {
        const char* name;
        std::function<void(const std::string& m)> make;
        std::string refusal;
    };
    const Case cases[] = {
        {"a link into the master, as dotfile managers make",
         [](const std::string& m) {
             WriteFile(m + "/dotfiles/kelvadignore", "*.keep\n");
             ASSERT_EQ(::symlink("dotfiles/./kelvadignore", (m + "/.kelvadignore").c_str()), 0);
         },
         ""},
        {"patterns after the first mebibyte",
         [](const std::string& m) {
             WriteFile(m + "/.kelvadignore", std::string(2 << 20, '#') + "\n*.keep\n");
         },
         ""},
        {"a link out of the master",
         [](const std::string& m) {
             WriteFile(m + "/../elsewhere", "*.keep\n");
             ASSERT_EQ(::symlink("../elsewhere", (m + "/.kelvadignore").c_str()), 0);
         },
         "a link that leads outside the master directory"},
        {"a dangling link",
         [](const std::string& m) {
             ASSERT_EQ(::symlink("gone", (m + "/.kelvadignore").c_str()), 0);
         },
         "No such file or directory"},
        {"a FIFO",
         [](const std::string& m) { ASSERT_EQ(::mkfifo((m + "/.kelvadignore").c_str(), 0600), 0); },
         "not a regular file"},
        {"a directory", [](const std::string& m) { MakeDirs(m + "/.kelvadignore"); },
         "not a regular file"},
        {"too large to be one",
         [](const std::string& m) {
             WriteFile(m + "/.kelvadignore", "");
             ASSERT_EQ(::truncate((m + "/.kelvadignore").c_str(), (64 << 20) + 1), 0);
         },
         "larger than 64 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        WriteFile(t / "m/a", "x");
        WriteFile(t / "s/x.keep", "the slave's own");
        c.make(t / "m");
        RecordingHost host;
        const bool synced = SyncRun(t / "m", t / "s", host);
        EXPECT_TRUE(Exists(t / "s/x.keep"));
        if (c.refusal.empty()) {
            EXPECT_TRUE(synced) << (host.m_messages.empty() ? "" : host.m_messages[0]);
        } else {
            EXPECT_FALSE(synced);
            EXPECT_EQ(host.m_messages,
                      (std::vector<std::string>{"Error reading " + t.Path() + "/m/.kelvadignore (" +
                                                c.refusal + ")"}));
            EXPECT_FALSE(Exists(t / "s/a"));  // refused before anything changed
        }
    }
}

TEST(HostileTrees, SpecialFilesOnEitherSideKeepTheirPathOutOfTheMirror) {
    TempDir t;
    WriteFile(t / "m/plain", "x");
    ASSERT_EQ(::mkfifo((t / "m/fifo").c_str(), 0600), 0);
    const bool haveDevice = ::mknod((t / "m/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    ASSERT_EQ(::symlink("/etc/passwd", (t / "m/outside").c_str()), 0);
    ASSERT_EQ(::symlink((t / "m").c_str(), (t / "m/loop").c_str()), 0);
    ASSERT_EQ(::symlink("../elsewhere/proj", (t / "m/proj").c_str()), 0);  // a folder moved away
    // The slave's entries at those paths are the slave's own: neither deleted
    // nor replaced, whatever they are.
    WriteFile(t / "s/proj/a", "1");
    WriteFile(t / "s/proj/sub/b", "2");
    WriteFile(t / "s/fifo", "a file");
    // Links in the slave are not the run's to delete either.
    ASSERT_EQ(::symlink("/etc/passwd", (t / "s/mine").c_str()), 0);
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host))
        << (host.m_messages.empty() ? "" : host.m_messages[0]);
    EXPECT_EQ(Snapshot(t / "s"), (std::map<std::string, std::string>{{"fifo", "f:a file"},
                                                                     {"mine", "l"},
                                                                     {"plain", "f:x"},
                                                                     {"proj", "d"},
                                                                     {"proj/a", "f:1"},
                                                                     {"proj/sub", "d"},
                                                                     {"proj/sub/b", "f:2"}}));
    EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());

    // A slave folder renamed in the master, but holding a link of the slave's
    // own: moved whole, it would carry the link to a path the master lacks.
    WriteFile(t / "m/renamed/photo", "jpeg");
    WriteFile(t / "s/old/photo", "jpeg");
    SetMtime(t / "m/renamed/photo", 1'600'000'000);
    SetMtime(t / "s/old/photo", 1'600'000'000);
    ASSERT_EQ(::symlink("/etc/passwd", (t / "s/old/mine").c_str()), 0);
    RecordingHost again;
    (void)SyncRun(t / "m", t / "s", again);
    const std::map<std::string, std::string> after = Snapshot(t / "s");
    EXPECT_EQ(after.count("renamed/mine"), 0u);
    EXPECT_EQ(after.count("renamed/photo"), 1u);
    EXPECT_EQ(after.count("old/photo"), 0u);
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
    RecordingHost host;
    RecordingRequestHost request(host);
    request.m_beforeRun = [&] {
        ASSERT_EQ(request.m_log, (std::vector<std::string>{"busy", "idle", "run"}));
        ::unlink((t / "m/a-vanishes").c_str());
        WriteFile(t / "m/b-shrinks", "short");
        WriteFile(t / "m/d-appears", "d");
    };
    // A vanished source is told and skipped, no failure: the run goes on with
    // the shrunk file as it is now.
    EXPECT_EQ(RunStartRequest(request, TestRequest(t / "m", t / "s", 0)), RequestResult::Done);
    EXPECT_TRUE(host.m_messages.empty());
    EXPECT_EQ(host.m_vanished, (std::vector<std::string>{t / "m/a-vanishes"}));
    EXPECT_EQ(Snapshot(t / "s"),
              (std::map<std::string, std::string>{{"b-shrinks", "f:short"}, {"c-stays", "f:c"}}));
    // The next run plans from what is there now: the shrunk file as it is now,
    // the new one too.
    RecordingHost again;
    EXPECT_TRUE(SyncRun(t / "m", t / "s", again));
    EXPECT_EQ(Snapshot(t / "s"), Snapshot(t / "m"));
}

// Moves whose slave side changes between the plan and the rename: a source
// rewritten is copied and deleted as before (and kept, being no longer what
// was compared), a target name taken meanwhile is never replaced; two files
// of equal size and time are no move at all. A move keeps nothing; a folder
// whose move out failed stays with that file in it, the rest of it kept; a
// file gone from the master meanwhile is not brought back by a rename; a
// source gone from the slave meanwhile is the copy alone; a folder touched
// meanwhile is made and filled anew, and its old contents deleted.
TEST(HostileTrees, MovesWhoseSourceOrTargetChangeBeforeTheRename) {
    TempDir t;
    time_t time = 1000000000;  // each its own, but the duplicates
    for (const char* name : {"a/f1", "a/other", "f2", "b/f3", "b/more", "f4", "f5", "pics/top",
                             "pics/y/z", "pics.zip", "dup1"}) {
        WriteFile(t / "m/" + name, std::string("content of ") + name, ++time);
    }
    WriteFile(t / "m/dup2", "content of dup1", time);
    MakeDirs(t / "s");
    ASSERT_TRUE(SyncRun(t / "m", t / "s"));
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"a/f1", "new/f1"},
                                   {"f2", "g2"},
                                   {"b/f3", "n3"},
                                   {"f4", "g4"},
                                   {"f5", "g5"},
                                   {"dup1", "dupA"},
                                   {"dup2", "dupB"},
                                   {"pics", "photos"}}) {
        MakeDirs(t / "m/new");
        ASSERT_EQ(::rename((t / "m/" + from).c_str(), (t / "m/" + to).c_str()), 0);
    }
    // The folder moved out of goes too, kept after the move out of it.
    ASSERT_EQ(::unlink((t / "m/a/other").c_str()), 0);
    ASSERT_EQ(::rmdir((t / "m/a").c_str()), 0);
    ASSERT_EQ(::unlink((t / "m/b/more").c_str()), 0);
    ASSERT_EQ(::rmdir((t / "m/b").c_str()), 0);
    EXPECT_EQ(MovesIn(PlanRun(t / "m", t / "s")), 6u);  // not the duplicates
    RecordingHost host;
    RecordingRequestHost request(host);
    request.m_beforeRun = [&] {
        WriteFile(t / "s/f2", "CONTENT OF f2", 1000000003);  // same size and time, not the same
        WriteFile(t / "s/n3", "mine");
        ASSERT_EQ(::unlink((t / "m/g4").c_str()), 0);
        ASSERT_EQ(::unlink((t / "s/f5").c_str()), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, (t / "s/pics").c_str(), nullptr, 0), 0);
    };
    StartRequest r = TestRequest(t / "m", t / "s", 0);
    r.keeping.place = Keeping::Place::VersionsFolder;
    r.onFailure = OnFailure::KeepGoing;
    EXPECT_EQ(RunStartRequest(request, r), RequestResult::Failed);
    EXPECT_EQ(host.m_moved, std::vector<std::string>{"a/f1 -> new/f1"});
    EXPECT_EQ(host.m_movesFellBack,
              (std::vector<std::string>{"f2 -> g2", "f4 -> g4", "f5 -> g5", "pics -> photos"}));
    EXPECT_EQ(host.m_vanished, std::vector<std::string>{t / "m/g4"});
    EXPECT_EQ(host.m_messages, std::vector<std::string>{"Error moving " + t / "s/b/f3" + " to " +
                                                        t / "s/n3 (File exists)"});
    const auto [own, kept] = KeptByAnyRun(Snapshot(t / "s"));
    EXPECT_EQ(kept, (std::map<std::string, std::string>{{"a", "d"},
                                                        {"a/other", "f:content of a/other"},
                                                        {"b", "d"},
                                                        {"b/more", "f:content of b/more"},
                                                        {"dup1", "f:content of dup1"},
                                                        {"dup2", "f:content of dup1"},
                                                        {"f2", "f:CONTENT OF f2"},
                                                        {"f4", "f:content of f4"},
                                                        {"pics", "d"},
                                                        {"pics/top", "f:content of pics/top"},
                                                        {"pics/y", "d"},
                                                        {"pics/y/z", "f:content of pics/y/z"}}));
    EXPECT_EQ(own.at("g2"), "f:content of f2");
    EXPECT_EQ(own.at("n3"), "f:mine");
    EXPECT_EQ(own.at("g5"), "f:content of f5");
    EXPECT_EQ(own.at("photos/y/z"), "f:content of pics/y/z");
    EXPECT_EQ(own.at("b/f3"), "f:content of b/f3");  // left where it was
    EXPECT_TRUE(request.m_runEnd.summary.find(", 1 moved;") != std::string::npos)
        << request.m_runEnd.summary;
    EXPECT_TRUE(SyncRun(t / "m", t / "s"));
    EXPECT_EQ(KeptByAnyRun(Snapshot(t / "s")).first, Snapshot(t / "m"));
}

TEST(HostileTrees, ASlaveThatCannotBeWrittenStopsTheRunWithItsMessage) {
    TempDir t;
    WriteFile(t / "m/a", "a");
    WriteFile(t / "m/b", "b");
    MakeDirs(t / "s");
    struct ReadOnly : FaultInjector {
        int Fail(Call call, const std::string&) override {
            return call == Call::Create ? EACCES : 0;
        }
    } readOnly;
    RecordingHost host;
    EXPECT_FALSE(SyncRun(t / "m", t / "s", host, &readOnly));
    EXPECT_EQ(host.m_messages,
              (std::vector<std::string>{"Error creating " + t.Path() +
                                        "/s/a (Write error on target file: Permission denied)"}));
    EXPECT_TRUE(Snapshot(t / "s").empty());
}

// A versions folder that is a link, a mount point or read-only takes nothing:
// the step that would keep there fails with its reason and destroys nothing.
TEST(HostileTrees, AVersionsFolderThatIsALinkAMountOrReadOnlyTakesNothing) {
    TempDir t;
    WriteFile(t / "m/kept", "k", 1000000000);
    WriteFile(t / "s/kept", "k", 1000000000);
    MakeDirs(t / "elsewhere");
    const std::string versions = t / "s/.kelvad-versions";
    for (const char* kind : {"a link", "a mount", "read-only"}) {
        SCOPED_TRACE(kind);
        WriteFile(t / "s/gone", "mine");
        std::optional<BindMount> mounted;
        if (kind[2] == 'l') {
            ASSERT_EQ(::symlink((t / "elsewhere").c_str(), versions.c_str()), 0);
        } else {
            MakeDirs(versions);
            mounted.emplace(kind[2] == 'm' ? "kelvad-test" : versions, versions,
                            kind[2] == 'm' ? "tmpfs" : nullptr);
            if (!mounted->Mounted()) {
                GTEST_SKIP() << "mounting was refused here";
            }
            // A read-only bind mount of the folder onto itself.
            if (kind[2] == 'r') {
                ASSERT_EQ(::mount(nullptr, versions.c_str(), nullptr,
                                  MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
                          0);
            }
        }
        RecordingHost host;
        EXPECT_FALSE(SyncRun(t / "m", t / "s", host, nullptr, OnFailure::KeepGoing,
                             Keeping::Place::VersionsFolder));
        ASSERT_EQ(host.m_messages.size(), 1u);
        EXPECT_TRUE(host.m_messages[0].starts_with("Error deleting file " + t / "s/gone" + " ("))
            << host.m_messages[0];
        EXPECT_EQ(ReadFile(t / "s/gone"), "mine");
        EXPECT_TRUE(Snapshot(t / "elsewhere").empty());
        mounted.reset();
        RemoveTree(versions);
    }
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
    // After the failure the run goes on: what the failed copy held is free again.
    WriteFile(t / "m/zz-after", std::string(700 << 10, 'a'));
    RecordingHost host;
    const bool ok = SyncRun(t / "m", t / "s", host, nullptr, OnFailure::KeepGoing);
    const auto after = Snapshot(t / "s");
    // A run that has ended holds nothing open there: the stick can go at once.
    EXPECT_EQ(::umount((t / "s").c_str()), 0) << std::strerror(errno);
    ::umount2((t / "s").c_str(), MNT_DETACH);
    EXPECT_FALSE(ok);
    EXPECT_EQ(host.m_messages,
              (std::vector<std::string>{
                  "Error creating " + t.Path() +
                  "/s/zbig (Write error on target file: No space left on device)"}));
    EXPECT_EQ(after, (std::map<std::string, std::string>{
                         {"old", "f:newer master"},
                         {"small", "f:fits"},
                         {"zz-after", "f:" + std::string(700 << 10, 'a')}}));
}

TEST(HostileTrees, ADirectorySwappedForALinkMidRunLeadsNowhere) {
    // During the copy of a large file sorted first, a directory of one tree is
    // moved away and a link to a directory outside both trees put in its place.
    struct Case {
        std::string swapped;
        std::vector<std::string> masterFiles;
        std::vector<std::string> slaveFiles;
        std::string message;  // after the slave root
    };
    const Case cases[] = {
        {"s/sub",
         {},
         {"sub/old0.txt", "sub/old1.txt"},
         "/sub/old0.txt (Too many levels of symbolic links)"},
        {"s/sub",
         {"sub/new.txt"},
         {"sub/old.txt"},
         "/sub/new.txt (Write error on target file: Too many levels of symbolic links)"},
        {"m/sub",
         {"sub/inside.txt"},
         {},
         "/sub/inside.txt (Source file does not exist: Too many levels of symbolic links)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TempDir t;
        WriteFile(t / "m/a-big", std::string(2 * kCopyPieceBytes, 'a'));
        for (const std::string& f : c.masterFiles) {
            WriteFile(t / "m/" + f, "master");
        }
        for (const std::string& f : c.slaveFiles) {
            WriteFile(t / "s/" + f, "slave");
        }
        MakeDirs(t / "s");
        WriteFile(t / "outside/old0.txt", "precious");
        WriteFile(t / "outside/inside.txt", "secret");
        const auto outside = Snapshot(t / "outside");
        RecordingHost host;
        host.m_onPump = [&](int pump) {
            if (pump == 1) {
                ASSERT_EQ(::rename((t / c.swapped).c_str(), (t / "moved").c_str()), 0);
                ASSERT_EQ(::symlink((t / "outside").c_str(), (t / c.swapped).c_str()), 0);
            }
        };
        EXPECT_FALSE(SyncRun(t / "m", t / "s", host));
        ASSERT_EQ(host.m_messages.size(), 1u);
        EXPECT_NE(host.m_messages[0].find(t.Path() + "/s" + c.message), std::string::npos)
            << host.m_messages[0];
        EXPECT_EQ(Snapshot(t / "outside"), outside);
    }
}

TEST(HostileTrees, PathsLongerThanTheSystemsLimitSyncLikeAnyOther) {
    TempDir t;
    MakeDirs(t / "m");
    MakeDirs(t / "s");
    const std::string deep = MakeDeepChain(t / "m", std::string(50, 'd'), 120, "deep");
    MakeDeepChain(t / "s", std::string(50, 'o'), 120, "stale");
    ASSERT_GT(deep.size(), 6000u);
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host)) << host.m_messages.at(0);
    EXPECT_EQ(ReadFileBeneath(t / "s", deep), "deep");
    EXPECT_FALSE(Exists(t / "s/" + std::string(50, 'o')));
    EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());
}

namespace {

// Whether the directories `a` and `b`, opened as roots are, overlap.
bool Overlap(const std::string& a, const std::string& b) {
    const auto rootA = platform::OpenTreeRoot(a);
    const auto rootB = platform::OpenTreeRoot(b);
    const platform::Result<bool> overlap = rootA->Overlaps(*rootB, {});
    return overlap.ok() && *overlap;
}

}  // namespace

TEST(HostileTrees, RootsThatOverlapThroughABindMountAreTold) {
    TempDir t;
    WriteFile(t / "m/sub/aaa.txt", "ONLY");
    MakeDirs(t / "other");
    BindMount bound(t / "m", t / "B");
    if (!bound.Mounted()) {
        GTEST_SKIP()
            << "bind mounts are refused here; links and \"..\" are checked by the dialog tests";
    }
    EXPECT_TRUE(Overlap(t / "m", t / "B/sub"));  // the slave inside the master
    EXPECT_TRUE(Overlap(t / "B/sub", t / "m"));  // the master inside the slave
    EXPECT_TRUE(Overlap(t / "m", t / "B"));      // one directory, two names
    EXPECT_FALSE(Overlap(t / "B/sub", t / "other"));
    // A subdirectory of the master mounted elsewhere is not below the master by
    // "..", and is inside it all the same.
    BindMount subtree(t / "m/sub", t / "C");
    ASSERT_TRUE(subtree.Mounted());
    EXPECT_TRUE(Overlap(t / "m", t / "C"));
    EXPECT_TRUE(Overlap(t / "C", t / "m"));
    EXPECT_FALSE(Overlap(t / "C", t / "other"));
}

// A FUSE pass-through view of the master's parent shows the master's own
// files under inode numbers of its own, so only the run's marker tells that
// the slave is the master seen again: inside it, holding it, or itself.
TEST(HostileTrees, AViewOfTheMasterThroughFuseIsAnOverlap) {
    TempDir t;
    WriteFile(t / "P/m/a", "precious");
    WriteFile(t / "P/m/sub/b", "precious");
    MakeDirs(t / "V");
    if (std::system(
            ("bindfs -o nonempty '" + t / "P" + "' '" + t / "V" + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "no FUSE view could be mounted here (bindfs missing, or FUSE refused)";
    }
    const auto before = Snapshot(t / "P");
    for (const std::string& slave : {t / "V", t / "V/m/sub", t / "V/m"}) {
        SCOPED_TRACE(slave);
        RecordingHost host;
        RecordingRequestHost request(host);
        StartRequest r = TestRequest(t / "P/m", slave, 0);
        r.maxDelete = -1;
        request.m_confirmDeletion = true;  // as --max-delete=all in a cron job
        EXPECT_EQ(RunStartRequest(request, r), RequestResult::Refused);
        EXPECT_EQ(host.m_messages,
                  (std::vector<std::string>{"Master and slave directories overlap"}));
        EXPECT_EQ(Snapshot(t / "P"), before);  // the marker gone too
    }
    EXPECT_EQ(
        std::system(("fusermount -u '" + t / "V" + "' || umount -l '" + t / "V" + "'").c_str()), 0);
}

// Slaves on real file systems made for the test: exFAT through FUSE (no
// unnamed files, no RENAME_NOREPLACE, no hard links, letter case ignored),
// NTFS through FUSE, and ext2 with 128-byte inodes (times kept to the second).
TEST(HostileTrees, SlavesOnOtherFileSystemsTakeEveryChangeAndConverge) {
    struct FileSystem {
        const char* name;
        const char* make;   // {image} is replaced by the image's path
        const char* mount;  // {device} and {dir} likewise
    };
    const FileSystem systems[] = {
        {"exFAT", "mkfs.exfat {image}", "mount.exfat-fuse -o nonempty {device} {dir}"},
        {"NTFS", "mkntfs -F -f -q {image}", "ntfs-3g {device} {dir}"},
        {"ext2 with 128-byte inodes", "mkfs.ext2 -q -F -I 128 {image}", "mount {device} {dir}"},
    };
    int tried = 0;
    for (const FileSystem& fs : systems) {
        SCOPED_TRACE(fs.name);
        TempDir t;
        MakeDirs(t / "s");
        WriteFile(t / "image", "");
        ASSERT_EQ(::truncate((t / "image").c_str(), 64 << 20), 0);
        const auto fill = [&](std::string command) {
            for (auto [key, value] : {std::pair<std::string, std::string>{"{image}", t / "image"},
                                      {"{device}", t / "device"},
                                      {"{dir}", t / "s"}}) {
                for (size_t at; (at = command.find(key)) != std::string::npos;) {
                    command.replace(at, key.size(), value);
                }
            }
            return command + " >/dev/null 2>&1";
        };
        const std::string loop = "losetup -f --show " + t / "image" + " > " + t / "device.name";
        if (std::system(fill(fs.make).c_str()) != 0 || std::system(loop.c_str()) != 0) {
            std::printf("skipped %s: cannot make the image or attach a loop device\n", fs.name);
            continue;
        }
        std::string device = ReadFile(t / "device.name");
        device.erase(device.find_last_not_of('\n') + 1);
        ASSERT_EQ(::symlink(device.c_str(), (t / "device").c_str()), 0);
        struct Detach {
            std::string device;
            std::string dir;
            bool mounted;
            ~Detach() {
                if (mounted) {
                    (void)!std::system(("umount " + dir).c_str());
                }
                (void)!std::system(("losetup -d " + device).c_str());
            }
        } detach{device, t / "s", std::system(fill(fs.mount).c_str()) == 0};
        if (detach.mounted) {
            ++tried;
            WriteFile(t / "m/Readme.txt", "read me", 1000000000);
            // Written a while ago: FAT keeps times to 2 s, so a file written
            // just before its copy may be copied once more on the next run.
            WriteFile(t / "m/dir/inner.bin", std::string(3 << 20, 'x'), 1000000000);
            WriteFile(t / "m/private.key", "secret", 1000000000);
            // Half a second past: a slave that keeps seconds keeps it as
            // earlier, and must not copy it again on every run.
            WriteFile(t / "m/half.txt", "half");
            const timespec half[2] = {{1000000000, 500000000}, {1000000000, 500000000}};
            ASSERT_EQ(::utimensat(AT_FDCWD, (t / "m/half.txt").c_str(), half, 0), 0);
            RecordingHost host;
            EXPECT_TRUE(SyncRun(t / "m", t / "s", host)) << host.m_messages.at(0);
            EXPECT_EQ(ReadFile(t / "s/dir/inner.bin"), std::string(3 << 20, 'x'));
            EXPECT_EQ(ReadFile(t / "s/private.key"), "secret");
            struct stat copied;
            ASSERT_EQ(::stat((t / "s/private.key").c_str(), &copied), 0);
            EXPECT_NEAR(static_cast<double>(copied.st_mtime), 1000000000,
                        2);  // the master's time, as the slave keeps it
            // A name whose letter case changed in the master, and new content.
            ASSERT_EQ(::rename((t / "m/Readme.txt").c_str(), (t / "m/README.txt").c_str()), 0);
            WriteFile(t / "m/private.key", "a longer secret", 1000000000);
            RecordingHost again;
            EXPECT_TRUE(SyncRun(t / "m", t / "s", again)) << again.m_messages.at(0);
            EXPECT_EQ(ReadFile(t / "s/private.key"), "a longer secret");
            EXPECT_EQ(ReadFile(t / "s/README.txt"), "read me");
            EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());
            // What a run replaces or deletes is kept by a rename this file
            // system can make, content and time.
            WriteFile(t / "m/private.key", "the longest secret", 1000000000);
            WriteFile(t / "s/dir/only here/x", "mine");
            RecordingHost keeping;
            EXPECT_TRUE(SyncRun(t / "m", t / "s", keeping, nullptr, OnFailure::Stop,
                                Keeping::Place::VersionsFolder))
                << keeping.m_messages.at(0);
            const auto [own, kept] = KeptByAnyRun(Snapshot(t / "s"));
            EXPECT_EQ(kept,
                      (std::map<std::string, std::string>{{"dir", "d"},
                                                          {"dir/only here", "d"},
                                                          {"dir/only here/x", "f:mine"},
                                                          {"private.key", "f:a longer secret"}}));
            EXPECT_EQ(own.at("private.key"), "f:the longest secret");
            EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());
            if (std::string(fs.name) == "exFAT") {
                // Two spellings of one directory on a volume that ignores case
                // (each with its own inode number through FUSE) overlap.
                WriteFile(t / "s/vol/docs/thesis.tex", "thesis");
                WriteFile(t / "s/vol/DOCS/SUB/old.txt", "old");
                WriteFile(t / "s/vol/\xC3\xA9t\xC3\xA9/sub/e.txt", "e");  // "été"
                const auto volume = Snapshot(t / "s/vol");
                for (const auto& [master, slave] :
                     {std::pair<std::string, std::string>{"docs", "DOCS/SUB"},
                      {"\xC3\x89T\xC3\x89/sub", "\xC3\xA9t\xC3\xA9"}}) {  // "ÉTÉ/sub", "été"
                    RecordingHost overlap;
                    EXPECT_FALSE(SyncRun(t / "s/vol/" + master, t / "s/vol/" + slave, overlap));
                    EXPECT_EQ(overlap.m_messages,
                              (std::vector<std::string>{"Master and slave directories overlap"}));
                }
                EXPECT_EQ(Snapshot(t / "s/vol"), volume);
                (void)!std::system(("rm -rf '" + t / "s/vol" + "'").c_str());
                // A folder renamed but for case in the master keeps its ignore
                // rules for the slave's spelling: what they leave out stays.
                WriteFile(t / "m/Proj/.kelvadignore", "*.keep\n", 1000000000);
                WriteFile(t / "m/Proj/a.txt", "a", 1000000000);
                WriteFile(t / "s/Proj/local.keep", "mine");
                RecordingHost first;
                EXPECT_TRUE(SyncRun(t / "m", t / "s", first)) << first.m_messages.at(0);
                ASSERT_EQ(::rename((t / "m/Proj").c_str(), (t / "m/proj").c_str()), 0);
                RecordingHost renamed;
                EXPECT_TRUE(SyncRun(t / "m", t / "s", renamed)) << renamed.m_messages.at(0);
                EXPECT_EQ(ReadFile(t / "s/Proj/local.keep"), "mine");
                EXPECT_EQ(ReadFile(t / "s/proj/a.txt"), "a");
                // So do patterns that name the directory, as the master spells it.
                WriteFile(t / "m/.kelvadignore", "/proj/*.k2\n", 1000000000);
                WriteFile(t / "s/Proj/b.k2", "mine too");
                RecordingHost named;
                EXPECT_TRUE(SyncRun(t / "m", t / "s", named)) << named.m_messages.at(0);
                EXPECT_EQ(ReadFile(t / "s/Proj/b.k2"), "mine too");
                // A name whose first letter, beyond A-Z, differs but for case
                // ("ölfile", "Ölfile"): the slave's file takes the master's
                // spelling, though the volume takes one for the other.
                WriteFile(t / "m/\xC3\xB6lfile", "oil", 1000000000);
                WriteFile(t / "s/\xC3\x96lfile", "oil", 1000000000);
                RecordingHost respelled;
                EXPECT_TRUE(SyncRun(t / "m", t / "s", respelled)) << respelled.m_messages.at(0);
                EXPECT_EQ(Snapshot(t / "s").count("\xC3\xB6lfile"), 1u);
                EXPECT_EQ(ReadFile(t / "s/\xC3\xB6lfile"), "oil");
                EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());
                // A spelling that leads to another file holds its name: that
                // file is never replaced, and the one renamed stays.
                WriteFile(t / "s/\xC3\x84rger", "theirs");  // "Ärger"
                WriteFile(t / "s/mine", "mine");
                {
                    const auto root = platform::OpenTreeRoot(t / "s", platform::Mounts::Stay);
                    const platform::Result<int> top = root->OpenDirectory("");
                    ASSERT_TRUE(top.ok());
                    bool moved = true;
                    EXPECT_TRUE(root->MoveInto("mine", *top, "\xC3\xA4rger", {}, moved).Is(EEXIST));
                    EXPECT_FALSE(moved);
                    (void)root->Close(*top);
                }
                EXPECT_EQ(ReadFile(t / "s/\xC3\x84rger"), "theirs");
                EXPECT_EQ(ReadFile(t / "s/mine"), "mine");
                ASSERT_EQ(::unlink((t / "s/\xC3\x84rger").c_str()), 0);
                ASSERT_EQ(::unlink((t / "s/mine").c_str()), 0);
                // Master entries whose names differ but for case, a large file
                // first: with workers as on one thread, the first in the plan
                // takes the name and the second fails as a name taken, a
                // folder as a file.
                WriteFile(t / "m/twins/Bar", std::string(8 << 20, 'r'), 1000000000);
                WriteFile(t / "m/twins/bar/x", "x", 1000000000);
                WriteFile(t / "m/twins/Big", std::string(8 << 20, 'b'), 1000000000);
                WriteFile(t / "m/twins/big", "small", 1000000000);
                for (const unsigned jobs : {1u, 4u}) {
                    SCOPED_TRACE(jobs);
                    (void)!std::system(("rm -rf '" + t / "s/twins" + "'").c_str());
                    RecordingHost twins;
                    EXPECT_FALSE(SyncRun(t / "m", t / "s", twins, nullptr, OnFailure::KeepGoing,
                                         Keeping::Place::Nowhere, jobs));
                    EXPECT_EQ(twins.m_messages,
                              (std::vector<std::string>{
                                  "Error creating directory " + t / "s/twins/bar (File exists)",
                                  "Error creating " +
                                      t / "s/twins/big (Target file exists (and should not))"}));
                    EXPECT_EQ(ReadFile(t / "s/twins/Big"), std::string(8 << 20, 'b'));
                }
                (void)!std::system(
                    ("rm -rf '" + t / "m/twins" + "' '" + t / "s/twins" + "'").c_str());
                // A master directory that cannot be read, renamed but for case,
                // still keeps its slave counterpart from being emptied, and the
                // run says it could not be read.
                ASSERT_EQ(::rename((t / "m/dir").c_str(), (t / "m/DIR").c_str()), 0);
                OneFault unreadable(Call::OpenDir, EACCES, 1, "m/DIR");
                RecordingHost hidden;
                EXPECT_FALSE(SyncRun(t / "m", t / "s", hidden, &unreadable));
                EXPECT_EQ(hidden.m_messages,
                          (std::vector<std::string>{"Error reading directory " + t.Path() +
                                                    "/m/DIR (Permission denied)"}));
                EXPECT_EQ(ReadFile(t / "s/dir/inner.bin"), std::string(3 << 20, 'x'));
            }
        } else {
            std::printf("skipped %s: the FUSE mount was refused\n", fs.name);
        }
    }
    if (tried == 0) {
        GTEST_SKIP() << "no FUSE file system could be mounted here";
    }
}

TEST(HostileTrees, MountPointsInsideTheSlaveAreNotCrossedAndMountsShowingTheOtherTreeAreRefused) {
    TempDir t;
    WriteFile(t / "m/data.csv", "data");
    WriteFile(t / "m/usb/new.txt", "new");
    WriteFile(t / "m/sub/thesis.tex", "thesis");
    MakeDirs(t / "s");
    BindMount stick("kelvad-test", t / "s/usb", "tmpfs", "size=1m");
    if (!stick.Mounted()) {
        GTEST_SKIP() << "mounts are refused here";
    }
    WriteFile(t / "s/usb/stale.txt", "on the stick");
    // Nothing on the stick is deleted, nothing written there; the step that
    // would write there says where the mount is.
    RecordingHost host;
    EXPECT_FALSE(SyncRun(t / "m", t / "s", host));
    EXPECT_EQ(host.m_messages,
              (std::vector<std::string>{"Error creating " + t.Path() +
                                        "/s/usb/new.txt (Write error on "
                                        "target file: another file system is mounted at " +
                                        t.Path() + "/s/usb)"}));
    EXPECT_EQ(ReadFile(t / "s/usb/stale.txt"), "on the stick");
    EXPECT_FALSE(Exists(t / "s/usb/new.txt"));
    EXPECT_EQ(ReadFile(t / "s/data.csv"), "data");

    // A mount inside either tree that shows the other ends the request before
    // anything changes: the master inside the slave, the slave inside the master.
    MakeDirs(t / "m/loop");
    const auto masterBefore = Snapshot(t / "m");
    for (const auto& [from, at] : {std::pair<std::string, std::string>{t / "m", t / "s/aaa"},
                                   {t / "m/sub", t / "s/bbb"},
                                   {t / "s", t / "m/loop"},
                                   {t / "m", t / "s/usb/deeper"}}) {
        SCOPED_TRACE(at);
        BindMount shown(from, at);
        ASSERT_TRUE(shown.Mounted());
        RecordingHost refused;
        EXPECT_FALSE(SyncRun(t / "m", t / "s", refused));
        EXPECT_EQ(refused.m_messages,
                  (std::vector<std::string>{"Master and slave directories overlap"}));
    }
    EXPECT_EQ(Snapshot(t / "m"), masterBefore);
    // A subdirectory of the master moved over a newer mount to stand as the
    // slave: placed by its own mount, not by the last one at its path.
    BindMount newer("kelvad-test", t / "Y/s", "tmpfs", nullptr);
    BindMount moving(t / "m/sub", t / "Y/tmp");
    ASSERT_TRUE(newer.Mounted() && moving.Mounted());
    ASSERT_EQ(::mount((t / "Y/tmp").c_str(), (t / "Y/s").c_str(), nullptr, MS_MOVE, nullptr), 0);
    RecordingHost moved;
    EXPECT_FALSE(SyncRun(t / "m", t / "Y/s", moved));
    EXPECT_EQ(moved.m_messages, (std::vector<std::string>{"Master and slave directories overlap"}));
    ::umount2((t / "Y/s").c_str(), MNT_DETACH);
    EXPECT_EQ(Snapshot(t / "m"), masterBefore);
}

// Folders moved in the master into and out of what the slave has mounted
// on one of its folders (a file system of its own, or a folder elsewhere
// bound there): no rename crosses the mount, nothing on it is written or
// deleted, and the rest of the slave becomes the mirror.
TEST(HostileTrees, FoldersMovedIntoOrOutOfAMountInsideTheSlaveNeverCrossIt) {
    for (const bool bound : {false, true}) {
        SCOPED_TRACE(bound ? "bind mount" : "tmpfs");
        TempDir t;
        WriteFile(t / "m/out/folder/a", "going onto the mount", 1000000001);
        WriteFile(t / "m/usb/in/c", "coming off the mount", 1000000002);
        WriteFile(t / "s/out/folder/a", "going onto the mount", 1000000001);
        MakeDirs(t / "elsewhere");
        BindMount stick(bound ? t / "elsewhere" : "kelvad-test", t / "s/usb",
                        bound ? nullptr : "tmpfs", bound ? nullptr : "size=1m");
        if (!stick.Mounted()) {
            GTEST_SKIP() << "mounts are refused here";
        }
        WriteFile(t / "s/usb/in/c", "coming off the mount", 1000000002);
        ASSERT_EQ(::rename((t / "m/out/folder").c_str(), (t / "m/usb/folder").c_str()), 0);
        ASSERT_EQ(::rename((t / "m/usb/in").c_str(), (t / "m/out/in").c_str()), 0);
        const auto onTheMount = Snapshot(t / "s/usb");
        EXPECT_EQ(MovesIn(PlanRun(t / "m", t / "s")), 0u);
        RecordingHost host;
        EXPECT_FALSE(SyncRun(t / "m", t / "s", host, nullptr, OnFailure::KeepGoing));
        EXPECT_TRUE(host.m_moved.empty());
        EXPECT_EQ(host.m_messages, std::vector<std::string>{
                                       "Error creating directory " + t / "s/usb/folder" +
                                       " (another file system is mounted at " + t / "s/usb" + ")"});
        EXPECT_EQ(Snapshot(t / "s/usb"), onTheMount);
        EXPECT_EQ(Snapshot(t / "s/out"), Snapshot(t / "m/out"));
    }
}

TEST(HostileTrees, ABindMountOfAnAncestorInsideTheMasterIsReadOnce) {
    TempDir t;
    WriteFile(t / "m/sub/a.txt", "a");
    MakeDirs(t / "s");
    BindMount loop(t / "m", t / "m/sub/again");
    BindMount self(t / "m", t / "m/self");  // its ".." is itself
    if (!loop.Mounted() || !self.Mounted()) {
        GTEST_SKIP() << "bind mounts are refused here";
    }
    RecordingHost host;
    ASSERT_TRUE(SyncRun(t / "m", t / "s", host)) << host.m_messages.at(0);
    EXPECT_EQ(ReadFile(t / "s/sub/a.txt"), "a");
    EXPECT_TRUE(Exists(t / "s/sub/again"));
    EXPECT_FALSE(Exists(t / "s/sub/again/sub"));
    EXPECT_FALSE(Exists(t / "s/self/sub"));
    EXPECT_TRUE(PlanRun(t / "m", t / "s").empty());
}

TEST(HostileTrees, NeitherARepointedRootNorAMovedDirectoryLeadsAStepOutOfTheScannedSlave) {
    TempDir t;
    WriteFile(t / "m/photos/keep.jpg", "keep", 1000000000);
    WriteFile(t / "m/new.txt", "new");
    WriteFile(t / "real/photos/keep.jpg", "keep", 1000000000);
    WriteFile(t / "real/photos/old1.jpg", "old");
    WriteFile(t / "real/photos/old2.jpg", "old");
    WriteFile(t / "victim/photos/old1.jpg", "victim's");
    WriteFile(t / "victim/precious", "victim's");
    ASSERT_EQ(::symlink((t / "real").c_str(), (t / "s").c_str()), 0);
    RecordingHost host;
    // After the first deletion the directory is moved out of the slave and a
    // new one put in its place.
    bool moved = false;
    host.m_onPump = [&](int) {
        if (!moved && !Exists(t / "real/photos/old1.jpg")) {
            moved = true;
            ASSERT_EQ(::rename((t / "real/photos").c_str(), (t / "rescued").c_str()), 0);
            WriteFile(t / "real/photos/old2.jpg", "in its place");
        }
    };
    RecordingRequestHost request(host);
    // Between the plan and its execution the slave's path is made to point elsewhere.
    request.m_beforeRun = [&] {
        ASSERT_EQ(::unlink((t / "s").c_str()), 0);
        ASSERT_EQ(::symlink((t / "victim").c_str(), (t / "s").c_str()), 0);
    };
    EXPECT_EQ(RunStartRequest(request, TestRequest(t / "m", t / "s", 1)), RequestResult::Done);
    EXPECT_EQ(Snapshot(t / "victim"),
              (std::map<std::string, std::string>{
                  {"photos", "d"}, {"photos/old1.jpg", "f:victim's"}, {"precious", "f:victim's"}}));
    EXPECT_EQ(ReadFile(t / "real/new.txt"), "new");
    EXPECT_EQ(ReadFile(t / "rescued/old2.jpg"), "old");  // the moved directory got no more changes
    EXPECT_FALSE(Exists(t / "rescued/old1.jpg"));
    EXPECT_FALSE(Exists(t / "real/photos/old2.jpg"));
}

// Each call of a root finds its directory anew, whichever call came before: a
// directory moved out of the tree after one call receives nothing from the
// next, and nothing is read from it; the one put in its place is used. A
// move's rename takes its source only as it was described: the file found in
// its place is another, and stays, as does the one described.
TEST(HostileTrees, ADirectoryMovedOutBetweenTwoCallsOfARootIsNotUsedByTheSecond) {
    using Root = platform::TreeRoot;
    platform::FileInfo described;  // "d/old" before its directory moved out
    const auto linked = [](Root& r) {
        const platform::Result<int> fd = r.CreateUnnamed("d", 0644);
        const bool ok = fd.ok() && r.LinkUnnamed(*fd, "d/f").ok();
        return !fd.ok() || (r.Close(*fd).ok() && ok);
    };
    const auto read = [](Root& r) {
        platform::FileInfo info;
        const platform::Result<int> fd = r.OpenForRead("d/old", info);
        char buffer[16] = {};
        const bool ok =
            fd.ok() && std::string(buffer, *r.Read(*fd, buffer, sizeof buffer)) == "new";
        return fd.ok() && r.Close(*fd).ok() && ok;
    };
    const std::pair<const char*, std::function<bool(Root&)>> calls[] = {
        {"create",
         [](Root& r) {
             const platform::Result<int> fd = r.CreateExclusive("d/f", 0644);
             return fd.ok() && r.Close(*fd).ok();
         }},
        {"unnamed", linked},
        {"read", read},
        {"mkdir", [](Root& r) { return r.MakeDirectory("d/f", 0755).ok(); }},
        {"rename", [](Root& r) { return r.RenameReplace("d/old", "d/f").ok(); }},
        {"remove", [](Root& r) { return r.RemoveFile("d/old").ok(); }},
        {"chmod", [](Root& r) { return r.SetMode("d/old", 0600).ok(); }},
        {"move",
         [&described](Root& r) {
             const platform::Result<int> top = r.OpenDirectory("");
             const bool refused =
                 top.ok() &&
                 r.MoveIntoIfUnchanged("d/old", *top, "g", described, true).Is(platform::kChanged);
             platform::FileInfo info;
             return top.ok() && r.Close(*top).ok() && refused && r.DescribeName("d/old", info).ok();
         }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        TempDir t;
        WriteFile(t / "s/d/old", "old");
        const auto root = platform::OpenTreeRoot(t / "s", platform::Mounts::Stay);
        ASSERT_TRUE(root->DescribeName("d/old", described).ok());  // resolves "d"
        ASSERT_EQ(::rename((t / "s/d").c_str(), (t / "moved").c_str()), 0);
        WriteFile(t / "s/d/old", "new");
        EXPECT_TRUE(call(*root));
        EXPECT_EQ(Snapshot(t / "moved"), (std::map<std::string, std::string>{{"old", "f:old"}}));
    }
}

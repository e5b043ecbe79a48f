#include "exec/copier.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/file.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "platform/file_ops.h"
#include "support/fault_injector.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace {

// Copies `source` to `target`, full paths, with the directories that hold them
// as the roots (wrapped with `faults` when given); the copy's result code.
int CopyPaths(ICopyHost& host, const std::string& source, const std::string& target, bool replace,
              FaultInjector* faults = nullptr) {
    OneFault none(Call::Open, 0);
    auto split = [](const std::string& path) { return path.substr(0, path.rfind('/')); };
    FaultyRoot master(split(source), platform::Mounts::Cross, faults != nullptr ? *faults : none);
    FaultyRoot slave(split(target), platform::Mounts::Stay, faults != nullptr ? *faults : none);
    return CopyOneFile(host, master, source.substr(source.rfind('/') + 1), slave,
                       target.substr(target.rfind('/') + 1),
                       replace ? CopyMode::Replace : CopyMode::Create)
        .code;
}

std::string Temp(const std::string& target) {
    return TemporaryName(target, TemporaryTag());
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
    }
    return s;
}

}  // namespace

TEST(TemporaryNameTest, TagIsTheProcessIdModuloAThousandInThreeDigits) {
    EXPECT_EQ(TemporaryName("/s/a.txt", 7), "/s/a.txt~007");
    EXPECT_EQ(TemporaryName("/s/a.txt", 456), "/s/a.txt~456");
    // The longest possible name still has a temporary name a directory can hold.
    const std::string longest(255, 'n');
    EXPECT_EQ(TemporaryName("/s/" + longest, 7), "/s/" + longest.substr(0, 251) + "~007");
    EXPECT_EQ(TemporaryName(std::string(252, 'x'), 7), std::string(251, 'x') + "~007");
    // A cut never splits a character.
    std::string e127;
    for (int i = 0; i < 127; ++i) {
        e127 += "\xC3\xA9";
    }
    EXPECT_EQ(TemporaryName(e127, 7), e127.substr(0, 250) + "~007");
}

TEST(CopyOneFileTest, CopiesInPiecesPumpingAfterEachIncludingTheEmptyLast) {
    TempDir t;
    RecordingHost host;
    WriteFile(t / "empty", "");
    EXPECT_EQ(CopyPaths(host, t / "empty", t / "empty.out", false), COPY_OK);
    EXPECT_EQ(ReadFile(t / "empty.out"), "");
    EXPECT_EQ(host.m_pumps, 1);

    // Exactly two pieces: two full pieces and an empty last one, three pumps.
    const std::string content = Pattern(2 * kCopyPieceBytes);
    WriteFile(t / "two", content);
    host.m_pumps = 0;
    EXPECT_EQ(CopyPaths(host, t / "two", t / "two.out", false), COPY_OK);
    EXPECT_EQ(host.m_pumps, 3);
    EXPECT_EQ(ReadFile(t / "two.out"), content);
    EXPECT_FALSE(Exists(Temp(t / "two.out")));
}

TEST(CopyOneFileTest, ReplaceSwapsInTheNewContentAndLeavesNoTemporaryFile) {
    TempDir t;
    RecordingHost host;
    WriteFile(t / "src", "new content", 4102444800);  // 2100: the copy keeps even a future date
    WriteFile(t / "dst", "old");
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", true), COPY_OK);
    EXPECT_EQ(ReadFile(t / "dst"), "new content");
    EXPECT_FALSE(Exists(Temp(t / "dst")));
    EXPECT_EQ(ReadFile(t / "src"), "new content");
    for (const char* copy : {"dst", "created"}) {
        if (copy[0] == 'c') {
            EXPECT_EQ(CopyPaths(host, t / "src", t / copy, false), COPY_OK);
        }
        struct stat st;
        ASSERT_EQ(::stat((t / copy).c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 4102444800) << copy;
    }
}

TEST(CopyOneFileTest, ExistingOutputsAreLeftUntouched) {
    TempDir t;
    RecordingHost host;
    WriteFile(t / "src", "new");
    // Create mode: an existing target.
    WriteFile(t / "dst", "old");
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", false), COPY_TARGET_EXISTS);
    EXPECT_EQ(ReadFile(t / "dst"), "old");
    EXPECT_FALSE(Exists(Temp(t / "dst")));
    // Replace mode: leftover files at the temporary name and the next ones
    // (a killed run's of the same tag, or the user's) stay as they are, and
    // the copy takes the first free one; with every one taken, the copy fails
    // before anything is copied, and the target stays.
    const auto taken = [&](int k) { return TemporaryName(t / "dst", (TemporaryTag() + k) % 1000); };
    for (int k = 0; k + 1 < kTemporaryNameAttempts; ++k) {
        WriteFile(taken(k), "leftover " + std::to_string(k));
    }
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", true), COPY_OK);
    EXPECT_EQ(ReadFile(t / "dst"), "new");
    EXPECT_FALSE(Exists(taken(kTemporaryNameAttempts - 1)));
    WriteFile(t / "dst", "old");
    WriteFile(taken(kTemporaryNameAttempts - 1), "leftover too");
    const int pumps = host.m_pumps;
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", true), COPY_TARGET_EXISTS);
    EXPECT_EQ(ReadFile(t / "dst"), "old");
    EXPECT_EQ(host.m_pumps, pumps);
    for (int k = 0; k + 1 < kTemporaryNameAttempts; ++k) {
        EXPECT_EQ(ReadFile(taken(k)), "leftover " + std::to_string(k));
    }
    EXPECT_FALSE(Exists(taken(kTemporaryNameAttempts)));
}

#ifndef _WIN32
TEST(CopyOneFileTest, MissingSourceComesFirstAndCreatesNothing) {
    TempDir t;
    RecordingHost host;
    WriteFile(t / "dst", "old");
    // Nothing at the name is a source that vanished; a file where a directory
    // of its path should be is no source either, but not a vanished one.
    EXPECT_EQ(CopyPaths(host, t / "nothing", t / "dst", false), COPY_SOURCE_VANISHED);
    EXPECT_EQ(CopyPaths(host, t / "nothing", t / "dst", true), COPY_SOURCE_VANISHED);
    EXPECT_EQ(CopyPaths(host, t / "dst/x", t / "out", false), COPY_NO_SOURCE);
    EXPECT_EQ(Snapshot(t.Path()), (std::map<std::string, std::string>{{"dst", "f:old"}}));
    // A FIFO in place of the source is refused, not opened for a read that would hang.
    ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(CopyPaths(host, t / "fifo", t / "out", false), COPY_NO_SOURCE);
    EXPECT_FALSE(Exists(t / "out"));
}
#endif

TEST(CopyOneFileTest, CancelRemovesTheOutputEvenOnTheLastPiece) {
    TempDir t;
    WriteFile(t / "src", Pattern(kCopyPieceBytes + 10));
    WriteFile(t / "dst", "old");
    for (int cancelAt = 1; cancelAt <= 2; ++cancelAt) {  // 2 is the last piece
        RecordingHost host;
        host.m_cancelAtPump = cancelAt;
        EXPECT_EQ(CopyPaths(host, t / "src", t / "new", false), COPY_ABORTED);
        EXPECT_EQ(host.m_pumps, cancelAt);
        EXPECT_FALSE(Exists(t / "new"));
        EXPECT_FALSE(Exists(Temp(t / "new")));

        RecordingHost host2;
        host2.m_cancelAtPump = cancelAt;
        EXPECT_EQ(CopyPaths(host2, t / "src", t / "dst", true), COPY_ABORTED);
        EXPECT_EQ(ReadFile(t / "dst"), "old");
        EXPECT_FALSE(Exists(Temp(t / "dst")));
    }
    // On a thread with a table of open files of its own, as a worker copies:
    // the output it throws away is closed in that table, never a file of the
    // same number that the process's other threads hold open.
    std::promise<void> ownTable;
    std::promise<void> othersOpen;
    std::thread worker([&] {
        const platform::OwnFileTable table;
        ownTable.set_value();
        othersOpen.get_future().wait();
        RecordingHost host;
        host.m_cancelAtPump = 1;
        EXPECT_EQ(CopyPaths(host, t / "src", t / "new", false), COPY_ABORTED);
        while (platform::DiscardsPending()) {
            std::this_thread::yield();
        }
    });
    ownTable.get_future().wait();
    std::vector<int> held;  // at the numbers the worker's copy takes in its table
    for (int i = 0; i < 8; ++i) {
        held.push_back(::open((t / "dst").c_str(), O_RDONLY));
    }
    othersOpen.set_value();
    worker.join();
    for (const int fd : held) {
        struct stat st;
        EXPECT_EQ(::fstat(fd, &st), 0) << "descriptor " << fd;
        ::close(fd);
    }
    EXPECT_FALSE(Exists(t / "new"));
}

#if defined(__linux__) && !defined(__SANITIZE_THREAD__)  // where threads take tables of their own
// A thread with a table of its own lets go of its copies of the process's
// files as it ends: the slave's lock, which the run's root holds, is free
// once the workers are joined, and a second run may start at once.
TEST(OwnFileTableTest, LetsGoOfTheProcessFilesBeforeItsThreadEnds) {
    TempDir t;
    WriteFile(t / "lock", "");
    const int locked = ::open((t / "lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(locked, LOCK_EX), 0);
    std::promise<void> copied;
    std::promise<void> released;
    std::promise<void> checked;
    std::thread worker([&] {
        {
            const platform::OwnFileTable table;
            copied.set_value();
            released.get_future().wait();
        }
        checked.get_future().wait();  // the thread lives on meanwhile
    });
    copied.get_future().wait();
    ::close(locked);  // the worker's copy still holds the lock
    const int other = ::open((t / "lock").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    released.set_value();
    bool free = false;
    for (int waited = 0; !free && waited < 10000; ++waited) {
        free = ::flock(other, LOCK_EX | LOCK_NB) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(free);
    checked.set_value();
    worker.join();
    ::close(other);
}
#endif

TEST(CopyOneFileTest, FailuresLeaveTheOldTargetAndNoPartialOutput) {
    TempDir t;
    const std::string content = Pattern(3 * kCopyPieceBytes / 2);
    WriteFile(t / "src", content);
    WriteFile(t / "dst", "old");
    struct Case {
        const char* what;
        Call call;
        int err;
        int nth;
        int expected;
    };
    const Case cases[] = {
        {"read error", Call::Read, EIO, 2, COPY_READ_ERROR},
        {"full disk", Call::Write, ENOSPC, 1, COPY_WRITE_ERROR},
        {"late write error at close", Call::Close, EIO, 1, COPY_WRITE_ERROR},
        {"failed rename", Call::Rename, EACCES, 1, COPY_CANNOT_DELETE_TARGET},
    };
    // A new file is written without a name where the file system allows it, and
    // through the temporary name where it does not: both ways are failed.
    for (const Case& c : cases) {
        for (const char* way : {"replacing", "creating unnamed", "creating named"}) {
            SCOPED_TRACE(std::string(c.what) + " " + way);
            const bool replace = way[0] == 'r';
            const std::string target = replace ? t / "dst" : t / "fresh";
            // The kernel copy is refused first, so reads and writes do the work.
            struct Faults : FaultInjector {
                Case c;
                bool refuseUnnamed = false;
                int seen = 0;
                int Fail(Call call, const std::string&) override {
                    if (call == Call::CopyRange) {
                        return EXDEV;
                    }
                    if (call == Call::Create && refuseUnnamed) {
                        refuseUnnamed = false;
                        return EOPNOTSUPP;
                    }
                    return call == c.call && ++seen == c.nth ? c.err : 0;
                }
            } faults;
            faults.c = c;
            faults.refuseUnnamed = std::string(way) == "creating named";
            RecordingHost host;
            const int result = CopyPaths(host, t / "src", target, replace, &faults);
            const int expected = !replace && c.call == Call::Rename ? COPY_WRITE_ERROR : c.expected;
            EXPECT_EQ(result, expected);
            EXPECT_FALSE(Exists(Temp(target)));
            if (replace) {
                EXPECT_EQ(ReadFile(t / "dst"), "old");
            } else {
                EXPECT_FALSE(Exists(target));
            }
        }
    }
    EXPECT_EQ(ReadFile(t / "src"), content);
    OneFault noUnnamedFiles(Call::Create, EOPNOTSUPP);
    RecordingHost host;
    EXPECT_EQ(CopyPaths(host, t / "src", t / "fresh", false, &noUnnamedFiles), COPY_OK);
    EXPECT_TRUE(noUnnamedFiles.Fired());
    EXPECT_EQ(ReadFile(t / "fresh"), content);
    EXPECT_FALSE(Exists(Temp(t / "fresh")));
}

#ifndef _WIN32
TEST(CopyOneFileTest, KernelCopyErrorsFallBackToReadingAndWriting) {
    TempDir t;
    const std::string content = Pattern(kCopyPieceBytes + 5);
    WriteFile(t / "src", content);
    OneFault fault(Call::CopyRange, EIO, 2);
    RecordingHost host;
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", false, &fault), COPY_OK);
    EXPECT_TRUE(fault.Fired());
    EXPECT_EQ(ReadFile(t / "dst"), content);
}
#endif

TEST(CopyOneFileTest, AFailedRemovalOfThePartialOutputKeepsTheResult) {
    TempDir t;
    WriteFile(t / "src", "abc");
    struct Faults : FaultInjector {
        int Fail(Call call, const std::string&) override {
            if (call == Call::CopyRange)
                return EXDEV;
            if (call == Call::Write)
                return ENOSPC;
            if (call == Call::Unlink)
                return EBUSY;
            return 0;
        }
    } faults;
    RecordingHost host;
    const int result = CopyPaths(host, t / "src", t / "dst", false, &faults);
    EXPECT_EQ(result, COPY_WRITE_ERROR);
    EXPECT_FALSE(Exists(t / "dst"));  // the target's name never held the partial copy
}

#ifndef _WIN32
TEST(CopyOneFileTest, NeverWritesThroughASymbolicLink) {
    TempDir t;
    RecordingHost host;
    WriteFile(t / "src", "new");
    WriteFile(t / "victim", "precious");
    // A link at the target in create mode counts as an existing target.
    ASSERT_EQ(::symlink((t / "victim").c_str(), (t / "dst").c_str()), 0);
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", false), COPY_TARGET_EXISTS);
    // A link at the temporary name is passed by for the next name.
    ASSERT_EQ(::symlink((t / "victim").c_str(), Temp(t / "other").c_str()), 0);
    WriteFile(t / "other", "old");
    EXPECT_EQ(CopyPaths(host, t / "src", t / "other", true), COPY_OK);
    EXPECT_EQ(ReadFile(t / "other"), "new");
    EXPECT_EQ(ReadFile(Temp(t / "other")), "precious");
    // Replacing a target that has become a link replaces the link, not its file.
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", true), COPY_OK);
    EXPECT_EQ(ReadFile(t / "victim"), "precious");
    struct stat st;
    ASSERT_EQ(::lstat((t / "dst").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(t / "dst"), "new");
}
#endif

TEST(CopyOneFileTest, ATargetThatAppearsDuringTheCopyIsLeftAlone) {
    TempDir t;
    WriteFile(t / "src", "new");
    RecordingHost host;
    host.m_onPump = [&](int) { WriteFile(t / "dst", "someone else's"); };
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", false), COPY_TARGET_EXISTS);
    EXPECT_EQ(ReadFile(t / "dst"), "someone else's");
    EXPECT_FALSE(Exists(Temp(t / "dst")));
}

TEST(CopyOneFileTest, ReplacingADirectoryFailsAndKeepsIt) {
    TempDir t;
    RecordingHost host;
    WriteFile(t / "src", "new");
    WriteFile(t / "dir/inside", "x");
    EXPECT_EQ(CopyPaths(host, t / "src", t / "dir", true), COPY_CANNOT_DELETE_TARGET);
    EXPECT_EQ(ReadFile(t / "dir/inside"), "x");
    EXPECT_FALSE(Exists(Temp(t / "dir")));
}

#ifndef _WIN32
TEST(CopyOneFileTest, ASourceWrittenDuringTheCopyIsCopiedAgainAndNeverTorn) {
    TempDir t;
    const std::string original(3 * kCopyPieceBytes, 'A');
    WriteFile(t / "src", original, 1000000000);
    // Halfway through, a writer puts "B" over the head and the tail.
    const auto overwrite = [&] {
        const int fd = ::open((t / "src").c_str(), O_WRONLY);
        const std::string b(64 << 10, 'B');
        EXPECT_EQ(::pwrite(fd, b.data(), b.size(), 0), static_cast<ssize_t>(b.size()));
        EXPECT_EQ(::pwrite(fd, b.data(), b.size(), static_cast<off_t>(original.size() - b.size())),
                  static_cast<ssize_t>(b.size()));
        ::close(fd);
    };
    RecordingHost once;
    once.m_onPump = [&](int pump) {
        if (pump == 2) {
            overwrite();
        }
    };
    EXPECT_EQ(CopyPaths(once, t / "src", t / "dst", false), COPY_OK);
    EXPECT_EQ(ReadFile(t / "dst"), ReadFile(t / "src"));
    // A source that never holds still fails after the last attempt, and leaves
    // the old target as it was.
    WriteFile(t / "old", "old");
    RecordingHost always;
    always.m_onPump = [&](int) { overwrite(); };
    for (bool replace : {false, true}) {
        const std::string target = replace ? t / "old" : t / "fresh";
        EXPECT_EQ(CopyPaths(always, t / "src", target, replace), COPY_READ_ERROR);
        EXPECT_EQ(replace ? ReadFile(target) : std::string(Exists(target) ? "there" : ""),
                  replace ? "old" : "");
        EXPECT_FALSE(Exists(Temp(target)));
    }
    // An editor saves by writing a new file and renaming it over the old one:
    // the copy is made again from what the name leads to now, and carries its
    // time, not the orphaned file's.
    WriteFile(t / "src", original, 1000000000);
    RecordingHost saved;
    saved.m_onPump = [&](int pump) {
        if (pump == 1) {
            WriteFile(t / "saved", "the editor's new content", 1100000000);
            ASSERT_EQ(::rename((t / "saved").c_str(), (t / "src").c_str()), 0);
        }
    };
    EXPECT_EQ(CopyPaths(saved, t / "src", t / "old", true), COPY_OK);
    EXPECT_EQ(ReadFile(t / "old"), "the editor's new content");
    struct stat st;
    ASSERT_EQ(::stat((t / "old").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1100000000);
    // A file that grows faster than it is copied is not chased: each try takes
    // the size it had when opened, and after the last the copy fails.
    RecordingHost growing;
    growing.m_onPump = [&](int) {
        const int fd = ::open((t / "src").c_str(), O_WRONLY | O_APPEND);
        const std::string more(kCopyPieceBytes, 'G');
        EXPECT_EQ(::write(fd, more.data(), more.size()), static_cast<ssize_t>(more.size()));
        ::close(fd);
    };
    EXPECT_EQ(CopyPaths(growing, t / "src", t / "grown", false), COPY_READ_ERROR);
    EXPECT_FALSE(Exists(t / "grown"));
    EXPECT_LT(growing.m_pumps, 4 * kCopyAttempts);  // chased, it would never end
}

TEST(CopyOneFileTest, TakesThePermissionBitsLessTheUmaskButNoSetIdBits) {
    TempDir t;
    const mode_t umask = ::umask(022);
    for (mode_t mode : {0600u, 0755u, 04755u, 0444u}) {
        WriteFile(t / "src", "x");
        ::chmod((t / "src").c_str(), mode);
        RecordingHost host;
        for (bool replace : {false, true}) {
            EXPECT_EQ(CopyPaths(host, t / "src", t / "dst", replace), COPY_OK);
            struct stat st;
            ASSERT_EQ(::stat((t / "dst").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode & 0755) << std::oct << mode;
        }
        ::unlink((t / "dst").c_str());
    }
    ::umask(umask);
}

TEST(CopyOneFileTest, KeepsExtendedAttributesAclsAndCapabilities) {
    TempDir t;
    WriteFile(t / "src", "content");
    if (!SetExtendedAttribute(t / "src", "user.colour", "blue")) {
        GTEST_SKIP() << "the temporary directory's file system keeps no user attributes ("
                     << std::strerror(errno) << ")";
    }
    ASSERT_TRUE(SetExtendedAttribute(t / "src", "system.posix_acl_access", AclGrantingRead(4242)))
        << std::strerror(errno);
    // As root, a program's capabilities: cap_net_raw (bit 13), effective.
    const std::string capability = LittleEndianWords({0x02000001, 1u << 13, 0, 0, 0});
    const bool withCapability =
        ::geteuid() == 0 && SetExtendedAttribute(t / "src", "security.capability", capability);
    for (bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replace" : "create");
        RecordingHost host;
        ASSERT_EQ(CopyPaths(host, t / "src", t / "dst", replace), COPY_OK);
        EXPECT_EQ(ExtendedAttribute(t / "dst", "user.colour"), "blue");
        EXPECT_EQ(ExtendedAttribute(t / "dst", "system.posix_acl_access"),
                  ExtendedAttribute(t / "src", "system.posix_acl_access"));
        EXPECT_NE(ExtendedAttribute(t / "dst", "system.posix_acl_access"), "");
        if (withCapability) {
            // Kept after the owner was set, which would have cleared it.
            EXPECT_EQ(ExtendedAttribute(t / "dst", "security.capability"), capability);
        }
    }
    if (!withCapability) {
        std::printf("capabilities not checked: not root, or this system refuses to set them\n");
    }
}

TEST(CopyOneFileTest, HolesStayHoles) {
    TempDir t;
    const off_t size = 16 << 20;
    const std::string data = Pattern(4096);
    const int fd = ::open((t / "sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), size / 2), 4096);
    ::close(fd);
    for (bool kernel : {true, false}) {
        SCOPED_TRACE(kernel ? "kernel copy" : "reads and writes");
        OneFault noKernelCopy(Call::CopyRange, kernel ? 0 : EXDEV, 1);
        RecordingHost host;
        ASSERT_EQ(CopyPaths(host, t / "sparse", t / "copy", false, &noKernelCopy), COPY_OK);
        struct stat st;
        ASSERT_EQ(::stat((t / "copy").c_str(), &st), 0);
        EXPECT_EQ(st.st_size, size);
        EXPECT_LT(st.st_blocks * 512, 1 << 20);
        EXPECT_EQ(ReadFile(t / "copy"), ReadFile(t / "sparse"));
        ::unlink((t / "copy").c_str());
    }
}
#endif

#ifdef _WIN32
TEST(CopyOneFileTest, LinuxOnlyCases) {
    GTEST_SKIP() << "FIFOs, symbolic links, the kernel's copy, pwrite, permission bits, holes and "
                    "extended attributes: Linux only";
}
#endif

// Every file-system call of a whole run made to fail, one at a time: the run
// stops with its message (or, for a call whose failure can be absorbed, goes
// on), nothing partial or temporary is left, every slave file holds either its
// old content or the master's, and a rerun without the fault converges. One
// way sweeps again keeping what the run takes away: every old slave file is
// then in its place or, whole, in the run's folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <span>
#include <vector>

#include "exec/copier.h"
#include "platform/status.h"
#include "support/fault_injector.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "support/test_scale.h"
#include "support/tree_model.h"

namespace {

// How the copies of a run are made: as the system allows, or without the
// kernel's copy (reads and writes do the work), or without unnamed files (new
// files are written through their temporary names), or on a slave that
// refuses renames to other folders (moves fall back to a copy and a deletion).
enum class Way { AsAllowed, NoKernelCopy, NoUnnamedFiles, NoMoves };

const char* WayName(Way way) {
    switch (way) {
        case Way::AsAllowed:
            return "";
        case Way::NoKernelCopy:
            return " (no kernel copy)";
        case Way::NoUnnamedFiles:
            return " (no unnamed files)";
        case Way::NoMoves:
            return " (no moves)";
    }
    return "";
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Which root a call is made on. Each root's calls come in the same order in
// every run, though the two scans run at once: calls are counted per root.
enum class Side { Master, Slave };

// Counts calls; fails the `failAt`-th call of `failCall` on `failSide` (0: none).
class SweepInjector : public FaultInjector {
public:
    SweepInjector(std::string masterRoot, Side failSide, Call failCall, int failAt, Way way)
        : m_masterRoot(std::move(masterRoot)),
          m_failSide(failSide),
          m_failCall(failCall),
          m_failAt(failAt),
          m_way(way) {}

    int Fail(Call call, const std::string& path) override {
        if (call == Call::CopyRange && m_way == Way::NoKernelCopy) {
            return EXDEV;
        }
        if (call == Call::Create && m_way == Way::NoUnnamedFiles &&
            !EndsWith(path, TemporaryName("", TemporaryTag()))) {
            return EOPNOTSUPP;  // only a temporary name can be created
        }
        const Side side = path.rfind(m_masterRoot, 0) == 0 ? Side::Master : Side::Slave;
        if (call == Call::Keep && m_way == Way::NoMoves && side == Side::Slave) {
            return EPERM;  // never with a keeper: only the first way keeps versions
        }
        const int n = ++m_counts[{side, call}];
        if (side == m_failSide && call == m_failCall && n == m_failAt) {
            m_fired = true;
            return call == Call::Write ? ENOSPC : EIO;
        }
        return 0;
    }

    std::map<std::pair<Side, Call>, int> m_counts;
    bool m_fired = false;

private:
    std::string m_masterRoot;
    Side m_failSide;
    Call m_failCall;
    int m_failAt;
    Way m_way;
};

ModelTree MasterModel() {
    ModelTree m;
    m["a"] = {false, "new file", 1000000000};
    m["changed"] = {false, std::string(3 * kCopyPieceBytes / 2, 'M'), 1200000000};
    m["d"] = {true, "", 0, 0555};  // made writable for the run, then given its bits
    m["d/x"] = {false, "inside", 1000000000};
    m["d/moved"] = {false, "moved file", 1100000000};
    m["renamed"] = {true, "", 0};
    m["renamed/p"] = {false, "moved folder", 1100000000};
    m["same"] = {false, "same", 1000000000};
    return m;
}

ModelTree SlaveModel() {
    ModelTree s;
    s["changed"] = {false, "old version", 1000000000};
    s["gone"] = {false, "to be deleted", 1000000000};
    s["old"] = {true, "", 0};
    s["old/sub"] = {true, "", 0};
    s["old/sub/f"] = {false, "deep", 1000000000};
    s["same"] = {false, "same", 1000000000};
    s["was"] = {false, "moved file", 1100000000};
    s["folder"] = {true, "", 0};
    s["folder/p"] = {false, "moved folder", 1100000000};
    return s;
}

// The refusal of a request whose check failed to tell: a check that cannot
// tell refuses in its own words, which name no reason; empty for the others.
std::string RefusalOf(Call call) {
    switch (call) {
        case Call::Lock:
            return "Slave directory is in use by another Kelvad run";
        case Call::Overlap:
            return "Master and slave directories overlap";
        default:
            return {};
    }
}

bool IsKnownMessage(const std::string& text) {
    for (const char* prefix :
         {"Error copying ", "Error creating ", "Error deleting file ", "Error creating directory ",
          "Error moving ", "Unable to delete directory ",
          "Unable to write the slave directory to disk ", "Master directory is empty",
          "Master directory can't be read", "Slave directory can't be read",
          "Error reading directory ", "Unable to remove old versions "}) {
        if (text.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

// The sweeps: each way of copying, and the first once more keeping versions.
std::vector<std::pair<Way, Keeping::Place>> Sweeps(std::span<const Way> ways) {
    std::vector<std::pair<Way, Keeping::Place>> sweeps;
    for (const Way way : ways) {
        sweeps.emplace_back(way, Keeping::Place::Nowhere);
    }
    sweeps.emplace_back(ways[0], Keeping::Place::VersionsFolder);
    return sweeps;
}

}  // namespace

TEST(FaultSweep, EveryCallFailingOnceLosesNothingAndARerunConverges) {
    const ModelTree master = MasterModel();
    const ModelTree slave = SlaveModel();
    const auto expected = ExpectedSlave(master, slave);
    // The file and the folder the run renames, and the file it takes along.
    const std::vector<ModelMove> moves = {{"was", "d/moved"}, {"folder/p", "renamed/p"}};
    ASSERT_EQ(ExpectedMoves(master, slave, moves), moves);
    {
        TempDir t;
        MaterializePair(t.Path(), master, slave);
        ASSERT_EQ(MovesIn(PlanRun(t / "m", t / "s")), 2u);
    }
    const std::string tempSuffix = TemporaryName("", TemporaryTag());
    int faultsTried = 0;
#ifdef _WIN32
    // Windows has neither the kernel's copy nor unnamed files: one way only.
    const Way ways[] = {Way::AsAllowed};
#else
    const Way ways[] = {Way::AsAllowed, Way::NoKernelCopy, Way::NoUnnamedFiles, Way::NoMoves};
#endif
    for (const auto& [way, keep] : Sweeps(ways)) {
        for (OnFailure onFailure : {OnFailure::Stop, OnFailure::KeepGoing}) {
            // A clean run tells how often each call is made.
            std::map<std::pair<Side, Call>, int> counts;
            {
                TempDir t;
                MaterializePair(t.Path(), master, slave);
                SweepInjector counter(t / "m", Side::Master, Call::Open, 0, way);
                RecordingHost host;
                ASSERT_TRUE(SyncRun(t / "m", t / "s", host, &counter, OnFailure::Stop, keep));
                counts = counter.m_counts;
                EXPECT_EQ((way == Way::NoMoves ? host.m_movesFellBack : host.m_moved).size(), 2u);
            }
            // Under a sanitizer every call costs several times more: each way
            // then fails every kStride-th call, starting at a different one,
            // and always the first and the last.
            const int kStride = kUnderSanitizer ? 2 * kSlowdown : 1;
            const int first = 1 + static_cast<int>(way) * (onFailure == OnFailure::Stop ? 1 : 2);
            for (const auto& [sideAndCall, count] : counts) {
                const auto [side, call] = sideAndCall;
                for (int k = 1; k <= count; ++k) {
                    if (k != 1 && k != count && (k - first) % kStride != 0) {
                        continue;
                    }
                    SCOPED_TRACE(std::string(side == Side::Master ? "master " : "slave ") +
                                 CallName(call) + " #" + std::to_string(k) + WayName(way) +
                                 (onFailure == OnFailure::KeepGoing ? " (keeping going)" : "") +
                                 (keep != Keeping::Place::Nowhere ? " (keeping versions)" : "") +
                                 (k % 2 == 0 ? " (4 jobs)" : ""));
                    TempDir t;
                    MaterializePair(t.Path(), master, slave);
                    RecordingHost host;
                    bool ok;
                    {
                        // Every other fault on a run whose copies are made on workers.
                        SweepInjector fault(t / "m", side, call, k, way);
                        ok = SyncRun(t / "m", t / "s", host, &fault, onFailure, keep,
                                     k % 2 == 0 ? 4 : 1);
                        ASSERT_TRUE(fault.m_fired);
                    }
                    ++faultsTried;
                    if (!ok) {
                        // The one failure, and the directory it left unread
                        // (whose counterpart then would not go either).
                        ASSERT_GE(host.m_messages.size(), 1u);
                        ASSERT_LE(host.m_messages.size(), 2u);
                        if (host.m_messages.size() == 2) {
                            EXPECT_EQ(host.m_messages[1].rfind("Error reading directory ", 0), 0u);
                        }
                        // Each says why in the words of the call that failed;
                        // a slave directory left unlisted is only found not
                        // empty when its removal comes.
                        const std::string why =
                            platform::ErrorText(call == Call::Write ? ENOSPC : EIO);
                        for (const std::string& message : host.m_messages) {
                            if (!RefusalOf(call).empty()) {
                                EXPECT_EQ(host.m_messages, std::vector{RefusalOf(call)});
                                continue;
                            }
                            EXPECT_TRUE(IsKnownMessage(message)) << message;
                            EXPECT_TRUE(
                                message == "Master directory is empty" ||
                                message.find("(" + why + ")") != std::string::npos ||
                                message.find(": " + why + ")") != std::string::npos ||
                                (side == Side::Slave && message.ends_with("(Directory not empty)")))
                                << message;
                        }
                    } else {
                        EXPECT_TRUE(host.m_messages.empty());
                    }
                    const auto [own, kept] = KeptByAnyRun(Snapshot(t / "s"));
                    // A moved file is kept nowhere, and never lost: it is at
                    // its old place or its new one; unless the master's
                    // folder it went to was left unread, which leaves the
                    // slave's file without its twin, to go as any other.
                    const std::string unread = "Error reading directory " + t / "m/";
                    for (const ModelMove& move : moves) {
                        const bool twinUnseen =
                            std::ranges::any_of(host.m_messages, [&](const std::string& m) {
                                return m.starts_with(unread) &&
                                       move.second.starts_with(
                                           m.substr(unread.size(), m.find(" (") - unread.size()) +
                                           "/");
                            });
                        EXPECT_TRUE(twinUnseen || AtOldOrNewPlace(own, slave, move))
                            << move.first << " lost";
                    }
                    for (const auto& [path, old] : SnapshotOf(slave)) {
                        const bool moved = path == "was" || path.starts_with("folder");
                        EXPECT_TRUE(keep == Keeping::Place::Nowhere || own.contains(path) ||
                                    kept.contains(path) || moved)
                            << path << " lost";
                        EXPECT_TRUE(!kept.contains(path) || kept.at(path) == old)
                            << path << " kept torn";
                    }
                    for (const auto& [path, content] : own) {
                        EXPECT_FALSE(EndsWith(path, tempSuffix)) << "temporary file left: " << path;
                        if (content.rfind("f:", 0) == 0) {
                            EXPECT_TRUE(IsOldOrNew(master, slave, path, content))
                                << path << " holds neither its old content nor the master's";
                        }
                    }
                    EXPECT_EQ(Snapshot(t / "m"), SnapshotOf(master));
                    RecordingHost rerun;
                    EXPECT_TRUE(SyncRun(t / "m", t / "s", rerun, nullptr, OnFailure::Stop, keep))
                        << ::testing::PrintToString(host.m_messages) << " then "
                        << ::testing::PrintToString(rerun.m_messages);
                    EXPECT_EQ(KeptByAnyRun(Snapshot(t / "s")).first, expected);
                }
            }
        }
    }
    std::printf("faults injected: %d\n", faultsTried);
    EXPECT_GT(faultsTried, kUnderSanitizer ? 15 : 30);
}

// A real sync killed at a random moment (SIGKILL; TerminateProcess on
// Windows): no slave file is ever torn or half-written under its own name, and
// a rerun converges. A file the run renames, alone or with its folder, is at
// its old place or its new one. Every other round keeps what the run takes
// away: each old slave file is then in its place or in a run's folder, never
// in neither.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "exec/copier.h"
#include "support/child_process.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "support/tree_model.h"

TEST(CrashSafety, KilledRunsNeverTearAFileAndARerunConverges) {
    // The child: this same test binary started afresh, so that it is a process of
    // its own with its own temporary-name tag, running one real sync.
    if (const char* master = std::getenv("KELVAD_CRASH_MASTER")) {
        const Keeping::Place keep = std::getenv("KELVAD_CRASH_KEEP") != nullptr
                                        ? Keeping::Place::VersionsFolder
                                        : Keeping::Place::Nowhere;
        const unsigned jobs = std::getenv("KELVAD_CRASH_JOBS") != nullptr ? 4 : 1;
        std::_Exit(SyncRun(master, std::getenv("KELVAD_CRASH_SLAVE"), keep, jobs) ? 0 : 1);
    }
    std::mt19937 rng(2024);
    ModelTree master;
    ModelTree slave;
    for (int i = 0; i < 2000; ++i) {
        const std::string dir = "d" + std::to_string(i % 30);
        master[dir] = {true, "", 0};
        const std::string path = dir + "/f" + std::to_string(i);
        const std::string body(static_cast<size_t>(rng() % 20000), static_cast<char>('a' + i % 26));
        master[path] = {false, "master " + path + body, 1100000000};
        if (i % 3 == 0) {
            slave[dir] = {true, "", 0};
            slave[path] = {false, "old " + path + body, 1000000000};  // to be replaced
        }
    }
    slave["stale"] = {true, "", 0};
    slave["stale/x"] = {false, "stale", 1000000000};
    // Files renamed in the master, within their folder or into another, and a
    // folder renamed whole; each of a size and time of its own, so that the
    // plan renames them in the slave.
    std::vector<ModelMove> moves;
    for (int k = 0; k < 40; ++k) {
        const std::string from = (k % 2 == 0 ? "d" + std::to_string(3 * (k % 10)) + "/" : "") +
                                 "was" + std::to_string(k);
        const std::string to = "d" + std::to_string(k % 30) + "/moved" + std::to_string(k);
        slave[from] =
            master[to] = {false, "moved " + from + std::string(static_cast<size_t>(100 * k), 'm'),
                          1050000000 + k};
        moves.emplace_back(from, to);
    }
    slave["folder"] = {true, "", 0};
    master["d7/renamed"] = {true, "", 0};
    for (int k = 0; k < 20; ++k) {
        const std::string name = "/p" + std::to_string(k);
        slave["folder" + name] = master["d7/renamed" + name] = {
            false, "in the folder " + name + std::string(static_cast<size_t>(50 * k), 'p'),
            1060000000 + k};
        moves.emplace_back("folder" + name, "d7/renamed" + name);
    }
    ASSERT_EQ(ExpectedMoves(master, slave, moves), moves);
    {
        TempDir t;
        MaterializePair(t.Path(), master, slave);
        ASSERT_EQ(MovesIn(PlanRun(t / "m", t / "s")), 41u);  // the folder's in one
    }
    std::set<std::string> movedFrom;
    for (const ModelMove& move : moves) {
        movedFrom.insert(move.first);
    }
    const auto expected = ExpectedSlave(master, slave);
    const int kills = SoakCount("KELVAD_SOAK_KILLS", 5);
    int killed = 0;
    int midMoves = 0;  // rounds killed after some moves and before others
    for (int round = 0; round < kills; ++round) {
        TempDir t;
        MaterializePair(t.Path(), master, slave);
        const bool keeping = round % 2 == 1;
        Environment environment = {{"KELVAD_CRASH_MASTER", t / "m"},
                                   {"KELVAD_CRASH_SLAVE", t / "s"}};
        if (keeping) {
            environment.emplace_back("KELVAD_CRASH_KEEP", "1");
        }
        if (round % 4 >= 2) {
            environment.emplace_back("KELVAD_CRASH_JOBS", "4");  // copies on workers
        }
        ChildProcess child("CrashSafety.*", environment);
        ASSERT_TRUE(child.Started());
        std::this_thread::sleep_for(std::chrono::microseconds(20000 + rng() % 600000));
        if (child.Kill()) {
            ++killed;
        }
        const std::string childTemp = TemporaryName("", child.Id() % 1000);
        const auto [own, kept] = KeptByAnyRun(Snapshot(t / "s"));
        size_t movedYet = 0;
        for (const ModelMove& move : moves) {
            ASSERT_TRUE(AtOldOrNewPlace(own, slave, move))
                << "round " << round << ": " << move.first << " is lost on its way";
            movedYet += own.contains(move.second) ? 1u : 0u;
        }
        midMoves += movedYet > 0 && movedYet < moves.size() ? 1 : 0;
        for (const auto& [path, old] : SnapshotOf(slave)) {
            ASSERT_TRUE(!keeping || !old.starts_with("f:") || own.contains(path) ||
                        kept.contains(path) || movedFrom.contains(path))
                << "round " << round << ": " << path << " is lost";
            ASSERT_TRUE(!kept.contains(path) || kept.at(path) == old || old == "d")
                << "round " << round << ": " << path << " kept torn";
        }
        for (const auto& [path, content] : own) {
            if (path.size() > childTemp.size() &&
                path.compare(path.size() - childTemp.size(), childTemp.size(), childTemp) == 0) {
                continue;  // a temporary file: never under a real name
            }
            if (content.rfind("f:", 0) != 0 || path.starts_with(".kelvad-run-")) {
                continue;  // a directory, or the run's empty marker, which the rerun removes
            }
            ASSERT_TRUE(IsOldOrNew(master, slave, path, content))
                << "round " << round << ": " << path << " is torn";
        }
        ASSERT_TRUE(SyncRun(t / "m", t / "s",
                            keeping ? Keeping::Place::VersionsFolder : Keeping::Place::Nowhere))
            << "round " << round;
        const auto [after, keptAfter] = KeptByAnyRun(Snapshot(t / "s"));
        ASSERT_EQ(after, expected) << "round " << round;
        if (keeping) {  // the two runs kept each file once, between them
            auto files = keptAfter;
            // A copy the kill left half-made under its temporary name goes
            // the way of every slave-only file.
            std::erase_if(files, [&](const auto& entry) {
                return entry.second == "d" || entry.first.ends_with(childTemp);
            });
            auto expectedFiles = ExpectedKept(master, slave, moves);
            std::erase_if(expectedFiles, [](const auto& entry) { return entry.second == "d"; });
            for (const auto& [path, content] : expectedFiles) {
                ASSERT_TRUE(files.contains(path) && files.at(path) == content)
                    << "round " << round << ": " << path << " not kept";
            }
            ASSERT_EQ(files.size(), expectedFiles.size()) << "round " << round;
        }
    }
    std::printf("kill points: %d (%d landed mid-run, %d between two moves)\n", kills, killed,
                midMoves);
}

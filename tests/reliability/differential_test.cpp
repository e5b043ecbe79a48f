// Random master/slave pairs, synchronised for real and checked against the
// independent model: the slave reaches the model's state, the master is never
// touched, and a second run plans nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <algorithm>
#include <cstdlib>

#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "support/tree_model.h"

TEST(Differential, RandomPairsReachTheModelsState) {
    const int pairs = SoakCount("KELVAD_SOAK_PAIRS", 300);
    int checked = 0;
    int askedPairs = 0;
    int keptPairs = 0;
    const mode_t umask = ::umask(022);  // what most desktops have; Windows keeps none
    for (int seed = 1; checked < pairs; ++seed) {
        std::mt19937 rng(static_cast<unsigned>(seed));
        ModelTree master;
        ModelTree slave;
        GeneratePair(rng, 10 + seed % 40, master, slave);
        if (master.empty()) {
            continue;  // the Start request stops before any of this
        }
        TempDir t;
        MaterializePair(t.Path(), master, slave);
        const auto masterBefore = Snapshot(t / "m");
        ASSERT_EQ(masterBefore, SnapshotOf(master)) << "seed " << seed;
        {
            // The scan hands its list over in the list's order, with nothing twice.
            CFileList scanned;
            ScanPath(t / "m", &scanned);
            ASSERT_EQ(scanned.size(), master.size()) << "seed " << seed;
            for (size_t i = 1; i < scanned.size(); ++i) {
                ASSERT_LT(
                    platform::ComparePaths(scanned[i - 1]->KeyPieces(), scanned[i]->KeyPieces()), 0)
                    << "seed " << seed << ": " << scanned[i]->GetKey();
            }
        }

        // Each copy in the plan carries the size of the file it copies, which
        // the preview's totals add up.
        for (const auto& action : PlanRun(t / "m", t / "s")) {
            const auto kind = action->GetKind();
            const auto m = master.find(action->GetMasterPath());
            const bool copies = kind == ACTION_CREATE || kind == ACTION_MODIFY;
            ASSERT_EQ(action->GetBytes(),
                      copies && m != master.end() ? m->second.content.size() : 0u)
                << "seed " << seed << ": " << action->GetMasterPath();
        }

        // The guard asks before a run that deletes or removes at least half of
        // the slave, and at least 10 entries: those the master lacks, or has as
        // the other type; and before one that replaces a slave file written
        // later than the master's of another size.
        size_t deletions = 0;
        size_t older = 0;
        for (const auto& [path, entry] : slave) {
            const auto m = master.find(path);
            deletions += m == master.end() || m->second.isDirectory != entry.isDirectory ? 1u : 0u;
            older += m != master.end() && !entry.isDirectory && !m->second.isDirectory &&
                             m->second.mtime < entry.mtime &&
                             m->second.content.size() != entry.content.size()
                         ? 1u
                         : 0u;
        }
        const bool mass = deletions >= kMassDeletion && 2 * deletions >= slave.size();
        const bool asked = mass || older > 0;
        askedPairs += asked ? 1 : 0;
        // Every third pair keeps what its run takes away: all of it lands,
        // whole, in the run's folder, and nothing else changes.
        const bool keeping = seed % 3 == 0;
        keptPairs += keeping ? 1 : 0;
        StartRequest r = TestRequest(t / "m", t / "s", 0);
        r.keeping.place = keeping ? Keeping::Place::VersionsFolder : Keeping::Place::Nowhere;
        r.jobs = seed % 2 == 0 ? 4 : 1;  // copies on workers, or one after the other
        RecordingHost host;
        RecordingRequestHost request(host);
        const RequestResult result = RunStartRequest(request, r);
        const bool ok = result == RequestResult::Done || result == RequestResult::UpToDate;
        ASSERT_TRUE(ok) << "seed " << seed << ": "
                        << (host.m_messages.empty() ? "" : host.m_messages[0]);
        const auto [slaveAfter, kept] = KeptByAnyRun(Snapshot(t / "s"));
        const std::string keptIn =
            kept.empty() ? ""
                         : ".kelvad-versions/" + Snapshot(t / "s/.kelvad-versions").begin()->first;
        const std::string question =
            "Kelvad: " + RiskText({deletions, slave.size(), mass, older, keptIn}) + ". Continue?";
        ASSERT_EQ(std::ranges::count(request.m_log, question), asked ? 1 : 0)
            << "seed " << seed << ": " << question;
        ASSERT_EQ(
            std::ranges::count_if(
                request.m_log, [](const std::string& line) { return line.ends_with("Continue?"); }),
            asked ? 1 : 0)
            << "seed " << seed << ": " << deletions << " of " << slave.size();
        ASSERT_EQ(slaveAfter, ExpectedSlave(master, slave)) << "seed " << seed;
        ASSERT_EQ(kept, keeping ? ExpectedKept(master, slave) : decltype(kept){})
            << "seed " << seed;
        auto modes = Modes(t / "s");
        std::erase_if(
            modes, [](const auto& entry) { return entry.first.starts_with(".kelvad-versions"); });
        ASSERT_EQ(modes, ExpectedModes(master, slave, 022)) << "seed " << seed;
        ASSERT_EQ(Snapshot(t / "m"), masterBefore) << "seed " << seed;
        ASSERT_TRUE(PlanRun(t / "m", t / "s").empty()) << "seed " << seed;
        ++checked;
    }
    ::umask(umask);
    RecordProperty("pairs", checked);
    std::printf("differential pairs checked: %d (%d asked about first, %d kept what went)\n",
                checked, askedPairs, keptPairs);
}

// The same with an ignore file in the master's root, against the model's own
// reading of its rules: what is left out stays as it was in the slave, on
// either side, and the rest is mirrored.
TEST(Differential, RandomIgnoreFilesLeaveOutWhatTheyMatch) {
#ifdef _WIN32
    GTEST_SKIP()
        << "the model reads ignore files with the C library's fnmatch, which Windows lacks";
#endif
    const int pairs = SoakCount("KELVAD_SOAK_PAIRS", 300) / 2;
    int leftOut = 0;
    int blocked = 0;
    for (int seed = 1; seed <= pairs; ++seed) {
        std::mt19937 rng(static_cast<unsigned>(seed) + 100000);
        ModelTree master;
        ModelTree slave;
        GeneratePair(rng, 10 + seed % 40, master, slave);
        const std::string rules = GenerateIgnoreFile(rng, master);
        master[".kelvadignore"] = {false, rules, 1000000000};
        TempDir t;
        MaterializePair(t.Path(), master, slave);
        RecordingHost host;
        // A master entry whose place a left-out slave entry holds is the only
        // failure there may be, told after everything else was done.
        if (!SyncRun(t / "m", t / "s", host)) {
            ASSERT_FALSE(host.m_messages.empty()) << "seed " << seed;
            for (const std::string& message : host.m_messages) {
                ASSERT_TRUE(
                    message.ends_with("(a slave entry left out of the mirror is in its place)"))
                    << "seed " << seed << ": " << message;
            }
            ++blocked;
        }
        const auto expected = ExpectedSlaveLeavingOut(master, slave, rules);
        ASSERT_EQ(Snapshot(t / "s"), expected) << "seed " << seed << " with\n" << rules;
        ASSERT_EQ(Snapshot(t / "m"), SnapshotOf(master)) << "seed " << seed;
        ASSERT_TRUE(PlanRun(t / "m", t / "s").empty()) << "seed " << seed;
        leftOut += expected != ExpectedSlave(master, slave) ? 1 : 0;
    }
    std::printf(
        "ignore-file pairs checked: %d (%d left something out, %d had a master entry "
        "kept out by a left-out slave entry)\n",
        pairs, leftOut, blocked);
    EXPECT_GT(leftOut, pairs / 3);
}

namespace {
ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}
}  // namespace

// A mirror whose master then has files and folders moved and renamed: the
// slave becomes the mirror again, and every file the model calls moved is
// the same file under its new name, not a copy.
TEST(Differential, MovedFilesAndFoldersAreRenamedNotCopied) {
    const int pairs = SoakCount("KELVAD_SOAK_PAIRS", 300) / 3;
    size_t renamed = 0;
    for (int seed = 1; seed <= pairs; ++seed) {
        std::mt19937 rng(static_cast<unsigned>(seed) + 200000);
        ModelTree master;
        ModelTree unused;
        GeneratePair(rng, 10 + seed % 40, master, unused);
        if (master.empty()) {
            continue;  // an empty master is refused, not mirrored
        }
        TempDir t;
        MakeDirs(t / "m");
        MakeDirs(t / "s");
        Materialize(t / "m", master);
        ASSERT_TRUE(SyncRun(t / "m", t / "s")) << "seed " << seed;
        const ModelTree mirror = master;
        std::map<std::string, ino_t> inodes;
        for (const auto& [path, entry] : mirror) {
            inodes[path] = InodeOf(t / "s" + "/" + path);
        }
        const std::vector<ModelMove> moves = MoveSome(rng, master);
        RemoveTree(t / "m");
        MakeDirs(t / "m");
        Materialize(t / "m", master);
        ASSERT_TRUE(SyncRun(t / "m", t / "s")) << "seed " << seed;
        ASSERT_EQ(Snapshot(t / "s"), SnapshotOf(master)) << "seed " << seed;
        for (const auto& [from, to] : ExpectedMoves(master, mirror, moves)) {
            ASSERT_EQ(InodeOf(t / "s" + "/" + to), inodes[from])
                << "seed " << seed << ": " << from << " -> " << to << " was copied";
            ++renamed;
        }
        ASSERT_TRUE(PlanRun(t / "m", t / "s").empty()) << "seed " << seed;
    }
    std::printf("moved files checked: %zu\n", renamed);
    EXPECT_GT(renamed, static_cast<size_t>(pairs));
}

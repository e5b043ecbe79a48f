// Random master/slave pairs, synchronised for real and checked against the
// independent model: the slave reaches the model's state, the master is never
// touched, and a second run plans nothing.
#include <gtest/gtest.h>

#include <cstdlib>

#include "exec/executor.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "support/tree_model.h"
#include "tree/compare_trees.h"
#include "tree/scanner.h"

namespace {

// Scans, compares and (when `execute`) carries the plan out; returns the plan's size.
size_t Sync(const std::string& master, const std::string& slave, RecordingHost& host,
            bool execute, bool* succeeded = nullptr) {
    CFileList masterList;
    CFileList slaveList;
    CActionList actions;
    ScanDirectory(master, &masterList);
    ScanDirectory(slave, &slaveList);
    CompareTrees(&masterList, &slaveList, &actions, master, slave);
    if (execute) {
        const bool ok = ExecuteActions(host, actions, master, slave);
        if (succeeded != nullptr) {
            *succeeded = ok;
        }
    }
    return actions.size();
}

int PairCount() {
    const char* soak = std::getenv("KELVAD_SOAK_PAIRS");
    return soak != nullptr ? std::atoi(soak) : 300;
}

}  // namespace

TEST(Differential, RandomPairsReachTheModelsState) {
    const int pairs = PairCount();
    int checked = 0;
    for (int seed = 1; seed <= pairs; ++seed) {
        std::mt19937 rng(static_cast<unsigned>(seed));
        ModelTree master;
        ModelTree slave;
        GeneratePair(rng, 10 + seed % 40, master, slave);
        if (master.empty()) {
            continue;  // the run controller stops before any of this
        }
        TempDir t;
        MakeDirs(t / "m");
        MakeDirs(t / "s");
        Materialize(t / "m", master);
        Materialize(t / "s", slave);
        const auto masterBefore = Snapshot(t / "m");
        ASSERT_EQ(masterBefore, SnapshotOf(master)) << "seed " << seed;

        RecordingHost host;
        bool ok = false;
        Sync(t / "m", t / "s", host, true, &ok);
        ASSERT_TRUE(ok) << "seed " << seed << ": " << (host.m_messages.empty() ? "" : host.m_messages[0]);
        ASSERT_EQ(Snapshot(t / "s"), ExpectedSlave(master, slave)) << "seed " << seed;
        ASSERT_EQ(Snapshot(t / "m"), masterBefore) << "seed " << seed;
        RecordingHost again;
        ASSERT_EQ(Sync(t / "m", t / "s", again, false), 0u) << "seed " << seed;
        ++checked;
    }
    RecordProperty("pairs", checked);
    std::printf("differential pairs checked: %d\n", checked);
}

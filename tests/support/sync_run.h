// A whole run without windows, for the tests: scan both trees, compare, and
// (optionally) carry the plan out through a RecordingHost.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "exec/executor.h"
#include "support/recording_host.h"
#include "tree/compare_trees.h"
#include "tree/scanner.h"

struct PlannedRun {
    CFileList master;
    CFileList slave;
    CActionList actions;
};

inline std::unique_ptr<PlannedRun> PlanRun(const std::string& master, const std::string& slave) {
    auto p = std::make_unique<PlannedRun>();
    ScanDirectory(master, &p->master);
    ScanDirectory(slave, &p->slave);
    CompareTrees(&p->master, &p->slave, &p->actions, master, slave,
                 NameMatchOf(slave, p->slave));
    return p;
}

// Plans and executes; true when every action was carried out.
inline bool SyncRun(const std::string& master, const std::string& slave, RecordingHost& host) {
    auto p = PlanRun(master, slave);
    return ExecuteActions(host, p->actions, master, slave);
}

inline bool SyncRun(const std::string& master, const std::string& slave) {
    RecordingHost host;
    return SyncRun(master, slave, host);
}

// How many rounds a long-running test makes: the environment variable `name`
// (set by scripts/soak.sh) or, without it, `usual`.
inline int SoakCount(const char* name, int usual) {
    const char* soak = std::getenv(name);
    return soak != nullptr ? std::atoi(soak) : usual;
}

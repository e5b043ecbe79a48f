// Whole runs without windows, for the tests, through the Start request as the
// program makes it: both roots opened once, both trees scanned at once, the
// plan made, and (for SyncRun) carried out through a RecordingHost.
#pragma once

#include <cstdlib>
#include <string>

#include "support/fault_injector.h"
#include "support/recording_host.h"
#include "sync/start_request.h"
#include "tree/scanner.h"

// The request for `master` and `slave` in `option`'s mode, its roots wrapped
// with `faults` when given.
inline StartRequest TestRequest(const std::string& master, const std::string& slave, int option,
                                FaultInjector* faults = nullptr) {
    StartRequest request{master, slave, static_cast<RunMode>(option), {}};
    if (faults != nullptr) {
        request.openRoot = WrapRoots(*faults);
    }
    return request;
}

// Scans the tree at `path` into `list`, its root wrapped with `faults` when given.
inline void ScanPath(const std::string& path, CFileList* list, FaultInjector* faults = nullptr) {
    std::unique_ptr<platform::TreeRoot> root =
        faults != nullptr ? std::make_unique<FaultyRoot>(path, platform::Mounts::Cross, *faults)
                          : platform::OpenTreeRoot(path);
    ScanDirectory(*root, list);
}

// The plan for the pair as the preview would show it, nothing changed; empty
// when the slave is up to date (and when the request was refused).
inline CActionList PlanRun(const std::string& master, const std::string& slave,
                           FaultInjector* faults = nullptr) {
    RecordingRequestHost host;
    host.m_approve = false;
    RunStartRequest(host, TestRequest(master, slave, 1, faults));
    return std::move(host.m_plan);
}

// How many of the plan's steps are moves.
inline size_t MovesIn(const CActionList& plan) {
    size_t moves = 0;
    for (const auto& action : plan) {
        moves += action->GetKind() == ACTION_MOVE ? 1u : 0u;
    }
    return moves;
}

// Runs the request in Just Do It mode (a mass deletion allowed), keeping what
// it takes away at `keep`, making `jobs` copies at once; true when the slave is
// in line at the end (carried out whole, or up to date already). Every message
// goes to `host`.
inline bool SyncRun(const std::string& master, const std::string& slave, RecordingHost& host,
                    FaultInjector* faults = nullptr, OnFailure onFailure = OnFailure::Stop,
                    Keeping::Place keep = Keeping::Place::Nowhere, unsigned jobs = 1) {
    RecordingRequestHost request(host);
    StartRequest r = TestRequest(master, slave, 0, faults);
    r.onFailure = onFailure;
    r.keeping.place = keep;
    r.jobs = jobs;
    const RequestResult result = RunStartRequest(request, r);
    return result == RequestResult::Done || result == RequestResult::UpToDate;
}

inline bool SyncRun(const std::string& master, const std::string& slave,
                    Keeping::Place keep = Keeping::Place::Nowhere, unsigned jobs = 1) {
    RecordingHost host;
    return SyncRun(master, slave, host, nullptr, OnFailure::Stop, keep, jobs);
}

// How many rounds a long-running test makes: the environment variable `name`
// (set by scripts/soak.sh) or, without it, `usual`.
inline int SoakCount(const char* name, int usual) {
    const char* soak = std::getenv(name);
    return soak != nullptr ? std::atoi(soak) : usual;
}

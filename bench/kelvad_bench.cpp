// Times Kelvad's phases without any window against the tools a user would
// otherwise reach for, on the same seeded trees, and prints the ratios.
//
//   kelvad_bench [--dir BASE] [--entries N] [--runs R]
//   [scan|copy|big|small|many|changed|delete|all]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_util.h"
#include "exec/copier.h"
#include "exec/executor.h"
#include "platform/status.h"
#include "sync/start_request.h"
#include "tree/scanner.h"

namespace {

// A window that is never there: nothing is shown and nobody cancels.
class NullHost : public IExecHost {
public:
    void PumpPending() override {}
    bool IsCancelled() const override { return false; }
    void SetStatus(const std::string&) override {}
    void SetPlan(const CActionList&) override {}
    void SetPosition(size_t) override {}
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
};

// The Start request as the window makes it, with nobody at the window: every
// plan approved, nobody stops. The flush to disk that ends a real run is left
// out unless asked for, as the peers do none; it is timed apart.
class NullRequestHost : public IRequestHost {
public:
    void ShowMessage(const std::string&, MessageKind) override {}
    void SetBusy(bool) override {}
    bool KeepAliveWhileBusy() override { return false; }
    Answer ConfirmRisk(const RunRisk&) override { return Answer::Yes; }
    bool ApprovePlan(const CActionList&, const std::string&) override { return true; }
    IExecHost* BeginRun() override { return &m_host; }
    void SaveSettings() override {}

private:
    NullHost m_host;
};

// A whole run but the windows: what Start does in Just Do It mode.
RequestResult Sync(const std::string& master, const std::string& slave,
                   FlushAtEnd flush = FlushAtEnd::No) {
    NullRequestHost host;
    StartRequest request{master, slave, RunMode::JustDoIt, {}};
    request.flush = flush;
    const RequestResult result = RunStartRequest(host, request);
    if (result != RequestResult::Done && result != RequestResult::UpToDate) {
        std::_Exit(3);
    }
    return result;
}

struct Options {
    std::string base;
    long entries = 1000000;
    int runs = 3;
};

// A contest on slaves that every run changes: each run, Kelvad's or a peer's,
// syncs into a copy of `templ` of its own (`slave` followed by the run's serial,
// "{n}" in a peer's command), all made before the first run.
void ContestOnCopies(const Options& o, const std::string& master, const std::string& templ,
                     const std::string& slave, const std::vector<Peer>& peers) {
    const auto slaveOf = [&](int serial) { return slave + std::to_string(serial); };
    MakeCopies(templ, slaveOf, ContestSerials(o.runs, peers));
    Contest(
        o.runs, "Kelvad scan + compare + execute", [&](int serial) { WarmUp(slaveOf(serial)); },
        [&](int serial) { Sync(master, slaveOf(serial)); }, peers, Writes::Yes);
}

// The cost of the flush to disk that ends every real run: Kelvad with it,
// against `copy` (a peer's command into "{n}") followed by sync -f, the same
// flush.
void ContestWithFlush(const Options& o, const std::string& master, const std::string& slave,
                      const std::string& copy) {
    const auto slaveOf = [&](int serial) { return slave + std::to_string(serial); };
    Contest(
        o.runs, "Kelvad scan + compare + execute + syncfs",
        [&](int serial) { ::mkdir(slaveOf(serial).c_str(), 0777); },
        [&](int serial) { Sync(master, slaveOf(serial), FlushAtEnd::Yes); },
        {{"the same copy by cp, then sync -f",
          "mkdir -p '" + slave + "{n}' && " + copy + " && sync -f '" + slave + "{n}'",
          "cp + sync -f"}},
        Writes::Yes);
}

void BenchScan(const Options& o) {
    const std::string dir = o.base + "/scan";
    const std::string master = dir + "/master";
    const std::string slave = dir + "/slave";
    std::printf("Up-to-date slave, %ld entries a side\n", o.entries);
    ::mkdir(dir.c_str(), 0777);
    MakeTree(master, o.entries, 42, 1500000000);
    MakeTree(slave, o.entries, 42, 1500000000);
    WarmUp(dir);
    Figure baseline;
    TimeInChild([] {}, baseline);
    const auto findOver = [](const std::string& root) {
        return "find '" + root + "' -printf '%y %T@ %p\\n' >/dev/null";
    };
    const Figure kelvad = Contest(
        o.runs, "Kelvad Start request (scan + compare)", [](int) {},
        [&](int) {
            if (Sync(master, slave) != RequestResult::UpToDate) {
                std::_Exit(4);  // identical trees must plan nothing
            }
        },
        {{"find over both trees at the same time (the floor)",
          "sh -c \"" + findOver(master) + " & " + findOver(slave) + "; wait\"",
          "two finds at once"},
         {"find over both trees one after the other", findOver(master) + "; " + findOver(slave),
          "two finds in turn"},
         {"rsync -r --delete -n", "rsync -r --delete -n '" + master + "/' '" + slave + "/'",
          "rsync -n"}},
        Writes::No);
    const double perEntry = static_cast<double>(kelvad.peakKiB - baseline.peakKiB) * 1024.0 /
                            (2.0 * static_cast<double>(o.entries));
    std::printf(
        "  peak memory above the process's fixed cost: %.0f bytes per entry (%ld entries)\n",
        perEntry, 2 * o.entries);
    RemoveTree(dir);
}

void BenchBigFile(const Options& o) {
    const std::string dir = o.base + "/big";
    ::mkdir(dir.c_str(), 0777);

    std::printf("One 1 GiB file, page-cached\n");
    const std::string big = dir + "/big";
    const std::string out = dir + "/big.out";
    MakeBigFile(big, 1LL << 30);
    Run("cat '" + big + "' >/dev/null");
    const auto clear = [&](int) { ::unlink(out.c_str()); };
    Contest(
        o.runs, "Kelvad CopyOneFile", clear,
        [&](int) {
            NullHost host;
            const auto root = platform::OpenTreeRoot(dir);
            const auto slaveRoot = platform::OpenTreeRoot(dir, platform::Mounts::Stay);
            if (CopyOneFile(host, *root, "big", *slaveRoot, "big.out", CopyMode::Create).code !=
                COPY_OK) {
                std::_Exit(3);
            }
        },
        {{"cp", "cp '" + big + "' '" + out + "'", "cp"},
         {"rsync", "rsync '" + big + "' '" + out + "'", "rsync"}},
        Writes::Yes);
    clear(0);
    // The whole run, flush included, of a master holding only that file.
    const std::string master = dir + "/master";
    ::mkdir(master.c_str(), 0777);
    Run("mv '" + big + "' '" + master + "/'");
    ContestWithFlush(o, master, dir + "/flushed",
                     "cp '" + master + "/big' '" + dir + "/flushed{n}/'");
    Run("mv '" + master + "/big' '" + big + "'");
    ::unlink(big.c_str());
    RemoveTree(dir);
}

void BenchSmallFiles(const Options& o, long count, long maxBytes) {
    const std::string dir = o.base + "/copy";
    ::mkdir(dir.c_str(), 0777);
    std::printf("%ld files of 0-%ld KiB into an empty slave\n", count, maxBytes / 1024);
    const std::string master = dir + "/small";
    MakeSizedFiles(master, count, maxBytes, 9);
    Run("find '" + master + "' -type f -exec cat {} + >/dev/null");
    // Every run copies into an empty slave of its own; none is deleted before
    // the last run, since deleting makes creating files slow for minutes.
    const auto slave = [&](int serial) { return dir + "/slave" + std::to_string(serial); };
    Contest(
        o.runs, "Kelvad scan + compare + execute",
        [&](int serial) { ::mkdir(slave(serial).c_str(), 0777); },
        [&](int serial) { Sync(master, slave(serial)); },
        {{"cp -r", "cp -r '" + master + "/.' '" + dir + "/slave{n}/'", "cp -r"},
         {"rsync -r", "rsync -r '" + master + "/' '" + dir + "/slave{n}/'", "rsync -r"}},
        Writes::Yes);
    ContestWithFlush(o, master, dir + "/flushed",
                     "cp -r '" + master + "/.' '" + dir + "/flushed{n}/'");
    RemoveTree(dir);
}

// A slave that was a copy of the master before 1 % of the master's files were
// changed, added or deleted: the everyday run.
void BenchChanged(const Options& o) {
    const std::string dir = o.base + "/changed";
    const std::string master = dir + "/master";
    const std::string templ = dir + "/template";
    const std::string slave = dir + "/slave";
    const long entries = std::min(o.entries, 100000L);
    ::mkdir(dir.c_str(), 0777);
    std::printf("1 %% of %ld entries changed, added and deleted\n", entries);
    MakeTree(master, entries, 42, 1500000000);
    Run("cp -a '" + master + "' '" + templ + "'");
    CFileList files;
    const auto masterRoot = platform::OpenTreeRoot(master);
    ScanDirectory(*masterRoot, &files);
    long changes = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i]->IsDirectory() || i % 100 != 0) {
            continue;
        }
        const std::string path = files[i]->GetKey();
        ++changes;
        switch (changes % 3) {
            case 0:
                Run("printf changed > '" + path + "'");
                break;
            case 1:
                ::unlink(path.c_str());
                break;
            default:
                Run("printf added > '" + files[i]->GetDirPath() + "/added " + files[i]->GetName() +
                    "'");
        }
    }
    ContestOnCopies(
        o, master, templ, slave,
        {{"rsync -r --delete", "rsync -r --delete '" + master + "/' '" + slave + "{n}/'",
          "rsync -r --delete"}});
    RemoveTree(dir);
}

void BenchDelete(const Options& o) {
    const std::string dir = o.base + "/delete";
    const std::string templ = dir + "/template";
    const std::string victim = dir + "/victim";
    const std::string empty = dir + "/empty";
    ::mkdir(dir.c_str(), 0777);
    ::mkdir(empty.c_str(), 0777);
    std::printf("Deleting 100,000 files (1,000 directories)\n");
    MakeSizedFiles(templ, 100000, 0, 3);
    ContestOnCopies(
        o, empty, templ, victim,
        {{"rm -r", "rm -r '" + victim + "{n}'", "rm -r"},
         {"rsync -r --delete", "rsync -r --delete '" + empty + "/' '" + victim + "{n}/'",
          "rsync -r --delete"}});
    RemoveTree(dir);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    std::string what = "all";
    std::string base = "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc) {
            base = argv[++i];
        } else if (a == "--entries" && i + 1 < argc) {
            o.entries = std::atol(argv[++i]);
        } else if (a == "--runs" && i + 1 < argc) {
            o.runs = std::atoi(argv[++i]);
        } else if (a == "scan" || a == "copy" || a == "big" || a == "small" || a == "many" ||
                   a == "changed" || a == "delete" || a == "all") {
            what = a;
        } else {
            std::fprintf(stderr,
                         "usage: kelvad_bench [--dir BASE] [--entries N] [--runs R] "
                         "[scan|copy|big|small|many|changed|delete|all]\n");
            return 2;
        }
    }
    // Every run gets a fresh directory: file creation is slow for a while in a
    // directory tree where a large tree was just deleted.
    o.base = base + "/kelvad-bench-" + std::to_string(::getpid());
    if (::mkdir(o.base.c_str(), 0777) != 0) {
        std::fprintf(stderr, "%s: %s\n", o.base.c_str(), platform::ErrorText(errno).c_str());
        return 1;
    }
    std::printf("Kelvad benchmark in %s, %d runs each (warm cache)\n", o.base.c_str(), o.runs);
    SetProbeDirectory(o.base);
    if (what == "scan" || what == "all") {
        BenchScan(o);
    }
    if (what == "big" || what == "copy" || what == "all") {
        BenchBigFile(o);
    }
    if (what == "small" || what == "copy" || what == "all") {
        BenchSmallFiles(o, 10000, 65536);
    }
    if (what == "many" || what == "copy" || what == "all") {
        BenchSmallFiles(o, 100000, 4096);
    }
    if (what == "changed" || what == "all") {
        BenchChanged(o);
    }
    if (what == "delete" || what == "all") {
        BenchDelete(o);
    }
    RemoveTree(o.base);
    return 0;
}

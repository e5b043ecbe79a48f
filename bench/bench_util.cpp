#include "bench_util.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string RandomName(std::mt19937& rng, long serial) {
    static const char* const pieces[] = {"Report",  "data", "IMG_",    "notes",     "Ärger", "café",
                                         "read me", "v1.2", ".hidden", "Übersicht", "x",     "Zz"};
    static const char* const exts[] = {"", ".txt", ".JPG", ".tar.gz", ".c", " (copy)"};
    std::string name = pieces[rng() % 12];
    name += std::to_string(serial);
    name += exts[rng() % 6];
    return name;
}

std::string g_probeDir;

// Microseconds to create one empty file, over 300 files. The files stay until
// the benchmark ends: deleting them would slow down the next creations.
double ProbeCreateMicros() {
    static int probes = 0;
    const std::string dir = g_probeDir + "/probe" + std::to_string(probes++);
    ::mkdir(dir.c_str(), 0777);
    const double t0 = Now();
    for (int i = 0; i < 300; ++i) {
        const int fd = ::open((dir + "/p" + std::to_string(i)).c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return (Now() - t0) * 1e6 / 300;
}

}  // namespace

void SetProbeDirectory(const std::string& dir) {
    g_probeDir = dir;
}

void WaitForQuietFileSystem() {
    if (g_probeDir.empty()) {
        return;
    }
    ::sync();
    constexpr double kQuietMicros = 100;  // about 30 us on a quiet file system
    constexpr int kMaxWaitSeconds = 600;
    double micros = ProbeCreateMicros();
    int waited = 0;
    while (micros > kQuietMicros && waited < kMaxWaitSeconds) {
        if (waited == 0) {
            std::printf("  (file system slow: %.0f us to create a file; waiting)\n", micros);
        }
        ::sleep(15);
        waited += 15;
        micros = ProbeCreateMicros();
    }
    if (waited > 0) {
        std::printf("  (waited %d s; now %.0f us a file%s)\n", waited, micros,
                    micros > kQuietMicros ? ", still slow: figures below are pessimistic" : "");
    }
}

double Figure::Median() const {
    std::vector<double> s = seconds;
    std::sort(s.begin(), s.end());
    return s.empty() ? 0 : s[s.size() / 2];
}
double Figure::Min() const {
    return seconds.empty() ? 0 : *std::min_element(seconds.begin(), seconds.end());
}
double Figure::Max() const {
    return seconds.empty() ? 0 : *std::max_element(seconds.begin(), seconds.end());
}

// Waits for `pid`; adds its peak memory to `f` and returns its status.
int WaitFor(pid_t pid, Figure& f) {
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    f.peakKiB = std::max(f.peakKiB, usage.ru_maxrss);
    return status;
}

void TimeInChild(const std::function<void()>& work, Figure& f) {
    int fds[2];
    if (::pipe(fds) != 0) {
        std::exit(2);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const double t0 = Now();
        work();
        const double t = Now() - t0;
        (void)!::write(fds[1], &t, sizeof t);
        std::_Exit(0);
    }
    ::close(fds[1]);
    double t = 0;
    (void)!::read(fds[0], &t, sizeof t);
    ::close(fds[0]);
    WaitFor(pid, f);
    f.seconds.push_back(t);
}

bool TimeCommand(const std::string& command, Figure& f) {
    const double t0 = Now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    const int status = WaitFor(pid, f);
    f.seconds.push_back(Now() - t0);
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1)) {
        std::fprintf(stderr, "  (%s failed)\n", command.c_str());
        return false;
    }
    return true;
}

bool HaveCommand(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

int ContestSerials(int runs, const std::vector<Peer>& peers) {
    return runs * static_cast<int>(peers.size() + 1);
}

namespace {

std::string WithSerial(std::string command, int serial) {
    const std::string n = std::to_string(serial);
    for (size_t at = command.find("{n}"); at != std::string::npos; at = command.find("{n}", at)) {
        command.replace(at, 3, n);
        at += n.size();
    }
    return command;
}

}  // namespace

Figure Contest(int runs, const std::string& kelvadLabel, const RunStep& prepare,
               const RunStep& work, const std::vector<Peer>& peers, Writes writes) {
    // The preparation may itself write a large tree: the wait comes after it.
    const auto ready = [&](int serial) {
        prepare(serial);
        if (writes == Writes::Yes) {
            WaitForQuietFileSystem();
        }
    };
    Figure kelvad;
    std::vector<Figure> figures(peers.size());
    std::vector<bool> usable(peers.size());
    for (size_t p = 0; p < peers.size(); ++p) {
        usable[p] = HaveCommand(peers[p].command.substr(0, peers[p].command.find(' ')));
    }
    // Round r starts with tool r (0 is Kelvad), so that no tool always runs first.
    const int tools = static_cast<int>(peers.size()) + 1;
    for (int r = 0; r < runs; ++r) {
        for (int k = 0; k < tools; ++k) {
            const int tool = (r + k) % tools;
            const int serial = r * tools + tool;
            if (tool == 0) {
                ready(serial);
                TimeInChild([&] { work(serial); }, kelvad);
                continue;
            }
            const size_t p = static_cast<size_t>(tool - 1);
            if (usable[p]) {
                ready(serial);
                usable[p] = TimeCommand(WithSerial(peers[p].command, serial), figures[p]);
            }
        }
    }
    PrintFigure(kelvadLabel, kelvad);
    for (size_t p = 0; p < peers.size(); ++p) {
        if (usable[p]) {
            PrintFigure(peers[p].label, figures[p]);
            PrintRatio(peers[p].ratioLabel, kelvad, figures[p]);
        }
    }
    return kelvad;
}

void MakeTree(const std::string& root, long entries, unsigned seed, long mtime) {
    std::mt19937 rng(seed);
    ::mkdir(root.c_str(), 0777);
    std::vector<std::string> dirs = {root};
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    for (long i = 0; i < entries; ++i) {
        const std::string& parent = dirs[rng() % dirs.size()];
        const std::string path = parent + "/" + RandomName(rng, i);
        if (rng() % 10 == 0) {
            ::mkdir(path.c_str(), 0777);
            dirs.push_back(path);
        } else {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::futimens(fd, times);
                ::close(fd);
            }
        }
    }
}

void MakeSizedFiles(const std::string& root, long count, long maxBytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<char> data(static_cast<size_t>(maxBytes) + 1);
    for (char& c : data) {
        c = static_cast<char>(rng());
    }
    ::mkdir(root.c_str(), 0777);
    for (long i = 0; i < count; ++i) {
        const std::string dir = root + "/d" + std::to_string(i / 100);
        if (i % 100 == 0) {
            ::mkdir(dir.c_str(), 0777);
        }
        const std::string path = dir + "/f" + std::to_string(i);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const long size = static_cast<long>(rng() % static_cast<unsigned>(maxBytes + 1));
        (void)!::write(fd, data.data(), static_cast<size_t>(size));
        ::close(fd);
    }
}

void MakeBigFile(const std::string& path, long long bytes) {
    std::vector<char> block(1 << 20);
    std::mt19937 rng(7);
    for (char& c : block) {
        c = static_cast<char>(rng());
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    for (long long done = 0; done < bytes; done += static_cast<long long>(block.size())) {
        (void)!::write(fd, block.data(), block.size());
    }
    ::close(fd);
}

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

void MakeCopies(const std::string& from, const std::function<std::string(int)>& nameOf, int count) {
    for (int i = 0; i < count; ++i) {
        Run("cp -a '" + from + "' '" + nameOf(i) + "'");
    }
}

void WarmUp(const std::string& root) {
    Run("find '" + root + "' -printf '' >/dev/null");
}

void RemoveTree(const std::string& path) {
    Run("rm -rf '" + path + "'");
}

void PrintFigure(const std::string& what, const Figure& f) {
    std::printf("  %-44s median %8.3f s  (min %.3f, max %.3f, %zu runs)  peak %ld MiB\n",
                what.c_str(), f.Median(), f.Min(), f.Max(), f.seconds.size(), f.peakKiB / 1024);
    std::printf("  %-44s", "  run by run:");
    for (const double t : f.seconds) {
        std::printf(" %.3f", t);
    }
    std::printf("\n");
}

void PrintRatio(const std::string& what, const Figure& kelvad, const Figure& peer) {
    if (peer.Median() > 0) {
        std::printf("  ratio Kelvad / %-29s %.2f\n", what.c_str(), kelvad.Median() / peer.Median());
    }
}

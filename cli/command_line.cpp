#include "cli/command_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "exec/executor.h"
#include "platform/path_compare.h"
#include "res/version.h"
#include "sync/action_line.h"
#include "sync/display_text.h"
#include "sync/start_request.h"

namespace {

constexpr const char* kUsage =
    "Usage: kelvad                            open the window\n"
    "       kelvad --sync [OPTIONS] MASTER SLAVE\n"
    "                                         bring SLAVE in line with MASTER\n"
    "       kelvad --dry-run MASTER SLAVE     print the plan, change nothing\n"
    "       kelvad --help | --version\n"
    "\n"
    "Options of --sync:\n"
    "  --verbose                 print every step\n"
    "  --stop-at-first-failure   stop at the first step that fails (by default\n"
    "                            every step that does not depend on it is done)\n"
    "  --max-delete=N|all        delete or remove at most N entries; without it a\n"
    "                            run that would delete at least half of the slave\n"
    "                            (and at least 10 entries) is refused\n"
    "\n"
    "Copies what is new in MASTER, replaces what MASTER wrote later or holds at\n"
    "another size, and deletes what MASTER no longer has. MASTER is only read.\n"
    "Exit status: 0 in line (or nothing to do), 1 a step failed or a master\n"
    "directory could not be read, 2 refused before anything changed, 130\n"
    "interrupted.\n";

// Set by SIGINT and SIGTERM: a Cancel, read before each change and each piece.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string Bytes(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else {
        const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
        double value = static_cast<double>(bytes) / 1024;
        int unit = 0;
        while (value >= 1024 && unit < 3) {
            value /= 1024;
            ++unit;
        }
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    }
    return text;
}

// The executor's host on a terminal: the progress line (or, verbose, every
// status line), the messages, the interrupt as Cancel, and the counts.
class TerminalExecHost : public IExecHost {
public:
    explicit TerminalExecHost(bool verbose)
        : m_verbose(verbose), m_terminal(::isatty(STDERR_FILENO) == 1) {}

    void PumpPending() override { Draw(); }
    bool IsCancelled() const override { return g_interrupted != 0; }
    void AddCopiedBytes(std::uint64_t bytes) override { m_bytes += bytes; }
    void SetStatus(const std::string& text) override {
        m_status = text;
        if (m_verbose) {
            std::fprintf(stderr, "%s\n", EscapeForTerminal(text).c_str());
        }
        Draw();
    }
    void SetRange(size_t upper) override { m_total = upper; }
    void SetPosition(size_t position) override { m_done = position + 1; }
    void ShowMessage(const std::string& text) override {
        Clear();
        std::fprintf(stderr, "%s\n", EscapeForTerminal(text).c_str());
    }
    void StepEnded(int kind, const std::string&, StepOutcome outcome) override {
        if (outcome == StepOutcome::Done) {
            ++m_stepsDone[kind];
        } else if (outcome == StepOutcome::Failed) {
            ++m_failed[kind];
        }
    }

    // Takes the progress line off the screen.
    void Clear() {
        if (m_drawn) {
            std::fprintf(stderr, "\r\x1b[K");
            m_drawn = false;
        }
    }
    std::uint64_t CopiedBytes() const { return m_bytes; }
    // By action kind: the steps carried out, and those that failed.
    const std::array<size_t, 6>& StepsDone() const { return m_stepsDone; }
    const std::array<size_t, 6>& Failed() const { return m_failed; }

private:
    void Draw() {
        if (m_verbose || !m_terminal) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastDraw < std::chrono::milliseconds(100)) {
            return;  // ten times a second at most
        }
        m_lastDraw = now;
        winsize size{};
        const size_t width =
            ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        std::string line = "[" + std::to_string(m_done) + "/" + std::to_string(m_total) + "] " +
                           Bytes(m_bytes) + "  ";
        if (line.size() + 8 < width) {
            // Fits the width in characters; a cut in bytes would split one, or an escape.
            line += ShortenForTerminal(m_status, width - 1 - line.size());
        } else if (line.size() >= width) {
            line.resize(width - 1);
        }
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        m_drawn = true;
    }

    bool m_verbose;
    bool m_terminal;
    bool m_drawn = false;
    std::string m_status;
    size_t m_total = 0;
    size_t m_done = 0;
    std::uint64_t m_bytes = 0;
    std::array<size_t, 6> m_stepsDone{};
    std::array<size_t, 6> m_failed{};
    std::chrono::steady_clock::time_point m_lastDraw{};
};

// The Start request's host: messages on the standard error, the plan on the
// standard output for a dry run, no settings file.
class TerminalRequestHost : public IRequestHost {
public:
    TerminalRequestHost(bool verbose, OnFailure onFailure)
        : m_exec(verbose), m_onFailure(onFailure) {}

    void ShowMessage(const std::string& text, const char*) override {
        std::fprintf(stderr, "%s\n", EscapeForTerminal(text).c_str());
    }
    void SetBusy(bool) override {}
    bool KeepAliveWhileBusy() override { return g_interrupted != 0; }
    bool ConfirmDeletion(size_t deletions, size_t entries) override {
        // Nobody is there to ask: refused, and said how to allow it.
        std::fprintf(stderr, "%s; nothing was changed (--max-delete=%zu allows it)\n",
                     MassDeletionText(deletions, entries).c_str(), deletions);
        m_deletionRefused = true;
        return false;
    }
    void ShowUnreadable(const std::vector<std::string>& messages) override {
        for (const std::string& message : messages) {
            ShowMessage(message, nullptr);
        }
        m_unreadable = messages.size();
    }
    bool ApprovePlan(const CActionList& actions, const std::string& slaveRoot) override {
        // Only a dry run asks: it prints the plan in the preview's words.
        const std::string root = slaveRoot + platform::kSeparator;
        for (const auto& action : actions) {
            std::printf("%s\n", BuildTerminalActionLine(*action, root).c_str());
        }
        return false;
    }
    bool ExecutePlan(const CActionList& actions, platform::TreeRoot& master,
                     platform::TreeRoot& slave) override {
        m_counts = CountByKind(actions);
        m_ran = true;
        const bool done = ExecuteActions(m_exec, actions, master, slave, FlushAtEnd::Yes, m_onFailure);
        m_exec.Clear();
        return done;
    }
    void SaveSettings() override {}  // the command line never touches kelvad.ini

    // "3 created, 1 modified, 2 deleted, 1 directory made, 0 removed; 1.2 MiB
    // copied in 0.4 s", and when not everything was done "; 2 failed, 3 not
    // tried, 1 directories not read". Only what was done counts as done;
    // what a failure, a stop or an interrupt kept from being tried is "not tried".
    std::string Summary(double seconds) const {
        const std::array<size_t, 6>& done = m_exec.StepsDone();
        size_t failed = 0;
        size_t skipped = 0;
        for (size_t kind = 0; kind < done.size(); ++kind) {
            failed += m_exec.Failed()[kind];
            skipped += m_counts[kind] - std::min(m_counts[kind], done[kind] + m_exec.Failed()[kind]);
        }
        char text[384];
        int n = std::snprintf(text, sizeof text,
                              "%zu created, %zu modified, %zu deleted, %zu directories made, "
                              "%zu removed; %s copied in %.1f s",
                              done[ACTION_CREATE], done[ACTION_MODIFY], done[ACTION_DELETE],
                              done[ACTION_MKDIR], done[ACTION_RMDIR],
                              Bytes(m_exec.CopiedBytes()).c_str(), seconds);
        if (failed + skipped + m_unreadable > 0 && n > 0 && static_cast<size_t>(n) < sizeof text) {
            std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                          "; %zu failed, %zu not tried, %zu directories not read", failed,
                          skipped, m_unreadable);
        }
        return text;
    }
    bool Ran() const { return m_ran; }
    bool Unreadable() const { return m_unreadable > 0; }
    bool DeletionRefused() const { return m_deletionRefused; }

private:
    TerminalExecHost m_exec;
    OnFailure m_onFailure;
    std::array<size_t, 6> m_counts{};
    size_t m_unreadable = 0;
    bool m_ran = false;
    bool m_deletionRefused = false;
};

// The value of --max-delete: a count, or "all"; false when it is neither.
bool ParseMaxDelete(const std::string& value, long long& max) {
    if (value == "all") {
        max = std::numeric_limits<long long>::max();
        return true;
    }
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
        value.size() > 18) {
        return false;
    }
    max = std::stoll(value);
    return true;
}

int Usage() {
    std::fputs(kUsage, stderr);
    return kExitRefused;
}

}  // namespace

bool WantsCommandLine(int argc, char** /*argv*/) {
    return argc > 1;
}

int RunCommandLine(int argc, char** argv) {
    bool sync = false;
    bool dryRun = false;
    bool verbose = false;
    bool stopAtFirstFailure = false;
    long long maxDelete = -1;
    std::vector<std::string> roots;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.empty() || arg[0] != '-') {
            roots.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--help" && argc == 2) {
            std::fputs(kUsage, stdout);
            return kExitInLine;
        } else if (arg == "--version" && argc == 2) {
            std::printf("Kelvad %s\n", kKelvadVersion);
            return kExitInLine;
        } else if (arg == "--sync") {
            sync = true;
        } else if (arg == "--dry-run") {
            dryRun = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--stop-at-first-failure") {
            stopAtFirstFailure = true;
        } else if (arg.rfind("--max-delete=", 0) == 0 &&
                   ParseMaxDelete(arg.substr(std::strlen("--max-delete=")), maxDelete)) {
        } else {
            std::fprintf(stderr, "kelvad: unknown option %s\n", EscapeForTerminal(arg).c_str());
            return Usage();
        }
    }
    if ((!sync && !dryRun) || roots.size() != 2 || (dryRun && verbose)) {
        return Usage();
    }
    CatchInterrupts();
    TerminalRequestHost host(verbose, stopAtFirstFailure ? OnFailure::Stop : OnFailure::KeepGoing);
    const auto began = std::chrono::steady_clock::now();
    // A dry run is a Preview whose plan is printed and not approved.
    StartRequest request{roots[0], roots[1], dryRun ? RunMode::Preview : RunMode::JustDoIt, {}};
    request.maxDelete = maxDelete;
    const RequestResult result = RunStartRequest(host, request);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    switch (result) {
        case RequestResult::Refused: return kExitRefused;
        case RequestResult::Stopped: return kExitInterrupted;
        case RequestResult::UpToDate: return kExitInLine;
        case RequestResult::NotRun:
            // A dry run that could not read part of the master has told so.
            return host.DeletionRefused() ? kExitRefused
                                          : (host.Unreadable() ? kExitStepFailed : kExitInLine);
        case RequestResult::Failed:
            if (host.Ran()) {
                std::printf("%s\n", EscapeForTerminal(host.Summary(seconds)).c_str());
            }
            return g_interrupted != 0 ? kExitInterrupted : kExitStepFailed;
        case RequestResult::Done:
            std::printf("%s\n", EscapeForTerminal(host.Summary(seconds)).c_str());
            return kExitInLine;
    }
    return kExitStepFailed;
}

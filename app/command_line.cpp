#include "app/command_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/action_line.h"
#include "app/display_text.h"
#include "exec/executor.h"
#include "platform/path_compare.h"
#include "res/version.h"
#include "sync/start_request.h"

namespace {

constexpr const char* kUsage =
    "Usage: kelvad                            open the window\n"
    "       kelvad --sync [--verbose] MASTER SLAVE\n"
    "                                         bring SLAVE in line with MASTER\n"
    "       kelvad --dry-run MASTER SLAVE     print the plan, change nothing\n"
    "       kelvad --help | --version\n"
    "\n"
    "Copies what is new in MASTER, replaces what MASTER wrote later or holds at\n"
    "another size, and deletes what MASTER no longer has. MASTER is only read.\n"
    "Exit status: 0 in line (or nothing to do), 1 a step failed, 2 refused before\n"
    "anything changed, 130 interrupted.\n";

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

    void PumpOneMessage() override { Draw(); }
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

    // Takes the progress line off the screen.
    void Clear() {
        if (m_drawn) {
            std::fprintf(stderr, "\r\x1b[K");
            m_drawn = false;
        }
    }
    std::uint64_t CopiedBytes() const { return m_bytes; }

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
    std::chrono::steady_clock::time_point m_lastDraw{};
};

// The Start request's host: messages on the standard error, the plan on the
// standard output for a dry run, no settings file.
class TerminalRequestHost : public IRequestHost {
public:
    explicit TerminalRequestHost(bool verbose) : m_exec(verbose) {}

    void ShowMessage(const std::string& text, const char*) override {
        std::fprintf(stderr, "%s\n", EscapeForTerminal(text).c_str());
    }
    void SetBusy(bool) override {}
    bool KeepAliveWhileBusy() override { return g_interrupted != 0; }
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
        const bool done = ExecuteActions(m_exec, actions, master, slave);
        m_exec.Clear();
        return done;
    }
    void SaveSettings() override {}  // the command line never touches kelvad.ini

    // "3 created, 1 modified, 2 deleted, 1 directory made, 0 removed; 1.2 MiB
    // copied in 0.4 s"
    std::string Summary(double seconds) const {
        char text[256];
        std::snprintf(text, sizeof text,
                      "%zu created, %zu modified, %zu deleted, %zu directories made, %zu removed; "
                      "%s copied in %.1f s",
                      m_counts[ACTION_CREATE], m_counts[ACTION_MODIFY], m_counts[ACTION_DELETE],
                      m_counts[ACTION_MKDIR], m_counts[ACTION_RMDIR],
                      Bytes(m_exec.CopiedBytes()).c_str(), seconds);
        return text;
    }

private:
    TerminalExecHost m_exec;
    std::array<size_t, 6> m_counts{};
};

int Usage() {
    std::fputs(kUsage, stderr);
    return EXIT_REFUSED;
}

}  // namespace

bool WantsCommandLine(int argc, char** /*argv*/) {
    return argc > 1;
}

int RunCommandLine(int argc, char** argv) {
    bool sync = false;
    bool dryRun = false;
    bool verbose = false;
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
            return EXIT_IN_LINE;
        } else if (arg == "--version" && argc == 2) {
            std::printf("Kelvad %s\n", kKelvadVersion);
            return EXIT_IN_LINE;
        } else if (arg == "--sync") {
            sync = true;
        } else if (arg == "--dry-run") {
            dryRun = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            std::fprintf(stderr, "kelvad: unknown option %s\n", EscapeForTerminal(arg).c_str());
            return Usage();
        }
    }
    if ((!sync && !dryRun) || roots.size() != 2 || (dryRun && verbose)) {
        return Usage();
    }
    CatchInterrupts();
    TerminalRequestHost host(verbose);
    const auto began = std::chrono::steady_clock::now();
    // A dry run is a Preview whose plan is printed and not approved.
    const RequestResult result =
        RunStartRequest(host, StartRequest{roots[0], roots[1], dryRun ? 1 : 0, {}});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    switch (result) {
        case RequestResult::Refused: return EXIT_REFUSED;
        case RequestResult::Stopped: return EXIT_INTERRUPTED;
        case RequestResult::UpToDate:
        case RequestResult::NotRun: return EXIT_IN_LINE;
        case RequestResult::Failed:
            return g_interrupted != 0 ? EXIT_INTERRUPTED : EXIT_STEP_FAILED;
        case RequestResult::Done:
            std::printf("%s\n", EscapeForTerminal(host.Summary(seconds)).c_str());
            return EXIT_IN_LINE;
    }
    return EXIT_STEP_FAILED;
}

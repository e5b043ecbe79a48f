#include "cli/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "exec/executor.h"
#include "exec/keeper.h"
#include "exec/run_progress.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/trash.h"
#include "res/version.h"
#include "sync/action_line.h"
#include "sync/display_text.h"
#include "sync/run_log.h"
#include "sync/start_request.h"

namespace {

constexpr const char* kUsageText =
    "Usage: kelvad                            open the window\n"
    "       kelvad --sync [OPTIONS] MASTER SLAVE\n"
    "                                         bring SLAVE in line with MASTER\n"
    "       kelvad -n|--dry-run [OPTIONS] MASTER SLAVE\n"
    "                                         print the plan, change nothing (with\n"
    "                                         --sync too: the dry run wins); takes\n"
    "                                         -q, --exclude, --exclude-from,\n"
    "                                         --log-file, --no-log,\n"
    "                                         --no-space-check and the options\n"
    "                                         that keep versions\n"
    "       kelvad -h|--help | -V|--version\n"
    "\n"
    "Options of --sync:\n"
    "  -v, --verbose             print every step\n"
    "  -q, --quiet               print nothing unless something fails\n"
    "  --exclude PATTERN         leave out what PATTERN matches (as a line of a\n"
    "                            .kelvadignore file in MASTER); repeatable\n"
    "  --exclude-from FILE       the same for each line of FILE\n"
    "  --log-file FILE           record the run in FILE instead of the usual log,\n"
    "                            {usual log}\n"
    "  --no-log                  record the run nowhere (a log inside MASTER or\n"
    "                            SLAVE is never part of the mirror)\n"
    "  --stop-at-first-failure   stop at the first step that fails (by default\n"
    "                            every step that does not depend on it is done)\n"
    "  --max-delete=N|all        delete or remove at most N entries; without it a\n"
    "                            run that would delete at least half of the slave\n"
    "                            (and at least 10 entries) is refused\n"
    "  --allow-older             replace slave files that are newer than the\n"
    "                            master's copies (without it such a run is refused)\n"
    "  --no-space-check          run even when what the run copies, less what it\n"
    "                            deletes and replaces, exceeds SLAVE's free space\n"
    "                            (without it such a run is refused)\n"
    "  --jobs N                  copy N files at once (by default one for each\n"
    "                            core, at most 8; 1 copies one after the other)\n"
    "  --keep-versions[=DAYS]    keep what the run deletes, replaces or removes:\n"
    "                            move it into SLAVE/.kelvad-versions/START TIME\n"
    "                            (\"2026-12-10 04.12.05\"); after the run, remove\n"
    "                            such folders older than DAYS days (30; \"forever\"\n"
    "                            keeps them all)\n"
    "  --versions-dir DIR        the same in DIR, a directory on SLAVE's file\n"
    "                            system outside MASTER and SLAVE\n"
    "  --trash                   move it to the desktop's Trash instead\n"
    "\n"
    "Copies what is new in MASTER, replaces what MASTER wrote later or holds at\n"
    "another size, and deletes what MASTER no longer has. MASTER is only read.\n"
    "A file or folder moved in MASTER (same size, time and bytes; a folder by\n"
    "its whole subtree) is renamed in SLAVE, not copied again.\n"
    "A missing SLAVE whose parent directory exists is made (a dry run says it\n"
    "would be). A kept file is restored by copying it back from its dated\n"
    "folder; the file manager's Restore puts back what went to the Trash.\n"
    "Exit status: 0 in line (or nothing to do), 1 a step failed, a directory\n"
    "of either tree could not be read or the log could not be written, 2\n"
    "refused before anything changed, 24 master files vanished after the scan\n"
    "and nothing else went wrong, 130 interrupted.\n";

// The usage, with where the usual log is kept on this system.
std::string Usage() {
    return WithPlaceFilled(kUsageText, "{usual log}", RunLog::DefaultPathShown());
}

// Set by SIGINT and SIGTERM: a Cancel, read before each change and each piece.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

// How a run is shown on a terminal: the progress line (or, verbose, every
// status line), the messages, and the interrupt as Cancel.
class TerminalExecHost : public IExecHost {
public:
    TerminalExecHost(bool verbose, bool quiet)
        : m_verbose(verbose), m_terminal(!quiet && platform::StandardErrorIsTerminal()) {}

    void PumpPending() override { Draw(); }
    bool IsCancelled() const override { return g_interrupted != 0; }
    void SetStatus(const std::string& text) override {
        m_status = text;
        if (m_verbose) {
            std::fprintf(stderr, "%s\n", EscapeForTerminal(text).c_str());
        }
        Draw();
    }
    void SetProgress(const RunProgress& progress) override { m_run = &progress; }
    void RunEnded() override {
        Clear();
        m_run = nullptr;
    }
    void ShowMessage(const std::string& text) override {
        Clear();
        std::fprintf(stderr, "%s\n", EscapeForTerminal(text).c_str());
    }
    // Said even when quiet: it is why the run ends with status 24.
    void SourceVanished(int, const std::string& masterFile) override {
        ShowMessage("vanished: " + masterFile);
    }
    // Takes the progress line off the screen.
    void Clear() {
        if (m_drawn) {
            std::fprintf(stderr, "\r\x1b[K");
            m_drawn = false;
        }
    }

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
        const size_t width = platform::TerminalColumns();
        std::string line = ProgressText(now) + "  ";
        if (line.size() + 8 < width) {
            // Fits the width in characters; a cut in bytes would split one, or an escape.
            line += ShortenForTerminal(m_status, width - 1 - line.size());
        } else if (line.size() >= width) {
            line.resize(width - 1);
        }
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        m_drawn = true;
    }

    // "[12/20101] 858.0 MiB of 2.0 GiB, 43%, 1 min 20 s left": the steps ended,
    // the bytes copied (when the plan copies any), the share of the work done
    // and, once it can be told, the time left.
    std::string ProgressText(std::chrono::steady_clock::time_point now) const {
        if (!m_run) {
            return "[0/0]";
        }
        std::string text =
            "[" + std::to_string(m_run->StepsDone()) + "/" + std::to_string(m_run->Steps()) + "] ";
        if (m_run->Bytes() > 0) {
            text +=
                ByteCountText(m_run->BytesDone()) + " of " + ByteCountText(m_run->Bytes()) + ", ";
        }
        // Whole per cents, rounded down: 100% only when everything is done.
        text += std::to_string(static_cast<int>(m_run->Fraction() * 100)) + "%";
        if (const auto left = m_run->TimeLeft(now)) {
            text += ", " + DurationText(*left) + " left";
        }
        return text;
    }

    bool m_verbose;
    bool m_terminal;
    bool m_drawn = false;
    std::string m_status;
    const RunProgress* m_run = nullptr;  // from SetProgress to RunEnded
    std::chrono::steady_clock::time_point m_lastDraw{};
};

// The Start request's host: messages on the standard error, the plan on the
// standard output for a dry run, no settings file.
class TerminalRequestHost : public IRequestHost {
public:
    TerminalRequestHost(bool verbose, bool quiet) : m_exec(verbose, quiet), m_quiet(quiet) {}

    // What only informs ("Slave directory structure is up-to-date") is no
    // error: it goes to the standard output, and not at all when quiet.
    void ShowMessage(const std::string& text, MessageKind kind) override {
        const bool info = kind == MessageKind::Info;
        if (!info || !m_quiet) {
            std::fprintf(info ? stdout : stderr, "%s\n", EscapeForTerminal(text).c_str());
        }
    }
    void SetBusy(bool) override {}
    bool KeepAliveWhileBusy() override { return g_interrupted != 0; }
    // As a copy tool would, a missing slave is made without a question, and
    // said on the standard output.
    Answer ConfirmCreateSlave(const std::string&) override { return Answer::Yes; }
    void TellSlaveCreated(const std::string& text) override {
        ShowMessage(text, MessageKind::Info);
    }
    Answer ConfirmRisk(const RunRisk& risk) override {
        // Nobody is there to ask: refused, and said how to allow it.
        std::string allow =
            risk.massDeletion ? "--max-delete=" + std::to_string(risk.deletions) : "";
        if (risk.replacingNewer > 0) {
            allow += (allow.empty() ? "" : " ") + std::string("--allow-older");
        }
        std::fprintf(stderr, "%s; nothing was changed (%s %s it)\n", RiskText(risk).c_str(),
                     allow.c_str(), allow.find(' ') == std::string::npos ? "allows" : "allow");
        return Answer::Refused;
    }
    Answer ConfirmSpace(const SpaceShortage& shortage) override {
        std::fprintf(stderr, "%s; nothing was changed (--no-space-check allows it)\n",
                     SpaceText(shortage).c_str());
        return Answer::Refused;
    }
    void ShowUnreadable(const std::vector<std::string>& messages) override { ShowEach(messages); }
    void ShowBlocked(const std::vector<std::string>& messages) override { ShowEach(messages); }
    void ShowUnusable(const std::vector<std::string>& messages) override { ShowEach(messages); }
    void ShowEach(const std::vector<std::string>& messages) {
        for (const std::string& message : messages) {
            ShowMessage(message, MessageKind::Error);
        }
    }
    bool ApprovePlan(const CActionList& actions, const std::string& slaveRoot) override {
        // Only a dry run asks: it prints the plan in the preview's words, then
        // what it comes to.
        const std::string root = slaveRoot + platform::kSeparator;
        for (const auto& action : actions) {
            std::printf("%s\n", BuildTerminalActionLine(*action, root).c_str());
        }
        std::printf("%s\n", PlanTotals(actions, m_notes).c_str());
        return false;
    }
    IExecHost* BeginRun() override { return &m_exec; }
    void SaveSettings() override {}  // the command line never touches kelvad.ini
    void TellPlanNotes(const PlanNotes& notes) override { m_notes = notes; }

private:
    TerminalExecHost m_exec;
    bool m_quiet;
    PlanNotes m_notes;
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

// What the arguments ask for.
struct Options {
    bool help = false;
    bool version = false;
    bool sync = false;
    bool dryRun = false;
    bool verbose = false;
    bool quiet = false;
    bool stopAtFirstFailure = false;
    bool noLog = false;
    bool allowOlder = false;
    bool keepVersions = false;
    std::optional<int> keepDays = kDefaultKeepDays;
    std::string versionsDir;
    bool trash = false;
    bool noSpaceCheck = false;
    long long maxDelete = -1;
    unsigned jobs = DefaultJobs();
    std::string logFile;  // empty: the usual log
    // --exclude patterns and --exclude-from files, in their order: a later one wins.
    struct ExcludeSource {
        bool isFile;
        std::string text;
    };
    std::vector<ExcludeSource> excludes;
    std::vector<std::string> roots;
};

// Says what is wrong with the arguments in one line, then how to use Kelvad.
int UsageError(const std::string& what) {
    std::fprintf(stderr, "kelvad: %s\n%s", EscapeForTerminal(what).c_str(), Usage().c_str());
    return kExitRefused;
}

enum LongOption {
    kStopAtFirstFailure = 256,
    kMaxDelete,
    kSync,
    kLogFile,
    kNoLog,
    kExclude,
    kExcludeFrom,
    kAllowOlder,
    kKeepVersions,
    kVersionsDir,
    kTrash,
    kNoSpaceCheck,
    kJobs,
};

constexpr option kLong[] = {
    {"sync", no_argument, nullptr, kSync},
    {"dry-run", no_argument, nullptr, 'n'},
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"stop-at-first-failure", no_argument, nullptr, kStopAtFirstFailure},
    {"max-delete", required_argument, nullptr, kMaxDelete},
    {"allow-older", no_argument, nullptr, kAllowOlder},
    {"log-file", required_argument, nullptr, kLogFile},
    {"no-log", no_argument, nullptr, kNoLog},
    {"exclude", required_argument, nullptr, kExclude},
    {"exclude-from", required_argument, nullptr, kExcludeFrom},
    {"keep-versions", optional_argument, nullptr, kKeepVersions},
    {"versions-dir", required_argument, nullptr, kVersionsDir},
    {"trash", no_argument, nullptr, kTrash},
    {"no-space-check", no_argument, nullptr, kNoSpaceCheck},
    {"jobs", required_argument, nullptr, kJobs},
    {nullptr, 0, nullptr, 0},
};

// The value of --keep-versions: a number of days, or "forever".
platform::Checked<> ParseKeepDays(const char* value, Options& o) {
    o.keepVersions = true;
    const std::string days = value != nullptr ? value : "";
    if (days.empty()) {
        return {};
    }
    if (days == "forever") {
        o.keepDays.reset();
        return {};
    }
    if (days.find_first_not_of("0123456789") != std::string::npos || days.size() > 6) {
        return platform::Problem{"--keep-versions takes a number of days or \"forever\", not \"" +
                                 days + "\""};
    }
    o.keepDays = std::stoi(days);
    return {};
}

// The options that only turn something on.
constexpr std::pair<int, bool Options::*> kFlags[] = {
    {kSync, &Options::sync},
    {'n', &Options::dryRun},
    {'v', &Options::verbose},
    {'q', &Options::quiet},
    {'h', &Options::help},
    {'V', &Options::version},
    {kStopAtFirstFailure, &Options::stopAtFirstFailure},
    {kNoLog, &Options::noLog},
    {kAllowOlder, &Options::allowOlder},
    {kTrash, &Options::trash},
    {kNoSpaceCheck, &Options::noSpaceCheck},
};

// Takes the option `c` (its value in optarg) into `o`.
platform::Checked<> TakeOption(int c, Options& o) {
    for (const auto& [flag, field] : kFlags) {
        if (c == flag) {
            o.*field = true;
            return {};
        }
    }
    switch (c) {
        case kExclude:
        case kExcludeFrom:
            o.excludes.push_back({c == kExcludeFrom, optarg});
            break;
        case kKeepVersions:
            return ParseKeepDays(optarg, o);
        case kLogFile:
        case kVersionsDir:
            if (*optarg == '\0') {
                return platform::Problem{c == kLogFile ? "--log-file needs a file name"
                                                       : "--versions-dir needs a directory"};
            }
            (c == kLogFile ? o.logFile : o.versionsDir) = optarg;
            break;
        case kJobs: {
            const std::string jobs = optarg;
            if (jobs.empty() || jobs.size() > 3 ||
                jobs.find_first_not_of("0123456789") != std::string::npos || std::stoi(jobs) < 1 ||
                std::stoi(jobs) > 256) {
                return platform::Problem{"--jobs takes a count from 1 to 256, not \"" + jobs +
                                         "\""};
            }
            o.jobs = static_cast<unsigned>(std::stoi(jobs));
            break;
        }
        case kMaxDelete:
            if (!ParseMaxDelete(optarg, o.maxDelete)) {
                return platform::Problem{
                    std::string("--max-delete takes a count or \"all\", not \"") + optarg + "\""};
            }
            break;
    }
    return {};
}

// What is wrong with `arg`, which getopt did not take (`shortOption` for a
// short one).
platform::Problem UnknownOption(const std::string& arg, int shortOption) {
    if (shortOption != 0 && arg.rfind("--", 0) != 0) {
        return platform::Problem{std::string("unknown option -") + static_cast<char>(shortOption)};
    }
    if (arg.rfind("--max-delete", 0) == 0) {
        return platform::Problem{"--max-delete needs a count or \"all\""};
    }
    for (const char* needsValue :
         {"--log-file", "--exclude-from", "--exclude", "--versions-dir", "--jobs"}) {
        if (arg.rfind(needsValue, 0) == 0) {
            return platform::Problem{std::string(needsValue) + " needs a value"};
        }
    }
    // "--dry-run=x": an option that takes no value was given one.
    const size_t equals = arg.find('=');
    for (const option* known = kLong; known->name != nullptr && equals != std::string::npos;
         ++known) {
        if (known->has_arg == no_argument && arg.compare(2, equals - 2, known->name) == 0) {
            return platform::Problem{arg.substr(0, equals) + " takes no value"};
        }
    }
    return platform::Problem{"unknown option " + arg};
}

// Reads the options, or says what is wrong with them.
platform::Checked<Options> ParseOptions(int argc, char** argv) {
    Options o;
    opterr = 0;  // the messages are ours
    optind = 1;
    for (int c; (c = getopt_long(argc, argv, "nvqhV", kLong, nullptr)) != -1;) {
        if (c == '?' || c == ':') {
            return UnknownOption(argv[optind - 1], optopt);
        }
        if (const platform::Checked<> taken = TakeOption(c, o); !taken.ok()) {
            return taken.problem();
        }
    }
    o.roots.assign(argv + optind, argv + argc);
    return o;
}

// The rules of the --exclude and --exclude-from options, in their order, or
// what is wrong with one of them.
platform::Checked<IgnoreRules> ReadExcludes(const Options& o) {
    IgnoreRules all;
    for (const Options::ExcludeSource& source : o.excludes) {
        std::string text = source.text;
        if (source.isFile) {
            if (const platform::Status read = platform::ReadWholeFile(source.text, text);
                !read.ok()) {
                return platform::Problem{"cannot read " + source.text + " (" + read.Reason() + ")"};
            }
        }
        platform::Checked<IgnoreRules> rules =
            IgnoreRules::Parse(text, source.isFile ? source.text : "--exclude");
        if (!rules.ok()) {
            platform::Problem problem = rules.problem();
            if (!source.isFile) {
                // One pattern: no line to name.
                problem.message.replace(0, std::strlen("--exclude:1:"), "--exclude:");
            }
            return problem;
        }
        all.Append(*rules);
    }
    return all;
}

// The exit status of a request that ended with `result`; prints the summary
// of a run where it is due.
int StatusOfRequest(const RequestResult& result, bool quiet);

// Where the options say a run's deleted and replaced files go.
Keeping KeepingOf(const Options& o) {
    Keeping keeping;
    if (o.trash) {
        keeping.place = Keeping::Place::Trash;
    } else if (o.keepVersions || !o.versionsDir.empty()) {
        keeping.place = Keeping::Place::VersionsFolder;
        keeping.versionsDir = o.versionsDir;
        keeping.keepDays = o.keepDays;
    }
    return keeping;
}

// Whether the options go together, or what is wrong.
platform::Checked<> CheckOptions(const Options& o) {
    // "--sync -n" is how a sync command is tried first: the dry run wins, as
    // it changes nothing; --quiet then keeps "up-to-date" to itself.
    if (!o.sync && !o.dryRun) {
        return platform::Problem{
            "say --sync to bring the slave in line, or --dry-run to print the plan"};
    }
    if (o.verbose && o.quiet) {
        return platform::Problem{"--verbose and --quiet cannot be used together"};
    }
    if (o.dryRun && o.verbose) {
        return platform::Problem{"--verbose has no use with --dry-run"};
    }
    if (o.noLog && !o.logFile.empty()) {
        return platform::Problem{"--no-log and --log-file cannot be used together"};
    }
    if (o.trash && (o.keepVersions || !o.versionsDir.empty())) {
        return platform::Problem{
            "--trash cannot be used with --keep-versions or --versions-dir (the desktop empties "
            "its Trash itself)"};
    }
    if (o.trash && !platform::kHasTrash) {
        return platform::Problem{
            "--trash is not available on this system; --keep-versions keeps earlier versions in "
            "the slave"};
    }
    if (o.roots.size() != 2) {
        return platform::Problem{std::string(o.dryRun ? "--dry-run" : "--sync") +
                                 " takes two directories, MASTER and SLAVE, not " +
                                 std::to_string(o.roots.size())};
    }
    return {};
}

}  // namespace

bool WantsCommandLine(int argc, char** /*argv*/) {
    return argc > 1;
}

namespace {

// Opens the log the options ask for, saying so where it cannot be; false when
// the run must not go ahead (a log asked for by name that cannot be opened).
bool OpenLog(const Options& o, RunLog& log) {
    // The usual log is kept where it can be; a log asked for by name must be.
    const std::string logPath = o.logFile.empty() ? RunLog::DefaultPath() : o.logFile;
    if (o.noLog) {
        return true;  // recorded nowhere
    }
    if (logPath.empty()) {
        // A nightly job without a home stays silent; it is said otherwise.
        if (!o.quiet) {
            std::fprintf(stderr, "kelvad: no place for the log (%s); the run is not recorded\n",
                         RunLog::DefaultPathUnknown().c_str());
        }
        return true;
    }
    if (const platform::Status opened = log.Open(logPath); !opened.ok()) {
        std::fprintf(stderr, "kelvad: cannot open the log %s (%s)%s\n",
                     EscapeForTerminal(logPath).c_str(), opened.Reason().c_str(),
                     o.logFile.empty() ? "; the run is not recorded" : "");
        return o.logFile.empty();
    }
    return true;
}

// The request the options ask for.
StartRequest RequestOf(const Options& o, RunLog& log, IgnoreRules excludes) {
    // A dry run is a Preview whose plan is printed and not approved.
    StartRequest request{
        o.roots[0], o.roots[1], o.dryRun ? RunMode::Preview : RunMode::JustDoIt, {}};
    request.maxDelete = o.maxDelete;
    request.allowOlder = o.allowOlder;
    request.spaceCheck = !o.noSpaceCheck;
    request.keeping = KeepingOf(o);
    request.onFailure = o.stopAtFirstFailure ? OnFailure::Stop : OnFailure::KeepGoing;
    request.jobs = o.jobs;
    request.log = o.noLog ? nullptr : &log;
    request.excludes = std::move(excludes);
    request.dryRun = o.dryRun;
    request.nameSlaveInRefusal = true;
    return request;
}

// The exit status `status` of a run recorded in `log`, once what went wrong
// with the log has been said.
int StatusAfterLog(int status, const RunLog& log, const Options& o) {
    // The usual log that could not be made is said as before the run, and
    // the run goes on unrecorded.
    if (!log.Failure().ok() && !log.WasOpened() && o.logFile.empty()) {
        std::fprintf(stderr, "kelvad: cannot open the log %s (%s); the run is not recorded\n",
                     EscapeForTerminal(log.Path()).c_str(), log.Failure().Reason().c_str());
        return status;
    }
    // A run that could not be recorded is no success, though what it changed
    // stays; said once.
    if (!log.Failure().ok()) {
        std::fprintf(stderr,
                     "kelvad: cannot write the log %s (%s); the run is not fully recorded\n",
                     EscapeForTerminal(log.Path()).c_str(), log.Failure().Reason().c_str());
        return status == kExitInLine ? kExitStepFailed : status;
    }
    return status;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    platform::Checked<Options> parsed = ParseOptions(argc, argv);
    if (!parsed.ok()) {
        return UsageError(parsed.problem().message);
    }
    const Options o = *std::move(parsed);
    if (o.help) {
        std::fputs(Usage().c_str(), stdout);
        return kExitInLine;
    }
    if (o.version) {
        std::printf("Kelvad %s\n", kKelvadVersion);
        return kExitInLine;
    }
    if (const platform::Checked<> checked = CheckOptions(o); !checked.ok()) {
        return UsageError(checked.problem().message);
    }
    platform::Checked<IgnoreRules> excludes = ReadExcludes(o);
    if (!excludes.ok()) {
        std::fprintf(stderr, "kelvad: %s\n", EscapeForTerminal(excludes.problem().message).c_str());
        return kExitRefused;
    }
    RunLog log;
    if (!OpenLog(o, log)) {
        return kExitRefused;
    }
    platform::CatchInterrupts(OnInterrupt);
    TerminalRequestHost host(o.verbose, o.quiet);
    const StartRequest request = RequestOf(o, log, *std::move(excludes));
    return StatusAfterLog(StatusOfRequest(RunStartRequest(host, request), o.quiet), log, o);
}

namespace {

int StatusOfRequest(const RequestResult& result, bool quiet) {
    // The summary of a run that did not do everything is printed whatever
    // --quiet says, on the standard error then.
    const auto summary = [&](bool failed) {
        if (!quiet || failed) {
            std::fprintf(quiet ? stderr : stdout, "%s\n",
                         EscapeForTerminal(result.summary).c_str());
        }
    };
    switch (result.end) {
        case RequestResult::Refused:
            return kExitRefused;
        case RequestResult::Stopped:
            return kExitInterrupted;
        case RequestResult::UpToDate:
            return kExitInLine;
        case RequestResult::NotRun:
            // A dry run that could not read part of the master has told so.
            return result.unreadable + result.blocked > 0 ? kExitStepFailed : kExitInLine;
        case RequestResult::Failed:
            if (result.ran) {
                summary(true);
            }
            return g_interrupted != 0 ? kExitInterrupted : kExitStepFailed;
        case RequestResult::Done:
            // Vanished files were not copied: not everything was done.
            summary(result.vanished > 0);
            return result.vanished > 0 ? kExitVanished : kExitInLine;
    }
    return kExitStepFailed;
}

}  // namespace

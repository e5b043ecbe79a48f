// The Start request: from the two typed directories and the run mode to a
// slave in line with the master, with every check and message in its order.
// No windows: it talks to the user through IRequestHost, which the main dialog
// implements, and so do the tests and the benchmark.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exec/executor.h"
#include "exec/keeper.h"
#include "exec/run_host.h"
#include "platform/tree_root.h"
#include "sync/action_line.h"
#include "tree/action.h"
#include "tree/ignore_rules.h"

class RunLog;
struct RunRisk;

// How a run that was carried out ended, for the host that showed it.
struct RunEnd {
    // Everything was done: false after a failure or a cancel, each already
    // made known to the user.
    bool done = false;
    // Not done because the user cancelled it (Cancel, SIGINT).
    bool cancelled = false;
    // "3 created, 1 modified, ... copied in 0.4 s" (RunRecord::Summary), then
    // what was left out of the mirror ("; 2 left out").
    std::string summary;
    // The log the run is recorded in; "" when it is recorded nowhere.
    std::string recordedIn;
};

// What a message is. A window captions an error with the application's name,
// or with "Kelvad" for the checks of the roots and the guard, and news that is
// no error with "Info".
enum class MessageKind {
    Error,
    KelvadError,
    Info,
};

// What the request needs from the user's side.
class IRequestHost {
public:
    virtual ~IRequestHost() = default;
    // Shows `text` and returns once it has been read.
    virtual void ShowMessage(const std::string& text, MessageKind kind) = 0;
    // The wait cursor: on from the start of the scans to the end of the
    // comparison, then off.
    virtual void SetBusy(bool busy) = 0;
    // Called on the request's thread every few milliseconds while the trees are
    // scanned and compared on others, so the window keeps painting and answering.
    // Returns true once the user has asked to stop (Escape, closing the window).
    virtual bool KeepAliveWhileBusy() = 0;
    // Told, just before a keep-alive while the plan is made, how many bytes
    // have been read so far to compare files that may have moved (both files
    // of each pair: the whole of two files found the same), whenever that
    // grew; once more when the plan is made, if it grew since.
    virtual void TellCompared(std::uint64_t bytes) { (void)bytes; }
    // Asks whether a Just Do It run that would do what `risk` says may go
    // ahead (RiskText words it). Where nobody can be asked (the command line)
    // the host says why it will not, and answers Refused.
    enum class Answer { Yes, No, Refused };
    virtual Answer ConfirmRisk(const RunRisk& risk) = 0;
    // Asks whether a Just Do It run that needs more room than the slave has
    // free (SpaceText words it) may go ahead all the same: a file system that
    // frees space as it goes, or a copy that compresses, may still take it.
    // By default nobody is asked: the host shows why, and answers Refused.
    virtual Answer ConfirmSpace(const SpaceShortage& shortage);
    // Tells of directories of either tree that could not be read, one message
    // each ("Error reading directory /m/tax (Permission denied)"); what lies
    // below them was neither copied nor deleted. By default one message shows
    // the first few and how many more.
    virtual void ShowUnreadable(const std::vector<std::string>& messages);
    // Tells of master entries that were not mirrored because a slave entry
    // left out of the mirror holds their place, one message each ("Error
    // creating /s/d (a slave entry left out of the mirror is in its place)");
    // each is a failure of the run. By default shown as ShowUnreadable shows.
    virtual void ShowBlocked(const std::vector<std::string>& messages) { ShowUnreadable(messages); }
    // Tells of entries of either tree left out because the system cannot open
    // their names as one name ("Left out /m/x\\y (the name cannot be used on
    // Windows)"); no failure of the run. By default one message, as
    // ShowUnreadable shows.
    virtual void ShowUnusable(const std::vector<std::string>& messages);
    // Asked when the slave directory `path` does not exist but the directory
    // that would hold it does. Yes makes it (in a dry run, plans as if it had
    // been made); No ends the request with nothing done or said; Refused, the
    // default, refuses it as a missing slave.
    virtual Answer ConfirmCreateSlave(const std::string& path) {
        (void)path;
        return Answer::Refused;
    }
    // Told once the missing slave has been made, or in a dry run would be, in
    // words: "Created slave directory /media/stick/backup".
    virtual void TellSlaveCreated(const std::string& text) { (void)text; }
    // Told, before the plan is shown or carried out, how many entries of the
    // master are left out of the mirror (ignore patterns, cache tags) and
    // where what the run takes away is kept, when there is either.
    virtual void TellPlanNotes(const PlanNotes& notes) { (void)notes; }
    // Shows the plan (Preview) and returns true when the user approves it.
    virtual bool ApprovePlan(const CActionList& actions, const std::string& slaveRoot) = 0;
    // The plan is about to be carried out beneath the roots that were scanned:
    // makes ready to show the run, and returns the host its steps, messages
    // and progress are shown through (the request puts the run's record,
    // RunRecord, between it and the executor). It stays the host's, and lives
    // at least until EndRun. Null when the run cannot be shown, said already:
    // the run is then not made, and the request fails.
    virtual IExecHost* BeginRun() = 0;
    // Told once the run that BeginRun began has ended (RunEnd).
    virtual void EndRun(const RunEnd& end) { (void)end; }
    // Remembers the request's directories and mode after a successful run.
    virtual void SaveSettings() = 0;

protected:
    // The first few of `messages`, one a line, and how many more.
    static std::string Together(const std::vector<std::string>& messages);
};

// A Just Do It run asks before deleting or removing at least this many entries
// when they are at least half of the slave's.
inline constexpr size_t kMassDeletion = 10;

// "This run would delete N of the M files and directories in the slave"
std::string MassDeletionText(size_t deletions, size_t entries);

// What a Just Do It run would do that the user is asked about first: a mass
// deletion (a wrong or empty master), or newer slave files replaced by older
// master copies (a master restored from an older backup, the two directories
// given the wrong way round).
struct RunRisk {
    size_t deletions = 0;       // files to delete and directories to remove
    size_t entries = 0;         // the slave's files and directories
    bool massDeletion = false;  // the deletions alone are reason to ask
    size_t replacingNewer = 0;  // newer slave files the run replaces, when asked about
    std::string keptIn;         // where what it deletes and replaces is kept (Keeper::Where)
};

// MassDeletionText for a mass deletion alone; "This run would replace 3 newer
// slave files with older ones" for replacements, after the deletions ("This
// run would delete 5 of the 20 files and directories in the slave and replace
// 1 newer slave file with an older one") when there are any.
std::string RiskText(const RunRisk& risk);

// The mode the user picked; the values are those the settings file stores.
// Any other value is neither mode.
enum class RunMode : int { JustDoIt = 0, Preview = 1 };

struct StartRequest {
    std::string masterDir;
    std::string slaveDir;
    RunMode mode = RunMode::JustDoIt;
    // Opens a root; empty opens it as it is. Tests give one that wraps the root
    // to make its calls fail, wait or be counted.
    std::function<std::unique_ptr<platform::TreeRoot>(const std::string& path, platform::Mounts)>
        openRoot;
    // With a value of 0 or more, a Just Do It run that would delete or remove
    // more entries than this is refused (its counts shown) instead of asked
    // about; -1 asks about a mass deletion (IRequestHost::ConfirmDeletion).
    long long maxDelete = -1;
    // A Just Do It run that replaces newer slave files with older master
    // copies asks first (IRequestHost::ConfirmRisk) unless this is set.
    bool allowOlder = false;
    // Where what the run deletes, replaces or removes goes: nowhere (it is
    // destroyed), the versions folder or the desktop's Trash.
    Keeping keeping{};
    // When set, the request is recorded there: its start, mode and roots, each
    // message, the plan's totals, what the run did (RunRecord) and how it
    // ended. Its lines are held while the trees are scanned, and it takes no
    // part in the mirror (see notMirrored). The caller opens it, and reads
    // its Failure afterwards.
    RunLog* log = nullptr;
    // Whether a run stops at its first failure, or does every step that does
    // not depend on one (ExecuteActions).
    OnFailure onFailure = OnFailure::Stop;
    // How many files the run copies at once (ExecuteActions); the window and
    // the command line give DefaultJobs().
    unsigned jobs = 1;
    // Whether a run ends by writing the slave to the disk (the benchmark times
    // that apart).
    FlushAtEnd flush = FlushAtEnd::Yes;
    // Files of Kelvad's own (the log) that take no part in the mirror: where
    // one lies inside the master or the slave, judged by where it really lies,
    // its path is left out in both trees, neither copied nor deleted, whatever
    // the ignore files say, and not counted as left out.
    std::vector<std::string> notMirrored{};
    // Patterns that leave entries out of the mirror, as an ignore file in the
    // master's root would hold them; they give way to the ignore files found
    // in the master.
    IgnoreRules excludes{};
    // A plan that needs more room than the slave has free is told in its
    // totals, and asked about (ConfirmSpace) before a Just Do It run, unless
    // this is cleared.
    bool spaceCheck = true;
    // The plan is only shown, never carried out: a missing slave is not made,
    // and everything the master holds is planned as a create.
    bool dryRun = false;
    // A slave that is missing or no directory is named in its refusal ("Slave
    // directory /media/stick/backup doesn't exist or isn't a directory"); the
    // window keeps the words without the path.
    bool nameSlaveInRefusal = false;
};

// How a request ended and, where it carried a plan out, what the run came to.
struct RequestResult {
    enum End {
        Refused,   // a check failed, or the master is empty; its message was shown
        Stopped,   // the user stopped the scan: nothing done, nothing said
        UpToDate,  // nothing to do; said so
        NotRun,    // the preview was refused, or no mode was chosen
        Failed,    // the plan was carried out in part (a failure or a cancel), or a
                   // master directory could not be read
        Done,      // the slave is in line and the settings were saved
    };
    // A request that ended so, and ran nothing.
    RequestResult(End how = Refused) : end(how) {}
    bool operator==(End how) const { return end == how; }

    End end;
    bool ran = false;       // the plan was carried out, whole or in part
    size_t unreadable = 0;  // directories of either tree not read, as told (ShowUnreadable)
    size_t blocked = 0;     // master entries a left-out slave entry held, as told (ShowBlocked)
    size_t vanished = 0;    // copies whose master file had vanished (SourceVanished)
    // Of a run that ran: RunRecord::Summary, counting the blocked entries as
    // failed and the directories not read, then what was left out.
    std::string summary;
};

// Runs one request: checks the roots (both given, not the same text, master
// then slave an existing directory that can be opened, not overlapping), scans
// both trees at once on threads of their own while the host is kept alive,
// compares them, asks for approval in Preview mode (in Just Do It mode, before
// deleting most of the slave), carries the plan out and saves the settings.
// A master directory that cannot be read makes the request a failure, told
// after the run; a master holding nothing but an empty lost+found is empty. Each root is opened
// once, before the checks that compare them, and that open directory serves everything after: a
// root path re-pointed meanwhile changes nothing outside the directory that was scanned. Nothing at
// or below a mount point inside the slave is touched; a mount in either tree that shows the other
// ends the request as an overlap. Every refusal has its message; a master found empty ends the
// request before the slave's scan is looked at. A missing slave whose parent directory exists is
// made beneath that directory, opened once, when the host agrees (ConfirmCreateSlave). A root typed
// as "~" or "~/..." lies in the home directory, as in a shell.
RequestResult RunStartRequest(IRequestHost& host, const StartRequest& request);

// `typed` with a leading "~" (alone or before a separator) standing for the
// home directory ($HOME); as it is otherwise, or when $HOME is not set.
std::string ExpandHome(const std::string& typed);

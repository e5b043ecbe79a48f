// A record of every run, from the window or the command line, appended to a
// log: when it started and in which mode, the two roots, every change made and
// every failure with its message, the summary, and how it ended. Each line
// begins with the local date and time; names are written escaped as on a
// terminal, so a name can neither forge nor hide a line.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "exec/executor.h"
#include "exec/run_host.h"
#include "exec/run_progress.h"
#include "platform/status.h"
#include "sync/action_line.h"
#include "tree/action.h"

// The usual log is renamed to "kelvad.log.1" (replacing the one before) when a
// run finds it larger than this, and begun anew.
inline constexpr off_t kRotateBytes = off_t(4) << 20;

class RunLog {
public:
    RunLog() = default;
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Where the log lives unless told otherwise: $XDG_STATE_HOME/kelvad/kelvad.log,
    // or ~/.local/state/kelvad/kelvad.log (%LOCALAPPDATA%\kelvad\kelvad.log on
    // Windows); "" when neither can be known.
    static std::string DefaultPath();
    // The same as the user is shown it where it is the usual place:
    // "~/.local/state/kelvad/kelvad.log", "%LOCALAPPDATA%\\kelvad\\kelvad.log".
    static std::string DefaultPathShown();
    // Why DefaultPath() is "": the variables it is made from, for the user.
    static std::string DefaultPathUnknown();

    // Takes the log at `path` for appending. A file already there is opened
    // now; a missing one is made (with its directories, for the usual log,
    // DefaultPath()) only when the first line is written out, so that a log
    // inside a tree is not made before that tree is scanned. Fails when what
    // is there cannot be opened as a regular file, or when the directory of a
    // log other than the usual one does not exist (ENOENT); the log is then
    // not used, and writing does nothing.
    platform::Status Open(const std::string& path);
    // Whether a log was taken and nothing has failed to be written to it.
    bool IsOpen() const { return !m_path.empty() && m_failure.ok(); }
    const std::string& Path() const { return m_path; }

    // Lines written from now on are kept in memory, and the file neither made
    // nor touched, until Release (the Start request holds them while the trees
    // are scanned). Release writes them out, and later lines as they come.
    void Hold() { m_holding = true; }
    void Release();

    // Appends one line: the time, the process's id in brackets, then `text`;
    // written out at once, after the lines WriteSoon still keeps.
    void Write(const std::string& text);
    // The same for the many lines of a run's steps: kept and written out in
    // blocks, once they make 64 KiB or a second has passed since the last
    // write (as Write or WriteDue finds), so a run costs no write a step.
    void WriteSoon(const std::string& text);
    // Writes out what WriteSoon keeps once a second has passed since the last
    // write; a run calls it as it keeps its window served.
    void WriteDue();
    // Writes that the run was cancelled (Cancel, SIGINT); Cancelled() then says so.
    void WriteCancelled();
    bool Cancelled() const { return m_cancelled; }

    // The first failure to make or write the log (a full disk); ok while there
    // is none. After one nothing more is written, so it is told once.
    // WasOpened() tells whether the file was opened at all (a failure to make
    // it is no failure to write it).
    const platform::Status& Failure() const { return m_failure; }
    bool WasOpened() const { return m_fd >= 0; }

private:
    void WriteOut(const std::string& lines);
    // The line of `text`, with its time and the process's id.
    static std::string Line(const std::string& text);
    // Writes out what WriteSoon keeps.
    void WritePending();

    int m_fd = -1;
    std::string m_path;
    bool m_holding = false;
    bool m_cancelled = false;
    std::string m_held;
    std::string m_pending;  // WriteSoon's lines not yet written out
    std::chrono::steady_clock::time_point m_lastOut = std::chrono::steady_clock::now();
    platform::Status m_failure;
};

// Removes what earlier runs kept in `keeper`'s versions folder more than
// `keepDays` days ago (Keeper::Prune), each folder logged ("pruned: ...") when
// there is a log; the words of a failure, "" when there was none.
std::string PruneOldVersions(Keeper& keeper, int keepDays, RunLog* log);

// What a run does, counted and written to the log as it happens: it stands
// between the executor and the host that shows the run (the progress window,
// the terminal) and passes every call on. It keeps how far the run has got
// (RunProgress) for that host to show, and the bytes copied with it. The Start
// request makes one for each run it carries out.
class RunRecord : public IExecHost {
public:
    // `log` may be null.
    RunRecord(IExecHost& display, RunLog* log) : m_inner(display), m_log(log) {}

    // Carries `actions` out (ExecuteActions) through this record, `planned`
    // being what they hold (CountPlan), then writes the summary to the log and
    // tells the display the run has ended (RunEnded); returns what
    // ExecuteActions returned.
    // With `keeper`, what the run deletes, replaces or removes is kept there.
    bool Run(const CActionList& actions, const PlanCounts& planned, platform::TreeRoot& master,
             platform::TreeRoot& slave, OnFailure onFailure, FlushAtEnd flush = FlushAtEnd::Yes,
             Keeper* keeper = nullptr, unsigned jobs = 1);
    // What the scans could not read and the plan left blocked, for the summary
    // the log keeps (Summary); before Run.
    void SetLeftUndone(size_t unreadable, size_t blocked) {
        m_unreadable = unreadable;
        m_blocked = blocked;
    }
    // After a run done with `keeper`: removes what earlier runs kept more than
    // `keepDays` days ago (Keeper::Prune), each folder logged ("pruned: ..."),
    // a failure shown as a message; false after one.
    bool Prune(Keeper& keeper, int keepDays);

    void PumpPending() override;
    bool IsCancelled() const override { return m_inner.IsCancelled(); }
    void AddCopiedBytes(std::uint64_t bytes) override;
    void SetStatus(const std::string& text) override { m_inner.SetStatus(text); }
    void SetPlan(const CActionList& plan) override;
    void SetPosition(size_t position) override;
    void ShowMessage(const std::string& text) override;
    void StepEnded(int kind, const std::string& slavePath, StepOutcome outcome) override;
    void SourceVanished(int kind, const std::string& masterFile) override;
    void ExtendedAttributesNotKept(const std::string& slavePath) override;
    void Kept(const std::string& slavePath, const std::string& keptPath) override;
    void Moved(const std::string& from, const std::string& to) override;
    void MoveFellBack(const std::string& from, const std::string& to,
                      const std::string& why) override;

    // "3 created, 1 modified, 2 deleted, 1 directories made, 0 removed; 1.2 MiB
    // copied in 0.4 s" ("..., 0 removed, 5 moved; ..." when the plan moves, a
    // move copied instead for its source changed counting as its steps), and
    // when not everything was done "; 2 failed, 3 not tried, 1 directories not
    // read". Only what was done counts as done; what a failure, a stop or an
    // interrupt kept from being tried is "not tried"; `blocked` master entries
    // that a left-out slave entry kept out count as failed. Then, when there
    // were any, "; 2 vanished" (master files deleted since the scan),
    // "; extended attributes of 3 files not kept" and
    // "; 4 kept in .kelvad-versions/2026-12-10 04.12.05"; after a cancel
    // that threw a copy under way away, "; 354.0 MiB of a copy discarded".
    std::string Summary(size_t unreadable = 0, size_t blocked = 0) const;
    // How many copies found their master file vanished.
    size_t Vanished() const;

private:
    IExecHost& m_inner;
    RunLog* m_log;
    size_t m_unreadable = 0;
    size_t m_blocked = 0;
    std::string m_slaveRoot;
    std::array<size_t, kActionKinds> m_planned{};
    std::array<size_t, kActionKinds> m_done{};
    std::array<size_t, kActionKinds> m_failed{};
    std::array<size_t, kActionKinds> m_vanished{};
    size_t m_movesCopied = 0;  // moves whose source had changed: copied instead
    size_t m_attributesLost = 0;
    size_t m_kept = 0;
    std::uint64_t m_stepCopied = 0;         // by the copy under way
    std::uint64_t m_discarded = 0;          // by a copy a cancel threw away
    std::string m_keptIn;                   // Keeper::Where
    std::optional<RunProgress> m_progress;  // from Run on
};

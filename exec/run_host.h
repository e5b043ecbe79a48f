// What the copier and the executor need from the window they run in: a status
// line, a progress bar, a message box, a message pump and a cancel flag. The
// progress dialog provides them; tests and benchmarks provide their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tree/action.h"

class RunProgress;

class ICopyHost {
public:
    virtual ~ICopyHost() = default;
    // Lets the window handle what is pending for it: paint, answer the window
    // manager, hear Cancel. Cheap when called often; it may handle nothing.
    virtual void PumpPending() = 0;
    // True once the user has asked to cancel; it never turns false in a run.
    virtual bool IsCancelled() const = 0;
    // Told after each piece of a copy (1 MiB at most) how many bytes it wrote:
    // the bar moves inside a large file too.
    virtual void AddCopiedBytes(std::uint64_t bytes) { (void)bytes; }
};

class IExecHost : public ICopyHost {
public:
    virtual void SetStatus(const std::string& text) = 0;
    // Told once, before the first step, the plan the run carries out; it stays
    // as it is until the run ends. Its steps and their sizes (CAction::GetSize)
    // are what the bar measures.
    virtual void SetPlan(const CActionList& plan) { (void)plan; }
    // Told after each step of the main pass its index in the plan: that step
    // and every one before it have ended.
    virtual void SetPosition(size_t position) { (void)position; }
    // Told by whoever carries the run out and keeps its progress from the
    // calls above (the run's record), once, after SetPlan: how far the run has
    // got, kept up to date until RunEnded and not to be looked at after. A
    // window's bar or a terminal's progress line shows it.
    virtual void SetProgress(const RunProgress& progress) { (void)progress; }
    // Told by the same once the run has ended, done or not: the last chance to
    // show its progress.
    virtual void RunEnded() {}
    // Shows a failure in a modal message box and returns when it is closed.
    virtual void ShowMessage(const std::string& text) = 0;
    // How a step ended: carried out, failed (its message already shown), or
    // not tried because one it depends on failed (a run that keeps going).
    enum class StepOutcome { Done, Failed, Skipped };
    // Told when a step of `kind` (ACTION_CREATE, ...) has ended; `slavePath` is
    // relative to the slave. A removal ends when the directory is gone.
    virtual void StepEnded(int kind, const std::string& slavePath, StepOutcome outcome) {
        (void)kind;
        (void)slavePath;
        (void)outcome;
    }
    // Told, in place of StepEnded, of a copy whose master file was gone when it
    // came to be opened (deleted since the scan): nothing was changed, and that
    // is no failure. `masterFile` is the master root as typed, a separator and
    // the file's relative path, as messages name paths.
    virtual void SourceVanished(int kind, const std::string& masterFile) {
        (void)kind;
        (void)masterFile;
    }
    // Told after StepEnded of a copy made whose extended attributes (ACLs,
    // capabilities, the user's own) the slave did not all keep; no failure.
    virtual void ExtendedAttributesNotKept(const std::string& slavePath) { (void)slavePath; }
    // Told, before StepEnded of a move done, the slave paths it renamed from
    // and to.
    virtual void Moved(const std::string& from, const std::string& to) {
        (void)from;
        (void)to;
    }
    // Told, in place of a move, that its slave source was no longer the one
    // compared (changed, replaced or gone since the scan) or that the rights
    // of a read-only folder refused the rename, `why` saying which: the
    // actions it stood for (CAction::GetReplaced) are carried out instead,
    // each told as any step is; the deletions only where the source is still
    // there.
    virtual void MoveFellBack(const std::string& from, const std::string& to,
                              const std::string& why) {
        (void)from;
        (void)to;
        (void)why;
    }
    // Told, before StepEnded, that the slave's `slavePath` was kept rather than
    // destroyed: moved to `keptPath` (Keeper::KeptPath).
    virtual void Kept(const std::string& slavePath, const std::string& keptPath) {
        (void)slavePath;
        (void)keptPath;
    }
};

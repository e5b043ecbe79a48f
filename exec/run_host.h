// What the copier and the executor need from the window they run in: a status
// line, a progress bar, a message box, a message pump and a cancel flag. The
// progress dialog provides them; tests and benchmarks provide their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ICopyHost {
public:
    virtual ~ICopyHost() = default;
    // Lets the window handle what is pending for it: paint, answer the window
    // manager, hear Cancel. Cheap when called often; it may handle nothing.
    virtual void PumpPending() = 0;
    // True once the user has asked to cancel; it never turns false in a run.
    virtual bool IsCancelled() const = 0;
    // Told after each piece of a copy how many bytes it wrote, for a count of
    // the bytes copied; the windows have no use for it.
    virtual void AddCopiedBytes(std::uint64_t bytes) { (void)bytes; }
};

class IExecHost : public ICopyHost {
public:
    virtual void SetStatus(const std::string& text) = 0;
    // The bar runs from 0 to `upper`.
    virtual void SetRange(size_t upper) = 0;
    virtual void SetPosition(size_t position) = 0;
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
};

// The modeless progress window in which the plan is carried out: a status line,
// how much is copied and the time left, a progress bar that moves with the
// bytes copied, and a Cancel button. It shows the run the Start request carries
// out (through the run's record): its status, bar, messages, message pump and
// cancel flag.
#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include <chrono>
#include <string>

#include "exec/run_host.h"
#include "exec/run_progress.h"

class CProgressDlg : public wxDialog, public IExecHost {
public:
    // Makes the object; the window, and its parent, come with CreateModeless.
    CProgressDlg() = default;

    // Creates and shows the window with an empty status line and clears the
    // cancel flag. Returns false when the window could not be created.
    bool CreateModeless(wxWindow* parent);

    // Only sets the cancel flag: the window neither closes nor hides.
    void OnCancel();

    bool IsCancelled() const override { return m_cancelled; }
    // Handles the pending window events, for a few milliseconds at most, when
    // the last time was more than a few milliseconds ago: the window paints,
    // answers the window manager and hears Cancel throughout a run, even inside
    // one large copy. The status line, the bar and the time left are shown
    // anew four times a second, and told to screen readers every two seconds.
    void PumpPending() override;
    void SetStatus(const std::string& text) override;
    // The run's progress from now on: the bar starts at nothing.
    void SetProgress(const RunProgress& progress) override;
    // Shows where the run ended; the progress is not looked at again.
    void RunEnded() override;
    // A failure, in a message box owned by this window.
    void ShowMessage(const std::string& text) override;

    // The controls as shown (for tests).
    wxStaticText* GetStatusControl() const { return m_statusText; }
    wxStaticText* GetAmountControl() const { return m_amountText; }
    wxGauge* GetProgressControl() const { return m_progress; }

private:
    using Clock = std::chrono::steady_clock;

    // Shows what has changed since the last time.
    void ShowPending(Clock::time_point now);

    wxGauge* m_progress = nullptr;         // control 1010
    wxStaticText* m_statusText = nullptr;  // control 1008
    wxStaticText* m_amountText = nullptr;
    wxButton* m_cancel = nullptr;
    std::string m_status;
    std::string m_spoken;  // the Cancel button's description, for screen readers
    bool m_cancelled = false;
    bool m_statusDirty = false;
    const RunProgress* m_run = nullptr;  // from SetProgress to RunEnded
    Clock::time_point m_lastCheck{};
    Clock::time_point m_lastShown{};
    Clock::time_point m_lastSpoken{};
};

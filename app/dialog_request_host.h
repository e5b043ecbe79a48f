// The Start request as the main dialog carries it: the request's messages,
// questions and plan come back as the dialog's windows, and its run goes to
// the progress window, which stays up after a successful run until Kelvad ends.
#pragma once

#include <memory>
#include <string>

#include "app/progress_dlg.h"
#include "sync/start_request.h"

class CSyncDlg;

class DialogRequestHost : public IRequestHost {
public:
    explicit DialogRequestHost(CSyncDlg& dialog) : m_dialog(dialog) {}
    ~DialogRequestHost() override;

    void ShowMessage(const std::string& text, MessageKind kind) override;
    // The wait cursor, and the main dialog's controls but Close disabled
    // meanwhile, with a line that says how to stop.
    void SetBusy(bool busy) override;
    // Handles what is pending for the windows; true once Escape, Close or the
    // close box asked to stop.
    bool KeepAliveWhileBusy() override;
    // On the line that says how to stop.
    void TellCompared(std::uint64_t bytes) override;
    // Yes/No, No the default.
    Answer ConfirmRisk(const RunRisk& risk) override;
    // "This run needs ... more in the slave, which has ... free. Continue?",
    // Yes/No, No the default.
    Answer ConfirmSpace(const SpaceShortage& shortage) override;
    // "Slave directory ... doesn't exist. Create it?", Yes/No, No the default.
    Answer ConfirmCreateSlave(const std::string& path) override;
    void TellPlanNotes(const PlanNotes& notes) override { m_notes = notes; }
    // The preview; true for OK.
    bool ApprovePlan(const CActionList& actions, const std::string& slaveRoot) override;
    // Hides the main dialog and opens the progress window, which shows the run.
    IExecHost* BeginRun() override;
    // After a failure or a cancel the progress window closes and the main
    // dialog comes back (after a cancel, with a word on what was done and
    // what was thrown away); after a successful run the progress window stays, and
    // the desktop says what was done.
    void EndRun(const RunEnd& end) override;
    void SaveSettings() override;

private:
    void RestoreDialog();

    CSyncDlg& m_dialog;
    PlanNotes m_notes;
    bool m_busy = false;
    std::unique_ptr<CProgressDlg> m_progress;
};

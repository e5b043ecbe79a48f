// The Start request as the main dialog carries it.
#include "app/dialog_request_host.h"

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/notifmsg.h>
#include <wx/utils.h>

#include "app/action_list_dlg.h"
#include "app/sync_dlg.h"
#include "app/ui_common.h"

namespace {

// "Slave is in line with the master: 120 created, ... copied in 3.1 s.", and
// where the run is recorded.
std::string DoneText(const RunEnd& end) {
    std::string text = "Slave is in line with the master: " + end.summary + ".";
    if (!end.recordedIn.empty()) {
        text += "\nRecorded in " + end.recordedIn;
    }
    return text;
}

}  // namespace

DialogRequestHost::~DialogRequestHost() {
    SetBusy(false);
}

void DialogRequestHost::ShowMessage(const std::string& text, MessageKind kind) {
    KelvadMessageBox(&m_dialog, text,
                     kind == MessageKind::Info          ? "Info"
                     : kind == MessageKind::KelvadError ? "Kelvad"
                                                        : nullptr);
}

void DialogRequestHost::SetBusy(bool busy) {
    if (busy == m_busy) {
        return;
    }
    m_busy = busy;
    m_dialog.SetScanning(busy);
    if (busy) {
        wxBeginBusyCursor();
    } else {
        wxEndBusyCursor();
    }
}

bool DialogRequestHost::KeepAliveWhileBusy() {
    // Painting, the window manager's pings, the Escape key and Close are
    // handled; the fields and Start are disabled meanwhile.
    wxTheApp->Yield(true);
    return m_dialog.StopRequested();
}

void DialogRequestHost::TellCompared(std::uint64_t bytes) {
    m_dialog.SetComparedBytes(bytes);
}

IRequestHost::Answer DialogRequestHost::ConfirmRisk(const RunRisk& risk) {
    // A wrong master (a fresh disk, the wrong directory, the two swapped) must
    // not empty the slave or set it back without a question; No is the safe
    // answer, and the default.
    wxMessageDialog ask(&m_dialog, ToWx(RiskText(risk) + ". Continue?"), "Kelvad",
                        wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
    return ask.ShowModal() == wxID_YES ? Answer::Yes : Answer::No;
}

IRequestHost::Answer DialogRequestHost::ConfirmSpace(const SpaceShortage& shortage) {
    // A full disk would stop the run half way, after hours perhaps; the user
    // may know better (a file system that compresses), so it is a question.
    wxMessageDialog ask(&m_dialog, ToWx(SpaceText(shortage) + ". Continue?"), "Kelvad",
                        wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
    return ask.ShowModal() == wxID_YES ? Answer::Yes : Answer::No;
}

IRequestHost::Answer DialogRequestHost::ConfirmCreateSlave(const std::string& path) {
    // A mistyped slave must not become a new directory unasked: No changes
    // nothing, and is the default.
    wxMessageDialog ask(&m_dialog, ToWx("Slave directory " + path + " doesn't exist. Create it?"),
                        "Kelvad", wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION);
    return ask.ShowModal() == wxID_YES ? Answer::Yes : Answer::No;
}

bool DialogRequestHost::ApprovePlan(const CActionList& actions, const std::string& slaveRoot) {
    CActionListDlg preview(&m_dialog);
    preview.SetData(&actions, slaveRoot, m_notes);
    return preview.ShowModal() == wxID_OK;
}

IExecHost* DialogRequestHost::BeginRun() {
    m_dialog.Hide();
    auto progress = std::make_unique<CProgressDlg>();
    if (!progress->CreateModeless(nullptr)) {
        RestoreDialog();
        ShowMessage("Unable to open the progress window", MessageKind::Error);
        return nullptr;
    }
    m_progress = std::move(progress);
    return m_progress.get();
}

void DialogRequestHost::EndRun(const RunEnd& end) {
    if (!end.done) {
        m_progress.reset();  // closes the progress window
        RestoreDialog();
        // What a cancel kept, and threw away, is said; a failure has been.
        if (end.cancelled) {
            ShowMessage("Cancelled: " + end.summary, MessageKind::KelvadError);
        }
        return;
    }
    // The progress window stays up until the application ends. Kelvad ends
    // when a run succeeds, its windows gone at once: the desktop says what was
    // done, and where it is recorded.
    wxNotificationMessage done("Kelvad", ToWx(DoneText(end)));
    done.Show(wxNotificationMessage::Timeout_Auto);
}

void DialogRequestHost::SaveSettings() {
    m_dialog.SaveSettings();
}

void DialogRequestHost::RestoreDialog() {
    m_dialog.Show();
    m_dialog.Raise();
}

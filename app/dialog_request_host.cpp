// The Start request as the main dialog carries it.
#include "app/dialog_request_host.h"

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/notifmsg.h>
#include <wx/utils.h>

#include <chrono>

#include "app/action_list_dlg.h"
#include "app/sync_dlg.h"
#include "app/ui_common.h"
#include "sync/action_line.h"

namespace {

// A run at least this long ends with a desktop notification.
constexpr auto kNotifyAfter = std::chrono::seconds(3);

// "Slave is in line with the master: 120 created, 3 modified, 40 deleted"
std::string DoneText(const CActionList& actions) {
    const auto counts = CountByKind(actions);
    return "Slave is in line with the master: " + std::to_string(counts[ACTION_CREATE]) +
           " created, " + std::to_string(counts[ACTION_MODIFY]) + " modified, " +
           std::to_string(counts[ACTION_DELETE]) + " deleted";
}

}  // namespace

DialogRequestHost::~DialogRequestHost() {
    SetBusy(false);
}

void DialogRequestHost::ShowMessage(const std::string& text, const char* caption) {
    KelvadMessageBox(&m_dialog, text, caption);
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

bool DialogRequestHost::ConfirmDeletion(size_t deletions, size_t entries) {
    // A wrong master (a fresh disk, the wrong directory) must not empty the
    // slave without a question; No is the safe answer, and the default.
    wxMessageDialog ask(&m_dialog, ToWx(MassDeletionText(deletions, entries) + ". Continue?"),
                        "Kelvad", wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
    return ask.ShowModal() == wxID_YES;
}

bool DialogRequestHost::ApprovePlan(const CActionList& actions, const std::string& slaveRoot) {
    CActionListDlg preview(&m_dialog);
    preview.SetData(&actions, slaveRoot);
    return preview.ShowModal() == wxID_OK;
}

bool DialogRequestHost::ExecutePlan(const CActionList& actions, platform::TreeRoot& master,
                                    platform::TreeRoot& slave) {
    m_dialog.Hide();
    auto progress = std::make_unique<CProgressDlg>();
    if (!progress->CreateModeless(nullptr)) {
        RestoreDialog();
        ShowMessage("Unable to open the progress window", nullptr);
        return false;
    }
    const auto began = std::chrono::steady_clock::now();
    if (!progress->Execute(&actions, master, slave)) {
        progress.reset();  // closes the progress window
        RestoreDialog();
        return false;
    }
    m_progress = std::move(progress);  // it stays up until the application ends
    // Kelvad ends when a run succeeds: after a run long enough for the user to
    // look away, the desktop says what happened.
    if (std::chrono::steady_clock::now() - began >= kNotifyAfter) {
        wxNotificationMessage done("Kelvad", ToWx(DoneText(actions)));
        done.Show(wxNotificationMessage::Timeout_Auto);
    }
    return true;
}

void DialogRequestHost::SaveSettings() {
    m_dialog.SaveSettings();
}

void DialogRequestHost::RestoreDialog() {
    m_dialog.Show();
    m_dialog.Raise();
}

// The Start request as the main dialog carries it: the dialog's fields go to
// the request, and the request's questions come back as the dialog's windows.
#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/notifmsg.h>
#include <wx/utils.h>

#include <chrono>
#include <memory>

#include "app/action_line.h"
#include "app/action_list_dlg.h"
#include "app/progress_dlg.h"
#include "app/sync_dlg.h"
#include "app/ui_common.h"
#include "sync/start_request.h"

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

class DialogRequestHost : public IRequestHost {
public:
    explicit DialogRequestHost(CSyncDlg& dialog) : m_dialog(dialog) {}
    ~DialogRequestHost() override { SetBusy(false); }

    void ShowMessage(const std::string& text, const char* caption) override {
        KelvadMessageBox(&m_dialog, text, caption);
    }

    void SetBusy(bool busy) override {
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

    bool KeepAliveWhileBusy() override {
        // Painting, the window manager's pings and the Escape key are handled;
        // the fields and buttons are disabled meanwhile.
        wxTheApp->Yield(true);
        return m_dialog.StopRequested();
    }

    bool ConfirmDeletion(size_t deletions, size_t entries) override {
        // A wrong master (a fresh disk, the wrong directory) must not empty the
        // slave without a question; No is the safe answer, and the default.
        wxMessageDialog ask(&m_dialog, ToWx(MassDeletionText(deletions, entries) + ". Continue?"),
                            "Kelvad", wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
        return ask.ShowModal() == wxID_YES;
    }

    bool ApprovePlan(const CActionList& actions, const std::string& slaveRoot) override {
        CActionListDlg preview(&m_dialog);
        preview.SetData(&actions, slaveRoot);
        return preview.ShowModal() == wxID_OK;
    }

    bool ExecutePlan(const CActionList& actions, platform::TreeRoot& master,
                     platform::TreeRoot& slave) override {
        m_dialog.Hide();
        auto progress = std::make_unique<CProgressDlg>(nullptr);
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
        // Kelvad ends when a run succeeds: after a run long enough for the user
        // to look away, the desktop says what happened.
        if (std::chrono::steady_clock::now() - began >= kNotifyAfter) {
            wxNotificationMessage done("Kelvad", ToWx(DoneText(actions)));
            done.Show(wxNotificationMessage::Timeout_Auto);
        }
        return true;
    }

    void SaveSettings() override { m_dialog.SaveSettings(); }

private:
    void RestoreDialog() {
        m_dialog.Show();
        m_dialog.Raise();
    }

    CSyncDlg& m_dialog;
    bool m_busy = false;
    std::unique_ptr<CProgressDlg> m_progress;
};

}  // namespace

void CSyncDlg::OnStart() {
    // Nothing runs on values that failed validation: the over-long path has been
    // reported and selected, and the request ends here.
    if (!UpdateData(true)) {
        return;
    }
    DialogRequestHost host(*this);
    StartRequest request{m_masterDir, m_slaveDir, m_option, {}};
    request.openRoot = [this](const std::string& path, platform::Mounts mounts) {
        return OpenRoot(path, mounts);
    };
    if (RunStartRequest(host, request) == RequestResult::Done) {
        m_finished = true;
        EndApplication();
    }
}

std::unique_ptr<platform::TreeRoot> CSyncDlg::OpenRoot(const std::string& path,
                                                      platform::Mounts mounts) {
    return std::make_unique<platform::TreeRoot>(path, mounts);
}

void CSyncDlg::SetScanning(bool scanning) {
    m_scanning = scanning;
    m_stopRequested = false;
    // No other input while the trees are scanned: only Escape and the close box
    // are heard, and they stop the scan.
    for (wxWindow* child : GetChildren()) {
        child->Enable(!scanning);
    }
}

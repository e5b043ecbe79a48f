// The Start request: the system's main road from the two typed directories to
// a slave in line with the master.
#include <wx/app.h>
#include <wx/utils.h>

#include <memory>

#include "app/action_list_dlg.h"
#include "app/progress_dlg.h"
#include "app/sync_dlg.h"
#include "app/ui_common.h"
#include "platform/file_ops.h"
#include "tree/compare_trees.h"
#include "tree/scanner.h"

namespace {

// The wait cursor, from the first scan to the end of the comparison.
class WaitCursor {
public:
    WaitCursor() { wxBeginBusyCursor(); }
    ~WaitCursor() { End(); }
    void End() {
        if (m_shown) {
            wxEndBusyCursor();
            m_shown = false;
        }
    }

private:
    bool m_shown = true;
};

}  // namespace

void CSyncDlg::OnStart() {
    // The request's objects live until it returns, on every path.
    CFileList masterList;
    CFileList slaveList;
    CActionList actionList;

    // Nothing runs on values that failed validation: the over-long path has been
    // reported and selected, and the request ends here.
    if (!UpdateData(true)) {
        return;
    }
    if (m_masterDir.empty() || m_slaveDir.empty()) {
        KelvadMessageBox(this, "You must specify both Master and Slave directories");
        return;
    }
    if (m_masterDir == m_slaveDir) {
        KelvadMessageBox(this, "Master and slave cannot be the same (are you mad?)");
        return;
    }
    if (!IsExistingDirectory(m_masterDir)) {
        KelvadMessageBox(this, "Master directory doesn't exist or isn't a directory", "Kelvad");
        return;
    }
    if (!IsExistingDirectory(m_slaveDir)) {
        KelvadMessageBox(this, "Slave directory doesn't exist or isn't a directory", "Kelvad");
        return;
    }
    // Overlapping trees would make the run delete or overwrite the master. They
    // are judged by what the directories are, so links and bind mounts count.
    if (platform::RootsOverlap(m_masterDir, m_slaveDir)) {
        KelvadMessageBox(this, "Master and slave directories overlap", "Kelvad");
        return;
    }

    WaitCursor wait;
    ScanDirectory(m_masterDir, &masterList);
    if (masterList.empty()) {
        wait.End();
        KelvadMessageBox(this, "Master directory is empty");
        return;
    }
    ScanDirectory(m_slaveDir, &slaveList);
    CompareTrees(&masterList, &slaveList, &actionList, m_masterDir, m_slaveDir,
                 NameMatchOf(m_slaveDir, slaveList));
    wait.End();

    if (actionList.empty()) {
        KelvadMessageBox(this, "Slave directory structure is up-to-date", "Info");
        return;
    }
    if (m_option == 1) {
        CActionListDlg preview(this);
        preview.SetData(&actionList, m_slaveDir);
        if (preview.ShowModal() != wxID_OK) {
            return;
        }
    } else if (m_option != 0) {
        KelvadMessageBox(this, "You just couldn't resist it, could you?");
        return;
    }

    Hide();
    std::unique_ptr<CProgressDlg> progress = std::make_unique<CProgressDlg>(nullptr);
    if (!progress->CreateModeless(nullptr)) {
        Show();
        Raise();
        KelvadMessageBox(this, "Unable to open the progress window");
        return;
    }
    if (!progress->Execute(&actionList, m_masterDir, m_slaveDir)) {
        progress.reset();  // closes the progress window
        Show();
        Raise();
        return;
    }
    SaveSettings();
    m_finished = true;
    progress.reset();
    EndApplication();
}

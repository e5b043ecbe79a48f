#include "app/sync_app.h"

#include "app/sync_dlg.h"

bool CSyncApp::OnInit() {
    // The main dialog runs modeless in the application's main loop, so hiding it
    // during a run only hides it; the loop ends when the dialog is destroyed.
    auto* dialog = new CSyncDlg(nullptr);
    SetTopWindow(dialog);
    dialog->Show();
    return true;
}

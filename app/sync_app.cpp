#include "app/sync_app.h"

#include "app/sync_dlg.h"

namespace {
// How long a notification stays before the program ends under it.
constexpr int kNotificationMilliseconds = 10000;
}  // namespace

bool CSyncApp::OnInit() {
    // The main dialog runs modeless in the application's main loop, so hiding it
    // during a run only hides it; the loop ends when the dialog is destroyed.
    auto* dialog = new CSyncDlg(nullptr);
    SetTopWindow(dialog);
    // The notification after a run lives on Windows in the notification area,
    // whose icon is a hidden window of its own: with it the loop never sees its
    // last window go. The program then ends once the notification has been
    // shown for a while.
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ExitMainLoop(); });
    dialog->Bind(wxEVT_DESTROY, [this, dialog](wxWindowDestroyEvent& event) {
        event.Skip();
        if (event.GetWindow() == dialog && wxTopLevelWindows.size() > 1) {
            m_exitTimer.StartOnce(kNotificationMilliseconds);
        }
    });
    dialog->Show();
    return true;
}

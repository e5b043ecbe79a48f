// The application object: shows the main dialog and ends when it closes.
#pragma once

#include <wx/app.h>
#include <wx/timer.h>

class CSyncApp : public wxApp {
public:
    // Shows the main dialog; the application ends, with status 0, when the
    // dialog is closed or a run succeeds. Arguments never reach it: with any,
    // main() runs the command line instead.
    bool OnInit() override;

private:
    // Ends the main loop a while after the dialog has gone, where a window of
    // the notification area would keep it running (Windows).
    wxTimer m_exitTimer{this};
};

wxDECLARE_APP(CSyncApp);

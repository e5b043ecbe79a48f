// The application object: shows the main dialog and ends when it closes.
#pragma once

#include <wx/app.h>

class CSyncApp : public wxApp {
public:
    // Shows the main dialog; the application ends, with status 0, when the
    // dialog is closed or a run succeeds. The command line is not used.
    bool OnInit() override;
};

wxDECLARE_APP(CSyncApp);

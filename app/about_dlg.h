// The About box: the icon, "Kelvad Version 1.0" (the major and minor version
// the build was made as) and OK.
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
public:
    // Centred over `parent`.
    explicit CAboutDlg(wxWindow* parent);
};

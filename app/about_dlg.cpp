#include "app/about_dlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <algorithm>

#include "app/ids.h"
#include "app/ui_common.h"
#include "res/version.h"

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, IDD_ABOUTBOX, "About Kelvad", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetUpKelvadDialog(this, 217, 55);
    const wxSize iconSize = DlgSize(this, 18, 20);
    const int side = std::min(iconSize.GetWidth(), iconSize.GetHeight());
    new wxStaticBitmap(this, wxID_ANY,
                       KelvadIcons().GetIcon(side, wxIconBundle::FALLBACK_NEAREST_LARGER),
                       DlgPos(this, 11, 17), iconSize);
    new wxStaticText(this, wxID_ANY, std::string("Kelvad Version ") + kKelvadShortVersion,
                     DlgPos(this, 40, 10), DlgSize(this, 119, 8));
    auto* ok = new wxButton(this, wxID_OK, "OK", DlgPos(this, 176, 6), DlgSize(this, 32, 14));
    ok->SetDefault();
    ok->SetFocus();
    CentreOnParent();
}

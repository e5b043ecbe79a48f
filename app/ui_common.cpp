#include "app/ui_common.h"

#include <wx/app.h>
#include <wx/bmpbndl.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>

#include "res/icon_data.h"
#include "sync/display_text.h"

namespace {
// A message box holds at most this many characters of a text; longer texts
// (paths can run to thousands) are shortened in the middle.
constexpr size_t kMessageDisplayChars = 600;
}  // namespace

bool IsDarkTheme() {
    return wxSystemSettings::GetAppearance().IsDark();
}

void SetUpKelvadDialog(wxDialog* dialog, int cx, int cy) {
    // Light grey behind a dark theme's dark fields and buttons is unreadable.
    if (!IsDarkTheme()) {
        dialog->SetBackgroundColour(wxColour(192, 192, 192));
        dialog->SetForegroundColour(*wxBLACK);
    }
    dialog->SetIcons(KelvadIcons());
    dialog->SetClientSize(DlgSize(dialog, cx, cy));
}

wxPoint DlgPos(wxWindow* window, int x, int y) {
    return window->ConvertDialogToPixels(wxPoint(x, y));
}

wxSize DlgSize(wxWindow* window, int cx, int cy) {
    return window->ConvertDialogToPixels(wxSize(cx, cy));
}

const wxIconBundle& KelvadIcons() {
    static const wxIconBundle icons = [] {
        wxIconBundle bundle;
        const wxBitmapBundle svg = wxBitmapBundle::FromSVG(kKelvadIconSvg, wxSize(64, 64));
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            wxIcon icon;
            icon.CopyFromBitmap(svg.GetBitmap(wxSize(size, size)));
            bundle.AddIcon(icon);
        }
        return bundle;
    }();
    return icons;
}

wxString ToWx(const std::string& raw) {
    const std::string text = WithNativeSeparators(raw);
    wxString s = wxString::FromUTF8(text.data(), text.size());
    if (s.empty() && !text.empty()) {
        s = wxString::From8BitData(text.data(), text.size());  // not UTF-8: show the bytes
    }
    return s;
}

std::string FromWx(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

wxString AppName() {
    return wxTheApp != nullptr ? wxTheApp->GetAppName() : wxString("kelvad");
}

void KelvadMessageBox(wxWindow* parent, const std::string& text, const char* caption,
                      Shorten shorten) {
    wxMessageDialog box(
        parent,
        ToWx(shorten == Shorten::Yes ? ShortenForDisplay(text, kMessageDisplayChars) : text),
        caption != nullptr ? wxString(caption) : AppName(), wxOK | wxICON_NONE);
    box.ShowModal();
}

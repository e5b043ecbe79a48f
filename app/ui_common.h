// What Kelvad's windows share: the grey look, dialog-unit layout, the icon,
// text conversion and the message box.
#pragma once

#include <wx/dialog.h>
#include <wx/iconbndl.h>
#include <wx/string.h>

#include <string>

// Gives a dialog Kelvad's look and its template's size: light grey,
// RGB(192, 192, 192), with black text (under a light theme; a dark theme's own
// colours stand), icon 128, and a client area of `cx` x `cy` dialog units.
void SetUpKelvadDialog(wxDialog* dialog, int cx, int cy);

// Template coordinates in dialog units, converted with the window's font.
wxPoint DlgPos(wxWindow* window, int x, int y);
wxSize DlgSize(wxWindow* window, int cx, int cy);

// Icon 128 at the sizes desktops ask for (16 to 256 pixels).
const wxIconBundle& KelvadIcons();

// Paths and texts are UTF-8 inside Kelvad. ToWx shows the separators of paths
// as the system does (WithNativeSeparators).
wxString ToWx(const std::string& text);
std::string FromWx(const wxString& text);

// The application's name, the caption of every message box without its own.
wxString AppName();

// Whether a message box shortens a long text (paths can run to thousands of
// characters) in the middle; the help is shown whole.
enum class Shorten { Yes, No };

// A modal box with one OK button and no icon, owned by `parent`. With a null
// caption it shows the application's name. Returns when it is closed.
void KelvadMessageBox(wxWindow* parent, const std::string& text, const char* caption = nullptr,
                      Shorten shorten = Shorten::Yes);

// True under a dark desktop theme, where Kelvad leaves the theme's colours alone.
bool IsDarkTheme();

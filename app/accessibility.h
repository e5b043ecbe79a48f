// What screen readers are told of Kelvad's controls beyond what the toolkit
// guesses from their order: which label names which control, and which control
// is not to be announced. The toolkit's guess takes a label for the control
// created after it, and the dialog templates create the fields first.
#pragma once

#include <string>

class wxWindow;

// Makes `label` (a static text, or a group box's caption) the label of
// `control`: a screen reader names the control by the label's text. A label
// names one control; more may name the same label as theirs.
void SetAccessibleLabel(wxWindow* label, wxWindow* control);

// Adds `label` as what names `control` too, leaving the control's own text as
// its name: a radio button is read with its group box's caption.
void AddAccessibleGroupLabel(wxWindow* label, wxWindow* control);

// Names `window` for screen readers (a list, say, that has no label).
void SetAccessibleName(wxWindow* window, const char* name);

// Makes the static text `line` the window's status line (a status bar to
// screen readers), read by its text whenever it is shown.
void SetAccessibleStatusLine(wxWindow* line);

// Sets what screen readers say of `window` after its name. A change to the
// description of the control that has the focus is spoken as it comes: that is
// how a line that is not focused (a status line) reaches the user.
void SetAccessibleDescription(wxWindow* window, const std::string& text);

// Keeps `window` out of what screen readers announce.
void HideFromScreenReaders(wxWindow* window);

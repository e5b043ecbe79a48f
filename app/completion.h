// The list of completions a field shows while a directory name is typed.
#pragma once

#include <initializer_list>

class wxWindow;

// Closes the completion list that one of `fields` (text fields, or combo
// boxes with a text field) shows; true when one was shown. Escape closes such
// a list and nothing else: the dialog it was pressed in stays open.
bool CloseCompletionList(std::initializer_list<wxWindow*> fields);

#include "app/completion.h"

// Windows' own completion list takes Escape itself before the dialog hears it.
bool CloseCompletionList(std::initializer_list<wxWindow*> fields) {
    (void)fields;
    return false;
}

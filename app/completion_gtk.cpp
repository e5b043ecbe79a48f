#include <gtk/gtk.h>
#include <wx/window.h>

#include "app/completion.h"

namespace {

// The text field GTK completes: the window itself, or a combo box's entry.
GtkEntry* EntryOf(wxWindow* field) {
    GtkWidget* widget = field->GetHandle();
    if (GTK_IS_COMBO_BOX(widget)) {
        widget = gtk_bin_get_child(GTK_BIN(widget));
    }
    return GTK_IS_ENTRY(widget) ? GTK_ENTRY(widget) : nullptr;
}

// True when a completion list is shown over `toplevel`: GTK shows it as a
// popup window of the combo kind, standing over the field's window.
bool ListShownOver(GtkWidget* toplevel) {
    bool shown = false;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr && !shown; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        shown = gtk_window_get_window_type(window) == GTK_WINDOW_POPUP &&
                gtk_window_get_type_hint(window) == GDK_WINDOW_TYPE_HINT_COMBO &&
                gtk_widget_get_mapped(GTK_WIDGET(window)) &&
                GTK_WIDGET(gtk_window_get_transient_for(window)) == toplevel;
    }
    g_list_free(windows);
    return shown;
}

}  // namespace

bool CloseCompletionList(std::initializer_list<wxWindow*> fields) {
    bool closed = false;
    for (wxWindow* field : fields) {
        GtkEntry* entry = EntryOf(field);
        GtkEntryCompletion* completion = entry ? gtk_entry_get_completion(entry) : nullptr;
        if (completion == nullptr || !ListShownOver(gtk_widget_get_toplevel(GTK_WIDGET(entry)))) {
            continue;
        }
        // Taking the completion from the field closes its list, as GTK's own
        // Escape would; the same completion goes back at once.
        g_object_ref(completion);
        gtk_entry_set_completion(entry, nullptr);
        gtk_entry_set_completion(entry, completion);
        g_object_unref(completion);
        closed = true;
    }
    return closed;
}

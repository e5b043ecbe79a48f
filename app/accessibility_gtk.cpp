#include "app/accessibility.h"

#include <gtk/gtk.h>
#include <wx/window.h>

#include <string>

namespace {

// The GtkLabel of a static text, or of a group box (a GtkFrame's caption).
GtkWidget* LabelWidget(wxWindow* label) {
    GtkWidget* widget = label->GetHandle();
    if (widget != nullptr && GTK_IS_FRAME(widget)) {
        widget = gtk_frame_get_label_widget(GTK_FRAME(widget));
    }
    return widget != nullptr && GTK_IS_LABEL(widget) ? widget : nullptr;
}

// Drops the label's "label for" relation and the matching "labelled by" of
// every control it named: the accessibility layer works them out once, from
// the toolkit's guess, and keeps them.
void ForgetLabelledControls(AtkObject* labelObject) {
    AtkRelationSet* relations = atk_object_ref_relation_set(labelObject);
    if (AtkRelation* old =
            atk_relation_set_get_relation_by_type(relations, ATK_RELATION_LABEL_FOR)) {
        GPtrArray* targets = atk_relation_get_target(old);
        for (guint i = 0; targets != nullptr && i < targets->len; ++i) {
            atk_object_remove_relationship(ATK_OBJECT(g_ptr_array_index(targets, i)),
                                           ATK_RELATION_LABELLED_BY, labelObject);
        }
        atk_relation_set_remove(relations, old);
    }
    g_object_unref(relations);
}

// What a screen reader reads of a control: a field with a list (a combo box)
// is read as the field inside it.
GtkWidget* ReadWidget(wxWindow* control) {
    GtkWidget* widget = control->GetHandle();
    if (widget != nullptr && GTK_IS_COMBO_BOX(widget) &&
        gtk_combo_box_get_has_entry(GTK_COMBO_BOX(widget))) {
        return gtk_bin_get_child(GTK_BIN(widget));
    }
    return widget;
}

}  // namespace

void SetAccessibleLabel(wxWindow* label, wxWindow* control) {
    GtkWidget* gtkLabel = LabelWidget(label);
    GtkWidget* field = ReadWidget(control);
    if (gtkLabel == nullptr || field == nullptr) {
        return;
    }
    ForgetLabelledControls(gtk_widget_get_accessible(gtkLabel));
    gtk_label_set_mnemonic_widget(GTK_LABEL(gtkLabel), field);
    AddAccessibleGroupLabel(label, control);
    // A field has no text of its own to be named by: it takes the label's,
    // without the colon.
    AtkObject* controlObject = gtk_widget_get_accessible(field);
    const char* name = atk_object_get_name(controlObject);
    if (name == nullptr || *name == '\0') {
        std::string text = gtk_label_get_text(GTK_LABEL(gtkLabel));
        if (!text.empty() && text.back() == ':') {
            text.pop_back();
        }
        atk_object_set_name(controlObject, text.c_str());
    }
}

void AddAccessibleGroupLabel(wxWindow* label, wxWindow* control) {
    GtkWidget* gtkLabel = LabelWidget(label);
    if (gtkLabel == nullptr || ReadWidget(control) == nullptr) {
        return;
    }
    AtkObject* labelObject = gtk_widget_get_accessible(gtkLabel);
    AtkObject* controlObject = gtk_widget_get_accessible(ReadWidget(control));
    atk_object_add_relationship(controlObject, ATK_RELATION_LABELLED_BY, labelObject);
    atk_object_add_relationship(labelObject, ATK_RELATION_LABEL_FOR, controlObject);
}

void HideFromScreenReaders(wxWindow* window) {
    if (window->GetHandle() != nullptr) {
        AtkObject* object = gtk_widget_get_accessible(window->GetHandle());
        atk_object_set_role(object, ATK_ROLE_REDUNDANT_OBJECT);
        atk_object_set_name(object, "");
    }
}

void SetAccessibleStatusLine(wxWindow* line) {
    if (GtkWidget* label = LabelWidget(line)) {
        atk_object_set_role(gtk_widget_get_accessible(label), ATK_ROLE_STATUSBAR);
    }
}

void SetAccessibleName(wxWindow* window, const char* name) {
    GtkWidget* widget = window->GetHandle();
    if (widget == nullptr) {
        return;
    }
    atk_object_set_name(gtk_widget_get_accessible(widget), name);
    // A list scrolls inside a frame of its own: the list itself is what is read.
    if (GTK_IS_SCROLLED_WINDOW(widget) && gtk_bin_get_child(GTK_BIN(widget)) != nullptr) {
        atk_object_set_name(gtk_widget_get_accessible(gtk_bin_get_child(GTK_BIN(widget))), name);
    }
}

void SetAccessibleDescription(wxWindow* window, const std::string& text) {
    if (window->GetHandle() != nullptr) {
        atk_object_set_description(gtk_widget_get_accessible(window->GetHandle()), text.c_str());
    }
}

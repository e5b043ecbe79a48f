// What screen readers are told on Windows: each control that needs it gets an
// accessible object (Microsoft Active Accessibility, through wxWidgets) that
// answers with its label's text, its description, or the role of a status bar.
#include "app/accessibility.h"

#include <wx/access.h>
#include <wx/window.h>

#include <string>

namespace {

// Answers for one window what the toolkit would guess wrongly; everything
// else is the window's own answer.
class KelvadAccessible : public wxWindowAccessible {
public:
    explicit KelvadAccessible(wxWindow* window) : wxWindowAccessible(window) {}

    wxAccStatus GetName(int childId, wxString* name) override {
        if (childId != wxACC_SELF || (m_label == nullptr && m_name.empty())) {
            return wxWindowAccessible::GetName(childId, name);
        }
        *name =
            m_label != nullptr ? wxStripMenuCodes(m_label->GetLabel()) : wxString::FromUTF8(m_name);
        if (m_addLabel && m_label != nullptr) {
            *name = GetWindow()->GetLabel() + " (" + *name + ")";
        }
        return wxACC_OK;
    }
    wxAccStatus GetDescription(int childId, wxString* description) override {
        if (childId != wxACC_SELF || m_description.empty()) {
            return wxWindowAccessible::GetDescription(childId, description);
        }
        *description = wxString::FromUTF8(m_description);
        return wxACC_OK;
    }
    wxAccStatus GetRole(int childId, wxAccRole* role) override {
        if (childId != wxACC_SELF || !m_statusLine) {
            return wxWindowAccessible::GetRole(childId, role);
        }
        *role = wxROLE_SYSTEM_STATUSBAR;
        return wxACC_OK;
    }
    wxAccStatus GetState(int childId, long* state) override {
        const wxAccStatus status = wxWindowAccessible::GetState(childId, state);
        if (childId == wxACC_SELF && m_hidden) {
            *state |= wxACC_STATE_SYSTEM_INVISIBLE;
        }
        return status;
    }

    wxWindow* m_label = nullptr;
    bool m_addLabel = false;  // the label is the group's: read after the control's own text
    std::string m_name;
    std::string m_description;
    bool m_statusLine = false;
    bool m_hidden = false;
};

KelvadAccessible& AccessibleOf(wxWindow* window) {
    if (auto* ours = dynamic_cast<KelvadAccessible*>(window->GetAccessible())) {
        return *ours;
    }
    auto* made = new KelvadAccessible(window);
    window->SetAccessible(made);  // the window owns it
    return *made;
}

}  // namespace

void SetAccessibleLabel(wxWindow* label, wxWindow* control) {
    AccessibleOf(control).m_label = label;
}

void AddAccessibleGroupLabel(wxWindow* label, wxWindow* control) {
    KelvadAccessible& accessible = AccessibleOf(control);
    accessible.m_label = label;
    accessible.m_addLabel = true;
}

void SetAccessibleName(wxWindow* window, const char* name) {
    AccessibleOf(window).m_name = name;
}

void SetAccessibleStatusLine(wxWindow* line) {
    AccessibleOf(line).m_statusLine = true;
}

void SetAccessibleDescription(wxWindow* window, const std::string& text) {
    AccessibleOf(window).m_description = text;
    // Tell a screen reader that the description changed, as GTK does.
    wxAccessible::NotifyEvent(wxACC_EVENT_OBJECT_DESCRIPTIONCHANGE, window, wxOBJID_CLIENT,
                              wxACC_SELF);
}

void HideFromScreenReaders(wxWindow* window) {
    AccessibleOf(window).m_hidden = true;
}

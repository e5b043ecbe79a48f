// Intercepts every modal dialog and message box: records its class, text and
// caption, and answers it without showing it (or lets it show).
#pragma once

#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include <functional>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "app/action_list_dlg.h"
#include "app/ui_common.h"

struct ShownDialog {
    std::string kind;  // "message", "preview", "about" or the class name
    std::string text;
    std::string caption;
};

class DialogRecorder : public wxModalDialogHook {
public:
    DialogRecorder() { Register(); }
    ~DialogRecorder() override { Unregister(); }

    // Decides the answer to a dialog; wxID_NONE lets it show for real.
    std::function<int(wxDialog*)> m_answer = [](wxDialog*) { return wxID_OK; };
    std::vector<ShownDialog> m_shown;

protected:
    int Enter(wxDialog* dialog) override {
        ShownDialog shown;
        shown.caption = FromWx(dialog->GetTitle());
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
            shown.kind = "message";
            shown.text = FromWx(box->GetMessage());
        } else if (dynamic_cast<CActionListDlg*>(dialog) != nullptr) {
            shown.kind = "preview";
        } else if (dynamic_cast<CAboutDlg*>(dialog) != nullptr) {
            shown.kind = "about";
        } else {
            shown.kind = FromWx(dialog->GetClassInfo()->GetClassName());
        }
        m_shown.push_back(shown);
        return m_answer(dialog);
    }
    void Exit(wxDialog*) override {}
};

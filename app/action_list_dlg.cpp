#include "app/action_list_dlg.h"

#include <wx/button.h>

#include "app/action_line.h"
#include "app/display_text.h"
#include "app/ids.h"
#include "app/ui_common.h"
#include "platform/path_compare.h"

namespace {
// Lines can be scrolled sideways up to this many pixels.
constexpr int kHorizontalExtent = 600;
// A path longer than this many characters is shortened in the middle for display.
constexpr size_t kPathDisplayChars = 160;
}  // namespace

// A list that asks for the text of a line only when it draws it. The label and
// the path stand in two columns, which puts the paths in one column as the tab
// after each label does.
class CActionListDlg::ActionListCtrl : public wxListCtrl {
public:
    ActionListCtrl(CActionListDlg* owner, const wxPoint& pos, const wxSize& size)
        : wxListCtrl(owner, IDC_ACTION_LIST, pos, size,
                     wxLC_REPORT | wxLC_VIRTUAL | wxLC_NO_HEADER | wxLC_SINGLE_SEL | wxBORDER_SIMPLE),
          m_owner(owner) {
        const int labelWidth = GetTextExtent("Modify:  ").GetWidth();
        AppendColumn("", wxLIST_FORMAT_LEFT, labelWidth);
        AppendColumn("", wxLIST_FORMAT_LEFT, kHorizontalExtent - labelWidth);
    }

    wxString OnGetItemText(long item, long column) const override {
        const std::string line = m_owner->GetLine(static_cast<size_t>(item));
        const size_t tab = line.find('\t');
        if (column == 0) {
            return ToWx(line.substr(0, tab));
        }
        return ToWx(ShortenForDisplay(line.substr(tab + 1), kPathDisplayChars));
    }

private:
    CActionListDlg* m_owner;
};

CActionListDlg::CActionListDlg(wxWindow* parent)
    : wxDialog(parent, IDD_ACTION_LIST, "Action List", wxPoint(0, 0), wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetUpKelvadDialog(this, 226, 135);
    auto* ok = new wxButton(this, wxID_OK, "OK", DlgPos(this, 3, 109), DlgSize(this, 46, 14));
    new wxButton(this, wxID_CANCEL, "Cancel", DlgPos(this, 167, 108), DlgSize(this, 50, 14));
    m_list = new ActionListCtrl(this, DlgPos(this, 9, 14), DlgSize(this, 205, 85));
    ok->SetDefault();
    // Enter in the list approves the plan as it does anywhere in the dialog; a
    // double click on a line does nothing.
    m_list->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) {
            EndModal(wxID_OK);
        } else {
            event.Skip();
        }
    });
}

void CActionListDlg::SetData(const CActionList* actions, std::string slaveRoot) {
    m_actions = actions;
    m_slaveRoot = std::move(slaveRoot);
}

int CActionListDlg::ShowModal() {
    m_slaveRoot.push_back(platform::kSeparator);  // once for each showing
    m_list->SetItemCount(static_cast<long>(GetLineCount()));
    FindWindow(wxID_OK)->SetFocus();
    return wxDialog::ShowModal();
}

wxListCtrl* CActionListDlg::GetListControl() const {
    return m_list;
}

size_t CActionListDlg::GetLineCount() const {
    return m_actions != nullptr ? m_actions->size() : 0;
}

std::string CActionListDlg::GetLine(size_t index) const {
    return BuildActionLine(*(*m_actions)[index], m_slaveRoot);
}

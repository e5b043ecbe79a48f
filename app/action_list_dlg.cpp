#include "app/action_list_dlg.h"

#include <wx/button.h>

#include <algorithm>

#include "app/accessibility.h"
#include "app/ids.h"
#include "app/ui_common.h"
#include "platform/path_compare.h"
#include "sync/action_line.h"

// The plan as the list's rows: the label and the path in two columns, which
// puts the paths in one column as the tab after each label does.
class CActionListDlg::ActionListModel : public wxDataViewVirtualListModel {
public:
    explicit ActionListModel(const CActionListDlg* owner)
        : wxDataViewVirtualListModel(static_cast<unsigned>(owner->GetLineCount())),
          m_owner(owner) {}

    unsigned GetColumnCount() const override { return 2; }
    wxString GetColumnType(unsigned) const override { return "string"; }
    void GetValueByRow(wxVariant& value, unsigned row, unsigned column) const override {
        value = ToWx(m_owner->GetShownText(row, column));
    }
    bool SetValueByRow(const wxVariant&, unsigned, unsigned) override { return false; }

private:
    const CActionListDlg* m_owner;
};

namespace {
// The rows the preview opens tall enough for, where the plan has as many.
constexpr size_t kRowsShown = 30;
}  // namespace

CActionListDlg::CActionListDlg(wxWindow* parent)
    : wxDialog(parent, IDD_ACTION_LIST, "Action List", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER) {
    SetUpKelvadDialog(this, 226, 135);
    auto* ok = new wxButton(this, wxID_OK, "OK", DlgPos(this, 3, 109), DlgSize(this, 46, 14));
    new wxButton(this, wxID_CANCEL, "Cancel", DlgPos(this, 167, 108), DlgSize(this, 50, 14));
    m_totals = new wxStaticText(this, wxID_ANY, "", DlgPos(this, 9, 3), DlgSize(this, 205, 10),
                                wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    m_list = new wxDataViewCtrl(this, IDC_ACTION_LIST, DlgPos(this, 9, 14), DlgSize(this, 205, 85),
                                wxDV_NO_HEADER | wxDV_SINGLE | wxBORDER_SIMPLE);
    SetAccessibleName(m_list, "Planned changes");
    // The path column follows the list's width, which changes once more when
    // the list shows its scroll bar: otherwise the end of a long path, the
    // file name, would lie under the bar.
    m_list->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        FitPathColumn();
        event.Skip();
    });
    ok->SetDefault();
    // The template's size is the smallest; the list takes whatever is added.
    SetMinClientSize(GetClientSize());
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        PlaceControls(GetClientSize());
        event.Skip();
    });
    // Enter on a line approves the plan as it does anywhere in the dialog.
    m_list->Bind(wxEVT_DATAVIEW_ITEM_ACTIVATED, [this](wxDataViewEvent&) { EndModal(wxID_OK); });
}

void CActionListDlg::PlaceControls(const wxSize& clientSize) {
    // The list keeps the template's margins; the buttons stay at the bottom, OK
    // at the left and Cancel at the right.
    const wxSize grown = clientSize - DlgSize(this, 226, 135);
    m_totals->SetSize(wxRect(DlgPos(this, 9, 3), DlgSize(this, 205, 10) + wxSize(grown.x, 0)));
    m_list->SetSize(wxRect(DlgPos(this, 9, 14), DlgSize(this, 205, 85) + grown));
    FindWindow(wxID_OK)->Move(DlgPos(this, 3, 109) + wxPoint(0, grown.y));
    FindWindow(wxID_CANCEL)->Move(DlgPos(this, 167, 108) + wxPoint(grown.x, grown.y));
    FitPathColumn();
}

void CActionListDlg::FitPathColumn() {
    if (m_list->GetColumnCount() == 2) {
        const int labelWidth = m_list->GetColumn(0)->GetWidth();
        m_list->GetColumn(1)->SetWidth(std::max(m_list->GetClientSize().x - labelWidth, 50));
    }
}

void CActionListDlg::SetData(const CActionList* actions, std::string slaveRoot, PlanNotes notes) {
    m_actions = actions;
    m_notes = std::move(notes);
    m_slaveRoot = std::move(slaveRoot);
}

int CActionListDlg::ShowModal() {
    m_slaveRoot.push_back(platform::kSeparator);  // once for each showing
    m_totals->SetLabelText(
        ToWx(m_actions != nullptr ? PlanTotals(*m_actions, m_notes) : std::string()));
    // The dialog opens wide enough for the whole line, within the screen.
    const int missing = m_totals->GetTextExtent(m_totals->GetLabelText()).x - m_totals->GetSize().x;
    if (missing > 0) {
        const int room = wxGetClientDisplayRect().width - GetSize().x;
        SetClientSize(GetClientSize() +
                      wxSize(std::min(missing + DlgSize(this, 4, 0).x, std::max(room, 0)), 0));
    }
    // Tall enough for its rows (a plan of many, most of the screen's height),
    // and over the main dialog rather than in a corner of the screen.
    const int rowHeight = m_list->GetCharHeight() * 3 / 2 + 4;
    const int rowsWanted = static_cast<int>(std::min<size_t>(GetLineCount(), kRowsShown));
    const int taller = std::min(rowsWanted * rowHeight + rowHeight / 2 - m_list->GetSize().y,
                                wxGetClientDisplayRect().height * 3 / 4 - GetSize().y);
    if (taller > 0) {
        SetClientSize(GetClientSize() + wxSize(0, taller));
    }
    if (GetParent() != nullptr && GetParent()->IsShown()) {
        CentreOnParent();
    } else {
        CentreOnScreen();
    }
    if (m_model == nullptr) {
        m_model = new ActionListModel(this);
        m_list->AssociateModel(m_model);
        m_model->DecRef();  // the list holds it now
        m_list->AppendTextColumn("Change", 0, wxDATAVIEW_CELL_INERT,
                                 GetTextExtent("Modify:  ").GetWidth());
        // A long path keeps its end, the file name, in view.
        wxDataViewColumn* path = m_list->AppendTextColumn("Path", 1, wxDATAVIEW_CELL_INERT, 100);
        path->GetRenderer()->EnableEllipsize(wxELLIPSIZE_START);
        PlaceControls(GetClientSize());
    }
    FindWindow(wxID_OK)->SetFocus();
    // Once the window is on the screen its sizes are final.
    CallAfter([this] { PlaceControls(GetClientSize()); });
    return wxDialog::ShowModal();
}

std::string CActionListDlg::GetTotalsText() const {
    return m_totals->GetLabelText().utf8_string();
}

size_t CActionListDlg::GetLineCount() const {
    return m_actions != nullptr ? m_actions->size() : 0;
}

std::string CActionListDlg::GetLine(size_t index) const {
    return BuildActionLine(*(*m_actions)[index], m_slaveRoot);
}

std::string CActionListDlg::GetShownText(size_t index, unsigned column) const {
    const std::string line = GetLine(index);
    const size_t tab = line.find('\t');
    return column == 0 ? line.substr(0, tab) : line.substr(tab + 1);
}

// The preview: what the plan comes to, then the plan, one line per action in
// plan order, to be approved (OK) or refused (Cancel) as a whole. The list is the desktop's own
// (its rows are read by screen readers and walked with the keyboard) and asks for the text of a
// line only when it draws it, so a plan of a million actions opens at once. The dialog may be
// resized; the list grows with it.
#pragma once

#include <wx/dataview.h>
#include <wx/dialog.h>
#include <wx/stattext.h>

#include <string>

#include "sync/action_line.h"
#include "tree/action.h"

class CActionListDlg : public wxDialog {
public:
    explicit CActionListDlg(wxWindow* parent);

    // The plan to show (borrowed: never changed or freed here), the slave
    // root as typed and how many entries were left out of the mirror. Called
    // once, before ShowModal.
    void SetData(const CActionList* actions, std::string slaveRoot, PlanNotes notes = {});

    // Shows the plan; wxID_OK for OK or Enter, wxID_CANCEL for Cancel, Escape or
    // the close box.
    int ShowModal() override;

    // The text of line `index`, exactly as it is built ("Create:\t/s/a.txt").
    std::string GetLine(size_t index) const;
    size_t GetLineCount() const;
    wxDataViewCtrl* GetListControl() const { return m_list; }
    // The line above the list that counts what the plan does.
    std::string GetTotalsText() const;
    // The text the list shows in `column` (0 the label, 1 the path) of line `index`.
    std::string GetShownText(size_t index, unsigned column) const;

private:
    class ActionListModel;
    void PlaceControls(const wxSize& clientSize);
    void FitPathColumn();

    const CActionList* m_actions = nullptr;
    std::string m_slaveRoot;
    PlanNotes m_notes;
    wxStaticText* m_totals = nullptr;
    wxDataViewCtrl* m_list = nullptr;    // control 1000
    ActionListModel* m_model = nullptr;  // owned by the list
};

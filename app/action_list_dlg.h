// The preview: the plan, one line per action in plan order, to be approved
// (OK) or refused (Cancel) as a whole. The list draws only the lines in view,
// so a plan of a million actions opens at once.
#pragma once

#include <wx/dialog.h>
#include <wx/listctrl.h>

#include <string>

#include "tree/action.h"

class CActionListDlg : public wxDialog {
public:
    explicit CActionListDlg(wxWindow* parent);

    // The plan to show (borrowed: never changed or freed here) and the slave
    // root as typed. Called once, before ShowModal.
    void SetData(const CActionList* actions, std::string slaveRoot);

    // Shows the plan; wxID_OK for OK or Enter, wxID_CANCEL for Cancel, Escape or
    // the close box.
    int ShowModal() override;

    // The text of line `index`, exactly as it is built ("Create:\t/s/a.txt").
    std::string GetLine(size_t index) const;
    size_t GetLineCount() const;
    wxListCtrl* GetListControl() const;

private:
    class ActionListCtrl;

    const CActionList* m_actions = nullptr;
    std::string m_slaveRoot;
    ActionListCtrl* m_list = nullptr;  // control 1000
};

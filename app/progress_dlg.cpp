#include "app/progress_dlg.h"

#include <wx/button.h>
#include <wx/evtloop.h>

#include <climits>

#include "app/ids.h"
#include "app/ui_common.h"
#include "exec/copier.h"
#include "exec/executor.h"

namespace {
// The pump looks for window events at most this often (a look costs about
// 2 us), and then handles all that are pending for at most the budget: GTK
// needs many events to draw a window, and the window manager's pings must be
// answered within 100 ms, while a Cancel lands within 10 ms.
constexpr auto kPumpInterval = std::chrono::milliseconds(5);
constexpr auto kPumpBudget = std::chrono::milliseconds(4);
// How long a new window may take to be drawn before the first change is made.
constexpr auto kFirstDrawBudget = std::chrono::milliseconds(250);

// Handles pending window events until none is left or `budget` has passed.
void DispatchPending(std::chrono::steady_clock::duration budget) {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    const auto until = std::chrono::steady_clock::now() + budget;
    while (loop != nullptr && loop->Pending() && std::chrono::steady_clock::now() < until) {
        loop->Dispatch();
    }
}
}  // namespace

bool CProgressDlg::CreateModeless(wxWindow* parent) {
    // A caption but no system menu and no close box: Cancel is the only control.
    if (!Create(parent, IDD_PROGRESS, "Kelvad Progress", wxPoint(0, 0), wxDefaultSize,
                wxCAPTION)) {
        return false;
    }
    SetUpKelvadDialog(this, 261, 87);
    auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel", DlgPos(this, 97, 66),
                                DlgSize(this, 50, 14));
    m_statusText = new wxStaticText(this, IDC_STATUS, "", DlgPos(this, 6, 2),
                                    DlgSize(this, 243, 17),
                                    wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    m_progress = new wxGauge(this, IDC_PROGRESS, 100, DlgPos(this, 19, 41),
                             DlgSize(this, 221, 11), wxGA_HORIZONTAL | wxGA_SMOOTH);
    m_progress->SetValue(0);
    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); });
    // Window managers may still offer a close button or Alt+F4: that is a Cancel.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (event.CanVeto()) {
            event.Veto();
            OnCancel();
        } else {
            Destroy();
        }
    });
    SetEscapeId(wxID_CANCEL);
    CentreOnScreen();
    Show();
    DispatchPending(kFirstDrawBudget);  // drawn before the first change is made
    Update();
    m_cancelled = false;
    return true;
}

bool CProgressDlg::Execute(const CActionList* actions, platform::TreeRoot& master,
                           platform::TreeRoot& slave, RunLog* log) {
    m_lastCheck = {};
    RunRecord record(*this, log);
    const bool done = record.Run(*actions, master, slave, OnFailure::Stop);
    m_summary = record.Summary();
    ShowPending();
    return done;
}

void CProgressDlg::OnCancel() {
    m_cancelled = true;
}

void CProgressDlg::SetStatus(const std::string& text) {
    m_status = text;
    m_statusDirty = true;
}

void CProgressDlg::SetRange(size_t upper) {
    // The bar's range is an int; plans beyond that are never met in practice.
    m_progress->SetRange(upper > INT_MAX ? INT_MAX : static_cast<int>(upper));
    m_progress->SetValue(0);
}

void CProgressDlg::SetPosition(size_t position) {
    m_position = position > INT_MAX ? INT_MAX : static_cast<int>(position);
    m_positionDirty = true;
}

void CProgressDlg::ShowPending() {
    if (m_statusDirty) {
        m_statusText->SetLabelText(ToWx(m_status));
        m_statusDirty = false;
    }
    if (m_positionDirty) {
        m_progress->SetValue(m_position);
        m_positionDirty = false;
    }
}

void CProgressDlg::PumpPending() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastCheck < kPumpInterval) {
        return;
    }
    ShowPending();
    DispatchPending(kPumpBudget);
    m_lastCheck = std::chrono::steady_clock::now();
}

void CProgressDlg::ShowMessage(const std::string& text) {
    ShowPending();
    KelvadMessageBox(this, text);
}

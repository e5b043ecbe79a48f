#include "app/progress_dlg.h"

#include <wx/evtloop.h>

#include <cmath>

#include "app/accessibility.h"
#include "app/ids.h"
#include "app/ui_common.h"
#include "exec/copier.h"
#include "exec/executor.h"
#include "sync/display_text.h"

namespace {
// The pump looks for window events at most this often (a look costs about
// 2 us), and then handles all that are pending for at most the budget: GTK
// needs many events to draw a window, and the window manager's pings must be
// answered within 100 ms, while a Cancel lands within 10 ms.
constexpr auto kPumpInterval = std::chrono::milliseconds(5);
constexpr auto kPumpBudget = std::chrono::milliseconds(4);
// How long a new window may take to be drawn before the first change is made.
constexpr auto kFirstDrawBudget = std::chrono::milliseconds(250);
// The status line, the bar and the time left change at most this often: more
// is a blur to the eye, and each change is an event for screen readers (a run
// of small files would otherwise send them some 130 a second).
constexpr auto kShowInterval = std::chrono::milliseconds(250);
// A screen reader takes about two seconds to say a status line; told more
// often, it would cut each one short.
constexpr auto kSpeakInterval = std::chrono::seconds(2);
// The bar's steps: a tenth of a per cent, smooth on a bar 221 units wide.
constexpr int kBarRange = 1000;

// Handles pending window events until none is left or `budget` has passed.
void DispatchPending(std::chrono::steady_clock::duration budget) {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    const auto until = std::chrono::steady_clock::now() + budget;
    while (loop != nullptr && loop->Pending() && std::chrono::steady_clock::now() < until) {
        loop->Dispatch();
    }
}

// How much is done and, once it can be told, how long the rest will take:
// "858.0 MiB of 2.0 GiB copied, about 1 min 20 s left", or for a plan that
// copies nothing "12 of 20101 steps done"; nothing for an empty plan.
std::string AmountDoneText(const RunProgress& run, std::chrono::steady_clock::time_point now) {
    if (run.Steps() == 0) {
        return {};
    }
    std::string text = run.Bytes() > 0 ? ByteCountText(run.BytesDone()) + " of " +
                                             ByteCountText(run.Bytes()) + " copied"
                                       : std::to_string(run.StepsDone()) + " of " +
                                             std::to_string(run.Steps()) + " steps done";
    if (const auto left = run.TimeLeft(now)) {
        text += ", about " + DurationText(*left) + " left";
    }
    return text;
}
}  // namespace

bool CProgressDlg::CreateModeless(wxWindow* parent) {
    // A caption but no system menu and no close box: Cancel is the only control.
    if (!Create(parent, IDD_PROGRESS, "Kelvad Progress", wxPoint(0, 0), wxDefaultSize, wxCAPTION)) {
        return false;
    }
    SetUpKelvadDialog(this, 261, 87);
    m_cancel =
        new wxButton(this, wxID_CANCEL, "Cancel", DlgPos(this, 97, 66), DlgSize(this, 50, 14));
    m_statusText =
        new wxStaticText(this, IDC_STATUS, "", DlgPos(this, 6, 2), DlgSize(this, 243, 17),
                         wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    // Between the status line and the bar, where the template leaves room.
    m_amountText =
        new wxStaticText(this, wxID_ANY, "", DlgPos(this, 19, 28), DlgSize(this, 221, 10),
                         wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    m_progress = new wxGauge(this, IDC_PROGRESS, kBarRange, DlgPos(this, 19, 41),
                             DlgSize(this, 221, 11), wxGA_HORIZONTAL | wxGA_SMOOTH);
    m_progress->SetValue(0);
    SetAccessibleName(m_progress, "Progress");
    SetAccessibleStatusLine(m_statusText);
    m_cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); });
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
    // Screen readers speak what changes in the focused control's description:
    // the status line is told there.
    m_cancel->SetFocus();
    DispatchPending(kFirstDrawBudget);  // drawn before the first change is made
    Update();
    m_cancelled = false;
    return true;
}

void CProgressDlg::SetProgress(const RunProgress& progress) {
    m_lastCheck = m_lastShown = m_lastSpoken = {};
    m_run = &progress;
    m_progress->SetValue(0);
}

void CProgressDlg::RunEnded() {
    ShowPending(Clock::now());
    m_run = nullptr;
}

void CProgressDlg::OnCancel() {
    m_cancelled = true;
}

void CProgressDlg::SetStatus(const std::string& text) {
    m_status = text;
    m_statusDirty = true;
}

void CProgressDlg::ShowPending(Clock::time_point now) {
    if (m_statusDirty) {
        m_statusText->SetLabelText(ToWx(m_status));
        m_statusDirty = false;
    }
    std::string amount;
    if (m_run) {
        const int value = static_cast<int>(std::lround(m_run->Fraction() * kBarRange));
        if (value != m_progress->GetValue()) {
            m_progress->SetValue(value);
        }
        amount = AmountDoneText(*m_run, now);
        if (ToWx(amount) != m_amountText->GetLabelText()) {
            m_amountText->SetLabelText(ToWx(amount));
        }
    }
    if (now - m_lastSpoken >= kSpeakInterval) {
        const std::string spoken =
            m_status.empty() || amount.empty() ? m_status + amount : m_status + ", " + amount;
        if (spoken != m_spoken) {
            SetAccessibleDescription(m_cancel, spoken);
            m_spoken = spoken;
        }
        m_lastSpoken = now;
    }
    m_lastShown = now;
}

void CProgressDlg::PumpPending() {
    const auto now = Clock::now();
    if (now - m_lastCheck < kPumpInterval) {
        return;
    }
    if (now - m_lastShown >= kShowInterval) {
        ShowPending(now);
    }
    DispatchPending(kPumpBudget);
    m_lastCheck = Clock::now();
}

void CProgressDlg::ShowMessage(const std::string& text) {
    ShowPending(Clock::now());
    KelvadMessageBox(this, text);
}

#include "app/sync_dlg.h"

#include <wx/button.h>
#include <wx/dir.h>
#include <wx/dirdlg.h>
#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textcompleter.h>

#include <algorithm>

#include "app/about_dlg.h"
#include "app/accessibility.h"
#include "app/completion.h"
#include "app/dialog_request_host.h"
#include "app/ids.h"
#include "app/ui_common.h"
#include "exec/executor.h"
#include "exec/keeper.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/trash.h"
#include "res/strings.h"
#include "sync/display_text.h"
#include "sync/run_log.h"
#include "sync/settings.h"
#include "sync/start_request.h"

namespace {

constexpr const char* kHelpText =
    "Kelvad brings a slave directory tree in line with a master tree, one way.\n\n"
    "Type the master and the slave directory and press Start. Kelvad copies the "
    "files that are only in the master, replaces the slave files that the master "
    "wrote later, and deletes the files and directories that the master no longer "
    "has. A slave file whose size differs from the master's is replaced whatever "
    "the times. The master is only read. A slave directory that does not exist "
    "yet is offered for creation.\n\n"
    "Just Do It carries the changes out at once; a run that needs more room than the slave "
    "has free asks first. Preview first lists every change; OK carries them out, Cancel "
    "changes nothing.\n\n"
    "{keeping}"
    "{names}"
    "The small button beside a field opens the folder chooser, and a path typed in a field "
    "offers the directories it may go on to (\"~\" is your home directory). The master "
    "field's list (Alt+Down) offers the last ten pairs that ran; choosing one fills both "
    "fields and the mode.\n\n"
    "While the trees are scanned, Escape or Close stops the scan. Tab moves between the "
    "fields, their buttons, the modes, the check box and the buttons; Enter starts; the menu "
    "key or a right click on the dialog offers About.\n\n"
    "A successful run remembers the directories, the mode and the check box in {settings} "
    "(in kelvad.ini in the directory Kelvad was started from, when that directory holds one), "
    "and ends Kelvad.";

// "Keep deleted and replaced files", in dialog units, in line with the radio
// buttons. Between the Options box (down to 110), the line shown while
// scanning (120 to 128) and the buttons (from 137) no strip is as high as the
// box (11), so it lies below the buttons, and the dialog grows by the box and
// the gap above it, leaving everything else where it was.
constexpr int kKeepBoxX = 88;
constexpr int kKeepBoxY = 157;
constexpr int kKeepBoxCx = 130;
constexpr int kKeepBoxCy = 11;
constexpr int kDialogCy = 163 + (kKeepBoxY - 151) + kKeepBoxCy;

// The "..." button beside each field, in the room right of the fields (which
// end at 174): the dialog keeps its width.
constexpr int kBrowseX = 177;
constexpr int kBrowseCx = 24;
constexpr const char* kBrowseMaster = "Browse for the master directory";
constexpr const char* kBrowseSlave = "Browse for the slave directory";

// The line below the fields while the trees are scanned.
constexpr const char* kScanningText = "Scanning... Escape or Close stops the scan.";

// The help, with where this system keeps what a run takes away and what its
// names are like.
std::string HelpText() {
    const std::string keeping = WithPlaceFilled(
        kHelpText, "{keeping}",
        platform::kHasTrash
            ? "Keep deleted and replaced files (Alt+K) moves what a run deletes, replaces or "
              "removes into the Trash instead of destroying it; the file manager's Restore "
              "puts it back.\n\n"
            : "Keep deleted and replaced files (Alt+K) moves what a run deletes, replaces or "
              "removes into a folder named for the run's date and time in \".kelvad-versions\" "
              "at the slave's root, kept " +
                  std::to_string(kDefaultKeepDays) +
                  " days; copy a file back from the dated folder to restore it.\n\n");
    const std::string settings =
        WithPlaceFilled(keeping, "{settings}",
                        WithNativeSeparators(std::string(platform::kConfigDirectoryShown) + "/" +
                                             platform::kProgramFolder + "/kelvad.ini"));
    return WithPlaceFilled(
        settings, "{names}",
        platform::kNamesIgnoreCase
            ? "Symbolic links, junctions and other reparse points are neither copied, followed "
              "nor deleted. Names are matched ignoring letter case, as Windows does: a file "
              "whose name changed only in letter case keeps its old name in the slave.\n\n"
            : "Symbolic links, pipes and devices are neither copied nor deleted. Names are "
              "case-sensitive: a file whose name changed only in letter case is copied anew.\n\n");
}

// Completes a directory name as it is typed: the directories in the typed
// path's directory whose names begin with what follows its last separator,
// each as typed up to that separator ("~/Doc" gives "~/Documents": the
// completion must begin with what was typed, "~" being read as the home).
class DirectoryCompleter : public wxTextCompleterSimple {
public:
    void GetCompletions(const wxString& prefix, wxArrayString& res) override {
        const int found =
            std::max(prefix.Find('/', true),
                     platform::IsSeparator('\\') ? prefix.Find('\\', true) : wxNOT_FOUND);
        if (found == wxNOT_FOUND) {
            return;
        }
        const size_t slash = static_cast<size_t>(found);
        // The root of a file system, or of a drive ("C:\\"), keeps its separator.
        const bool root = slash == 0 || (slash == 2 && prefix[1] == ':');
        const wxString dirPath =
            ToWx(ExpandHome(FromWx(root ? prefix.Left(slash + 1) : prefix.Left(slash))));
        const wxString start = prefix.Mid(slash + 1);
        wxDir dir;
        if (!wxDir::Exists(dirPath) || !dir.Open(dirPath)) {
            return;
        }
        wxString name;
        const int flags = wxDIR_DIRS | (start.StartsWith(".") ? wxDIR_HIDDEN : 0);
        for (bool more = dir.GetFirst(&name, start + "*", flags); more; more = dir.GetNext(&name)) {
            res.push_back(prefix.Left(slash + 1) + name);
        }
        res.Sort();
    }
};

// A folder dropped on a field from a file manager puts its path there.
class PathDropTarget : public wxFileDropTarget {
public:
    explicit PathDropTarget(wxTextEntry* edit) : m_edit(edit) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& paths) override {
        if (paths.empty()) {
            return false;
        }
        m_edit->SetValue(paths[0]);  // a local path, never a file:// address
        m_edit->SetInsertionPointEnd();
        return true;
    }

private:
    wxTextEntry* m_edit;
};

// What a history entry shows in the master field's list.
wxString PairText(const SettingsPair& pair) {
    return ToWx(pair.masterDir) + wxString::FromUTF8("  \u2192  ") + ToWx(pair.slaveDir);
}

}  // namespace

CSyncDlg::CSyncDlg(wxWindow* parent)
    : wxDialog(parent, IDD_KELVAD_DIALOG, "Kelvad", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetUpKelvadDialog(this, 231, kDialogCy);
    wxButton* start = CreateControls();
    BindEvents(start);
    LoadSettings();
    UpdateData(false);
    CentreOnScreen();
    // The first field still to fill, or Start when both are.
    wxWindow* first = m_masterEdit->GetValue().empty()  ? static_cast<wxWindow*>(m_masterEdit)
                      : m_slaveEdit->GetValue().empty() ? static_cast<wxWindow*>(m_slaveEdit)
                                                        : static_cast<wxWindow*>(start);
    first->SetFocus();
}

wxButton* CSyncDlg::CreateControls() {
    // The group box first, so that it lies beneath the buttons inside it; it takes
    // no focus, so the tab order is that of the other controls.
    auto* options =
        new wxStaticBox(this, wxID_ANY, "Options", DlgPos(this, 66, 65), DlgSize(this, 89, 45));
    auto* start =
        new wxButton(this, wxID_OK, "Start", DlgPos(this, 13, 137), DlgSize(this, 50, 14));
    m_close =
        new wxButton(this, wxID_CANCEL, "Close", DlgPos(this, 163, 137), DlgSize(this, 50, 14));
    // Each field is followed by its button in the tab order.
    m_masterEdit = new wxComboBox(this, IDC_MASTER_DIR, "", DlgPos(this, 67, 14),
                                  DlgSize(this, 107, 12), 0, nullptr, wxCB_DROPDOWN);
    m_masterBrowse = new wxButton(this, IDC_MASTER_BROWSE, "...", DlgPos(this, kBrowseX, 14),
                                  DlgSize(this, kBrowseCx, 12));
    m_slaveEdit =
        new wxTextCtrl(this, IDC_SLAVE_DIR, "", DlgPos(this, 67, 33), DlgSize(this, 107, 12));
    m_slaveBrowse = new wxButton(this, IDC_SLAVE_BROWSE, "...", DlgPos(this, kBrowseX, 33),
                                 DlgSize(this, kBrowseCx, 12));
    m_masterBrowse->SetToolTip(kBrowseMaster);
    m_slaveBrowse->SetToolTip(kBrowseSlave);
    auto* masterLabel = new wxStaticText(this, wxID_ANY, "Kelvad Master:", DlgPos(this, 0, 15),
                                         DlgSize(this, 63, 8), wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    auto* slaveLabel = new wxStaticText(this, wxID_ANY, "Kelvad Slave:", DlgPos(this, 1, 35),
                                        DlgSize(this, 62, 8), wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    m_justDoIt = new wxRadioButton(this, IDC_JUST_DO_IT, "Just Do It", DlgPos(this, 88, 79),
                                   DlgSize(this, 54, 10), wxRB_GROUP);
    m_preview = new wxRadioButton(this, IDC_PREVIEW, "Preview", DlgPos(this, 88, 95),
                                  DlgSize(this, 49, 10));
    // GTK always checks one button of a group; this hidden one stands for "neither".
    m_noMode = new wxRadioButton(this, IDC_NO_MODE, "", DlgPos(this, 88, 95), wxSize(0, 0));
    m_noMode->Hide();
    // After the modes in the tab order, though below the buttons.
    m_keepBox =
        new wxCheckBox(this, IDC_KEEP_VERSIONS, "&Keep deleted and replaced files",
                       DlgPos(this, kKeepBoxX, kKeepBoxY), DlgSize(this, kKeepBoxCx, kKeepBoxCy));
    // Last, so that the toolkit takes it for no control's label.
    m_scanningLine =
        new wxStaticText(this, IDC_SCANNING, kScanningText, DlgPos(this, 13, 120),
                         DlgSize(this, 200, 8), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    m_scanningLine->Hide();
    start->SetDefault();
    m_masterEdit->AutoComplete(new DirectoryCompleter);
    m_masterEdit->SetDropTarget(new PathDropTarget(m_masterEdit));
    m_slaveEdit->AutoComplete(new DirectoryCompleter);
    m_slaveEdit->SetDropTarget(new PathDropTarget(m_slaveEdit));
    // The template creates each field before its label, which the toolkit, when
    // the window is realised, takes for the label of whatever follows: mixing up
    // master and slave could delete data, so each control is named explicitly,
    // once the window is shown.
    Bind(wxEVT_SHOW, [=, this, named = false](wxShowEvent& event) mutable {
        event.Skip();
        if (named || !event.IsShown()) {
            return;  // the names, once set, stay
        }
        named = true;
        CallAfter([=, this] {
            SetAccessibleLabel(masterLabel, m_masterEdit);
            SetAccessibleLabel(slaveLabel, m_slaveEdit);
            SetAccessibleLabel(options, m_justDoIt);
            AddAccessibleGroupLabel(options, m_preview);
            HideFromScreenReaders(m_noMode);
            SetAccessibleName(m_keepBox, "Keep deleted and replaced files");
            SetAccessibleName(m_masterBrowse, kBrowseMaster);
            SetAccessibleName(m_slaveBrowse, kBrowseSlave);
            SetAccessibleStatusLine(m_scanningLine);
        });
    });
    return start;
}

void CSyncDlg::BindEvents(wxButton* start) {
    start->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnStart(); });
    // Close, Escape and the close box end the application; nothing is saved.
    // While the trees are scanned they stop the scan instead.
    m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        if (m_scanning) {
            m_stopRequested = true;
            return;
        }
        Destroy();
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (m_scanning && event.CanVeto()) {
            event.Veto();
            m_stopRequested = true;
            return;
        }
        Destroy();
    });
    // The completion of what is typed hears the fields' text events: a handler
    // of them here would have to pass them on.
    m_masterBrowse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        BrowseFor(m_masterEdit, m_masterEdit, "Choose the master directory");
    });
    m_slaveBrowse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        BrowseFor(m_slaveEdit, m_slaveEdit, "Choose the slave directory");
    });
    m_masterEdit->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent& event) {
        if (event.GetSelection() != wxNOT_FOUND) {
            UsePair(static_cast<size_t>(event.GetSelection()));
        }
    });
    Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent& event) {
        if (event.GetEventObject() == m_masterEdit || event.GetEventObject() == m_slaveEdit) {
            event.Skip();  // the fields keep their own menu: Cut, Copy, Paste, Select All
            return;
        }
        wxMenu menu;
        const wxString about = IDS_ABOUTBOX;
        if (!about.empty()) {
            menu.Append(IDM_ABOUTBOX, about);
            PopupMenu(&menu);
        }
    });
    Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
        if ((event.GetId() & 0xFFF0) == IDM_ABOUTBOX) {
            OnAbout();
        } else {
            event.Skip();
        }
    });
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (m_scanning) {
            if (event.GetKeyCode() == WXK_ESCAPE) {
                m_stopRequested = true;
            } else if (FindFocus() == m_close) {
                event.Skip();  // Space or Enter presses Close
            }
            return;  // no other key while the trees are scanned
        }
        if (event.GetKeyCode() == WXK_F1) {
            OnHelp();
        } else if (event.GetKeyCode() == WXK_ESCAPE &&
                   CloseCompletionList({m_masterEdit, m_slaveEdit})) {
            // The list of completions closes; the dialog stays.
        } else {
            event.Skip();
        }
    });
}

wxRadioButton* CSyncDlg::GetModeButton(int option) const {
    return option == 0 ? m_justDoIt : option == 1 ? m_preview : m_noMode;
}

void CSyncDlg::BrowseFor(wxTextEntry* edit, wxWindow* field, const char* message) {
    // The chooser opens on the typed directory, or on the nearest one above it
    // that exists (a slave still to be made), or on the home directory.
    std::string start = ExpandHome(FromWx(edit->GetValue()));
    while (!start.empty() && !platform::IsDirectoryPath(start)) {
        const std::string parent = platform::ParentOf(start);
        start = parent != start && parent != "." ? parent : std::string();
    }
    if (start.empty()) {
        start = platform::HomeDirectory();
    }
    wxDirDialog chooser(this, message, ToWx(start));  // which may make a new folder
    if (chooser.ShowModal() == wxID_OK && !chooser.GetPath().empty()) {
        edit->ChangeValue(chooser.GetPath());
        edit->SetInsertionPointEnd();
    }
    field->SetFocus();
}

void CSyncDlg::UsePair(size_t index) {
    if (index >= m_history.size()) {
        return;
    }
    const SettingsPair pair = m_history[index];
    m_slaveEdit->ChangeValue(ToWx(pair.slaveDir));
    GetModeButton(pair.option == 0 || pair.option == 1 ? pair.option : -1)->SetValue(true);
    m_masterEdit->ChangeValue(ToWx(pair.masterDir));
    // The list puts the entry's own text into the field once this returns, on
    // some systems: the master is put back after it.
    CallAfter([this, master = pair.masterDir] {
        m_masterEdit->ChangeValue(ToWx(master));
        m_masterEdit->SetInsertionPointEnd();
    });
}

bool CSyncDlg::UpdateData(bool saveAndValidate) {
    if (!saveAndValidate) {
        m_masterEdit->ChangeValue(ToWx(m_masterDir));
        m_slaveEdit->ChangeValue(ToWx(m_slaveDir));
        GetModeButton(m_option == 0 || m_option == 1 ? m_option : -1)->SetValue(true);
        m_keepBox->SetValue(m_keepVersions);
        return true;
    }
    // Paths of any length are taken whole.
    m_masterDir = FromWx(m_masterEdit->GetValue());
    m_slaveDir = FromWx(m_slaveEdit->GetValue());
    m_option = m_justDoIt->GetValue() ? 0 : m_preview->GetValue() ? 1 : -1;
    m_keepVersions = m_keepBox->GetValue();
    return true;
}

void CSyncDlg::LoadSettings() {
    m_settingsPath = SettingsPath();
    const SettingsValues values = LoadSettingsFile(m_settingsPath);
    m_masterDir = values.masterDir;
    m_slaveDir = values.slaveDir;
    m_option = values.option;
    m_keepVersions = values.keepVersions;
    m_history = values.history;
    m_masterEdit->Clear();
    for (const SettingsPair& pair : m_history) {
        m_masterEdit->Append(PairText(pair));
    }
}

void CSyncDlg::SaveSettings() {
    // A settings file that cannot be written does not keep the run from
    // ending, but it is said, once.
    const platform::Status saved = SaveSettingsFile(
        m_settingsPath, SettingsValues{m_masterDir, m_slaveDir, m_option, m_keepVersions});
    if (!saved.ok()) {
        KelvadMessageBox(this, SettingsNotSavedText(m_settingsPath, saved), "Kelvad");
    }
}

void CSyncDlg::OnAbout() {
    CAboutDlg about(this);
    about.ShowModal();
}

void CSyncDlg::OnHelp() {
    KelvadMessageBox(this, HelpText(), "Kelvad Help", Shorten::No);
}

void CSyncDlg::EndApplication() {
    Destroy();
}

void CSyncDlg::OnStart() {
    // Nothing runs on values that failed validation: the over-long path has been
    // reported and selected, and the request ends here.
    if (!UpdateData(true)) {
        return;
    }
    // The control that had the focus gets it back when the request returns
    // here (a cancelled preview, a refusal, a failure): the controls greyed
    // during the scan and the boxes shown meanwhile have taken it away.
    wxWindow* focused = wxWindow::FindFocus();
    if (focused == nullptr || !IsDescendant(focused)) {
        focused = FindWindow(wxID_OK);
    }
    // Each run is recorded; where the log cannot be kept, the run goes on.
    RunLog log;
    (void)log.Open(RunLog::DefaultPath());
    DialogRequestHost host(*this);
    StartRequest request{m_masterDir, m_slaveDir, static_cast<RunMode>(m_option), {}};
    request.log = &log;
    request.jobs = DefaultJobs();
    if (m_keepVersions) {
        // Where the system has no Trash, the versions folder at the slave's
        // root, pruned after the default days.
        request.keeping.place =
            platform::kHasTrash ? Keeping::Place::Trash : Keeping::Place::VersionsFolder;
    }
    request.openRoot = [this](const std::string& path, platform::Mounts mounts) {
        return OpenRoot(path, mounts);
    };
    const RequestResult result = RunStartRequest(host, request);
    if (!log.Failure().ok()) {
        // Said once; what the run changed stays.
        KelvadMessageBox(this,
                         "Cannot write the log " + log.Path() + " (" + log.Failure().Reason() +
                             "); the run is not fully recorded",
                         "Kelvad");
    }
    if (result == RequestResult::Done) {
        m_finished = true;
        EndApplication();
        return;
    }
    if (IsShown()) {
        focused->SetFocus();
    }
}

std::unique_ptr<platform::TreeRoot> CSyncDlg::OpenRoot(const std::string& path,
                                                       platform::Mounts mounts) {
    return platform::OpenTreeRoot(path, mounts);
}

void CSyncDlg::SetScanning(bool scanning) {
    m_scanning = scanning;
    m_stopRequested = false;
    // No other input while the trees are scanned: only Escape, Close and the
    // close box are heard, and they stop the scan.
    for (wxWindow* child : GetChildren()) {
        if (child != m_close && child != m_scanningLine) {
            child->Enable(!scanning);
        }
    }
    m_scanningLine->SetLabel(kScanningText);
    m_scanningLine->Show(scanning);
}

void CSyncDlg::SetComparedBytes(std::uint64_t bytes) {
    m_scanningLine->SetLabel(
        ToWx("Comparing moved files, " + ByteCountText(bytes) + " read... Escape or Close stops."));
}

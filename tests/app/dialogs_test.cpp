#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/gauge.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <chrono>

#include "app/about_dlg.h"
#include "app/action_list_dlg.h"
#include "app/ids.h"
#include "app/progress_dlg.h"
#include "app/sync_dlg.h"
#include "dialog_recorder.h"
#include "res/version.h"
#include "support/fault_injector.h"
#include "support/temp_tree.h"
#include "sync/action_line.h"
#include "sync/run_log.h"

namespace {

// Runs each test in a fresh working directory, where the settings file lives,
// with a configuration directory of its own.
class InTempDir : public testing::Test {
protected:
    InTempDir() { ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1); }
    TempDir m_dir;
    ScopedWorkingDir m_cwd{m_dir.Path()};
    DialogRecorder m_recorder;
};

// What GTK reads of a field: the entry, inside a combo box for the master.
GtkWidget* EntryOf(wxWindow* field) {
    GtkWidget* widget = field->GetHandle();
    return GTK_IS_COMBO_BOX(widget) ? gtk_bin_get_child(GTK_BIN(widget)) : widget;
}

// The completions the field's popup offers for what it holds.
std::vector<std::string> Completions(wxWindow* field) {
    GtkEntryCompletion* completion = gtk_entry_get_completion(GTK_ENTRY(EntryOf(field)));
    GtkTreeModel* model = completion ? gtk_entry_completion_get_model(completion) : nullptr;
    std::vector<std::string> shown;
    GtkTreeIter row;
    for (bool more = model != nullptr && gtk_tree_model_get_iter_first(model, &row); more;
         more = gtk_tree_model_iter_next(model, &row)) {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &row, 0, &text, -1);
        shown.push_back(text);
        g_free(text);
    }
    return shown;
}

std::string Label(wxWindow* parent, int id) {
    wxWindow* w = parent->FindWindow(id);
    return w != nullptr ? FromWx(w->GetLabel()) : "<missing>";
}

// The position and size of a control in dialog units of its dialog.
wxRect InDialogUnits(wxWindow* dialog, wxWindow* control) {
    const wxPoint pos = dialog->ConvertPixelsToDialog(control->GetPosition());
    const wxSize size = dialog->ConvertPixelsToDialog(control->GetSize());
    return wxRect(pos, size);
}

void ExpectNear(const wxRect& actual, const wxRect& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1);
    EXPECT_NEAR(actual.y, expected.y, 1);
    EXPECT_NEAR(actual.width, expected.width, 1);
    EXPECT_NEAR(actual.height, expected.height, 1);
}

// The item of row `row` of the preview's list.
wxDataViewItem RowItem(wxDataViewCtrl* list, size_t row) {
    auto* model = dynamic_cast<wxDataViewVirtualListModel*>(list->GetModel());
    return model != nullptr ? model->GetItem(static_cast<unsigned>(row)) : wxDataViewItem();
}

}  // namespace

TEST_F(InTempDir, MainDialogFollowsItsTemplate) {
    CSyncDlg dialog(nullptr);
    EXPECT_EQ(dialog.GetTitle(), "Kelvad");
    EXPECT_EQ(dialog.GetBackgroundColour(), wxColour(192, 192, 192));
    EXPECT_EQ(Label(&dialog, wxID_OK), "Start");
    EXPECT_EQ(Label(&dialog, wxID_CANCEL), "Close");
    EXPECT_EQ(Label(&dialog, IDC_JUST_DO_IT), "Just Do It");
    EXPECT_EQ(Label(&dialog, IDC_PREVIEW), "Preview");
    EXPECT_EQ(Label(&dialog, IDC_KEEP_VERSIONS), "&Keep deleted and replaced files");
    EXPECT_NE(dialog.FindWindow(IDC_MASTER_DIR), nullptr);
    EXPECT_NE(dialog.FindWindow(IDC_SLAVE_DIR), nullptr);
    ExpectNear(InDialogUnits(&dialog, dialog.FindWindow(wxID_OK)), wxRect(13, 137, 50, 14));
    ExpectNear(InDialogUnits(&dialog, dialog.GetMasterEdit()), wxRect(67, 14, 107, 12));
    ExpectNear(InDialogUnits(&dialog, dialog.GetSlaveEdit()), wxRect(67, 33, 107, 12));
    ExpectNear(InDialogUnits(&dialog, dialog.FindWindow(IDC_MASTER_BROWSE)),
               wxRect(177, 14, 24, 12));
    ExpectNear(InDialogUnits(&dialog, dialog.FindWindow(IDC_SLAVE_BROWSE)),
               wxRect(177, 33, 24, 12));
    EXPECT_EQ(dynamic_cast<wxButton*>(dialog.GetDefaultItem()), dialog.FindWindow(wxID_OK));
    const wxSize client = dialog.ConvertPixelsToDialog(dialog.GetClientSize());
    EXPECT_NEAR(client.x, 231, 1);
    EXPECT_NEAR(client.y, 163 + 17, 1);  // the template's, and the keep box below the buttons
    // The tab order of the template: Start, Close, the two edits each followed
    // by its button, the modes, then the box that keeps what a run takes away.
    std::vector<int> order;
    for (wxWindow* child : dialog.GetChildren()) {
        if (child->IsShown() && child->CanAcceptFocus()) {
            order.push_back(child->GetId());
        }
    }
    EXPECT_EQ(order, (std::vector<int>{wxID_OK, wxID_CANCEL, IDC_MASTER_DIR, IDC_MASTER_BROWSE,
                                       IDC_SLAVE_DIR, IDC_SLAVE_BROWSE, IDC_JUST_DO_IT, IDC_PREVIEW,
                                       IDC_KEEP_VERSIONS}));
    // Screen readers name the buttons by what they do, once the dialog is shown.
    dialog.Show();
    for (int i = 0; i < 20; ++i) {
        wxYield();
    }
    for (auto [id, name] :
         {std::pair<int, std::string>{IDC_MASTER_BROWSE, "Browse for the master directory"},
          {IDC_SLAVE_BROWSE, "Browse for the slave directory"}}) {
        EXPECT_EQ(Label(&dialog, id), "...");
        GtkWidget* button = dialog.FindWindow(id)->GetHandle();
        EXPECT_EQ(atk_object_get_name(gtk_widget_get_accessible(button)), name);
    }
}

TEST_F(InTempDir, TheKeepBoxLiesUnderTheModeClearOfEveryControlWithAnAltKeyOfItsOwn) {
    CSyncDlg dialog(nullptr);
    wxCheckBox* box = dialog.GetKeepBox();
    const wxRect place = box->GetRect();
    wxWindow* options = nullptr;
    for (wxWindow* child : dialog.GetChildren()) {
        options = dynamic_cast<wxStaticBox*>(child) != nullptr ? child : options;
    }
    ASSERT_NE(options, nullptr);
    // Under the mode: below the Options box, in line with its radio buttons.
    EXPECT_GT(place.y, options->GetRect().GetBottom());
    EXPECT_EQ(place.x, dialog.FindWindow(IDC_JUST_DO_IT)->GetPosition().x);
    EXPECT_TRUE(wxRect(dialog.GetClientSize()).Contains(place));
    // Neither the label nor the box is cut.
    EXPECT_GE(place.width, box->GetBestSize().x);
    EXPECT_GE(place.height, box->GetBestSize().y);
    for (wxWindow* child : dialog.GetChildren()) {
        const wxString label = child->GetLabel();
        SCOPED_TRACE(FromWx(label));
        if (child != box) {
            // The hidden line shown while scanning and the Options box count too.
            EXPECT_FALSE(child->GetRect().Intersects(place));
            EXPECT_EQ(label.Lower().Find("&k"), wxNOT_FOUND);
        }
    }
}

TEST_F(InTempDir, WithoutASettingsFileTheFieldsAreEmptyAndJustDoItIsSelected) {
    CSyncDlg dialog(nullptr);
    EXPECT_EQ(dialog.GetMasterEdit()->GetValue(), "");
    EXPECT_EQ(dialog.GetSlaveEdit()->GetValue(), "");
    EXPECT_TRUE(dialog.GetModeButton(0)->GetValue());
    EXPECT_TRUE(dialog.GetKeepBox()->GetValue());  // keeping is on until turned off
    EXPECT_FALSE(Exists(m_dir / "kelvad.ini"));
}

TEST_F(InTempDir, TheStoredModeSelectsItsButtonOrNeither) {
    WriteFile(m_dir / "kelvad.ini", "[INIT]\nMasterDir=/m\nSlaveDir= /s\nOption=1\n");
    {
        CSyncDlg dialog(nullptr);
        EXPECT_EQ(dialog.GetMasterEdit()->GetValue(), "/m");
        EXPECT_EQ(dialog.GetSlaveEdit()->GetValue(), " /s");
        EXPECT_TRUE(dialog.GetModeButton(1)->GetValue());
        EXPECT_FALSE(dialog.GetModeButton(0)->GetValue());
        EXPECT_TRUE(dialog.GetKeepBox()->GetValue());  // a file of before the box
    }
    WriteFile(m_dir / "kelvad.ini", "[INIT]\nOption=0\nKeepVersions=0\n");
    {
        CSyncDlg dialog(nullptr);
        EXPECT_FALSE(dialog.GetKeepBox()->GetValue());
    }
    for (const char* option : {"2", "-1"}) {
        WriteFile(m_dir / "kelvad.ini", std::string("[INIT]\nOption=") + option + "\n");
        CSyncDlg dialog(nullptr);
        EXPECT_FALSE(dialog.GetModeButton(0)->GetValue());
        EXPECT_FALSE(dialog.GetModeButton(1)->GetValue());
        EXPECT_FALSE(dialog.GetModeButton(-1)->IsShown());
        ASSERT_TRUE(dialog.UpdateData(true));
        EXPECT_EQ(dialog.m_option, -1);
    }
}

TEST_F(InTempDir, LongPathsAreKeptWholeAndTheFirstFocusIsOnTheFirstFieldToFill) {
    std::string longPath = "/";
    for (int i = 0; i < 390; ++i) {
        longPath += "\xE6\x96\x87";  // 1,171 bytes of U+6587
    }
    for (const std::string& slave : {std::string(), std::string(300, 's')}) {
        WriteFile(m_dir / "kelvad.ini", "[INIT]\nMasterDir=" + longPath + "\nSlaveDir=" + slave);
        CSyncDlg dialog(nullptr);
        dialog.Show();
        wxYield();
        EXPECT_EQ(wxWindow::FindFocus()->GetId(),
                  slave.empty() ? int{IDC_SLAVE_DIR} : int{wxID_OK});
        dialog.GetSlaveEdit()->AppendText("t");  // typing goes on past 128 characters
        ASSERT_TRUE(dialog.UpdateData(true));
        EXPECT_EQ(dialog.m_masterDir, longPath);
        EXPECT_EQ(dialog.m_slaveDir, slave + "t");
    }
}

// The completion lists shown: GTK's popup windows of the combo kind.
int CompletionListsShown() {
    int shown = 0;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        shown += gtk_window_get_type_hint(window) == GDK_WINDOW_TYPE_HINT_COMBO &&
                 gtk_widget_get_mapped(GTK_WIDGET(window));
    }
    g_list_free(windows);
    return shown;
}

// Pumps the window's events until `done` or a few seconds have passed.
template <typename Done>
bool PumpUntil(Done done) {
    for (int i = 0; i < 300 && !done(); ++i) {
        wxYield();
        ::usleep(10000);
    }
    return done();
}

TEST_F(InTempDir, TheFieldsCompleteTypedDirectoriesHomeIncluded) {
    ScopedHome home(m_dir / "home");
    for (const char* dir : {"home/Documents", "home/Downloads", "home/.Dotted", "home/Pics"}) {
        MakeDirs(m_dir / dir);
    }
    WriteFile(m_dir / "home/Dog.txt", "a file, not offered");
    CSyncDlg dialog(nullptr);
    for (wxTextEntry* entry : {static_cast<wxTextEntry*>(dialog.GetMasterEdit()),
                               static_cast<wxTextEntry*>(dialog.GetSlaveEdit())}) {
        wxWindow* field = entry == dialog.GetMasterEdit()
                              ? static_cast<wxWindow*>(dialog.GetMasterEdit())
                              : dialog.GetSlaveEdit();
        entry->SetValue("~/Do");  // as typed: the field's text event reaches the completion
        EXPECT_EQ(Completions(field), (std::vector<std::string>{"~/Documents", "~/Downloads"}));
        entry->SetValue(m_dir / "home/P");
        EXPECT_EQ(Completions(field), std::vector<std::string>{m_dir / "home/Pics"});
        entry->SetValue("~/.");
        EXPECT_EQ(Completions(field), std::vector<std::string>{"~/.Dotted"});
    }
    // Escape with the list shown closes the list, not the dialog.
    dialog.Show();
    dialog.Raise();
    dialog.GetSlaveEdit()->SetValue("");
    dialog.GetSlaveEdit()->SetFocus();
    wxUIActionSimulator sim;
    sim.Text("~/Do");
    ASSERT_TRUE(PumpUntil([] { return CompletionListsShown() == 1; }));
    sim.Char(WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil([] { return CompletionListsShown() == 0; }));
    EXPECT_TRUE(dialog.IsShown());
    EXPECT_FALSE(dialog.IsBeingDeleted());
}

TEST_F(InTempDir, TheButtonsOpenTheFolderChooserOnTheTypedDirectoryAndFillTheField) {
    ScopedHome home(m_dir / "home");
    MakeDirs(m_dir / "home/pics");
    CSyncDlg dialog(nullptr);
    dialog.GetSlaveEdit()->ChangeValue("~/pics/new/deeper");  // still to be made
    dialog.GetMasterEdit()->ChangeValue("no/such/dir");
    std::vector<std::string> opened;  // the message, then the folder shown
    m_recorder.m_answer = [&](wxDialog* d) {
        auto* chooser = dynamic_cast<wxDirDialog*>(d);
        opened.push_back(FromWx(chooser->GetMessage()));
        gchar* folder = nullptr;  // taken when the chooser's loop turns
        for (int i = 0; i < 500 && folder == nullptr; ++i) {
            wxMilliSleep(i == 0 ? 0 : 10);
            wxYield();
            folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(d->GetHandle()));
        }
        opened.push_back(folder != nullptr ? folder : "");
        g_free(folder);
        chooser->wxDirDialogBase::SetPath("/chosen/dir");  // as the user's Select would
        return opened.size() == 2 ? wxID_OK : wxID_CANCEL;
    };
    for (int id : {IDC_SLAVE_BROWSE, IDC_MASTER_BROWSE}) {
        wxCommandEvent click(wxEVT_BUTTON, id);
        dialog.FindWindow(id)->GetEventHandler()->ProcessEvent(click);
    }
    // The nearest directory that exists, or the home for a path that has none.
    EXPECT_EQ(opened, (std::vector<std::string>{"Choose the slave directory", m_dir / "home/pics",
                                                "Choose the master directory", m_dir / "home"}));
    EXPECT_EQ(dialog.GetSlaveEdit()->GetValue(), "/chosen/dir");   // Select
    EXPECT_EQ(dialog.GetMasterEdit()->GetValue(), "no/such/dir");  // Cancel
}

TEST_F(InTempDir, TheMasterListOffersTheLastTenPairsAndFillsBothFieldsAndTheMode) {
    CSyncDlg first(nullptr);  // no kelvad.ini here: the configuration directory's
    EXPECT_EQ(first.GetSettingsPath(), m_dir / "config/kelvad/kelvad.ini");
    for (int run = 0; run < 13; ++run) {  // twelve pairs, the fourth twice
        const std::string n = std::to_string(run == 12 ? 3 : run);
        first.m_masterDir = "/m" + n;
        first.m_slaveDir = "/s" + n;
        first.m_option = run == 11 ? 1 : 0;
        first.SaveSettings();
    }
    CSyncDlg dialog(nullptr);
    wxComboBox* master = dialog.GetMasterEdit();
    ASSERT_EQ(master->GetCount(), 10u);  // most recent first, once each
    EXPECT_EQ(master->GetString(0), wxString::FromUTF8("/m3  \u2192  /s3"));
    EXPECT_EQ(master->GetString(1), wxString::FromUTF8("/m11  \u2192  /s11"));
    EXPECT_EQ(master->GetString(9), wxString::FromUTF8("/m2  \u2192  /s2"));
    wxCommandEvent chosen(wxEVT_COMBOBOX, IDC_MASTER_DIR);
    chosen.SetInt(1);
    master->GetEventHandler()->ProcessEvent(chosen);
    wxYield();
    EXPECT_EQ(master->GetValue() + " " + dialog.GetSlaveEdit()->GetValue(), "/m11 /s11");
    EXPECT_TRUE(dialog.GetModeButton(1)->GetValue());
    // A kelvad.ini in the working directory is the one used there.
    WriteFile(m_dir / "kelvad.ini", "[INIT]\nMasterDir=/here\n");
    CSyncDlg here(nullptr);
    EXPECT_EQ(here.GetSettingsPath() + " " + FromWx(here.GetMasterEdit()->GetValue()),
              "./kelvad.ini /here");
    EXPECT_TRUE(m_recorder.m_shown.empty());
}

TEST_F(InTempDir, ASettingsFileThatCannotBeSavedIsSaidOnce) {
    struct Case {
        const char* name;
        std::string message;
    };
    const Case cases[] = {
        {"a directory in its place",
         "Settings not saved: cannot write ./kelvad.ini (Operation not permitted)"},
        {"a link of another user",
         "Settings not saved: ./kelvad.ini is a link that belongs to another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.message.find("link") != std::string::npos) {
            if (::geteuid() != 0) {
                std::printf("skipped: a link that belongs to another user needs root\n");
                continue;
            }
            RemoveTree(m_dir / "kelvad.ini");
            WriteFile(m_dir / "mine.ini", "");
            ASSERT_EQ(::symlink("mine.ini", (m_dir / "kelvad.ini").c_str()), 0);
            ASSERT_EQ(::lchown((m_dir / "kelvad.ini").c_str(), 65534, 65534), 0);
        } else {
            MakeDirs(m_dir / "kelvad.ini");
        }
        CSyncDlg dialog(nullptr);
        m_recorder.m_shown.clear();
        dialog.SaveSettings();
        ASSERT_EQ(m_recorder.m_shown.size(), 1u);
        EXPECT_EQ(m_recorder.m_shown[0].text, c.message);
        EXPECT_EQ(m_recorder.m_shown[0].caption, "Kelvad");
    }
}

TEST_F(InTempDir, TheFieldsKeepTheirOwnMenuAndTheHelpIsWhole) {
    CSyncDlg dialog(nullptr);
    // A right click in a field is left to the field's own menu (Cut, Copy,
    // Paste, Select All); the dialog's About menu is not put in its place.
    for (wxWindow* edit : {static_cast<wxWindow*>(dialog.GetMasterEdit()),
                           static_cast<wxWindow*>(dialog.GetSlaveEdit())}) {
        wxContextMenuEvent menu(wxEVT_CONTEXT_MENU, edit->GetId());
        menu.SetEventObject(edit);
        EXPECT_FALSE(edit->ProcessWindowEvent(menu));
    }
    dialog.OnHelp();
    ASSERT_EQ(m_recorder.m_shown.size(), 1u);
    EXPECT_EQ(m_recorder.m_shown[0].caption, "Kelvad Help");
    EXPECT_GT(m_recorder.m_shown[0].text.size(), 600u);
    EXPECT_EQ(m_recorder.m_shown[0].text.find("..."), std::string::npos);  // not shortened
}

TEST_F(InTempDir, TheAboutItemOpensTheAboutBox) {
    CSyncDlg dialog(nullptr);
    wxCommandEvent about(wxEVT_MENU, IDM_ABOUTBOX | 0x0003);  // the low four bits do not matter
    dialog.ProcessWindowEvent(about);
    ASSERT_EQ(m_recorder.m_shown.size(), 1u);
    EXPECT_EQ(m_recorder.m_shown[0].kind, "about");
    EXPECT_EQ(m_recorder.m_shown[0].caption, "About Kelvad");

    CAboutDlg box(&dialog);
    EXPECT_NE(box.FindWindowByLabel(std::string("Kelvad Version ") + kKelvadShortVersion), nullptr);
    EXPECT_EQ(Label(&box, wxID_OK), "OK");
}

TEST(ProgressDialog, FollowsItsTemplateAndOnlyCancelsOnClose) {
    CProgressDlg progress;
    ASSERT_TRUE(progress.CreateModeless(nullptr));
    EXPECT_EQ(progress.GetTitle(), "Kelvad Progress");
    EXPECT_FALSE(progress.HasFlag(wxSYSTEM_MENU));
    EXPECT_FALSE(progress.HasFlag(wxCLOSE_BOX));
    EXPECT_EQ(Label(&progress, wxID_CANCEL), "Cancel");
    EXPECT_EQ(progress.GetStatusControl()->GetId(), IDC_STATUS);
    EXPECT_EQ(progress.GetStatusControl()->GetLabel(), "");
    EXPECT_EQ(progress.GetProgressControl()->GetId(), IDC_PROGRESS);
    ExpectNear(InDialogUnits(&progress, progress.GetProgressControl()), wxRect(19, 41, 221, 11));
    ExpectNear(InDialogUnits(&progress, progress.FindWindow(wxID_CANCEL)), wxRect(97, 66, 50, 14));
    EXPECT_FALSE(progress.IsCancelled());
    // A close request from the window manager is a Cancel; the window stays.
    EXPECT_FALSE(progress.Close());
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(progress.IsShown());
}

// Carries `plan` out in `progress` as the Start request does: through the run's record.
bool RunIn(CProgressDlg& progress, const CActionList& plan, platform::TreeRoot& master,
           platform::TreeRoot& slave) {
    RunRecord record(progress, nullptr);
    return record.Run(plan, CountPlan(plan), master, slave, OnFailure::Stop);
}

TEST(ProgressDialog, ShowsTheCurrentActionAndTheBar) {
    DialogRecorder recorder;  // no message box is expected; none may block the test
    TempDir t;
    WriteFile(t / "m/a", "a");
    MakeDirs(t / "s");
    CActionList plan;
    plan.push_back(std::make_unique<CAction>("a", "~~~~", ACTION_CREATE));
    plan.push_back(std::make_unique<CAction>("d", "~~~~", ACTION_MKDIR));
    CProgressDlg progress;
    ASSERT_TRUE(progress.CreateModeless(nullptr));
    const auto master = platform::OpenTreeRoot(t / "m");
    const auto slave = platform::OpenTreeRoot(t / "s");
    EXPECT_TRUE(RunIn(progress, plan, *master, *slave));
    // The last status is the flush's, under a full bar.
    EXPECT_EQ(progress.GetStatusControl()->GetLabel(), wxString::FromUTF8(kWritingToDisk));
    wxGauge* bar = progress.GetProgressControl();
    EXPECT_EQ(bar->GetValue(), bar->GetRange());
    EXPECT_EQ(progress.GetAmountControl()->GetLabel(), "2 of 2 steps done");
    EXPECT_TRUE(progress.IsShown());
    EXPECT_TRUE(recorder.m_shown.empty());
}

TEST(ProgressDialog, TheBarMovesWithTheBytesInsideOneLargeFile) {
    DialogRecorder recorder;
    TempDir t;
    constexpr size_t kFileBytes = 16 << 20;  // 16 pieces
    WriteFile(t / "m/big", std::string(kFileBytes, 'x'));
    MakeDirs(t / "s");
    CActionList plan;
    plan.push_back(std::make_unique<CAction>("big", "~~~~", ACTION_CREATE, kFileBytes));
    plan.push_back(std::make_unique<CAction>("d", "~~~~", ACTION_MKDIR));
    CProgressDlg progress;
    ASSERT_TRUE(progress.CreateModeless(nullptr));
    // Each piece of the copy waits a little, and the window is looked at before it.
    struct SlowPieces : FaultInjector {
        int Fail(Call call, const std::string&) override {
            if (call == Call::CopyRange || call == Call::Read) {
                seen.push_back(window.GetProgressControl()->GetValue());
                amounts.push_back(FromWx(window.GetAmountControl()->GetLabel()));
                wxMilliSleep(60);
            }
            return 0;
        }
        explicit SlowPieces(CProgressDlg& w) : window(w) {}
        CProgressDlg& window;
        std::vector<int> seen;
        std::vector<std::string> amounts;
    } slow(progress);
    FaultyRoot master(t / "m", platform::Mounts::Cross, slow);
    FaultyRoot slave(t / "s", platform::Mounts::Stay, slow);
    EXPECT_TRUE(RunIn(progress, plan, master, slave));
    // During the one copy the bar went up in several steps, most of the way
    // (the directory after it weighs little), and said how much was copied.
    const int full = progress.GetProgressControl()->GetRange();
    ASSERT_GE(slow.seen.size(), 16u);
    EXPECT_TRUE(std::is_sorted(slow.seen.begin(), slow.seen.end()));
    std::vector<int> during(slow.seen);
    during.erase(std::unique(during.begin(), during.end()), during.end());
    EXPECT_GE(during.size(), 3u);
    EXPECT_GT(during.back(), full / 2);
    EXPECT_LT(during.back(), full);
    EXPECT_TRUE(std::any_of(slow.amounts.begin(), slow.amounts.end(), [](const std::string& a) {
        return a.ends_with(".0 MiB of 16.0 MiB copied") && !a.starts_with("16.0");
    }));
    EXPECT_EQ(progress.GetProgressControl()->GetValue(), full);
    EXPECT_TRUE(recorder.m_shown.empty());
}

TEST(ProgressDialog, FailureMessageIsOwnedByTheProgressWindow) {
    DialogRecorder recorder;
    CActionList plan;
    plan.push_back(std::make_unique<CAction>("a", "b", 0));
    CProgressDlg progress;
    ASSERT_TRUE(progress.CreateModeless(nullptr));
    const auto master = platform::OpenTreeRoot("/m");
    const auto slave = platform::OpenTreeRoot("/s");
    EXPECT_FALSE(RunIn(progress, plan, *master, *slave));
    ASSERT_EQ(recorder.m_shown.size(), 1u);
    EXPECT_EQ(recorder.m_shown[0].text, "Invalid action");
    EXPECT_EQ(recorder.m_shown[0].caption, "kelvad");
}

TEST(ActionListDialog, ShowsOneLinePerActionAndLeavesThePlanAlone) {
    DialogRecorder recorder;
    CActionList plan;
    plan.push_back(std::make_unique<CAction>("z", "~~~~", ACTION_CREATE, 1536));
    plan.push_back(std::make_unique<CAction>("~~~~", "a", ACTION_DELETE));
    plan.push_back(std::make_unique<CAction>("m", "M", ACTION_MODIFY, 3 << 20));
    std::vector<std::string> lines;
    std::vector<std::string> shownColumns;
    std::string totals;
    recorder.m_answer = [&](wxDialog* d) {
        auto* preview = dynamic_cast<CActionListDlg*>(d);
        totals = preview->GetTotalsText();
        wxDataViewCtrl* list = preview->GetListControl();
        EXPECT_EQ(list->GetId(), IDC_ACTION_LIST);
        EXPECT_EQ(list->GetColumnCount(), 2u);
        for (size_t i = 0; i < preview->GetLineCount(); ++i) {
            lines.push_back(preview->GetLine(i));
            wxVariant label;
            wxVariant path;
            list->GetModel()->GetValue(label, RowItem(list, i), 0);
            list->GetModel()->GetValue(path, RowItem(list, i), 1);
            shownColumns.push_back(FromWx(label.GetString() + "|" + path.GetString()));
        }
        return wxID_OK;
    };
    CActionListDlg preview(nullptr);
    EXPECT_EQ(preview.GetTitle(), "Action List");
    preview.SetData(&plan, "/backup");
    EXPECT_EQ(preview.ShowModal(), wxID_OK);
    EXPECT_EQ(lines, (std::vector<std::string>{"Create:\t/backup/z", "Delete:\t/backup/a",
                                               "Modify:\t/backup/M"}));
    EXPECT_EQ(shownColumns, (std::vector<std::string>{"Create:|/backup/z", "Delete:|/backup/a",
                                                      "Modify:|/backup/M"}));
    EXPECT_EQ(
        totals,
        "1 to create, 1 to replace (3.0 MiB); 1 to delete; 0 directories to make, 0 to remove");
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0]->GetMasterPath(), "z");
}

TEST(ActionListDialog, EnterApprovesAndEscapeRefuses) {
    CActionList plan;
    plan.push_back(std::make_unique<CAction>("z", "~~~~", ACTION_CREATE));
    for (auto [key, expected] :
         {std::pair<int, int>{WXK_RETURN, wxID_OK}, {WXK_ESCAPE, wxID_CANCEL}}) {
        CActionListDlg preview(nullptr);
        preview.SetData(&plan, "/backup");
        wxTimer timer;
        int pressed = 0;
        timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            if (preview.IsShown() && pressed++ < 20) {
                preview.Raise();
                wxUIActionSimulator sim;
                sim.Char(key);
            }
        });
        timer.Start(100);
        EXPECT_EQ(preview.ShowModal(), expected);
        timer.Stop();
    }
}

TEST(ActionListDialog, OpensCentredOnItsOwnerTallEnoughForItsRowsWithTheEndOfALongPathInView) {
    // Enough lines for a scroll bar, which takes its width from the list once
    // the window is up.
    CActionList plan;
    for (int i = 0; i < 300; ++i) {
        plan.push_back(std::make_unique<CAction>(
            std::string(40, 'd') + "/" + std::string(60, 'e') + "/file" + std::to_string(i), "~~~~",
            ACTION_CREATE));
    }
    wxDialog owner(nullptr, wxID_ANY, "owner", wxDefaultPosition, wxSize(400, 300));
    owner.CentreOnScreen();
    owner.Show();
    for (int opening = 0; opening < 4; ++opening) {
        CActionListDlg preview(&owner);
        preview.SetData(&plan, "/backup");
        wxTimer timer;
        int overhang = -1;
        wxRect shown;
        timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            wxDataViewCtrl* list = preview.GetListControl();
            overhang = list->GetColumn(0)->GetWidth() + list->GetColumn(1)->GetWidth() -
                       list->GetClientSize().x;
            shown = wxRect(preview.GetScreenPosition(), list->GetClientSize());
            preview.EndModal(wxID_CANCEL);
        });
        timer.StartOnce(400);
        preview.ShowModal();
        EXPECT_LE(overhang, 0) << "opening " << opening;
        // Thirty rows, each at least as high as its letters; the middle over the owner's.
        EXPECT_GE(shown.height, 30 * preview.GetCharHeight());
        EXPECT_NEAR(shown.x + preview.GetSize().x / 2, owner.GetScreenRect().GetX() + 200, 30);
        EXPECT_NEAR(shown.y + preview.GetSize().y / 2, owner.GetScreenRect().GetY() + 150, 30);
    }
}

TEST(ActionListDialog, AMillionLinesOpenAtOnce) {
    CActionList plan;
    plan.reserve(1000000);
    for (int i = 0; i < 1000000; ++i) {
        plan.push_back(
            std::make_unique<CAction>("dir/file" + std::to_string(i), "~~~~", ACTION_CREATE));
    }
    CActionListDlg preview(nullptr);
    preview.SetData(&plan, "/s");
    // Shown for real: the time runs until the dialog is up and its list drawn,
    // then the last line is scrolled into view.
    std::chrono::steady_clock::time_point began;
    double openMs = 0;
    std::string last;
    preview.Bind(wxEVT_SHOW, [&](wxShowEvent& event) {
        event.Skip();
        if (!event.IsShown()) {
            return;
        }
        preview.CallAfter([&] {
            preview.Update();
            openMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
                    .count();
            wxDataViewCtrl* list = preview.GetListControl();
            list->EnsureVisible(RowItem(list, 999999));
            list->Update();
            wxVariant path;
            list->GetModel()->GetValue(path, RowItem(list, 999999), 1);
            last = FromWx(path.GetString());
            preview.EndModal(wxID_OK);
        });
    });
    began = std::chrono::steady_clock::now();
    EXPECT_EQ(preview.ShowModal(), wxID_OK);
    EXPECT_EQ(preview.GetLineCount(), 1000000u);
    EXPECT_EQ(last, "/s/dir/file999999");
    RecordProperty("open_ms", std::to_string(openMs));
    std::printf("a 1,000,000-line preview opened in %.0f ms\n", openMs);
}

#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>

#include "app/action_list_dlg.h"
#include "app/progress_dlg.h"
#include "app/sync_dlg.h"
#include "dialog_recorder.h"
#include "support/fault_injector.h"
#include "support/temp_tree.h"
#include "support/test_scale.h"

namespace {

// A root whose file system says it has `free` bytes free.
class SmallRoot : public platform::TreeRootWrapper {
public:
    SmallRoot(std::unique_ptr<platform::TreeRoot> root, std::uint64_t free)
        : TreeRootWrapper(std::move(root)), m_free(free) {}
    platform::Result<std::uint64_t> FreeSpace() override { return m_free; }

private:
    std::uint64_t m_free;
};

class TestSyncDlg : public CSyncDlg {
public:
    TestSyncDlg() : CSyncDlg(nullptr) {}
    int m_ended = 0;
    FaultInjector* m_faults = nullptr;    // wraps the request's roots when set
    std::optional<std::uint64_t> m_free;  // the free space every root reports, when set

protected:
    void EndApplication() override { ++m_ended; }
    std::unique_ptr<platform::TreeRoot> OpenRoot(const std::string& path,
                                                 platform::Mounts mounts) override {
        if (m_free) {
            return std::make_unique<SmallRoot>(CSyncDlg::OpenRoot(path, mounts), *m_free);
        }
        if (m_faults == nullptr) {
            return CSyncDlg::OpenRoot(path, mounts);
        }
        return std::make_unique<FaultyRoot>(path, mounts, *m_faults);
    }
};

class RunControllerTest : public testing::Test {
protected:
    void SetUp() override {
        m_master = m_dir / "master";
        m_slave = m_dir / "slave";
        MakeDirs(m_master);
        MakeDirs(m_slave);
        ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);  // where the runs are recorded
        // The home Trash, on the slave's file system: what a run keeps goes there.
        ::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);  // where the settings live
        m_dialog = new TestSyncDlg;
    }
    void TearDown() override { delete m_dialog; }

    // Types the two directories and picks the mode (-1: neither), then presses Start.
    void Start(const std::string& master, const std::string& slave, int option) {
        m_dialog->GetMasterEdit()->ChangeValue(wxString::FromUTF8(master));
        m_dialog->GetSlaveEdit()->ChangeValue(wxString::FromUTF8(slave));
        m_dialog->GetModeButton(option)->SetValue(true);
        m_dialog->OnStart();
    }

    // The one message shown, as "caption: text".
    std::vector<std::string> Shown() const {
        std::vector<std::string> out;
        for (const ShownDialog& d : m_recorder.m_shown) {
            out.push_back(d.kind == "message" ? d.caption + ": " + d.text : d.kind);
        }
        return out;
    }

    bool SettingsWritten() const { return Exists(m_settings); }

    TempDir m_dir;
    ScopedWorkingDir m_cwd{m_dir.Path()};  // no kelvad.ini here
    std::string m_settings = m_dir / "config/kelvad/kelvad.ini";
    std::string m_master;
    std::string m_slave;
    TestSyncDlg* m_dialog = nullptr;
    DialogRecorder m_recorder;
};

using Texts = std::vector<std::string>;

}  // namespace

TEST_F(RunControllerTest, ARefusedPreviewChangesNothing) {
    WriteFile(m_master + "/a", "x");
    std::vector<std::string> lines;
    m_recorder.m_answer = [&](wxDialog* d) {
        auto* preview = dynamic_cast<CActionListDlg*>(d);
        for (size_t i = 0; preview != nullptr && i < preview->GetLineCount(); ++i) {
            lines.push_back(preview->GetLine(i));
        }
        return wxID_CANCEL;
    };
    // Enter pressed in the slave field: the field has the focus again after the
    // preview is cancelled, for the keyboard and for a screen reader.
    m_dialog->Show();
    m_dialog->GetSlaveEdit()->SetFocus();
    wxYield();
    Start(m_master, m_slave + "/", 1);
    wxYield();
    EXPECT_EQ(wxWindow::FindFocus(), m_dialog->GetSlaveEdit());
    EXPECT_EQ(m_recorder.m_shown.size(), 1u);
    EXPECT_EQ(m_recorder.m_shown[0].caption, "Action List");
    EXPECT_EQ(lines, (std::vector<std::string>{"Create:\t" + m_slave + "//a"}));
    EXPECT_FALSE(Exists(m_slave + "/a"));
    EXPECT_FALSE(SettingsWritten());
    EXPECT_EQ(m_dialog->m_ended, 0);
}

TEST_F(RunControllerTest, AnApprovedPreviewRunsSavesAndEnds) {
    WriteFile(m_master + "/dir/new", "new");
    WriteFile(m_master + "/changed", "master", 2000000000);
    WriteFile(m_slave + "/changed", "slave", 1000000000);
    WriteFile(m_slave + "/gone/file", "x");
    Start(m_master, m_slave, 1);
    EXPECT_EQ(Shown(), Texts{"preview"});  // approved
    EXPECT_EQ(Snapshot(m_slave), Snapshot(m_master));
    // The run is recorded, change by change.
    const std::string log = ReadFile(m_dir / "state/kelvad/kelvad.log");
    for (const std::string& line : Texts{
             "start: Preview", "plan approved", "created: " + m_slave + "/dir/new",
             "replaced: " + m_slave + "/changed", "summary: 1 created, 1 modified", "end: done"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << " not in\n" << log;
    }
    EXPECT_EQ(m_dialog->m_ended, 1);
    EXPECT_TRUE(m_dialog->HasFinished());
    // The pair goes into the history too.
    EXPECT_EQ(ReadFile(m_settings), "[INIT]\nMasterDir=" + m_master + "\nSlaveDir=" + m_slave +
                                        "\nOption=1\nKeepVersions=1\n[History]\nMaster1=" +
                                        m_master + "\nSlave1=" + m_slave + "\nOption1=1\n");
}

TEST_F(RunControllerTest, WithTheBoxCheckedADeletedFileGoesToTheTrashWhereRestoreFindsIt) {
    WriteFile(m_master + "/a", "a");
    WriteFile(m_slave + "/gone file.txt", "precious");
    ASSERT_TRUE(m_dialog->GetKeepBox()->GetValue());  // checked without a settings file
    Start(m_master, m_slave, 0);
    EXPECT_EQ(m_dialog->m_ended, 1);
    EXPECT_EQ(Snapshot(m_slave), Snapshot(m_master));
    EXPECT_EQ(ReadFile(m_dir / "data/Trash/files/gone file.txt"), "precious");
    // What a file manager reads to put it back: where it was (its bytes but
    // unreserved ones encoded; the temporary directory's name has none) and when.
    const std::string info = ReadFile(m_dir / "data/Trash/info/gone file.txt.trashinfo");
    EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=" + m_slave + "/gone%20file.txt\n")) << info;
    EXPECT_NE(info.find("\nDeletionDate=20"), std::string::npos) << info;
}

TEST_F(RunControllerTest, AnUncheckedBoxDestroysIsSavedAndReadBackUnchecked) {
    WriteFile(m_master + "/a", "a");
    WriteFile(m_slave + "/gone", "x");
    m_dialog->GetKeepBox()->SetValue(false);
    Start(m_master, m_slave, 0);
    EXPECT_EQ(m_dialog->m_ended, 1);
    EXPECT_FALSE(Exists(m_slave + "/gone"));
    EXPECT_FALSE(Exists(m_dir / "data/Trash"));
    EXPECT_NE(ReadFile(m_settings).find("\nOption=0\nKeepVersions=0\n"), std::string::npos);
    CSyncDlg next(nullptr);
    EXPECT_FALSE(next.GetKeepBox()->GetValue());
}

TEST_F(RunControllerTest, AFailedRunIsReportedOnceAndRestoresTheMainDialog) {
    WriteFile(m_master + "/a", "a");
    WriteFile(m_master + "/b", "b", 2000000000);
    // A directory where the master has a file: it cannot go while it holds a
    // link, which a run neither follows nor deletes.
    MakeDirs(m_slave + "/b");
    WriteFile(m_dir / "outside/keep", "keep");
    ASSERT_EQ(::symlink((m_dir / "outside").c_str(), (m_slave + "/b/link").c_str()), 0);
    m_dialog->GetKeepBox()->SetValue(false);  // a kept directory would go whole, link and all
    m_dialog->Show();
    Start(m_master, m_slave, 0);
    ASSERT_EQ(m_recorder.m_shown.size(), 1u);
    EXPECT_EQ(m_recorder.m_shown[0].caption, "kelvad");
    EXPECT_EQ(m_recorder.m_shown[0].text,
              "Unable to delete directory " + m_slave + "/b (Directory not empty)");
    EXPECT_EQ(ReadFile(m_slave + "/a"), "a");  // what was done stays done
    EXPECT_EQ(ReadFile(m_dir / "outside/keep"), "keep");
    EXPECT_TRUE(m_dialog->IsShown());
    EXPECT_FALSE(SettingsWritten());
    EXPECT_EQ(m_dialog->m_ended, 0);
}

TEST_F(RunControllerTest, PressingCancelDuringARunStopsIt) {
    constexpr int kFiles = 2000;
    for (int i = 0; i < kFiles; ++i) {
        WriteFile(m_master + "/f" + std::to_string(i), "x");
    }
    // Each file takes at least a millisecond, so the run lasts long enough to be cancelled.
    struct Slow : FaultInjector {
        int Fail(Call call, const std::string&) override {
            if (call == Call::Create) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return 0;
        }
    } slow;
    m_dialog->m_faults = &slow;
    bool clicked = false;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* w : wxTopLevelWindows) {
            if (auto* progress = dynamic_cast<CProgressDlg*>(w)) {
                EXPECT_EQ(progress->GetTitle(), "Kelvad Progress");
                wxWindow* cancel = progress->FindWindow(wxID_CANCEL);
                wxUIActionSimulator sim;
                sim.MouseMove(cancel->GetScreenRect().GetPosition() + wxPoint(10, 8));
                sim.MouseClick();
                clicked = true;
            }
        }
    });
    timer.StartOnce(300);
    m_dialog->Show();
    const auto began = std::chrono::steady_clock::now();
    Start(m_master, m_slave, 0);
    const auto took = std::chrono::steady_clock::now() - began;
    m_dialog->m_faults = nullptr;
    EXPECT_TRUE(clicked);
    // What was done is said, once the main dialog is back.
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_TRUE(Shown()[0].starts_with("Kelvad: Cancelled: ")) << Shown()[0];
    const size_t copied = Snapshot(m_slave).size();
    EXPECT_GT(copied, 0u);
    EXPECT_LT(copied, static_cast<size_t>(kFiles));
    for (const auto& [path, content] : Snapshot(m_slave)) {
        EXPECT_EQ(content, "f:x") << path;  // whole copies only, no temporary files
    }
    EXPECT_LT(took, kHangBound + std::chrono::seconds(kFiles / 1000));  // not the whole run
    EXPECT_TRUE(m_dialog->IsShown());
    EXPECT_FALSE(SettingsWritten());
    EXPECT_EQ(m_dialog->m_ended, 0);
}

TEST_F(RunControllerTest, TheWindowAnswersDuringTheScanAndEscapeCloseOrTheCloseBoxStopsIt) {
    for (int i = 0; i < 40; ++i) {
        WriteFile(m_master + "/d" + std::to_string(i) + "/f", "x");
    }
    // A scan twice as long as the bound: one that missed the stop would end
    // after it.
    struct Slow : FaultInjector {
        int Fail(Call call, const std::string&) override {
            if (call == Call::OpenDir) {
                std::this_thread::sleep_for(kHangBound / 20);
            }
            return 0;
        }
    } slow;
    m_dialog->m_faults = &slow;
    m_dialog->Show();
    wxWindow* close = m_dialog->FindWindow(wxID_CANCEL);
    for (const std::string way : {"Escape", "close box", "Close"}) {
        SCOPED_TRACE(way);
        int ticks = 0;
        wxTimer ticker;
        ticker.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { ++ticks; });
        ticker.Start(20);
        std::chrono::steady_clock::time_point stoppedAt;
        wxTimer stopper;
        stopper.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            EXPECT_TRUE(wxIsBusy());
            EXPECT_FALSE(m_dialog->GetMasterEdit()->IsEnabled());  // no other input meanwhile
            EXPECT_FALSE(m_dialog->FindWindow(wxID_OK)->IsEnabled());
            EXPECT_TRUE(close->IsEnabled());
            EXPECT_TRUE(m_dialog->GetScanningLine()->IsShown());  // says how to stop
            if (way == "Escape") {
                stoppedAt = std::chrono::steady_clock::now();
                wxKeyEvent escape(wxEVT_CHAR_HOOK);
                escape.m_keyCode = WXK_ESCAPE;
                m_dialog->GetEventHandler()->ProcessEvent(escape);
            } else if (way == "close box") {
                stoppedAt = std::chrono::steady_clock::now();
                m_dialog->Close();
            } else {
                wxUIActionSimulator sim;  // a real click: a greyed button would not take it
                sim.MouseMove(close->GetScreenRect().GetPosition() + wxPoint(10, 8));
                sim.MouseClick();
            }
        });
        // The click counts from when the button has it (sending it takes the
        // simulator over 100 ms).
        const auto clicked = [&](wxCommandEvent& event) {
            stoppedAt = std::chrono::steady_clock::now();
            event.Skip();
        };
        close->Bind(wxEVT_BUTTON, clicked);
        stopper.StartOnce(300);
        Start(m_master, m_slave, 0);
        const auto returnedAt = std::chrono::steady_clock::now();
        ticker.Stop();
        EXPECT_GE(ticks, 3);  // the window's loop ran throughout (about 15 ticks when idle)
        close->Unbind(wxEVT_BUTTON, clicked);
        EXPECT_LT(returnedAt - stoppedAt, kHangBound);  // not the whole slow scan
        EXPECT_TRUE(Shown().empty());
        EXPECT_TRUE(Snapshot(m_slave).empty());
        EXPECT_TRUE(m_dialog->IsShown());
        EXPECT_TRUE(m_dialog->GetMasterEdit()->IsEnabled());
        EXPECT_FALSE(m_dialog->GetScanningLine()->IsShown());
        EXPECT_FALSE(wxIsBusy());
    }
    m_dialog->m_faults = nullptr;
}

TEST_F(RunControllerTest, AWrongMasterIsQuestionedAndNoChangesNothing) {
    WriteFile(m_master + "/stray.txt", "x");
    for (int i = 0; i < 12; ++i) {
        WriteFile(m_slave + "/f" + std::to_string(i), "precious");
    }
    int buttons = 0;
    m_recorder.m_answer = [&](wxDialog* d) {
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(d)) {
            buttons = static_cast<int>(box->GetMessageDialogStyle() & (wxYES_NO | wxNO_DEFAULT));
        }
        return wxID_NO;
    };
    m_dialog->Show();
    Start(m_master, m_slave, 0);
    EXPECT_EQ(Shown(), Texts{"Kelvad: This run would delete 12 of the 12 files and directories "
                             "in the slave (what it deletes and replaces is kept in the Trash). "
                             "Continue?"});
    EXPECT_EQ(buttons, wxYES_NO | wxNO_DEFAULT);  // No is the safe answer, and the default
    EXPECT_EQ(Snapshot(m_slave).size(), 12u);
    EXPECT_TRUE(m_dialog->IsShown());
    EXPECT_FALSE(SettingsWritten());
    EXPECT_EQ(m_dialog->m_ended, 0);
}

TEST_F(RunControllerTest, AMissingSlaveIsOfferedForCreationAndNoChangesNothing) {
    WriteFile(m_master + "/a.txt", "x");
    m_dialog->Show();
    // Without its parent there is nothing to offer: the refusal keeps its words.
    Start(m_master, m_dir / "none/slave", 0);
    EXPECT_EQ(Shown(), Texts{"Kelvad: Slave directory doesn't exist or isn't a directory"});
    for (const int answer : {wxID_NO, wxID_YES}) {
        SCOPED_TRACE(answer);
        const std::string slave = m_dir / (answer == wxID_YES ? "yes" : "no");
        m_recorder.m_shown.clear();
        int buttons = 0;
        m_recorder.m_answer = [&](wxDialog* d) {
            if (auto* box = dynamic_cast<wxMessageDialogBase*>(d)) {
                buttons =
                    static_cast<int>(box->GetMessageDialogStyle() & (wxYES_NO | wxNO_DEFAULT));
            }
            return answer;
        };
        Start(m_master, slave, 0);
        EXPECT_EQ(Shown(),
                  Texts{"Kelvad: Slave directory " + slave + " doesn't exist. Create it?"});
        EXPECT_EQ(buttons, wxYES_NO | wxNO_DEFAULT);  // No is the safe answer, and the default
        EXPECT_EQ(Exists(slave + "/a.txt"), answer == wxID_YES);
        EXPECT_EQ(Exists(slave), answer == wxID_YES);
        EXPECT_EQ(SettingsWritten(), answer == wxID_YES);
        EXPECT_EQ(m_dialog->m_ended, answer == wxID_YES ? 1 : 0);
    }
}

TEST_F(RunControllerTest, APlanTheSlaveHasNoRoomForIsAskedAboutAndNoChangesNothing) {
    WriteFile(m_master + "/a.txt", std::string(3000, 'x'));
    m_dialog->m_free = 1024;
    m_dialog->Show();
    for (const int answer : {wxID_NO, wxID_YES}) {
        SCOPED_TRACE(answer);
        m_recorder.m_shown.clear();
        int buttons = 0;
        m_recorder.m_answer = [&](wxDialog* d) {
            if (auto* box = dynamic_cast<wxMessageDialogBase*>(d)) {
                buttons =
                    static_cast<int>(box->GetMessageDialogStyle() & (wxYES_NO | wxNO_DEFAULT));
            }
            return answer;
        };
        Start(m_master, m_slave, 0);
        EXPECT_EQ(Shown(), Texts{"Kelvad: This run needs 2.9 KiB more in the slave, which has "
                                 "1.0 KiB free. Continue?"});
        EXPECT_EQ(buttons, wxYES_NO | wxNO_DEFAULT);  // No is the safe answer, and the default
        // After a No nothing at all was made, not even for keeping.
        EXPECT_EQ(Snapshot(m_slave).size(), answer == wxID_YES ? 1u : 0u);
        EXPECT_EQ(m_dialog->m_ended, answer == wxID_YES ? 1 : 0);
    }
}

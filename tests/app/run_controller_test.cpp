#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "app/action_list_dlg.h"
#include "app/progress_dlg.h"
#include "app/sync_dlg.h"
#include "dialog_recorder.h"
#include "platform/fault_injection.h"
#include "support/temp_tree.h"

namespace {

class TestSyncDlg : public CSyncDlg {
public:
    TestSyncDlg() : CSyncDlg(nullptr) {}
    int m_ended = 0;

protected:
    void EndApplication() override { ++m_ended; }
};

// Counts directory listings under one path; fails nothing.
class ListingCounter : public platform::FaultInjector {
public:
    explicit ListingCounter(std::string under) : m_under(std::move(under)) {
        platform::SetFaultInjector(this);
    }
    ~ListingCounter() override { platform::SetFaultInjector(nullptr); }
    int Fail(platform::Call call, const char* path) override {
        if (call == platform::Call::OpenDir && path != nullptr &&
            std::string(path).rfind(m_under, 0) == 0) {
            ++m_count;
        }
        return 0;
    }
    int m_count = 0;

private:
    std::string m_under;
};

class RunControllerTest : public testing::Test {
protected:
    void SetUp() override {
        m_master = m_dir / "master";
        m_slave = m_dir / "slave";
        MakeDirs(m_master);
        MakeDirs(m_slave);
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

    bool SettingsWritten() const { return Exists(m_dir / "kelvad.ini"); }

    TempDir m_dir;
    ScopedWorkingDir m_cwd{m_dir.Path()};  // the settings file lives here
    std::string m_master;
    std::string m_slave;
    TestSyncDlg* m_dialog = nullptr;
    DialogRecorder m_recorder;
};

using Texts = std::vector<std::string>;

}  // namespace

TEST_F(RunControllerTest, BothDirectoriesAreRequired) {
    for (auto [m, s] : {std::pair<std::string, std::string>{"", ""}, {m_master, ""}, {"", m_slave}}) {
        m_recorder.m_shown.clear();
        ListingCounter listings("/");
        Start(m, s, 0);
        EXPECT_EQ(Shown(), Texts{"kelvad: You must specify both Master and Slave directories"});
        EXPECT_EQ(listings.m_count, 0);
    }
}

TEST_F(RunControllerTest, ValidationMessagesComeInTheirOrder) {
    WriteFile(m_dir / "file", "");
    struct Case {
        std::string master, slave, message;
    };
    const Case cases[] = {
        {m_dir / "nothing", m_dir / "nothing",
         "kelvad: Master and slave cannot be the same (are you mad?)"},
        {m_dir / "nothing", m_dir / "nothing either",
         "Kelvad: Master directory doesn't exist or isn't a directory"},
        {m_dir / "file", m_slave, "Kelvad: Master directory doesn't exist or isn't a directory"},
        {m_master, m_dir / "file", "Kelvad: Slave directory doesn't exist or isn't a directory"},
        {m_master, m_master + "/sub/..", "Kelvad: Master and slave directories overlap"},
        {m_master, m_master + "/", "Kelvad: Master and slave directories overlap"},
    };
    MakeDirs(m_master + "/sub");
    WriteFile(m_master + "/sub/f", "");
    for (const Case& c : cases) {
        m_recorder.m_shown.clear();
        ListingCounter listings("/");
        Start(c.master, c.slave, 0);
        EXPECT_EQ(Shown(), Texts{c.message}) << c.master << " | " << c.slave;
        EXPECT_EQ(listings.m_count, 0);
    }
    EXPECT_FALSE(SettingsWritten());
}

TEST_F(RunControllerTest, OverlappingRootsAreRefusedBeforeAnythingIsScanned) {
    WriteFile(m_master + "/inner/f", "");
    ASSERT_EQ(::symlink(m_master.c_str(), (m_dir / "alias").c_str()), 0);
    const std::pair<std::string, std::string> cases[] = {
        {m_master, m_master + "/inner"},     // slave inside master
        {m_master + "/inner", m_master},     // master inside slave
        {m_dir / "alias", m_master},         // the same directory through a link
        {m_dir / "alias/inner", m_master},
    };
    for (const auto& [m, s] : cases) {
        m_recorder.m_shown.clear();
        ListingCounter listings("/");
        Start(m, s, 0);
        EXPECT_EQ(Shown(), Texts{"Kelvad: Master and slave directories overlap"}) << m << " " << s;
        EXPECT_EQ(listings.m_count, 0);
    }
    EXPECT_EQ(Snapshot(m_master).size(), 2u);
    // Through a bind mount: the directory is the master, whatever its name.
    BindMount bound(m_master, m_dir / "B");
    if (!bound.Mounted()) {
        GTEST_SKIP() << "bind mounts are refused here";
    }
    m_recorder.m_shown.clear();
    Start(m_master, m_dir / "B/inner", 0);
    EXPECT_EQ(Shown(), Texts{"Kelvad: Master and slave directories overlap"});
    EXPECT_EQ(Snapshot(m_master).size(), 2u);
}

TEST_F(RunControllerTest, AnEmptyMasterStopsBeforeTheSlaveIsScanned) {
    WriteFile(m_slave + "/precious", "x");
    ListingCounter slaveListings(m_slave);
    Start(m_master, m_slave, 0);
    EXPECT_EQ(Shown(), Texts{"kelvad: Master directory is empty"});
    EXPECT_EQ(slaveListings.m_count, 0);
    EXPECT_TRUE(Exists(m_slave + "/precious"));
    EXPECT_FALSE(wxIsBusy());
}

TEST_F(RunControllerTest, AnUpToDateSlaveIsReportedInEveryMode) {
    WriteFile(m_master + "/a", "x", 1000000000);
    WriteFile(m_slave + "/a", "x", 1000000000);
    for (int option : {0, 1, -1}) {
        m_recorder.m_shown.clear();
        Start(m_master, m_slave, option);
        EXPECT_EQ(Shown(), Texts{"Info: Slave directory structure is up-to-date"});
    }
    EXPECT_FALSE(SettingsWritten());
}

TEST_F(RunControllerTest, NoModeSelectedPlansButRunsNothing) {
    WriteFile(m_master + "/a", "x");
    Start(m_master, m_slave, -1);
    EXPECT_EQ(Shown(), Texts{"kelvad: You just couldn't resist it, could you?"});
    EXPECT_FALSE(Exists(m_slave + "/a"));
    EXPECT_FALSE(SettingsWritten());
    EXPECT_EQ(m_dialog->m_option, -1);
}

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
    Start(m_master, m_slave + "/", 1);
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
    EXPECT_EQ(m_dialog->m_ended, 1);
    EXPECT_TRUE(m_dialog->HasFinished());
    EXPECT_EQ(ReadFile(m_dir / "kelvad.ini"),
              "[INIT]\nMasterDir=" + m_master + "\nSlaveDir=" + m_slave + "\nOption=1\n");
}

TEST_F(RunControllerTest, JustDoItRunsWithoutAPreview) {
    WriteFile(m_master + "/a", "a");
    Start(m_master, m_slave, 0);
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(ReadFile(m_slave + "/a"), "a");
    EXPECT_EQ(m_dialog->m_ended, 1);
    EXPECT_NE(ReadFile(m_dir / "kelvad.ini").find("Option=0"), std::string::npos);
}

TEST_F(RunControllerTest, AFailedRunIsReportedOnceAndRestoresTheMainDialog) {
    WriteFile(m_master + "/a", "a");
    WriteFile(m_master + "/b", "b", 2000000000);
    // A directory where the master has a file: it cannot go while it holds a
    // link, which a run neither follows nor deletes.
    MakeDirs(m_slave + "/b");
    ASSERT_EQ(::symlink("/", (m_slave + "/b/link").c_str()), 0);
    m_dialog->Show();
    Start(m_master, m_slave, 0);
    ASSERT_EQ(m_recorder.m_shown.size(), 1u);
    EXPECT_EQ(m_recorder.m_shown[0].caption, "kelvad");
    EXPECT_EQ(m_recorder.m_shown[0].text,
              "Unable to delete directory " + m_slave + "/b (Directory not empty)");
    EXPECT_EQ(ReadFile(m_slave + "/a"), "a");  // what was done stays done
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
    struct Slow : platform::FaultInjector {
        int Fail(platform::Call call, const char*) override {
            if (call == platform::Call::Create) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return 0;
        }
    } slow;
    platform::SetFaultInjector(&slow);
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
    platform::SetFaultInjector(nullptr);
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(Shown().empty());
    const size_t copied = Snapshot(m_slave).size();
    EXPECT_GT(copied, 0u);
    EXPECT_LT(copied, static_cast<size_t>(kFiles));
    for (const auto& [path, content] : Snapshot(m_slave)) {
        EXPECT_EQ(content, "f:x") << path;  // whole copies only, no temporary files
    }
    EXPECT_LT(took, std::chrono::seconds(kFiles / 1000 + 1));
    EXPECT_TRUE(m_dialog->IsShown());
    EXPECT_FALSE(SettingsWritten());
    EXPECT_EQ(m_dialog->m_ended, 0);
}

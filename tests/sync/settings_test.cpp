#include "sync/settings.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "platform/file_ops.h"
#include "support/temp_tree.h"
#include "sync/display_text.h"

TEST(ParseSettings, MissingFileSectionOrKeysGiveTheDefaults) {
    for (const char* text : {"", "[OTHER]\nMasterDir=/x\n", "[INIT]\n", "garbage\n=\n[\n"}) {
        const SettingsValues v = ParseSettings(text);
        EXPECT_EQ(v.masterDir, "");
        EXPECT_EQ(v.slaveDir, "");
        EXPECT_EQ(v.option, 0);
        EXPECT_TRUE(v.keepVersions);  // keeping is on until a run turns it off
    }
}

TEST(ParseSettings, ValuesAreTakenVerbatim) {
    const SettingsValues v = ParseSettings(
        "; a comment\r\n[other]\r\nMasterDir=/wrong\r\n[ init ]\r\nmasterdir=  /my dir ; not a "
        "comment \r\n"
        "SLAVEDIR=\"/quoted\"\r\nMasterDir=/second\r\nOption= 1\r\n");
    EXPECT_EQ(v.masterDir, "  /my dir ; not a comment ");
    EXPECT_EQ(v.slaveDir, "\"/quoted\"");
    EXPECT_EQ(v.option, 1);
}

TEST(ParseSettings, LongValuesAreReadWhole) {
    const std::string longPath = "/" + std::string(299, 'a') + "\xC3\xA9" + std::string(4000, 'b');
    EXPECT_EQ(ParseSettings("[INIT]\nMasterDir=" + longPath + "\n").masterDir, longPath);
}

TEST(ParseSettings, OptionIsReadAsAnInteger) {
    EXPECT_EQ(ParseSettings("[INIT]\nOption=2\n").option, 2);
    EXPECT_EQ(ParseSettings("[INIT]\nOption=-1\n").option, -1);
    EXPECT_EQ(ParseSettings("[INIT]\nOption=abc\n").option, 0);
    EXPECT_EQ(ParseSettings("[INIT]\nOption=7x\n").option, 7);
    EXPECT_EQ(ParseSettings("[INIT]\nOption=99999999999\n").option, 2147483647);
}

TEST(ParseSettings, KeepVersionsIsOffOnlyForZeroOrWhatIsNoNumber) {
    EXPECT_FALSE(ParseSettings("[INIT]\nkeepversions= 0 \n").keepVersions);
    EXPECT_FALSE(ParseSettings("[INIT]\nKeepVersions=no\n").keepVersions);
    EXPECT_TRUE(ParseSettings("[INIT]\nKeepVersions=2\n").keepVersions);
}

TEST(UpdateSettings, WritesANewFileInKeyOrder) {
    EXPECT_EQ(UpdateSettings("", {"/m", "/s ", 1}),
              "[INIT]\nMasterDir=/m\nSlaveDir=/s \nOption=1\nKeepVersions=1\n");
    EXPECT_EQ(UpdateSettings("", {"/m", "/s", 0, false}),
              "[INIT]\nMasterDir=/m\nSlaveDir=/s\nOption=0\nKeepVersions=0\n");
}

TEST(UpdateSettings, KeepsOtherSectionsKeysCommentsAndLineEnds) {
    const std::string before =
        "; "
        "kept\r\n[Other]\r\nMasterDir=/"
        "not-ours\r\n\r\n[INIT]\r\nOption=5\r\nColour=blue\r\n\r\n[Tail]\r\nx=1";
    const std::string after = UpdateSettings(before, {"/new m", "/new s", 0});
    EXPECT_EQ(
        after,
        "; kept\r\n[Other]\r\nMasterDir=/not-ours\r\n\r\n[INIT]\r\nOption=0\r\nColour=blue\r\n"
        "MasterDir=/new m\r\nSlaveDir=/new s\r\nKeepVersions=1\r\n\r\n[Tail]\r\nx=1");
    const SettingsValues v = ParseSettings(after);
    EXPECT_EQ(v.masterDir, "/new m");
    EXPECT_EQ(v.slaveDir, "/new s");
    EXPECT_EQ(v.option, 0);
    // A section added to a file whose last line has no line end.
    EXPECT_EQ(UpdateSettings("[A]\nk=v", {"m", "s", 0}),
              "[A]\nk=v\n[INIT]\nMasterDir=m\nSlaveDir=s\nOption=0\nKeepVersions=1\n");
    // A file of the three older keys keeps them and their order, and gains the
    // fourth after them.
    EXPECT_EQ(
        UpdateSettings("[INIT]\nOption=1\nSlaveDir=/s\nMasterDir=/m\n", {"/m", "/s", 1, false}),
        "[INIT]\nOption=1\nSlaveDir=/s\nMasterDir=/m\nKeepVersions=0\n");
}

TEST(UpdateSettings, AValueCannotBreakTheFileWithALineBreak) {
    const std::string text = UpdateSettings("", {"/a\n[INIT]\nSlaveDir=/evil", "/s", 0});
    const SettingsValues v = ParseSettings(text);
    EXPECT_EQ(v.masterDir, "/a");
    EXPECT_EQ(v.slaveDir, "/s");
}

TEST(SettingsFile, SaveReplacesTheFileAndLoadReadsItBack) {
    TempDir t;
    const std::string path = t / "kelvad.ini";
    EXPECT_EQ(LoadSettingsFile(path).option, 0);
    WriteFile(path, "[Keep]\nme=1\n");
    SetMode(path, 0600);
    ASSERT_TRUE(SaveSettingsFile(path, {"/m", "/s", 1, false}).ok());
    EXPECT_EQ(ReadFile(path),
              "[Keep]\nme=1\n[INIT]\nMasterDir=/m\nSlaveDir=/s\nOption=1\nKeepVersions=0\n"
              "[History]\nMaster1=/m\nSlave1=/s\nOption1=1\n");
#ifndef _WIN32
    EXPECT_EQ(ModeOf(path), 0600u);
#endif
    const SettingsValues v = LoadSettingsFile(path);
    EXPECT_EQ(v.masterDir, "/m");
    EXPECT_EQ(v.option, 1);
    EXPECT_FALSE(v.keepVersions);
    // No temporary file is left beside it.
    EXPECT_EQ(Snapshot(t.Path()).size(), 1u);
}

// A start from the desktop finds the settings in the user's configuration
// folder (made on the first save); a working directory that holds a
// kelvad.ini keeps its own.
TEST(SettingsFile, LiveInTheConfigurationFolderUnlessTheWorkingDirectoryHoldsOne) {
    TempDir t;
    const std::filesystem::path before = std::filesystem::current_path();
#ifdef _WIN32
    const char* const variable = "APPDATA";
    const auto set = [&](const std::string& value) { _putenv_s(variable, value.c_str()); };
#else
    const char* const variable = "XDG_CONFIG_HOME";
    const auto set = [&](const std::string& value) { setenv(variable, value.c_str(), 1); };
#endif
    const std::string old = platform::EnvironmentVariable(variable);
    set(t / "config");
    std::filesystem::create_directory(t / "here");
    std::filesystem::current_path(t / "here");
    const std::string path = SettingsPath();
    EXPECT_EQ(path,
              (t / "config") + WithNativeSeparators(std::string("/") + platform::kProgramFolder +
                                                    "/kelvad.ini"));
    EXPECT_TRUE(SaveSettingsFile(path, {"/m", "/s", 1, true}).ok());
    EXPECT_EQ(LoadSettingsFile(path).masterDir, "/m");
    WriteFile(t / "here/kelvad.ini", "");
    EXPECT_EQ(SettingsPath(), kSettingsFile);
    std::filesystem::current_path(before);
    set(old);
}

TEST(SettingsFile, TheHistoryIsNumberedFromTheLastPairAndKeepsTheSectionsOtherLines) {
    // Numbers out of order, repeated directories and a pair missing its slave.
    const std::string text =
        "[history]\n; mine\nMaster2=/b\nSlave2=/t\nmaster1=/a\nSlave1=/s\nOption1=1\n"
        "Master3=/a\nSlave3=/s\nMaster4=/c\nOther=x\n";
    EXPECT_EQ(ParseSettings(text).history,
              (std::vector<SettingsPair>{{"/a", "/s", 1}, {"/b", "/t", 0}}));
    EXPECT_EQ(RecordPairUsed(text, {"/b", "/t", 1}),
              "[history]\n; mine\nOther=x\nMaster1=/b\nSlave1=/t\nOption1=1\n"
              "Master2=/a\nSlave2=/s\nOption2=1\n");
}

#ifndef _WIN32
TEST(SettingsFile, ALinkedSettingsFileIsUpdatedWhereItLives) {
    TempDir t;
    WriteFile(t / "real.ini", "");
    ASSERT_EQ(::symlink((t / "real.ini").c_str(), (t / "kelvad.ini").c_str()), 0);
    ASSERT_TRUE(SaveSettingsFile(t / "kelvad.ini", {"/m", "/s", 0}).ok());
    EXPECT_EQ(Snapshot(t.Path())["kelvad.ini"], "l");
    EXPECT_EQ(LoadSettingsFile(t / "real.ini").masterDir, "/m");
}

TEST(SettingsFile, AFileThatCannotBeWrittenIsReportedAndLeftAlone) {
    TempDir t;
    WriteFile(t / "file", "");
    const platform::Status below = SaveSettingsFile(t / "file/kelvad/kelvad.ini", {"/m", "/s", 0});
    EXPECT_EQ(SettingsNotSavedText("./kelvad.ini", below),
              "Settings not saved: cannot write ./kelvad.ini (Not a directory)");
    MakeDirs(t / "dir.ini");  // a directory where the file should be
    EXPECT_FALSE(SaveSettingsFile(t / "dir.ini", {"/m", "/s", 0}).ok());
    EXPECT_EQ(Snapshot(t.Path()),
              (std::map<std::string, std::string>{{"dir.ini", "d"}, {"file", "f:"}}));
}

TEST(SettingsFile, ALinkToAnythingButTheUsersOwnRegularFileIsNeitherFollowedNorReplaced) {
    TempDir t;
    ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0600), 0);
    const bool device = ::mknod((t / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    WriteFile(t / "theirs", "their content");
    const bool theirs = ::getuid() == 0 && ::chown((t / "theirs").c_str(), 65534, 65534) == 0;
    for (const char* target : {"fifo", "null", "theirs"}) {
        SCOPED_TRACE(target);
        if ((std::string(target) == "null" && !device) ||
            (std::string(target) == "theirs" && !theirs)) {
            continue;  // not possible without root
        }
        const std::string link = t / (std::string(target) + ".ini");
        ASSERT_EQ(::symlink((t / target).c_str(), link.c_str()), 0);
        const auto before = Snapshot(t.Path());
        EXPECT_EQ(LoadSettingsFile(link).masterDir, "");  // read without being opened
        EXPECT_FALSE(SaveSettingsFile(link, {"/m", "/s", 0}).ok());
        EXPECT_EQ(Snapshot(t.Path()), before);
    }
    struct stat st;
    ASSERT_EQ(::stat((t / "fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A link planted by another user in a directory both can write (/tmp, a shared
// project) must not make a save fill the file it points at, though that file
// is the user's own: only links of the user's or root's are followed.
TEST(SettingsFile, ALinkOfAnotherUserIsNotFollowedEvenToTheUsersOwnFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making a link that belongs to another user needs root";
    }
    TempDir t;
    WriteFile(t / "mine", "my content");
    ASSERT_EQ(::symlink((t / "mine").c_str(), (t / "kelvad.ini").c_str()), 0);
    ASSERT_EQ(::lchown((t / "kelvad.ini").c_str(), 65534, 65534), 0);
    const auto before = Snapshot(t.Path());
    const platform::Status saved = SaveSettingsFile(t / "kelvad.ini", {"/m", "/s", 0});
    EXPECT_EQ(SettingsNotSavedText("./kelvad.ini", saved),
              "Settings not saved: ./kelvad.ini is a link that belongs to another user");
    EXPECT_EQ(Snapshot(t.Path()), before);
    // The same link of root's own is followed.
    ASSERT_EQ(::lchown((t / "kelvad.ini").c_str(), 0, 0), 0);
    EXPECT_TRUE(SaveSettingsFile(t / "kelvad.ini", {"/m", "/s", 0}).ok());
    EXPECT_EQ(LoadSettingsFile(t / "mine").masterDir, "/m");
}
#endif

#ifdef _WIN32
TEST(SettingsFile, LinuxOnlyCases) {
    GTEST_SKIP() << "symbolic links, FIFOs, devices and owners: Linux only";
}
#endif

#include "sync/action_line.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sync/display_text.h"
#include "sync/start_request.h"

TEST(BuildActionLine, EveryKindNamesTheSlaveSidePath) {
    const std::string root = "/backup/";
    EXPECT_EQ(BuildActionLine(CAction("a.TXT", "a.txt", ACTION_MODIFY), root),
              "Modify:\t/backup/a.txt");
    EXPECT_EQ(BuildActionLine(CAction("~~~~", "old", ACTION_DELETE), root), "Delete:\t/backup/old");
    EXPECT_EQ(BuildActionLine(CAction("docs/a.txt", "~~~~", ACTION_CREATE), root),
              "Create:\t/backup/docs/a.txt");
    EXPECT_EQ(BuildActionLine(CAction("docs", "zz", ACTION_MKDIR), root), "Mkdir:\t/backup/docs");
    EXPECT_EQ(BuildActionLine(CAction("~~~~", "gone", ACTION_RMDIR), root), "Rmdir:\t/backup/gone");
    EXPECT_EQ(BuildActionLine(CAction("m/p", "s/p", 9), root), "Eh?\tm/p <> s/p");
    // A move names both its paths, each escaped on a terminal.
    CAction move("new/a\nb", "old/a\nb", ACTION_MOVE);
    EXPECT_EQ(BuildActionLine(move, root), "Move:\t/backup/old/a\nb -> /backup/new/a\nb");
    EXPECT_EQ(BuildTerminalActionLine(move, root),
              WithNativeSeparators("Move:\t/backup/old/a\\nb -> /backup/new/a\\nb"));
    // A newer slave file that an older master copy replaces is marked, and counted.
    CActionList plan;
    plan.push_back(std::make_unique<CAction>("f1.txt", "f1.txt", ACTION_MODIFY, 6));
    EXPECT_EQ(PlanTotals(plan),
              "0 to create, 1 to replace (6 bytes); 0 to delete; 0 directories "
              "to make, 0 to remove");
    for (int i = 0; i < 2; ++i) {
        plan.push_back(std::make_unique<CAction>("f2.txt", "f2.txt", ACTION_MODIFY, 0));
        plan.back()->MarkReplacesNewer();
    }
    EXPECT_EQ(BuildActionLine(*plan.back(), root),
              "Modify:\t/backup/f2.txt  (the slave's copy is newer)");
    EXPECT_TRUE(PlanTotals(plan).ends_with("; 2 newer slave files to be replaced by older ones"));
    plan.push_back(std::make_unique<CAction>("~~~~", "old", ACTION_DELETE));
    plan.back()->SetFreedBytes(2048);
    const PlanCounts counts = CountPlan(plan);
    EXPECT_EQ(counts.freed, 2048u);
    EXPECT_EQ(counts.byKind, (std::array<size_t, kActionKinds>{0, 3, 1, 0, 0, 0, 0}));
    EXPECT_EQ(counts.bytes, 6u);
    EXPECT_EQ(counts.replacingNewer, 2u);
    EXPECT_EQ(RiskText({0, 4, false, 1, {}}),
              "This run would replace 1 newer slave file with an older one");
    // Where what goes is kept: the question and the totals say so.
    EXPECT_EQ(RiskText({12, 20, true, 0, "the Trash"}),
              "This run would delete 12 of the 20 files and directories in the slave (what it "
              "deletes and replaces is kept in the Trash)");
    EXPECT_EQ(
        PlanTotals(counts, {3, "the Trash", {}}),
        "0 to create, 3 to replace (6 bytes); 1 to delete, kept in the Trash; 0 directories to "
        "make, 0 to remove; 2 newer slave files to be replaced by older ones; 3 left out");
    // A plan that does not fit gives both figures.
    EXPECT_TRUE(PlanTotals(counts, {0, "", SpaceShortage{3 << 20, 1536}})
                    .ends_with("; needs 3.0 MiB, 1.5 KiB free in the slave"));
    // Moves are counted with the bytes they spare copying.
    plan.push_back(std::make_unique<CAction>("b", "a", ACTION_MOVE));
    plan.back()->MakeMove({}, 2048, {});
    EXPECT_TRUE(
        PlanTotals(plan).ends_with("0 to remove; 1 to move (2.0 KiB not copied); 2 newer "
                                   "slave files to be replaced by older ones"))
        << PlanTotals(plan);
    // A root typed with a trailing separator shows two.
    EXPECT_EQ(BuildActionLine(CAction("x", "~~~~", ACTION_CREATE), "/backup//"),
              "Create:\t/backup//x");
}

TEST(ShortenForDisplay, KeepsShortTextsAndCutsLongOnesInTheMiddle) {
    EXPECT_EQ(ShortenForDisplay("short", 10), "short");
    EXPECT_EQ(ShortenForDisplay("abcdefghijklmnop", 9), "abc...nop");
    // Characters, not bytes, and never half of one.
    const std::string e = "\xC3\xA9";
    EXPECT_EQ(ShortenForDisplay(e + e + e + e + e + e + e + e + e + e, 7), e + e + "..." + e + e);
}

namespace {
// `shown` as a terminal on this system shows it: Windows shows '/' as its own
// separator.
std::string Native(std::string shown) {
#ifdef _WIN32
    std::replace(shown.begin(), shown.end(), '/', '\\');
#endif
    return shown;
}
}  // namespace

TEST(EscapeForTerminal, EscapesWhatATerminalWouldObeyAndKeepsPrintableUtf8) {
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"a\x1b]0;PWNED\a\x1b[2J", "a\\033]0;PWNED\\a\\033[2J"},
        {"x\nDelete:\t/etc", Native("x\\nDelete:\\t/etc")},
        {"real\rfake", "real\\rfake"},
        {"\b\f\v", "\\b\\f\\v"},
        {std::string("nul\0", 4) + "\x01\x7f", "nul\\000\\001\\177"},
        {"csi\x9b", "csi\\x9b"},                                // a lone byte
        {"c1\xC2\x9B!", "c1\\xc2\\x9b!"},                       // U+009B, valid but obeyed
        {"cut\xE6\x97", "cut\\xe6\\x97"},                       // a character cut short
        {"\xC0\xAF\xED\xA0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},  // overlong, surrogate
        {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80 \xC2\xA0",
         "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80 \xC2\xA0"},
#ifdef _WIN32
        {"back\\slash", "back\\slash"},  // the separator, kept
#else
        {"back\\slash\\033", "back\\\\slash\\\\033"},  // never read as an escape
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeForTerminal(c.text), c.shown) << c.shown;
    }
}

#ifdef _WIN32
TEST(WithNativeSeparators, ShowsBackslashesAndNoSecondOneAfterARoot) {
    EXPECT_EQ(WithNativeSeparators("D:\\/a/b"), "D:\\a\\b");
    EXPECT_EQ(WithNativeSeparators("//server/share/x"), "\\\\server\\share\\x");
}
#endif

TEST(BuildTerminalActionLine, EscapesThePathsAndKeepsTheTab) {
    const std::string root = "/b\x1b/";
    EXPECT_EQ(BuildTerminalActionLine(CAction("~~~~", "x\ny", ACTION_DELETE), root),
              Native("Delete:\t/b\\033/x\\ny"));
    EXPECT_EQ(BuildTerminalActionLine(CAction("d\r", "~~~~", ACTION_MKDIR), root),
              Native("Mkdir:\t/b\\033/d\\r"));
    EXPECT_EQ(BuildTerminalActionLine(CAction("m\t", "s\a", 9), root), "Eh?\tm\\t <> s\\a");
    // The preview in the window shows the names as they are.
    EXPECT_EQ(BuildActionLine(CAction("~~~~", "x\ny", ACTION_DELETE), root),
              "Delete:\t/b\x1b/x\ny");
}

TEST(ShortenForTerminal, EscapesFirstAndNeverSplitsAnEscape) {
    EXPECT_EQ(ShortenForTerminal("a\nb", 10), "a\\nb");
    // "\033" shows four characters: kept whole or left out whole.
    EXPECT_EQ(ShortenForTerminal("\x1b\x1b\x1b\x1b\x1b\x1b", 11), "\\033...\\033");
    EXPECT_EQ(ShortenForTerminal("abc\x1b!defghijk", 11), "abc...hijk");
    EXPECT_EQ(ShortenForTerminal("abcdefgh\x1b", 9), "abc...");
}

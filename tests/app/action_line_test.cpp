#include "app/action_line.h"

#include <gtest/gtest.h>

#include "app/display_text.h"

TEST(BuildActionLine, EveryKindNamesTheSlaveSidePath) {
    const std::string root = "/backup/";
    EXPECT_EQ(BuildActionLine(CAction("a.TXT", "a.txt", ACTION_MODIFY), root), "Modify:\t/backup/a.txt");
    EXPECT_EQ(BuildActionLine(CAction("~~~~", "old", ACTION_DELETE), root), "Delete:\t/backup/old");
    EXPECT_EQ(BuildActionLine(CAction("docs/a.txt", "~~~~", ACTION_CREATE), root),
              "Create:\t/backup/docs/a.txt");
    EXPECT_EQ(BuildActionLine(CAction("docs", "zz", ACTION_MKDIR), root), "Mkdir:\t/backup/docs");
    EXPECT_EQ(BuildActionLine(CAction("~~~~", "gone", ACTION_RMDIR), root), "Rmdir:\t/backup/gone");
    EXPECT_EQ(BuildActionLine(CAction("m/p", "s/p", 9), root), "Eh?\tm/p <> s/p");
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

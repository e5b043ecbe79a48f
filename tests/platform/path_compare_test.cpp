#include "platform/path_compare.h"

#include <gtest/gtest.h>

using platform::ComparePaths;

TEST(PathOrder, FoldsOnlyAsciiLettersAndComparesBytesUnsigned) {
    EXPECT_LT(ComparePaths("abc", "ABD"), 0);
    EXPECT_GT(ComparePaths("ABD", "abc"), 0);
    // The separator sorts below the underscore and every letter, above the full stop.
    EXPECT_LT(ComparePaths("D/x", "Da"), 0);
    EXPECT_LT(ComparePaths("D.txt", "D/x"), 0);
    EXPECT_LT(ComparePaths("a/b", "a_b"), 0);
    // Bytes above 0x7F compare unsigned and are not folded: É (C3 89) before é (C3 A9).
    EXPECT_LT(ComparePaths("\xC3\x89", "\xC3\xA9"), 0);
    EXPECT_GT(ComparePaths("\xC3\xA9", "z"), 0);
}

TEST(PathOrder, ProperPrefixSortsFirst) {
    EXPECT_LT(ComparePaths("D", "D/x"), 0);
    EXPECT_LT(ComparePaths("", "a"), 0);
    EXPECT_EQ(ComparePaths("same", "same"), 0);
}

TEST(PathOrder, NamesEqualIgnoringCaseAreDistinctAndStandInByteOrder) {
    // Readme.txt and README.TXT are two files on Linux: not equal, upper case first.
    EXPECT_NE(ComparePaths("Readme.txt", "README.TXT"), 0);
    EXPECT_GT(ComparePaths("Readme.txt", "README.TXT"), 0);
    EXPECT_LT(ComparePaths("README.TXT", "Readme.txt"), 0);
    // The byte order decides only after the folded comparison found them equal.
    EXPECT_LT(ComparePaths("a", "B"), 0);
    EXPECT_LT(ComparePaths("B", "b"), 0);
}

TEST(PathOrder, PiecesCompareAsTheJoinedString) {
    using platform::PathPieces;
    const PathPieces a{{"root/D", "/", "x"}};
    const PathPieces b{{"root/D.txt", {}, {}}};
    const PathPieces c{{"root", "/", "D/x"}};
    EXPECT_GT(ComparePaths(a, b), 0);
    EXPECT_EQ(ComparePaths(a, c), 0);
    EXPECT_LT(ComparePaths(PathPieces{{"ro", "", "ot"}}, PathPieces{{"root", "/", ""}}), 0);
}

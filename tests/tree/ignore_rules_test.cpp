// The ignore rules: the glob matcher against the C library's fnmatch where
// their rules agree (no "**"), and the rules of ignore files around it.
#include "tree/ignore_rules.h"

#ifndef _WIN32
#include <fnmatch.h>
#endif
#include <gtest/gtest.h>

#include <random>

TEST(IgnoreRules, GlobsMatchAsTheCLibraryMatchesPaths) {
#ifdef _WIN32
    GTEST_SKIP() << "the oracle is the C library's fnmatch, which Windows lacks";
#else
    // Bytes that make patterns interesting, a few plain ones, a "/", and bytes
    // that are not UTF-8.
    const std::string pieces[] = {
        "a",  "b",        "-",    ".", "/", "*",         "?",         "[",         "]", "!",
        "\\", "\xc3\xa9", "\xff", " ", "1", "[:alpha:]", "[:digit:]", "[:space:]", ":]"};
    std::mt19937 rng(7);
    const auto draw = [&](size_t length) {
        std::string s;
        for (size_t i = 0; i < length; ++i) {
            s += pieces[rng() % std::size(pieces)];
        }
        return s;
    };
    int compared = 0;
    for (int round = 0; round < 200000; ++round) {
        const std::string pattern = draw(1 + rng() % 6);
        const std::string text = draw(rng() % 7);
        if (!CheckPattern(pattern).empty() || pattern.find("**") != std::string::npos) {
            continue;
        }
        const bool expected = ::fnmatch(pattern.c_str(), text.c_str(), FNM_PATHNAME) == 0;
        ASSERT_EQ(GlobMatch(pattern, text), expected) << "pattern " << pattern << " text " << text;
        ++compared;
    }
    EXPECT_GT(compared, 50000);
#endif
}

TEST(IgnoreRules, DoubleStarsCrossDirectories) {
    EXPECT_TRUE(GlobMatch("**/x", "x"));
    EXPECT_TRUE(GlobMatch("**/x", "a/b/x"));
    EXPECT_TRUE(GlobMatch("a/**/b", "a/b"));
    EXPECT_TRUE(GlobMatch("a/**/b", "a/x/y/b"));
    EXPECT_FALSE(GlobMatch("a/**/b", "a/xb"));
    EXPECT_TRUE(GlobMatch("a/**", "a/x/y"));
    EXPECT_FALSE(GlobMatch("a/**", "a"));
    EXPECT_TRUE(GlobMatch("**", "a/b"));
    EXPECT_FALSE(GlobMatch("a**b", "a/b"));  // not at a directory's edge: one "*"
    // Many "**/" against a deep path take as long as a few: an ignore file in
    // a master another user can write must not stall a nightly run.
    std::string many;
    std::string deep;
    for (int i = 0; i < 12; ++i) {
        many += "**/";
    }
    for (int i = 0; i < 60; ++i) {
        deep += "a/";
    }
    EXPECT_FALSE(GlobMatch(many + "b", deep + "c"));
    EXPECT_TRUE(GlobMatch(many + "c", deep + "c"));
}

TEST(IgnoreRules, FilesReadAsIgnoreFilesAre) {
    const auto rules = IgnoreRules::Parse(
        "# a comment\n\n*.o\n!keep.o\nbuild/\n/top\ndocs/*.tmp\n\\#hash\n\\!bang\ntrail\\ \nspace  "
        "\r\n"
        "/*.c\ncache*\n",
        ".kelvadignore");
    ASSERT_TRUE(rules.ok()) << rules.problem().message;
    using V = IgnoreRules::Verdict;
    const std::tuple<const char*, bool, V> cases[] = {
        {"x.o", false, V::Excluded},
        {"sub/x.o", false, V::Excluded},  // a name at any depth
        {"keep.o", false, V::Included},
        {"sub/keep.o", false, V::Included},  // the later line wins
        {"build", true, V::Excluded},
        {"build", false, V::None},  // directories only
        {"top", false, V::Excluded},
        {"sub/top", false, V::None},  // anchored
        {"docs/a.tmp", false, V::Excluded},
        {"sub/docs/a.tmp", false, V::None},
        {"#hash", false, V::Excluded},
        {"!bang", false, V::Excluded},
        {"trail ", false, V::Excluded},
        {"space", false, V::Excluded},
        {"a comment", false, V::None},
        {"x.c", false, V::Excluded},
        {"sub/x.c", false, V::None},
        {"cache.db", false, V::Excluded},  // anchored; a start
        {"sub/cache", true, V::Excluded},
        {"a.cache", false, V::None},
    };
    for (const auto& [path, isDirectory, verdict] : cases) {
        EXPECT_EQ(rules->Match(path, isDirectory), verdict) << path;
    }
    // A byte-order mark before the first line is no part of its pattern.
    const auto marked = IgnoreRules::Parse("\xEF\xBB\xBFlocal/\r\n", ".kelvadignore");
    ASSERT_TRUE(marked.ok());
    EXPECT_EQ(marked->Match("local", true), V::Excluded);
}

#ifdef _WIN32
TEST(IgnoreRules, OnWindowsLetterCaseDoesNotCount) {
    const auto rules = IgnoreRules::Parse("Build/\n*.JPG\n/Top[A-C]\n", ".kelvadignore");
    ASSERT_TRUE(rules.ok());
    EXPECT_EQ(rules->Match("BUILD", true), IgnoreRules::Verdict::Excluded);
    EXPECT_EQ(rules->Match("sub/photo.jpg", false), IgnoreRules::Verdict::Excluded);
    EXPECT_EQ(rules->Match("topb", false), IgnoreRules::Verdict::Excluded);
}
#endif

TEST(IgnoreRules, ABadPatternIsToldWithItsFileAndLine) {
    for (const auto& [text, message] :
         {std::pair<const char*, const char*>{
              "ok\n[abc\n", "m/.kelvadignore:2: bad pattern \"[abc\" (unterminated [)"},
          {"#\n\n\nend\\",
           "m/.kelvadignore:4: bad pattern \"end\\\" (ends in a lone backslash)"}}) {
        const auto rules = IgnoreRules::Parse(text, "m/.kelvadignore");
        ASSERT_FALSE(rules.ok());
        EXPECT_EQ(rules.problem().message, message);
        EXPECT_EQ(rules.problem().file, "m/.kelvadignore");
    }
}

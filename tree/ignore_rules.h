// What is left out of the mirror: the patterns of ".kelvadignore" files in the
// master and of the command line, with the rules people know from .gitignore
// files. "#" starts a comment; blank lines are skipped; "*" and "?" match
// within one name, "[...]" one byte of a set ("[!...]" or "[^...]" outside
// it); "**" matches across directories ("**/x", "a/**/b", "a/**"); a leading
// "/" or a "/" inside anchors a pattern to the directory of its file (without
// one it matches a name at any depth below it); a trailing "/" matches
// directories only; "!" takes an entry back in; a backslash makes the next
// byte plain (trailing blanks are dropped unless so escaped); a later line
// wins over an earlier one, a deeper file over the files above it. Matching is
// by bytes: names need not be UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/checked.h"
#include "platform/path_compare.h"

// True when `text` (a name, or a relative path with "/" between names) matches
// the glob `pattern` as ignore files read it: "*", "?" and "[...]" never match
// "/", "**/" matches any run of whole directories (none included), a final
// "/**" everything below, a pattern of "**" alone everything. `pattern` must
// have passed CheckPattern.
bool GlobMatch(std::string_view pattern, std::string_view text);

// Why `pattern` cannot be used ("unterminated [", "ends in a lone backslash");
// empty when it can.
std::string CheckPattern(std::string_view pattern);

// The patterns of one ignore file, or of the command line, for the entries
// below one directory.
class IgnoreRules {
public:
    // What the rules say of an entry.
    enum class Verdict { None, Excluded, Included };

    // Windows matches names ignoring the case of A to Z, and so do the
    // patterns there: patterns and names are folded before they meet.
    static constexpr bool kFoldsCase = platform::kNamesIgnoreCase;

    // Reads the lines of `text`. A bad pattern fails the whole file: the
    // problem then names `source` and the line, and its message says
    // "SOURCE:LINE: bad pattern "TEXT" (WHY)".
    static platform::Checked<IgnoreRules> Parse(std::string_view text, const std::string& source);

    // The verdict of the last pattern that matches `relative`, the entry's path
    // below the rules' directory ("a/b.txt"); None when no pattern does.
    Verdict Match(std::string_view relative, bool isDirectory) const;

    // The same for an entry `depth` names below the rules' directory (1: in
    // it) named `name`, where `relative` is its path below the directory, or
    // "" when NeedsPath(depth) is false: most entries are judged by their name
    // alone, without a path being made. Where kFoldsCase, both come folded
    // (platform::FoldBytes), once for every set of rules they meet.
    Verdict Match(std::string_view name, std::string_view relative, size_t depth,
                  bool isDirectory) const;
    // Whether a pattern that looks at whole paths can match `depth` names down.
    bool NeedsPath(size_t depth) const;

    bool Empty() const { return m_patterns.empty(); }

    // Adds the patterns of `later` after these, so they win over them.
    void Append(const IgnoreRules& later);

private:
    // Most patterns are a plain name, "*" and a plain end, or a plain start
    // and "*": those are compared, not matched, so twenty patterns cost about
    // as much as one glob.
    enum class Shape { Plain, Ending, Beginning, Glob };
    struct Pattern {
        std::string glob;
        bool negated = false;
        bool directoryOnly = false;
        bool anchored = false;  // matched against the whole relative path, not the name
        Shape shape = Shape::Glob;
        std::string fixed;  // the plain part of the first three shapes
        size_t names = 0;  // an anchored pattern's names; 0 with a "**", which matches at any depth
    };
    // The pattern of one line (`raw`, the `lineNumber`th of `source`); nothing
    // for a blank line or a comment, a Problem for a pattern that cannot match.
    static platform::Checked<std::optional<Pattern>> ParseLine(std::string_view raw,
                                                               const std::string& source,
                                                               size_t lineNumber);
    // Gives `pattern` its glob (`line` without its '!', '/' ends and a leading
    // "**/"), its shape and how many names it spans.
    static void TakeShape(Pattern& pattern, std::string_view line);
    // `isName`: `text` is one name, which holds no separator.
    static bool Matches(const Pattern& pattern, std::string_view text, bool isName);

    std::vector<Pattern> m_patterns;
};

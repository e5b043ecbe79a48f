#include "tree/ignore_rules.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/path_compare.h"

namespace {

// Where the set starting at `p[at]` == '[' ends (the index of its "]"), or
// npos when it is not closed. A "]" first in the set (after "!" or "^") is a
// member, as is any escaped byte.
size_t ClassEnd(std::string_view p, size_t at) {
    size_t i = at + 1;
    if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
        ++i;
    }
    if (i < p.size() && p[i] == ']') {
        ++i;
    }
    for (; i < p.size(); ++i) {
        if (p[i] == '\\') {
            ++i;
        } else if (p.substr(i, 2) == "[:" && p.find(":]", i + 2) != std::string_view::npos) {
            i = p.find(":]", i + 2) + 1;  // a class by name, "[:alpha:]", is one member
        } else if (p[i] == ']') {
            return i;
        }
    }
    return std::string_view::npos;
}

// True when byte `c` is of the class `name` ("alpha", "digit", ...) as the C
// locale has them: bytes past ASCII are of none.
bool InNamedClass(std::string_view name, unsigned char c) {
    const bool ascii = c < 0x80;
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    const bool digit = c >= '0' && c <= '9';
    const bool print = c >= 0x20 && c < 0x7F;
    const bool space = c == ' ' || (c >= '\t' && c <= '\r');
    if (name == "alpha")
        return upper || lower;
    if (name == "digit")
        return digit;
    if (name == "alnum")
        return upper || lower || digit;
    if (name == "upper")
        return upper;
    if (name == "lower")
        return lower;
    if (name == "space")
        return space;
    if (name == "blank")
        return c == ' ' || c == '\t';
    if (name == "punct")
        return print && c != ' ' && !upper && !lower && !digit;
    if (name == "xdigit")
        return digit || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
    if (name == "cntrl")
        return ascii && !print;
    if (name == "print")
        return print;
    if (name == "graph")
        return print && c != ' ';
    return false;
}

// True when byte `c` is in the set p[at..end] ('[' to ']').
bool InClass(std::string_view p, size_t at, size_t end, unsigned char c) {
    size_t i = at + 1;
    const bool negated = p[i] == '!' || p[i] == '^';
    i += negated ? 1 : 0;
    bool found = false;
    for (bool first = true; i < end; first = false) {
        if (p[i] == ']' && !first) {
            break;
        }
        if (p.substr(i, 2) == "[:" && p.find(":]", i + 2) < end) {
            const size_t close = p.find(":]", i + 2);
            found = found || InNamedClass(p.substr(i + 2, close - i - 2), c);
            i = close + 2;
            continue;
        }
        unsigned char low = static_cast<unsigned char>(p[i] == '\\' ? p[++i] : p[i]);
        ++i;
        unsigned char high = low;
        if (i + 1 < end && p[i] == '-') {
            high = static_cast<unsigned char>(p[i + 1] == '\\' ? p[i + 2] : p[i + 1]);
            i += p[i + 1] == '\\' ? 3u : 2u;
        }
        found = found || (c >= low && c <= high);
    }
    return found != negated;
}

// The places (pattern, text) from which the rest is known not to match, so
// that patterns of many "**/" take time in proportion to pattern times text,
// not exponential in the number of "**/"; made on the first "**/".
using Failures = std::vector<bool>;

bool Match(std::string_view p, size_t pi, std::string_view t, size_t ti, Failures& failed);

// "**/" at p[pi]: the rest matches here, or after any "/" further on.
bool MatchAnyDirectories(std::string_view p, size_t pi, std::string_view t, size_t ti,
                         Failures& failed) {
    if (failed.empty()) {
        failed.assign((p.size() + 1) * (t.size() + 1), false);
    }
    for (;;) {
        const size_t at = (pi + 3) * (t.size() + 1) + ti;
        if (!failed[at]) {
            if (Match(p, pi + 3, t, ti, failed)) {
                return true;
            }
            failed[at] = true;
        }
        const size_t slash = t.find('/', ti);
        if (slash == std::string_view::npos) {
            return false;
        }
        ti = slash + 1;
    }
}

// The match of p[pi..] against t[ti..]. A "*" is tried at its shortest and
// lengthened only on a mismatch after it (the last one only: an earlier "*"
// could only give up what the last can take), so a name is matched in about
// one pass whatever the number of stars.
bool Match(std::string_view p, size_t pi, std::string_view t, size_t ti, Failures& failed) {
    size_t starP = std::string_view::npos;  // the pattern just after the last "*"
    size_t starT = 0;                       // where that "*" stops for now
    while (pi < p.size() || ti < t.size()) {
        if (pi < p.size()) {
            const char c = p[pi];
            const bool atDirectoryStart = pi == 0 || p[pi - 1] == '/';
            if (c == '*' && pi + 1 < p.size() && p[pi + 1] == '*' && atDirectoryStart &&
                (pi + 2 == p.size() || p[pi + 2] == '/')) {
                return pi + 2 == p.size() || MatchAnyDirectories(p, pi, t, ti, failed);
            }
            if (c == '*') {
                while (pi < p.size() && p[pi] == '*') {
                    ++pi;
                }
                starP = pi;
                starT = ti;
                continue;
            }
            if (ti < t.size()) {
                const unsigned char b = static_cast<unsigned char>(t[ti]);
                size_t next = pi + 1;
                bool same = false;
                if (c == '?') {
                    same = b != '/';
                } else if (c == '[') {
                    const size_t end = ClassEnd(p, pi);
                    same = b != '/' && InClass(p, pi, end, b);
                    next = end + 1;
                } else if (c == '\\') {
                    same = static_cast<unsigned char>(p[pi + 1]) == b;
                    next = pi + 2;
                } else {
                    same = static_cast<unsigned char>(c) == b;
                }
                if (same) {
                    pi = next;
                    ++ti;
                    continue;
                }
            }
        }
        // A mismatch: the last "*" takes one more byte, never a "/".
        if (starP == std::string_view::npos || starT >= t.size() || t[starT] == '/') {
            return false;
        }
        pi = starP;
        ti = ++starT;
    }
    return true;
}

// The line without its unescaped trailing blanks (and a carriage return).
std::string_view TrimLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    while (!line.empty() && line.back() == ' ') {
        size_t backslashes = 0;
        for (size_t i = line.size() - 1; i > 0 && line[i - 1] == '\\'; --i) {
            ++backslashes;
        }
        if (backslashes % 2 == 1) {
            break;  // "\ " keeps its blank
        }
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view text) {
    Failures failed;
    return Match(pattern, 0, text, 0, failed);
}

std::string CheckPattern(std::string_view pattern) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            if (++i == pattern.size()) {
                return "ends in a lone backslash";
            }
        } else if (pattern[i] == '[') {
            const size_t end = ClassEnd(pattern, i);
            if (end == std::string_view::npos) {
                return "unterminated [";
            }
            i = end;
        }
    }
    return {};
}

platform::Checked<IgnoreRules> IgnoreRules::Parse(std::string_view text,
                                                  const std::string& source) {
    IgnoreRules rules;
    size_t lineNumber = 0;
    // A byte-order mark, which Windows editors put before the first line, is
    // no part of its pattern.
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end;
        auto pattern = ParseLine(text.substr(start, end - start), source, ++lineNumber);
        start = end + 1;
        if (!pattern.ok()) {
            return pattern.problem();
        }
        if (*pattern) {
            rules.m_patterns.push_back(std::move(**pattern));
        }
    }
    return rules;
}

platform::Checked<std::optional<IgnoreRules::Pattern>> IgnoreRules::ParseLine(
    std::string_view raw, const std::string& source, size_t lineNumber) {
    std::string_view line = TrimLine(raw);
    if (line.empty() || line[0] == '#') {
        return std::optional<Pattern>();
    }
    Pattern pattern{};
    if (line[0] == '!') {
        pattern.negated = true;
        line.remove_prefix(1);
    }
    if (const std::string why = CheckPattern(line); !why.empty()) {
        return platform::Problem{source + ":" + std::to_string(lineNumber) + ": bad pattern \"" +
                                     std::string(raw) + "\" (" + why + ")",
                                 source, lineNumber};
    }
    if (line.size() > 1 && line.back() == '/') {
        pattern.directoryOnly = true;
        line.remove_suffix(1);
    }
    pattern.anchored = line.find('/') != std::string_view::npos;
    if (!line.empty() && line[0] == '/') {
        line.remove_prefix(1);
    }
    // "**/name" is "name" at any depth: judged by the name alone.
    if (line.starts_with("**/") && line.find('/', 3) == std::string_view::npos &&
        line.find("**", 3) == std::string_view::npos) {
        line.remove_prefix(3);
        pattern.anchored = false;
    }
    if (line.empty()) {
        return std::optional<Pattern>();
    }
    TakeShape(pattern, line);
    return std::optional<Pattern>(std::move(pattern));
}

void IgnoreRules::TakeShape(Pattern& pattern, std::string_view line) {
    pattern.glob = std::string(line);
    const size_t special = line.find_first_of("*?[\\");
    if (special == std::string_view::npos) {
        pattern.shape = Shape::Plain;
        pattern.fixed = pattern.glob;
    } else if (special == 0 && line[0] == '*' && line.size() > 1 &&
               line.find_first_of("*?[\\/", 1) == std::string_view::npos) {
        pattern.shape = Shape::Ending;
        pattern.fixed = std::string(line.substr(1));
    } else if (special == line.size() - 1 && line.back() == '*' &&
               line.find('/') == std::string_view::npos) {
        pattern.shape = Shape::Beginning;
        pattern.fixed = std::string(line.substr(0, special));
    }
    if (pattern.anchored && line.find("**") == std::string_view::npos) {
        pattern.names = 1 + static_cast<size_t>(std::count(line.begin(), line.end(), '/'));
    }
    if (IgnoreRules::kFoldsCase) {  // "[A-Z]" becomes "[a-z]"
        platform::FoldBytes(pattern.glob);
        platform::FoldBytes(pattern.fixed);
    }
}

void IgnoreRules::Append(const IgnoreRules& later) {
    m_patterns.insert(m_patterns.end(), later.m_patterns.begin(), later.m_patterns.end());
}

bool IgnoreRules::Matches(const Pattern& pattern, std::string_view text, bool isName) {
    switch (pattern.shape) {
        case Shape::Plain:
            return text == pattern.fixed;
        // "*" matches no "/": an end or a start only matches within one name.
        case Shape::Ending:
            return text.ends_with(pattern.fixed) &&
                   (isName || text.find('/') == std::string_view::npos);
        case Shape::Beginning:
            return text.starts_with(pattern.fixed) &&
                   (isName || text.find('/', pattern.fixed.size()) == std::string_view::npos);
        case Shape::Glob:
            break;
    }
    return GlobMatch(pattern.glob, text);
}

bool IgnoreRules::NeedsPath(size_t depth) const {
    for (const Pattern& pattern : m_patterns) {
        if (pattern.anchored && (pattern.names == 0 || pattern.names == depth)) {
            return true;
        }
    }
    return false;
}

IgnoreRules::Verdict IgnoreRules::Match(std::string_view relative, bool isDirectory) const {
    std::string folded;
    if (kFoldsCase) {
        folded = relative;
        platform::FoldBytes(folded);
        relative = folded;
    }
    const size_t slash = relative.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? relative : relative.substr(slash + 1);
    const size_t depth = 1 + static_cast<size_t>(std::count(relative.begin(), relative.end(), '/'));
    return Match(name, relative, depth, isDirectory);
}

IgnoreRules::Verdict IgnoreRules::Match(std::string_view name, std::string_view relative,
                                        size_t depth, bool isDirectory) const {
    for (auto it = m_patterns.rbegin(); it != m_patterns.rend(); ++it) {
        if (it->directoryOnly && !isDirectory) {
            continue;
        }
        // An anchored pattern of another depth cannot match.
        const bool matches = it->anchored
                                 ? (it->names == 0 || it->names == depth) &&
                                       Matches(*it, depth == 1 ? name : relative, depth == 1)
                                 : Matches(*it, name, true);
        if (matches) {
            return it->negated ? Verdict::Included : Verdict::Excluded;
        }
    }
    return Verdict::None;
}

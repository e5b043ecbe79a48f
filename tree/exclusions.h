// What a scan leaves out of the mirror: the patterns of the command line, of
// the ".kelvadignore" files in the master's directories, and master
// directories tagged as caches ("CACHEDIR.TAG" beginning with the standard
// signature). Both scans read the master's files, so a slave entry is left
// out by the same rules as the master entry at its path.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/path_compare.h"
#include "platform/tree_root.h"
#include "tree/ignore_rules.h"

inline constexpr std::string_view kIgnoreFileName = ".kelvadignore";
inline constexpr std::string_view kCacheTagName = "CACHEDIR.TAG";
inline constexpr std::string_view kCacheTagSignature =
    "Signature: 8a477f597d28d172789f06886806bc55";

class Exclusions {
public:
    // `master` is the master's root (for the slave's scan, a second handle on
    // it); `commandLine` the command line's rules, for the entries below the
    // root. `probe`: look for ignore files in every directory (the slave's
    // scan, whose listings do not show the master's), not only where a
    // listing names them; cache tags are then not looked for (the master's
    // entry for a cache directory leaves out the slave's with it).
    // `slaveMatch`, for the slave's scan: a slave that ignores letter case
    // reads the rules of the master's directory of the same name whatever the
    // case of its letters (a folder renamed Proj to proj in the master), never
    // only under the slave's spelling.
    Exclusions(platform::TreeRoot& master, IgnoreRules commandLine, bool probe,
               platform::NameMatch slaveMatch = platform::NameMatch::Exact);

    // Takes the directory `relative` ("" the root), about to have its entries
    // judged, and whether its listing named an ignore file or a cache tag.
    // False when it is a cache directory: left out with all it holds.
    bool EnterDirectory(std::string_view relative, bool namesIgnoreFile, bool namesCacheTag);

    // True when the entry `name`, a directory or not, of the directory last
    // entered is left out.
    bool Excludes(std::string_view name, bool isDirectory) const;

    // Whether anything can be left out in the directory last entered.
    bool Active() const { return !m_chain.empty(); }

    // Ignore files that could not be read or hold a bad pattern, one message each.
    const std::vector<std::string>& Errors() const { return m_errors; }

private:
    // The rules of `relative`'s ignore file, read now from the master's
    // directory `dir` (nothing when the master has none); null when it has none.
    const IgnoreRules* Load(std::string_view relative, const std::optional<std::string>& dir,
                            bool probe);
    bool IsCacheDirectory(std::string_view relative);
    // The master's path of the directory the slave's scan names `relative`;
    // nothing when the master has no directory of that name.
    std::optional<std::string> MasterDirectory(std::string_view relative);
    // The name in the master's directory `dir` equal to `name` but for letter
    // case; nothing when there is none. Each directory is listed once.
    std::optional<std::string> FindIgnoringCase(const std::string& dir, std::string_view name);
    // Reads the ignore file `file` of the directory `dir` whole into `text`;
    // false when there is none to read, with `why` saying what is wrong with
    // it (empty when it is simply not there, or its directory cannot be read).
    bool ReadIgnoreFile(std::string_view dir, const std::string& file, std::string& text,
                        std::string& why);

    platform::TreeRoot& m_master;
    IgnoreRules m_commandLine;
    bool m_probe;
    platform::NameMatch m_slaveMatch;
    // The slave's directories that the master spells otherwise, or lacks
    // (nothing); every other has the slave's spelling in the master too.
    std::unordered_map<std::string, std::optional<std::string>> m_spelled;
    // Master directories listed to find a spelling: folded name -> name.
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> m_listed;
    // Directories with rules, by relative path; the rules in effect in the
    // directory last entered, deepest first, each with its directory's length.
    std::unordered_map<std::string, IgnoreRules> m_rules;
    struct InEffect {
        const IgnoreRules* rules;
        size_t baseLength;  // of the directory's relative path, 0 for the root
        size_t depth;       // of the entries being judged, below that directory
    };
    std::vector<InEffect> m_chain;
    bool m_needsPath = false;  // some rules in effect look at whole paths here
    std::string m_dir;
    std::vector<std::string> m_errors;
};

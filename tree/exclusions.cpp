#include "tree/exclusions.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/dir_search.h"
#include "platform/path_compare.h"

namespace {

// An ignore file larger than this is refused rather than read in part.
constexpr size_t kMaxIgnoreFileBytes = size_t(64) << 20;

// Reads at most `limit` bytes of the regular file `relative` beneath `root`;
// `info` says how large it is.
platform::Status ReadSmallFile(platform::TreeRoot& root, std::string_view relative, size_t limit,
                               std::string& text, platform::FileInfo& info) {
    const platform::Result<int> fd = root.OpenForRead(relative, info);
    if (!fd.ok()) {
        return fd.status();
    }
    text.assign(std::min<size_t>(limit, static_cast<size_t>(info.size)), '\0');
    size_t done = 0;
    platform::Status status;
    while (done < text.size()) {
        const platform::Result<size_t> n = root.Read(*fd, text.data() + done, text.size() - done);
        if (!n.ok() || *n == 0) {
            status = n.ok() ? status : n.status();
            break;
        }
        done += *n;
    }
    text.resize(done);
    (void)root.Close(*fd);
    return status;
}

// A file that is simply not there gives no rules.
bool Absent(const platform::Status& status) {
    return status.Is(ENOENT) || status.Is(ENOTDIR);
}

// The path below the root that the link in the directory `linkDir` (below
// the root `rootPath`) holding `target` leads to, by its names alone; nothing
// when it leads outside the root.
std::optional<std::string> LinkBeneath(std::string_view rootPath, std::string_view linkDir,
                                       std::string_view target) {
    std::vector<std::string_view> names;
    const auto walk = [&names](std::string_view path) {
        for (size_t at = 0; at <= path.size();) {
            size_t end = path.find(platform::kSeparator, at);
            end = end == std::string_view::npos ? path.size() : end;
            const std::string_view name = path.substr(at, end - at);
            if (name == "..") {
                if (names.empty()) {
                    return false;
                }
                names.pop_back();
            } else if (!name.empty() && name != ".") {
                names.push_back(name);
            }
            at = end + 1;
        }
        return true;
    };
    if (!target.empty() && target[0] == platform::kSeparator) {
        // Absolute: beneath the root only as the root was typed.
        while (rootPath.size() > 1 && rootPath.back() == platform::kSeparator) {
            rootPath.remove_suffix(1);
        }
        if (target.substr(0, rootPath.size()) != rootPath ||
            (target.size() > rootPath.size() && target[rootPath.size()] != platform::kSeparator &&
             rootPath != "/")) {
            return std::nullopt;
        }
        target.remove_prefix(rootPath.size());
    } else if (!walk(linkDir)) {
        return std::nullopt;
    }
    if (!walk(target) || names.empty()) {
        return std::nullopt;
    }
    std::string path;
    for (const std::string_view name : names) {
        path += (path.empty() ? "" : std::string(1, platform::kSeparator)) + std::string(name);
    }
    return path;
}

}  // namespace

Exclusions::Exclusions(platform::TreeRoot& master, IgnoreRules commandLine, bool probe,
                       platform::NameMatch slaveMatch)
    : m_master(master),
      m_commandLine(std::move(commandLine)),
      m_probe(probe),
      m_slaveMatch(slaveMatch) {}

std::optional<std::string> Exclusions::MasterDirectory(std::string_view relative) {
    if (!m_probe || m_slaveMatch == platform::NameMatch::Exact || relative.empty()) {
        return std::string(relative);
    }
    // The walk enters a directory after its parent, whose spelling is known.
    const std::string_view parentPath = platform::DirectoryOf(relative);
    const std::string_view name = relative.substr(parentPath.empty() ? 0 : parentPath.size() + 1);
    const auto spelled = m_spelled.find(std::string(parentPath));
    const std::optional<std::string> parent =
        spelled == m_spelled.end() ? std::optional<std::string>(parentPath) : spelled->second;
    std::optional<std::string> found;
    if (parent) {
        found = platform::JoinPath(*parent, name);
        if (!m_master.MayHold(*found)) {
            found = FindIgnoringCase(*parent, name);
            found = found ? std::optional<std::string>(platform::JoinPath(*parent, *found))
                          : std::nullopt;
        }
    }
    if (found != relative) {
        m_spelled.emplace(std::string(relative), found);
    }
    return found;
}

std::optional<std::string> Exclusions::FindIgnoringCase(const std::string& dir,
                                                        std::string_view name) {
    auto [listed, first] = m_listed.try_emplace(dir);
    if (first) {
        const platform::Result<int> fd = m_master.OpenDirectory(dir);
        platform::DirSearch search;
        if (fd.ok() && search.Open(*fd).ok()) {
            for (platform::DirMatch match; m_master.NextMatch(search, match);) {
                if (match.isDirectory) {
                    std::string folded(match.name);
                    platform::FoldBytes(folded);
                    // Names equal but for case: the first in byte order, as the
                    // comparison pairs them.
                    auto [at, added] = listed->second.try_emplace(folded, match.name);
                    if (!added && match.name < std::string_view(at->second)) {
                        at->second = match.name;
                    }
                }
            }
        }
    }
    std::string folded(name);
    platform::FoldBytes(folded);
    const auto it = listed->second.find(folded);
    return it == listed->second.end() ? std::nullopt : std::optional<std::string>(it->second);
}

bool Exclusions::EnterDirectory(std::string_view relative, bool namesIgnoreFile,
                                bool namesCacheTag) {
    // The slave's scan does not look for tags: a cache directory is left out
    // by the master's entry, and the slave's below it with it.
    if (!relative.empty() && !m_probe && namesCacheTag && IsCacheDirectory(relative)) {
        return false;
    }
    // Paths are matched as the master spells them: on a slave that ignores
    // letter case, "Proj/a.keep" is the master's "proj/a.keep" (equal but for
    // case, so of the same length).
    const std::optional<std::string> master = MasterDirectory(relative);
    m_dir = master.value_or(std::string(relative));
    m_chain.clear();
    if (const IgnoreRules* own = Load(relative, master, m_probe || namesIgnoreFile)) {
        m_chain.push_back({own, relative.size(), 1});
    }
    const size_t depth = relative.empty()
                             ? 1
                             : 2 + static_cast<size_t>(std::count(relative.begin(), relative.end(),
                                                                  platform::kSeparator));
    // The files above it: each directory on the way up that has one.
    for (size_t end = relative.size(); end != 0 && end != std::string_view::npos;) {
        end = relative.rfind(platform::kSeparator, end - 1);
        const std::string_view above = relative.substr(0, end == std::string_view::npos ? 0 : end);
        if (const auto it = m_rules.find(std::string(above)); it != m_rules.end()) {
            const size_t aboveDepth =
                above.empty() ? 0
                              : 1 + static_cast<size_t>(std::count(above.begin(), above.end(),
                                                                   platform::kSeparator));
            m_chain.push_back({&it->second, above.size(), depth - aboveDepth});
        }
        if (end == std::string_view::npos) {
            break;
        }
    }
    if (!m_commandLine.Empty()) {
        m_chain.push_back({&m_commandLine, 0, depth});
    }
    m_needsPath = false;
    for (const InEffect& in : m_chain) {
        m_needsPath = m_needsPath || in.rules->NeedsPath(in.depth);
    }
    return true;
}

const IgnoreRules* Exclusions::Load(std::string_view relative,
                                    const std::optional<std::string>& dir, bool look) {
    if (!look || !dir) {
        return nullptr;
    }
    const std::string file = platform::JoinPath(*dir, kIgnoreFileName);
    // Looked for in every directory the slave's scan reads: one look-up each.
    if (m_probe && !m_master.MayHold(file)) {
        return nullptr;
    }
    std::string text;
    std::string why;
    if (!ReadIgnoreFile(*dir, file, text, why)) {
        if (!why.empty()) {
            m_errors.push_back("Error reading " + m_master.Path() + platform::kSeparator + file +
                               " (" + why + ")");
        }
        return nullptr;
    }
    platform::Checked<IgnoreRules> rules =
        IgnoreRules::Parse(text, m_master.Path() + platform::kSeparator + file);
    if (!rules.ok()) {
        m_errors.push_back(rules.problem().message);
        return nullptr;
    }
    return &m_rules.insert_or_assign(std::string(relative), *std::move(rules)).first->second;
}

bool Exclusions::ReadIgnoreFile(std::string_view dir, const std::string& file, std::string& text,
                                std::string& why) {
    platform::FileInfo info;
    std::string path = file;
    platform::Status read = ReadSmallFile(m_master, path, kMaxIgnoreFileBytes + 1, text, info);
    if (read.Is(ELOOP)) {
        // A link (as dotfile managers make them) is followed, once, when it
        // leads to a file beneath the master.
        // A link on the way to it is no ignore file of the master's: that
        // path is the master's link, left out, and the slave's scan met it.
        const platform::Result<std::string> target = m_master.ReadLink(file);
        if (!target.ok()) {
            return false;
        }
        const std::optional<std::string> beneath = LinkBeneath(m_master.Path(), dir, *target);
        if (!beneath) {
            why = "a link that leads outside the master directory";
            return false;
        }
        path = *beneath;
        read = ReadSmallFile(m_master, path, kMaxIgnoreFileBytes + 1, text, info);
    }
    if (read.ok() && text.size() > kMaxIgnoreFileBytes) {
        why = "larger than " + std::to_string(kMaxIgnoreFileBytes >> 20) + " MiB";
        return false;
    }
    if (read.ok() || (Absent(read) && path == file)) {
        return read.ok();
    }
    // A directory that cannot be searched hides the file: that directory is
    // the failure, told by the scan that reads it, not its ignore file.
    platform::FileInfo name;
    if (path == file && !m_master.DescribeName(file, name).ok()) {
        return false;
    }
    why = read.Is(EINVAL) ? "not a regular file" : m_master.Reason(read, path);
    return false;
}

bool Exclusions::IsCacheDirectory(std::string_view relative) {
    std::string text;
    platform::FileInfo info;
    return ReadSmallFile(m_master, platform::JoinPath(relative, kCacheTagName),
                         kCacheTagSignature.size(), text, info)
               .ok() &&
           text == kCacheTagSignature;
}

bool Exclusions::Excludes(std::string_view name, bool isDirectory) const {
    // The path below the root, made only where rules that look at whole paths
    // can match at this depth.
    std::string path = m_needsPath ? platform::JoinPath(m_dir, name) : std::string();
    std::string folded;
    if (IgnoreRules::kFoldsCase) {
        folded = name;
        platform::FoldBytes(folded);
        platform::FoldBytes(path);
        name = folded;
    }
    for (const InEffect& in : m_chain) {
        std::string_view relative;
        if (m_needsPath) {
            relative = std::string_view(path).substr(in.baseLength == 0 ? 0 : in.baseLength + 1);
        }
        const IgnoreRules::Verdict verdict = in.rules->Match(name, relative, in.depth, isDirectory);
        if (verdict != IgnoreRules::Verdict::None) {
            return verdict == IgnoreRules::Verdict::Excluded;
        }
    }
    return false;
}

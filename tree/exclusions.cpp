#include "tree/exclusions.h"

#include <algorithm>
#include <cerrno>

#include "platform/path_compare.h"

namespace {

// An ignore file longer than this is not one.
constexpr size_t kMaxIgnoreFileBytes = 1 << 20;

// Reads at most `limit` bytes of the file `relative` beneath `root`.
platform::Status ReadSmallFile(platform::TreeRoot& root, const std::string& relative, size_t limit,
                               std::string& text) {
    platform::FileInfo info;
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

// A file that is simply not there, or is no regular file, gives no rules.
bool Absent(const platform::Status& status) {
    return status.Is(ENOENT) || status.Is(ENOTDIR) || status.Is(ELOOP) || status.Is(EINVAL);
}

std::string Join(std::string_view dir, std::string_view name) {
    return dir.empty() ? std::string(name) : std::string(dir) + platform::kSeparator + std::string(name);
}

}  // namespace

Exclusions::Exclusions(platform::TreeRoot& master, IgnoreRules commandLine, bool probe)
    : m_master(master), m_commandLine(std::move(commandLine)), m_probe(probe) {}

bool Exclusions::EnterDirectory(std::string_view relative, bool namesIgnoreFile, bool namesCacheTag) {
    // The slave's scan does not look for tags: a cache directory is left out
    // by the master's entry, and the slave's below it with it.
    if (!relative.empty() && !m_probe && namesCacheTag && IsCacheDirectory(relative)) {
        return false;
    }
    m_dir = relative;
    m_chain.clear();
    if (const IgnoreRules* own = Load(relative, m_probe || namesIgnoreFile)) {
        m_chain.push_back({own, relative.size(), 1});
    }
    const size_t depth = relative.empty() ? 1 : 2 + static_cast<size_t>(std::count(
                                                         relative.begin(), relative.end(), platform::kSeparator));
    // The files above it: each directory on the way up that has one.
    for (size_t end = relative.size(); end != 0 && end != std::string_view::npos;) {
        end = relative.rfind(platform::kSeparator, end - 1);
        const std::string_view above = relative.substr(0, end == std::string_view::npos ? 0 : end);
        if (const auto it = m_rules.find(std::string(above)); it != m_rules.end()) {
            const size_t aboveDepth = above.empty() ? 0 : 1 + static_cast<size_t>(std::count(
                                                              above.begin(), above.end(), platform::kSeparator));
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

const IgnoreRules* Exclusions::Load(std::string_view relative, bool look) {
    if (!look) {
        return nullptr;
    }
    const std::string file = Join(relative, kIgnoreFileName);
    // Looked for in every directory the slave's scan reads: one look-up each.
    if (m_probe && !m_master.MayHold(file)) {
        return nullptr;
    }
    std::string text;
    if (const platform::Status read = ReadSmallFile(m_master, file, kMaxIgnoreFileBytes, text);
        !read.ok()) {
        if (!Absent(read)) {
            m_errors.push_back("Error reading " + m_master.Path() + platform::kSeparator + file +
                               " (" + m_master.Reason(read, file) + ")");
        }
        return nullptr;
    }
    std::string error;
    std::optional<IgnoreRules> rules =
        IgnoreRules::Parse(text, m_master.Path() + platform::kSeparator + file, error);
    if (!rules) {
        m_errors.push_back(error);
        return nullptr;
    }
    return &m_rules.insert_or_assign(std::string(relative), std::move(*rules)).first->second;
}

bool Exclusions::IsCacheDirectory(std::string_view relative) {
    std::string text;
    return ReadSmallFile(m_master, Join(relative, kCacheTagName), kCacheTagSignature.size(), text).ok() &&
           text == kCacheTagSignature;
}

bool Exclusions::Excludes(std::string_view name, bool isDirectory) const {
    // The path below the root, made only where rules that look at whole paths
    // can match at this depth.
    std::string path = m_needsPath ? Join(m_dir, name) : std::string();
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

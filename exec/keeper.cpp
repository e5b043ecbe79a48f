#include "exec/keeper.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/dir_search.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/trash.h"
#include "platform/tree_root.h"

namespace {

// The entries of the directory `relative` as (name, is a directory); a link or
// anything else that is not a directory counts as a file, removed by its name.
platform::Result<std::vector<std::pair<std::string, bool>>> List(platform::TreeRoot& root,
                                                                 const std::string& relative) {
    const platform::Result<int> fd = root.OpenDirectory(relative);
    if (!fd.ok()) {
        return fd.status();
    }
    platform::DirSearch search;
    if (const platform::Status opened = search.Open(*fd); !opened.ok()) {
        return opened;
    }
    std::vector<std::pair<std::string, bool>> entries;
    platform::DirMatch match;
    while (root.NextMatch(search, match)) {
        if (match.name != "." && match.name != "..") {
            entries.emplace_back(std::string(match.name), match.isDirectory && !match.isOther);
        }
    }
    if (!search.status().ok()) {
        return search.status();
    }
    return entries;
}

// Removes the directory `relative` with everything below it, one directory
// open at a time however deep; `failedAt` names the path of a failure.
platform::Status RemoveTree(platform::TreeRoot& root, const std::string& relative,
                            std::string& failedAt) {
    std::vector<std::pair<std::string, bool>> pending{{relative, false}};  // (dir, listed)
    while (!pending.empty()) {
        const std::string dir = pending.back().first;
        if (pending.back().second) {
            pending.pop_back();
            if (const platform::Status removed = root.RemoveDirectory(dir); !removed.ok()) {
                failedAt = dir;
                return removed;
            }
            continue;
        }
        pending.back().second = true;
        // A directory kept read-only, as the slave had it, is given back its
        // owner's rights: it is about to go.
        platform::FileInfo info;
        if (root.DescribeName(dir, info).ok() && (info.mode & 0700) != 0700) {
            (void)root.SetMode(dir, (info.mode & 07777) | 0700);
        }
        auto entries = List(root, dir);
        if (!entries.ok()) {
            failedAt = dir;
            return entries.status();
        }
        for (const auto& [name, isDirectory] : *entries) {
            const std::string path = platform::JoinPath(dir, name);
            if (isDirectory) {
                pending.emplace_back(path, false);
            } else if (const platform::Status removed = root.RemoveFile(path); !removed.ok()) {
                failedAt = path;
                return removed;
            }
        }
    }
    return {};
}

// Runs `move`, which moves `relative` away; when it is refused (EACCES) and
// `relative` lacks its owner's write right, which a directory moved to another
// one needs for its "..", runs it once more with that right given, then gives
// the moved entry its bits back through `restore` (or `relative` its own,
// where it stays).
template <typename Move, typename Restore>
platform::Status WithWriteRight(platform::TreeRoot& slave, std::string_view relative, Move move,
                                Restore restore) {
    platform::Status moved = move();
    platform::FileInfo info;
    if (!moved.Is(EACCES) || !slave.DescribeName(relative, info).ok() || (info.mode & 0200) != 0 ||
        !slave.SetMode(relative, (info.mode & 07777) | 0200).ok()) {
        return moved;
    }
    moved = move();
    const auto mode = static_cast<mode_t>(info.mode & 07777);
    (void)(moved.ok() ? restore(mode) : slave.SetMode(relative, mode));
    return moved;
}

// Whether the directory `relative` below `root` is its user's alone.
bool ReachedByOwnerAlone(platform::TreeRoot& root, const std::string& relative) {
    const platform::Result<int> fd = root.OpenDirectory(relative);
    if (!fd.ok()) {
        return false;
    }
    platform::FileInfo info;
    const bool alone = root.Describe(*fd, info).ok() && platform::ReachedByOwnerAlone(info);
    (void)root.Close(*fd);
    return alone;
}

// The name an entry named `name` takes in the trash, its `n`th try: the name,
// then "name.2" and so on, cut (between two characters) where it and its
// ".trashinfo" would be longer than a name can be.
std::string TrashName(std::string_view name, int n) {
    constexpr size_t kLongest = 255 - std::string_view(".trashinfo").size() - 4;  // ".999"
    size_t keep = std::min(name.size(), kLongest);
    while (keep < name.size() && keep > 0 &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    std::string trashName(name.substr(0, keep));
    if (n > 1) {
        trashName += "." + std::to_string(n);
    }
    return trashName;
}

}  // namespace

std::string RunFolderName(std::time_t start) {
    const std::tm local = platform::LocalTime(start);
    char name[80];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d %02d.%02d.%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return name;
}

std::optional<std::time_t> RunFolderTime(std::string_view name) {
    constexpr std::string_view kShape = "dddd-dd-dd dd.dd.dd";
    if (name.size() < kShape.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (kShape[i] == 'd' ? !digit : name[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    // What a second run of the same second adds: " (2)", " (3)", ...
    std::string_view rest = name.substr(kShape.size());
    if (!rest.empty()) {
        if (rest.size() < 4 || !rest.starts_with(" (") || !rest.ends_with(")") || rest[2] == '0' ||
            rest.substr(2, rest.size() - 3).find_first_not_of("0123456789") !=
                std::string_view::npos) {
            return std::nullopt;
        }
    }
    const auto number = [&](size_t at, size_t length) {
        int value = 0;
        for (size_t i = at; i < at + length; ++i) {
            value = value * 10 + (name[i] - '0');
        }
        return value;
    };
    std::tm local{};
    local.tm_year = number(0, 4) - 1900;
    local.tm_mon = number(5, 2) - 1;
    local.tm_mday = number(8, 2);
    local.tm_hour = number(11, 2);
    local.tm_min = number(14, 2);
    local.tm_sec = number(17, 2);
    local.tm_isdst = -1;
    if (local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 || local.tm_hour > 23 ||
        local.tm_min > 59 || local.tm_sec > 60) {
        return std::nullopt;
    }
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return when;
}

platform::Result<int> TargetDirectory::Open(const std::string& dir) {
    if (m_fd >= 0 && m_dir == dir) {
        return m_fd;
    }
    platform::Result<int> fd = m_root.OpenDirectory(dir);
    if (fd.ok() && m_keepOpen) {
        Forget();
        m_fd = *fd;
        m_dir = dir;
    }
    return fd;
}

void TargetDirectory::Release(int fd) {
    if (fd != m_fd) {
        (void)m_root.Close(fd);
    }
}

void TargetDirectory::Forget() {
    if (m_fd >= 0) {
        (void)m_root.Close(m_fd);
        m_fd = -1;
    }
}

Pruned Keeper::Prune(std::time_t now, int keepDays) {
    (void)now;
    (void)keepDays;
    return {};
}

VersionKeeper::VersionKeeper(platform::TreeRoot& slave, std::string versions, std::time_t start)
    : m_slave(slave),
      m_root(slave),
      m_versions(versions),
      m_shown(std::move(versions)),
      m_name(RunFolderName(start)) {}

VersionKeeper::VersionKeeper(platform::TreeRoot& slave,
                             std::unique_ptr<platform::TreeRoot> versions, std::string shown,
                             std::time_t start)
    : m_slave(slave),
      m_ownRoot(std::move(versions)),
      m_root(*m_ownRoot),
      m_shown(std::move(shown)),
      m_name(RunFolderName(start)) {}

std::string VersionKeeper::Folder() const {
    return platform::JoinPath(m_versions, m_name);
}

std::string VersionKeeper::Where() const {
    return platform::JoinPath(m_shown, m_name);
}

std::string VersionKeeper::KeptPath(std::string_view relative) const {
    return platform::JoinPath(
        m_ownRoot != nullptr ? Where() : platform::JoinPath(m_slave.Path(), Where()), relative);
}

Pruned VersionKeeper::Prune(std::time_t now, int keepDays) {
    Pruned pruned = PruneVersions(m_root, m_versions, now, keepDays, m_name);
    pruned.versions = m_ownRoot != nullptr ? m_shown : platform::JoinPath(m_slave.Path(), m_shown);
    return pruned;
}

platform::Status VersionKeeper::MakeRunFolder() {
    if (m_made) {
        return {};
    }
    if (!m_versions.empty()) {
        if (const platform::Status made = m_root.MakeDirectory(m_versions, 0700);
            !made.ok() && !made.Is(EEXIST)) {
            return made;
        }
    }
    const std::string base = m_name;
    for (int second = 2;; ++second) {
        const platform::Status made = m_root.MakeDirectory(Folder(), 0700);
        if (made.ok()) {
            m_made = true;
            // The run's folder is its user's alone unless its file system
            // keeps no such bits (FAT) or the superuser made it for another.
            m_target.KeepOpen(ReachedByOwnerAlone(m_root, Folder()));
            return {};
        }
        // Another run of the same second made this one: it keeps it to itself.
        if (!made.Is(EEXIST) || second > 999) {
            return made;
        }
        m_name = base + " (" + std::to_string(second) + ")";
    }
}

platform::Status VersionKeeper::MakeParents(std::string_view relativeDir) {
    for (size_t end = 0; end != std::string_view::npos;) {
        end = relativeDir.find(platform::kSeparator, end + 1);
        const std::string_view dir = relativeDir.substr(0, end);
        platform::FileInfo info;
        const mode_t mode = m_slave.DescribeName(dir, info).ok() ? (info.mode & 0777) : 0777;
        // Its owner keeps every right, so that pruning can empty it.
        const platform::Status made =
            m_root.MakeDirectory(platform::JoinPath(Folder(), dir), mode | 0700);
        if (!made.ok() && !made.Is(EEXIST)) {
            return made;
        }
    }
    return {};
}

platform::Status VersionKeeper::MoveTo(std::string_view relative, const std::string& target,
                                       std::string_view successor, bool& moved) {
    moved = false;
    const platform::Result<int> dir = m_target.Open(std::string(platform::DirectoryOf(target)));
    if (!dir.ok()) {
        m_blame = KeptPath("");
        return dir.status();
    }
    const platform::Status status = m_slave.MoveInto(
        relative, *dir, target.substr(target.rfind(platform::kSeparator) + 1), successor, moved);
    m_target.Release(*dir);
    return status;
}

platform::Status VersionKeeper::Keep(std::string_view relative, std::string_view successor,
                                     bool& moved) {
    m_blame.clear();
    if (const platform::Status made = MakeRunFolder(); !made.ok()) {
        m_blame = KeptPath("");
        return made;
    }
    const std::string target = platform::JoinPath(Folder(), relative);
    const auto move = [&] {
        platform::Status status = MoveTo(relative, target, successor, moved);
        const std::string_view dir = platform::DirectoryOf(relative);
        // The run's folder lacks the directories above it the first time.
        if (!moved && status.Is(ENOENT) && !dir.empty() && m_slave.NameExists(relative)) {
            m_target.Forget();
            if (const platform::Status made = MakeParents(dir); !made.ok()) {
                m_blame = KeptPath("");
                return made;
            }
            status = MoveTo(relative, target, successor, moved);
        }
        return status;
    };
    if (!successor.empty()) {
        return move();  // a file: its own bits do not matter to a rename
    }
    return WithWriteRight(m_slave, relative, move,
                          [&](mode_t mode) { return m_root.SetMode(target, mode); });
}

TrashKeeper::TrashKeeper(platform::TreeRoot& slave, std::unique_ptr<platform::TreeRoot> trash,
                         std::string slaveShown)
    : m_slave(slave), m_trash(std::move(trash)), m_slaveShown(std::move(slaveShown)) {
    m_files.KeepOpen(ReachedByOwnerAlone(*m_trash, ""));
}

std::string TrashKeeper::KeptPath(std::string_view relative) const {
    (void)relative;
    return platform::JoinPath(m_trash->Path() + "/files", m_lastName);
}

platform::Status TrashKeeper::Keep(std::string_view relative, std::string_view successor,
                                   bool& moved) {
    moved = false;
    const std::string_view name = relative.substr(relative.rfind(platform::kSeparator) + 1);
    const std::string info =
        platform::TrashInfo(platform::JoinPath(m_slaveShown, relative), std::time(nullptr));
    // The name in the trash: the entry's own, or with ".2", ".3" and so on when
    // the trash holds one already; its .trashinfo, made exclusively, claims it.
    for (int n = 1; n < 1000; ++n) {
        const std::string trashName = TrashName(name, n);
        const std::string infoName = "info/" + trashName + ".trashinfo";
        const platform::Result<int> fd = m_trash->CreateExclusive(infoName, 0600);
        if (!fd.ok() && fd.status().Is(EEXIST)) {
            continue;
        }
        if (!fd.ok()) {
            return fd.status();
        }
        platform::Status written = m_trash->WriteAll(*fd, info.data(), info.size());
        const platform::Status closed = m_trash->Close(*fd);
        if (written.ok()) {
            written = closed;
        }
        if (written.ok()) {
            const std::string trashed = "files/" + trashName;
            const auto move = [&] {
                const platform::Result<int> files = m_files.Open("files");
                if (!files.ok()) {
                    return files.status();
                }
                const platform::Status status =
                    m_slave.MoveInto(relative, *files, trashName, successor, moved);
                m_files.Release(*files);
                return status;
            };
            // A file's own bits do not matter to a rename; a directory's do.
            written = !successor.empty()
                          ? move()
                          : WithWriteRight(m_slave, relative, move, [&](mode_t mode) {
                                return m_trash->SetMode(trashed, mode);
                            });
        }
        if (written.ok() || moved) {
            m_lastName = trashName;
            return written;
        }
        (void)m_trash->RemoveFile(infoName);
        if (!written.Is(EEXIST)) {  // a file without its .trashinfo has that name
            return written;
        }
    }
    return platform::Status::Failed("renameat2", EEXIST);
}

Pruned PruneVersions(platform::TreeRoot& slave, const std::string& versions, std::time_t now,
                     int keepDays, const std::string& spared) {
    Pruned pruned;
    auto entries = List(slave, versions);
    if (!entries.ok()) {
        if (!entries.status().Is(ENOENT)) {  // no versions folder: nothing to prune
            pruned.failure = entries.status();
            pruned.failedAt.clear();  // the versions folder itself
        }
        return pruned;
    }
    std::vector<std::pair<std::time_t, std::string>> old;
    const std::time_t limit = now - static_cast<std::time_t>(keepDays) * 86400;
    for (const auto& [name, isDirectory] : *entries) {
        const std::optional<std::time_t> when = RunFolderTime(name);
        if (isDirectory && when && *when < limit && name != spared) {
            old.emplace_back(*when, name);
        }
    }
    std::sort(old.begin(), old.end());
    for (const auto& [when, name] : old) {
        const std::string path = platform::JoinPath(versions, name);
        pruned.failure = RemoveTree(slave, path, pruned.failedAt);
        if (!pruned.failure.ok()) {
            pruned.failedAt.erase(0, versions.empty() ? 0 : versions.size() + 1);
            break;
        }
        pruned.removed.push_back(name);
    }
    return pruned;
}

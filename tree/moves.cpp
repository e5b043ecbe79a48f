#include "tree/moves.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// Files are compared in blocks of this size: 4 MiB reads each take about 1 ms
// from the page cache and a few from a disk, so a stop lands soon after.
constexpr size_t kCompareBlock = size_t{4} << 20;

// Files that may have moved are compared on another thread for each this many
// pairs: a few pairs are not worth starting one.
constexpr size_t kPairsPerThread = 64;

// Reads up to `size` bytes into `buffer`, fewer only at the end of the file.
platform::Result<size_t> ReadBlock(platform::TreeRoot& root, int fd, char* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        const platform::Result<size_t> n = root.Read(fd, buffer + got, size - got);
        if (!n.ok()) {
            return n;
        }
        if (*n == 0) {
            break;
        }
        got += *n;
    }
    return got;
}

// Compares files as SameContent does, in two buffers kept from one file to
// the next, and adds every byte it reads to a count others may read meanwhile.
class ContentComparer {
public:
    ContentComparer(const std::atomic<bool>* stop, std::atomic<std::uint64_t>* read)
        : m_stop(stop), m_read(read) {}

    bool Same(platform::TreeRoot& master, std::string_view masterRelative,
              platform::TreeRoot& slave, std::string_view slaveRelative, std::uint64_t size,
              platform::FileInfo& slaveInfo) {
        platform::FileInfo masterInfo;
        const platform::Result<int> from = master.OpenForRead(masterRelative, masterInfo);
        if (!from.ok()) {
            return false;
        }
        const platform::Result<int> to = slave.OpenForRead(slaveRelative, slaveInfo);
        bool same = to.ok() && static_cast<std::uint64_t>(masterInfo.size) == size &&
                    static_cast<std::uint64_t>(slaveInfo.size) == size;
        if (same) {
            const size_t block = static_cast<size_t>(std::min<std::uint64_t>(size, kCompareBlock));
            if (m_a.size() < block) {
                // Grown, never shrunk: one file of each size class costs the
                // allocation, not every file.
                m_a.resize(block);
                m_b.resize(block);
            }
            for (std::uint64_t left = size; same && left > 0;) {
                const size_t want = static_cast<size_t>(std::min<std::uint64_t>(left, block));
                const platform::Result<size_t> na = ReadBlock(master, *from, m_a.data(), want);
                const platform::Result<size_t> nb = ReadBlock(slave, *to, m_b.data(), want);
                if (m_read != nullptr) {
                    m_read->fetch_add((na.ok() ? *na : 0) + (nb.ok() ? *nb : 0),
                                      std::memory_order_relaxed);
                }
                same = na.ok() && nb.ok() && *na == want && *nb == want &&
                       std::memcmp(m_a.data(), m_b.data(), want) == 0 &&
                       (m_stop == nullptr || !m_stop->load(std::memory_order_relaxed));
                left -= want;
            }
        }
        if (to.ok()) {
            (void)slave.Close(*to);
        }
        (void)master.Close(*from);
        return same;
    }

private:
    const std::atomic<bool>* m_stop;
    std::atomic<std::uint64_t>* m_read;
    std::vector<char> m_a;
    std::vector<char> m_b;
};

// Paths asked what lies at or below them, and what lies below them.
class PathTree {
public:
    void Add(std::string path) { m_paths.insert(std::move(path)); }
    bool Empty() const { return m_paths.empty(); }
    // True when `path` is one of them or lies below one.
    bool Covers(std::string_view path) const {
        if (m_paths.empty()) {
            return false;
        }
        if (m_paths.count(path) != 0) {
            return true;
        }
        for (size_t i = path.find(platform::kSeparator); i != std::string_view::npos;
             i = path.find(platform::kSeparator, i + 1)) {
            if (m_paths.count(path.substr(0, i)) != 0) {
                return true;
            }
        }
        return false;
    }
    // True when one of them lies at or below `dir`.
    bool Inside(std::string_view dir) const {
        std::string prefix(dir);
        prefix.push_back(platform::kSeparator);
        const auto next = m_paths.lower_bound(prefix);
        return m_paths.count(dir) != 0 || (next != m_paths.end() && next->starts_with(prefix));
    }

private:
    std::set<std::string, std::less<>> m_paths;
};

// One side's entry that may take part in a move.
struct Side {
    CAction* action;
    const CFileEntry* entry;
    size_t index;      // in its list
    std::string path;  // relative to its root; a file's only where a mount point asked for it
};

// A master file and a slave file, each the other's only twin: one file moved
// when their bytes are the same. `slaveInfo` is what opening the slave's told
// of it.
struct FilePair {
    const Side* master;
    const Side* slave;
    bool same;
    platform::FileInfo slaveInfo;
};

// The path of `entry` relative to the root its list was scanned from.
std::string RelativePath(const CFileEntry& entry, size_t rootLength) {
    return JoinPieces(entry.RelativePieces(rootLength));
}

// Whether `entry` lies below the directory whose key (the path of the entries
// in it) is `dirKey`; `below` is then its holder's path past that key, "" for
// an entry in the directory itself.
bool LiesBelow(const CFileEntry& entry, std::string_view dirKey, std::string_view& below) {
    const std::string& holder = entry.GetDirPath();
    if (!holder.starts_with(dirKey) ||
        (holder.size() != dirKey.size() && holder[dirKey.size()] != platform::kSeparator)) {
        return false;
    }
    below = std::string_view(holder).substr(dirKey.size());
    return true;
}

// The first index from `from` on whose entry's key sorts at or after
// `bound` with letter case folded: the list stands in ComparePaths' order,
// which folds case first.
size_t FirstFoldedAtOrAfter(const CFileList& list, size_t from, const std::string& bound) {
    const platform::PathPieces pieces{{bound, {}, {}}};
    const auto first =
        std::partition_point(list.begin() + static_cast<std::ptrdiff_t>(from), list.end(),
                             [&pieces](const std::unique_ptr<CFileEntry>& e) {
                                 return platform::ComparePaths(e->KeyPieces(), pieces,
                                                               platform::NameMatch::IgnoreCase) < 0;
                             });
    return static_cast<size_t>(first - list.begin());
}

// What a folder's subtree is, for finding its twin: a hash of every entry's
// name below it, kind, size and time, and whether it may move whole.
struct Subtree {
    std::uint64_t hash = 0;
    size_t begin = 0;  // the list index of its first entry
    size_t end = 0;    // and after its last
    std::uint64_t bytes = 0;
    bool eligible = false;
};

class MovePlanner {
public:
    MovePlanner(CActionList& actions, const MoveSearch& search, const std::atomic<bool>* stop)
        : m_actions(actions), m_search(search), m_stop(stop), m_compare(stop, search.compared) {
        for (const std::string& mount : search.masterList.mountPoints) {
            m_masterMounts.Add(mount);
        }
        for (const std::string& mount : search.slaveList.mountPoints) {
            m_slaveMounts.Add(mount);
        }
        for (const std::string& dir : search.masterList.holdingOthers) {
            m_masterHolders.Add(dir);
        }
        for (const std::string& dir : search.slaveList.holdingOthers) {
            m_slaveHolders.Add(dir);
        }
    }

    std::vector<FolderMove> Folders(const FolderCandidates& candidates) {
        // A master entry below one of the slave's mount points would be renamed
        // onto another file system, which a rename never reaches.
        const std::vector<Side> masterDirs =
            Dirs(candidates.masterDirs, m_search.masterList, m_search.masterRootLength,
                 m_masterMounts, m_slaveMounts);
        const std::vector<Side> slaveDirs =
            Dirs(candidates.slaveDirs, m_search.slaveList, m_search.slaveRootLength, m_slaveMounts,
                 PathTree());
        if (!masterDirs.empty() && !slaveDirs.empty()) {
            PairFolders(masterDirs, slaveDirs, candidates);
        }
        return std::move(m_folders);
    }

    size_t Files(const MoveCandidates& candidates) {
        std::vector<Side> masterFiles, slaveFiles;
        Files(candidates.master, m_search.masterList, m_search.masterRootLength, m_masterMounts,
              m_slaveMounts, masterFiles);
        Files(candidates.slave, m_search.slaveList, m_search.slaveRootLength, m_slaveMounts,
              PathTree(), slaveFiles);
        if (!masterFiles.empty() && !slaveFiles.empty()) {
            PairFiles(masterFiles, slaveFiles);
        }
        Rewrite();
        return m_moves.size();
    }

private:
    bool Stopped() const { return m_stop != nullptr && m_stop->load(std::memory_order_relaxed); }

    // The directories at `indices` of `list`, but those at or below a mount
    // point of its own or of `targetMounts`.
    static std::vector<Side> Dirs(const std::vector<size_t>& indices, const CFileList& list,
                                  size_t rootLength, const PathTree& mounts,
                                  const PathTree& targetMounts) {
        std::vector<Side> dirs;
        for (const size_t i : indices) {
            std::string path = RelativePath(*list[i], rootLength);
            if (!mounts.Covers(path) && !targetMounts.Covers(path)) {
                dirs.push_back({nullptr, list[i].get(), i, std::move(path)});
            }
        }
        return dirs;
    }

    // Takes from one side's candidates the files that are not empty, but
    // those below a mount point of its own or of `targetMounts`. A file's
    // path is made only when it is compared.
    static void Files(const std::vector<MoveCandidates::Candidate>& from, const CFileList& list,
                      size_t rootLength, const PathTree& mounts, const PathTree& targetMounts,
                      std::vector<Side>& files) {
        for (const MoveCandidates::Candidate& c : from) {
            const CFileEntry* entry = list[c.entry].get();
            if (entry->IsDirectory() || entry->GetSize() == 0) {
                continue;
            }
            std::string path;
            if (!mounts.Empty() || !targetMounts.Empty()) {
                path = RelativePath(*entry, rootLength);
                if (mounts.Covers(path) || targetMounts.Covers(path)) {
                    continue;
                }
            }
            files.push_back({c.action, entry, c.entry, std::move(path)});
        }
    }

    // The time as compared: to the slave's step, where it keeps times in one.
    std::uint64_t TimeKey(platform::FileTime time) const {
        return m_search.slaveTimeStep == 0 ? time : time / m_search.slaveTimeStep;
    }
    bool SameTime(platform::FileTime master, platform::FileTime slave) const {
        const platform::FileTime step = m_search.slaveTimeStep;
        return step == 0 ? master == slave : master < slave + step && slave < master + step;
    }

    // The subtree below the directory `dir` (at `dir.index` of `list`). Its
    // entries are told by their holders' paths, which siblings share: no path
    // is joined for an entry below.
    Subtree Describe(const CFileList& list, const Side& dir, size_t rootLength,
                     const PathTree& mounts, const PathTree& holders,
                     const std::vector<bool>& isCandidate) const {
        const std::string key = dir.entry->GetKey();
        Subtree tree;
        tree.eligible = !dir.entry->HasUnknownContents() && !dir.entry->IsExcluded();
        bool anyBytes = false;
        std::uint64_t hash = 14695981039346656037ULL;
        const auto mix = [&hash](std::uint64_t value) { hash = (hash ^ value) * 1099511628211ULL; };
        // What lies below stands together, but not always right after the
        // directory: a sibling named as it is followed by a byte that sorts
        // before the separator ("photos 2", "photos.zip") stands between,
        // with all below it. A case twin's entries stand among its own.
        tree.begin = FirstFoldedAtOrAfter(list, dir.index + 1, key + platform::kSeparator);
        tree.end = FirstFoldedAtOrAfter(list, tree.begin,
                                        key + static_cast<char>(platform::kSeparator + 1));
        std::string_view below;
        for (size_t i = tree.begin; i < tree.end; ++i) {
            const CFileEntry& e = *list[i];
            if (!LiesBelow(e, key, below)) {
                tree.eligible = false;  // a case twin's: the rename would not take it
                continue;
            }
            // Everything below must have its action here, and be readable whole.
            if (e.IsExcluded() || e.HasUnknownContents() || !isCandidate[i] ||
                (!mounts.Empty() && mounts.Covers(RelativePath(e, rootLength)))) {
                tree.eligible = false;
            }
            mix(std::hash<std::string_view>{}(below));
            mix(std::hash<std::string_view>{}(e.GetName()));
            mix(e.IsDirectory() ? 1 : 0);
            mix(e.GetSize());
            mix(e.IsDirectory() ? 0 : TimeKey(e.GetLastWriteTime()));
            tree.bytes += e.GetSize();
            anyBytes = anyBytes || e.GetSize() > 0;
        }
        tree.hash = hash;
        // A link the scan skipped would travel with the folder to a path the
        // master does not have.
        tree.eligible =
            tree.eligible && anyBytes && !mounts.Inside(dir.path) && !holders.Inside(dir.path);
        return tree;
    }

    // True when the subtrees below master directory `m` and slave directory
    // `s` hold the same names, kinds, sizes and times, entry by entry.
    bool SameSubtree(const Side& m, const Subtree& mt, const Side& s, const Subtree& st) const {
        if (mt.end - mt.begin != st.end - st.begin) {
            return false;
        }
        const CFileList& ml = m_search.masterList;
        const CFileList& sl = m_search.slaveList;
        const std::string mk = m.entry->GetKey();
        const std::string sk = s.entry->GetKey();
        for (size_t k = 0; mt.begin + k < mt.end; ++k) {
            const CFileEntry& a = *ml[mt.begin + k];
            const CFileEntry& b = *sl[st.begin + k];
            // Each lies below its directory (Describe): the same path below it
            // is the same holder's path past the directory's key, and the same name.
            if (std::string_view(a.GetDirPath()).substr(mk.size()) !=
                    std::string_view(b.GetDirPath()).substr(sk.size()) ||
                a.GetName() != b.GetName() || a.IsDirectory() != b.IsDirectory() ||
                a.GetSize() != b.GetSize() ||
                (!a.IsDirectory() && !SameTime(a.GetLastWriteTime(), b.GetLastWriteTime()))) {
                return false;
            }
        }
        return true;
    }

    void PairFolders(const std::vector<Side>& masterDirs, const std::vector<Side>& slaveDirs,
                     const FolderCandidates& candidates) {
        std::vector<Subtree> masterTrees, slaveTrees;
        std::unordered_map<std::uint64_t, std::vector<size_t>> masterByHash, slaveByHash;
        for (const Side& d : masterDirs) {
            masterTrees.push_back(Describe(m_search.masterList, d, m_search.masterRootLength,
                                           m_masterMounts, m_masterHolders, candidates.master));
            if (masterTrees.back().eligible) {
                masterByHash[masterTrees.back().hash].push_back(masterTrees.size() - 1);
            }
        }
        for (const Side& d : slaveDirs) {
            slaveTrees.push_back(Describe(m_search.slaveList, d, m_search.slaveRootLength,
                                          m_slaveMounts, m_slaveHolders, candidates.slave));
            if (slaveTrees.back().eligible) {
                slaveByHash[slaveTrees.back().hash].push_back(slaveTrees.size() - 1);
            }
        }
        // The master's directories in list order: an outer one before those
        // inside it, which then go with it.
        for (size_t k = 0; k < masterDirs.size() && !Stopped(); ++k) {
            const auto mine = masterByHash.find(masterTrees[k].hash);
            const auto theirs = slaveByHash.find(masterTrees[k].hash);
            if (mine == masterByHash.end() || mine->second.size() != 1 ||
                theirs == slaveByHash.end() || theirs->second.size() != 1) {
                continue;
            }
            const Side& m = masterDirs[k];
            const Side& s = slaveDirs[theirs->second[0]];
            const Subtree& st = slaveTrees[theirs->second[0]];
            if (m_pairedMaster.Covers(m.path) || m_pairedSlave.Covers(s.path) ||
                m_pairedSlave.Inside(s.path) || !SameSubtree(m, masterTrees[k], s, st)) {
                continue;
            }
            platform::FileInfo info;
            if (!m_search.slave.DescribeName(s.path, info).ok()) {
                continue;
            }
            m_pairedMaster.Add(m.path);
            m_pairedSlave.Add(s.path);
            m_folders.push_back(
                {m.index,
                 masterTrees[k].begin,
                 masterTrees[k].end,
                 s.index,
                 st.begin,
                 st.end,
                 s.path,
                 {0, info.lastWrite, info.lastChange, info.device, info.inode, true},
                 masterTrees[k].bytes});
        }
    }

    void PairFiles(const std::vector<Side>& masterFiles, const std::vector<Side>& slaveFiles) {
        // (size, time) to the indices of each side's files; a slave that keeps
        // times in steps has a master time's twin in the bucket of the time or
        // in one next to it.
        struct KeyHash {
            size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& k) const {
                return std::hash<std::uint64_t>{}(k.first * 1000003ULL ^ k.second);
            }
        };
        using Buckets = std::unordered_map<std::pair<std::uint64_t, std::uint64_t>,
                                           std::vector<size_t>, KeyHash>;
        Buckets masterBuckets, slaveBuckets;
        const auto fill = [&](const std::vector<Side>& files, Buckets& buckets) {
            for (size_t k = 0; k < files.size(); ++k) {
                buckets[{files[k].entry->GetSize(), TimeKey(files[k].entry->GetLastWriteTime())}]
                    .push_back(k);
            }
        };
        fill(masterFiles, masterBuckets);
        fill(slaveFiles, slaveBuckets);
        // The files of `other` that could be the twin of `entry`, two at most:
        // a second one already rules a pair out, and a tree unpacked with one
        // time for all its files must not cost its square.
        const auto twins = [&](const CFileEntry& entry, const Buckets& buckets,
                               const std::vector<Side>& other, bool entryIsMaster) {
            std::vector<size_t> found;
            const std::uint64_t key = TimeKey(entry.GetLastWriteTime());
            const bool stepped = m_search.slaveTimeStep != 0;
            for (std::uint64_t b = stepped && key > 0 ? key - 1 : key; b <= key + (stepped ? 1 : 0);
                 ++b) {
                const auto it = buckets.find({entry.GetSize(), b});
                if (it == buckets.end()) {
                    continue;
                }
                for (const size_t k : it->second) {
                    if (found.size() > 1) {
                        return found;
                    }
                    const CFileEntry& o = *other[k].entry;
                    if (entryIsMaster ? SameTime(entry.GetLastWriteTime(), o.GetLastWriteTime())
                                      : SameTime(o.GetLastWriteTime(), entry.GetLastWriteTime())) {
                        found.push_back(k);
                    }
                }
            }
            return found;
        };
        // The pairs first, in the master's list order: which are compared
        // together, and the moves' order, do not hang on the buckets' order.
        std::vector<FilePair> pairs;
        for (const auto& [key, indices] : masterBuckets) {
            for (const size_t k : indices) {
                if (Stopped()) {
                    return;
                }
                const Side& m = masterFiles[k];
                const std::vector<size_t> slaveTwins =
                    twins(*m.entry, slaveBuckets, slaveFiles, true);
                if (slaveTwins.size() != 1) {
                    continue;
                }
                const Side& s = slaveFiles[slaveTwins[0]];
                if (twins(*s.entry, masterBuckets, masterFiles, false).size() != 1) {
                    continue;
                }
                pairs.push_back({&m, &s, false, {}});
            }
        }
        std::sort(pairs.begin(), pairs.end(), [](const FilePair& a, const FilePair& b) {
            return a.master->index < b.master->index;
        });
        ComparePairs(pairs);
        for (const FilePair& pair : pairs) {
            if (!pair.same) {
                continue;  // different, unreadable, or not compared whole before a stop
            }
            const Side& m = *pair.master;
            const platform::FileInfo& info = pair.slaveInfo;
            Planned move{m.action, pair.slave->action, {}, m.entry->GetSize()};
            move.source = {static_cast<std::uint64_t>(info.size),
                           info.lastWrite,
                           info.lastChange,
                           info.device,
                           info.inode,
                           false};
            m_moves.push_back(std::move(move));
        }
    }

    // Compares the bytes of every pair, on as many threads as the copies
    // take, each taking the next pair not yet taken and reading through its
    // own comparer's buffers; a few pairs are compared on this thread alone.
    // Both roots are shared: OpenForRead, Read and Close keep nothing of the
    // root's between calls (each resolves its way from the root's directory
    // anew), as the copier's workers rely on too. A thread that cannot be
    // had leaves the pairs to those there are, this one at least. After a
    // stop no pair is taken, and one under way is not found the same.
    void ComparePairs(std::vector<FilePair>& pairs) {
        std::atomic<size_t> next{0};
        const auto compare = [this, &pairs, &next](ContentComparer& comparer) {
            for (size_t i = next.fetch_add(1, std::memory_order_relaxed);
                 i < pairs.size() && !Stopped(); i = next.fetch_add(1, std::memory_order_relaxed)) {
                FilePair& pair = pairs[i];
                const Side& m = *pair.master;
                const Side& s = *pair.slave;
                const std::string masterPath =
                    m.path.empty() ? RelativePath(*m.entry, m_search.masterRootLength) : m.path;
                const std::string slavePath =
                    s.path.empty() ? RelativePath(*s.entry, m_search.slaveRootLength) : s.path;
                pair.same = comparer.Same(m_search.master, masterPath, m_search.slave, slavePath,
                                          m.entry->GetSize(), pair.slaveInfo);
            }
        };
        const size_t threads = std::min<size_t>(
            std::max(m_search.threads, 1u), std::max<size_t>(1, pairs.size() / kPairsPerThread));
        std::vector<std::thread> helpers;
        helpers.reserve(threads - 1);
        for (size_t t = 1; t < threads; ++t) {
            try {
                helpers.emplace_back([this, &compare] {
                    ContentComparer own(m_stop, m_search.compared);
                    compare(own);
                });
            } catch (const std::system_error&) {
                break;  // the threads there are will do
            }
        }
        compare(m_compare);
        for (std::thread& helper : helpers) {
            helper.join();
        }
    }

    // Each move takes the place of its master side's action in the plan; its
    // slave side's action leaves the plan, and both are kept in it, the
    // creation first: made before the source goes.
    void Rewrite() {
        if (m_moves.empty()) {
            return;
        }
        std::unordered_map<const CAction*, size_t> slots;
        slots.reserve(2 * m_moves.size());
        for (const Planned& move : m_moves) {
            slots.emplace(move.masterSide, 0);
            slots.emplace(move.slaveSide, 0);
        }
        for (size_t i = 0; i < m_actions.size(); ++i) {
            if (const auto it = slots.find(m_actions[i].get()); it != slots.end()) {
                it->second = i;
            }
        }
        for (Planned& move : m_moves) {
            const size_t at = slots.at(move.masterSide);
            std::vector<std::unique_ptr<CAction>> replaced;
            replaced.push_back(std::move(m_actions[at]));
            replaced.push_back(std::move(m_actions[slots.at(move.slaveSide)]));
            // The raw pointers still lead to the actions, now in `replaced`.
            auto action = std::make_unique<CAction>(move.masterSide->GetMasterPath(),
                                                    move.slaveSide->GetSlavePath(), ACTION_MOVE);
            action->MakeMove(move.source, move.bytes, std::move(replaced));
            m_actions[at] = std::move(action);
        }
        std::erase(m_actions, nullptr);
    }

    // A file moved: its two sides' actions.
    struct Planned {
        CAction* masterSide;
        CAction* slaveSide;
        MoveSource source;
        std::uint64_t bytes;
    };

    CActionList& m_actions;
    const MoveSearch& m_search;
    const std::atomic<bool>* m_stop;
    PathTree m_masterMounts;
    PathTree m_slaveMounts;
    PathTree m_masterHolders;  // directories holding entries their lists lack
    PathTree m_slaveHolders;
    PathTree m_pairedMaster;  // folders moved whole
    PathTree m_pairedSlave;
    std::vector<FolderMove> m_folders;
    ContentComparer m_compare;
    std::vector<Planned> m_moves;
};

}  // namespace

bool SameContent(platform::TreeRoot& master, std::string_view masterRelative,
                 platform::TreeRoot& slave, std::string_view slaveRelative, std::uint64_t size,
                 platform::FileInfo& slaveInfo, const std::atomic<bool>* stop,
                 std::atomic<std::uint64_t>* read) {
    return ContentComparer(stop, read)
        .Same(master, masterRelative, slave, slaveRelative, size, slaveInfo);
}

std::vector<FolderMove> FindFolderMoves(const FolderCandidates& candidates,
                                        const MoveSearch& search, const std::atomic<bool>* stop) {
    if (candidates.masterDirs.empty() || candidates.slaveDirs.empty()) {
        return {};
    }
    CActionList none;
    return MovePlanner(none, search, stop).Folders(candidates);
}

size_t PlanMoves(CActionList& actions, const MoveCandidates& candidates, const MoveSearch& search,
                 const std::atomic<bool>* stop) {
    if (candidates.master.empty() || candidates.slave.empty()) {
        return 0;
    }
    return MovePlanner(actions, search, stop).Files(candidates);
}

#include "tree/scanner.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/dir_search.h"
#include "platform/file_ops.h"
#include "platform/tree_root.h"
#include "tree/exclusions.h"

namespace {

// A directory whose listing failed or broke off as `failure` says (ok for one
// that is not entered by choice); for the root, the whole list.
void MarkUnknown(CFileEntry* entry, std::string_view relative, const platform::Status& failure,
                 CFileList* fileList) {
    if (entry != nullptr) {
        entry->MarkContentsUnknown();
    } else {
        fileList->rootContentsUnknown = true;
    }
    if (!failure.ok()) {
        fileList->unreadable.push_back({std::string(relative), failure});
    }
}

// One place in the stretch of the list that a directory's contents take: one
// of its entries or, for each subdirectory, everything below that one.
struct Place {
    CFileEntry* entry;
    std::uint32_t entryIndex;    // the entry's index in its level's `owned`
    std::uint32_t foldedAt;      // where its folded name starts in its level's `folded`
    std::uint32_t foldedLength;  // of that name, one more for what lies below
    bool isContents;             // the place of what lies below the directory `entry`
};

// The entries of one directory, or of directories whose names are equal once
// folded, until each has its turn in the list.
struct Level {
    std::vector<std::unique_ptr<CFileEntry>> owned;
    std::vector<Place> places;  // in the list's order, once read
    std::string folded;         // every name folded, each followed by a separator
    size_t next = 0;
};

// The order of places. Every key below a directory starts with the
// directory's key and one separator, and no name holds a separator, so what
// lies below a directory is one unbroken stretch of the list, placed as if
// its name were followed by the separator: "a", "a.txt", then "a/x". Only
// directories whose names are equal once folded (Abc and abc) share their
// stretch, as their keys interleave. The folded names lie side by side, so a
// comparison is one memcmp, however many names a directory holds.
int CompareFolded(const std::string& folded, const Place& a, const Place& b) {
    const int c = std::memcmp(folded.data() + a.foldedAt, folded.data() + b.foldedAt,
                              std::min(a.foldedLength, b.foldedLength));
    return c != 0 ? c
                  : (a.foldedLength == b.foldedLength ? 0
                                                      : (a.foldedLength < b.foldedLength ? -1 : 1));
}

// How often a scan looks at its stop within a directory (it looks before each
// directory too): every this many entries of its listing, and every this many
// comparisons while a large one is sorted. Reading 4,096 entries takes 2 to
// 10 ms (an fstatat each); the look is one relaxed load.
constexpr std::uint32_t kStopEvery = 4096;

// Thrown inside a scan when its stop is seen, and caught where the walk began:
// a stop must land within a directory of millions of entries too, which is
// read and then sorted in one piece.
struct ScanStopped {};

// One scan, in named steps: read a directory, place its entries, walk down.
class Scan {
public:
    Scan(platform::TreeRoot& root, CFileList& fileList, const std::atomic<bool>* stop,
         Exclusions* exclusions, OtherEntries others)
        : m_root(root),
          m_fileList(fileList),
          m_rootLength(root.Path().size()),
          m_stop(stop),
          m_exclusions(exclusions),
          m_others(others) {
        // Directories on which another file system (or a bind mount) is mounted:
        // rare, and each looked at before it is entered.
        // Those that cannot be known are taken for none.
        m_fileList.mountPoints = root.MountPointsBelow().ValueOr({});
        m_mounts.insert(m_fileList.mountPoints.begin(), m_fileList.mountPoints.end());
    }

    // Walks the whole tree; false when it was stopped. What had been read by
    // then is left in the list, in no order, to be thrown away with it.
    bool Walk() {
        try {
            WalkDown();
            return true;
        } catch (const ScanStopped&) {
            m_search.Close();
            for (Level& level : m_levels) {
                for (std::unique_ptr<CFileEntry>& entry : level.owned) {
                    if (entry != nullptr) {
                        m_fileList.push_back(std::move(entry));
                    }
                }
            }
            return false;
        }
    }

private:
    // Throws ScanStopped once the stop has been asked.
    void StopIfAsked() const {
        if (m_stop != nullptr && m_stop->load(std::memory_order_relaxed)) {
            throw ScanStopped{};
        }
    }

    // The walk goes down in the list's order, so each entry is appended at its
    // place: no sort of a million keys afterwards, nor a buffer of their folded
    // copies, only the sort of each directory's few names as it is read.
    void WalkDown() {
        StopIfAsked();
        Read(SharedDirPath(m_root.Path()), nullptr, m_levels[0]);
        SortPlaces(m_levels[0]);
        size_t depth = 1;
        while (depth > 0) {
            Level& level = m_levels[depth - 1];
            if (level.next == level.places.size()) {
                level.owned.clear();
                level.places.clear();
                level.folded.clear();
                level.next = 0;
                --depth;
                continue;
            }
            const Place place = level.places[level.next++];
            if (!place.isContents) {
                m_fileList.push_back(std::move(level.owned[place.entryIndex]));
                continue;
            }
            StopIfAsked();
            ReadContents(place, depth);
            ++depth;
        }
    }

    // Sorts the places of `level`, the entries of one directory (or of twins)
    // as read; a large one looks at the stop as it goes. A sort broken off
    // loses nothing: the places only point at the entries, which `owned` holds.
    void SortPlaces(Level& level) {
        const auto before = [&level](const Place& a, const Place& b) {
            const int folded = CompareFolded(level.folded, a, b);
            if (folded != 0 || a.isContents) {
                return folded < 0;
            }
            // Names equal once folded: the keys' bytes decide, as in the list.
            return platform::ComparePaths(a.entry->KeyPieces(), b.entry->KeyPieces()) < 0;
        };
        if (m_stop == nullptr || level.places.size() < kStopEvery) {
            std::sort(level.places.begin(), level.places.end(), before);
            return;
        }
        std::uint32_t compared = 0;
        std::sort(level.places.begin(), level.places.end(), [&](const Place& a, const Place& b) {
            if (++compared % kStopEvery == 0) {
                StopIfAsked();
            }
            return before(a, b);
        });
    }

    // Reads what lies below the directory of `place`, at level `depth`, into
    // the level below. Directories equal once folded come one after the other;
    // their entries are placed together.
    void ReadContents(Place place, size_t depth) {
        if (depth == m_levels.size()) {
            m_levels.emplace_back();  // may move the levels
        }
        Level& below = m_levels[depth];
        for (;;) {
            const std::string& holder = place.entry->GetDirPath();
            const std::string& name = place.entry->GetName();
            std::string path;
            path.reserve(holder.size() + 1 + name.size());
            path.append(holder).push_back(platform::kSeparator);
            path.append(name);
            Read(SharedDirPath(std::move(path)), place.entry, below);
            Level& above = m_levels[depth - 1];
            if (above.next == above.places.size() || !above.places[above.next].isContents ||
                CompareFolded(above.folded, above.places[above.next], place) != 0) {
                break;
            }
            place = above.places[above.next++];
        }
        SortPlaces(below);
    }

    // Reads one directory whole into `level`, then closes it, so a deep tree
    // never holds more than one directory open. Every directory below the root
    // is opened beneath the root's handle and through no symbolic link, so a
    // directory swapped for a link mid-scan cannot pull another tree in.
    void Read(SharedDirPath path, CFileEntry* dirEntry, Level& level) {
        const std::string_view relative =
            dirEntry == nullptr ? std::string_view()
                                : std::string_view(path.Get()).substr(m_rootLength + 1);
        const platform::Result<int> fd = m_root.OpenDirectory(relative);
        if (!fd.ok()) {
            MarkUnknown(dirEntry, relative, fd.status(), &m_fileList);
            return;
        }
        // A bind mount of one of its own ancestors would be entered for ever:
        // it is read once, where it really lies.
        if (!m_mounts.empty() && m_mounts.count(std::string(relative)) != 0 &&
            m_root.LiesInsideItself(*fd)) {
            (void)m_root.Close(*fd);
            MarkUnknown(dirEntry, relative, {}, &m_fileList);
            return;
        }
        if (const platform::Status listing = m_search.Open(*fd); !listing.ok()) {
            MarkUnknown(dirEntry, relative, listing, &m_fileList);
            return;
        }
        const size_t firstPlace = level.places.size();
        bool namesIgnoreFile = false;
        bool namesCacheTag = false;
        for (std::uint32_t read = 1; m_root.NextMatch(m_search, m_match); ++read) {
            if (read % kStopEvery == 0) {
                StopIfAsked();
            }
            if (m_match.unusableName) {
                m_fileList.unusable.push_back(relative.empty()
                                                  ? std::string(m_match.name)
                                                  : std::string(relative) + platform::kSeparator +
                                                        std::string(m_match.name));
            }
            if (m_match.isOther && m_others == OtherEntries::Skipped) {
                if (m_fileList.holdingOthers.empty() ||
                    m_fileList.holdingOthers.back() != relative) {
                    m_fileList.holdingOthers.emplace_back(relative);
                }
                continue;
            }
            if (m_match.name != "." && m_match.name != "..") {
                AddEntry(path, level);
                if (relative.empty() && IsVersionsFolderName(m_match.name)) {
                    LeaveOutVersions(level);
                } else if (m_match.isOther) {
                    // A link, pipe or device holds its path out of the mirror on
                    // both sides, as a pattern would.
                    level.owned.back()->MarkExcluded();
                    ++m_fileList.leftOut;
                }
                if (m_exclusions != nullptr) {
                    namesIgnoreFile = namesIgnoreFile || m_match.name == kIgnoreFileName;
                    namesCacheTag = namesCacheTag || m_match.name == kCacheTagName;
                }
            }
        }
        if (!m_search.status().ok()) {
            MarkUnknown(dirEntry, relative, m_search.status(), &m_fileList);
        }
        m_search.Close();
        if (m_exclusions != nullptr) {
            LeaveOut(relative, dirEntry, level, firstPlace, namesIgnoreFile, namesCacheTag);
        }
    }

    // Marks the entries just read into `level` from the directory `relative`
    // that are left out, and drops what lies below those that are directories:
    // it is never read. A cache directory keeps none of its entries.
    void LeaveOut(std::string_view relative, CFileEntry* dirEntry, Level& level, size_t firstPlace,
                  bool namesIgnoreFile, bool namesCacheTag) {
        if (!m_exclusions->EnterDirectory(relative, namesIgnoreFile, namesCacheTag)) {
            dirEntry->MarkExcluded();
            ++m_fileList.leftOut;
            level.places.resize(firstPlace);
            return;
        }
        if (!m_exclusions->Active()) {
            return;
        }
        size_t kept = firstPlace;
        bool dropContents = false;
        for (size_t p = firstPlace; p < level.places.size(); ++p) {
            const Place place = level.places[p];
            if (place.isContents && dropContents) {
                continue;
            }
            dropContents = false;
            if (!place.isContents && !place.entry->IsExcluded() &&
                m_exclusions->Excludes(place.entry->GetName(), place.entry->IsDirectory())) {
                place.entry->MarkExcluded();
                ++m_fileList.leftOut;
                dropContents = place.entry->IsDirectory();
            }
            level.places[kept++] = place;
        }
        level.places.resize(kept);
    }

    // The versions folder, just added to `level`, is no part of the mirror on
    // either side, and nothing below it is read: it may hold more than the
    // slave itself.
    void LeaveOutVersions(Level& level) {
        if (level.places.back().isContents) {
            level.places.pop_back();
        }
        level.owned.back()->MarkExcluded();
        ++m_fileList.leftOut;
    }

    // Makes the entry for the current match in `level`, with its name folded
    // beside the others, and its places: itself and, for a directory, what lies
    // below it.
    void AddEntry(const SharedDirPath& path, Level& level) {
        const auto index = static_cast<std::uint32_t>(level.owned.size());
        level.owned.push_back(std::make_unique<CFileEntry>(
            std::string(m_match.name), m_match.isDirectory, m_match.lastWrite, path, m_match.size));
        CFileEntry* entry = level.owned.back().get();
        entry->SetLastWriteNanoseconds(m_match.lastWriteNs);
        const auto at = static_cast<std::uint32_t>(level.folded.size());
        const auto length = static_cast<std::uint32_t>(m_match.name.size());
        level.folded.append(m_match.name).push_back(platform::kSeparator);
        platform::FoldBytes(std::span(level.folded).subspan(at, length));
        level.places.push_back({entry, index, at, length, false});
        if (m_match.isDirectory) {
            level.places.push_back({entry, index, at, length + 1, true});
        }
    }

    platform::TreeRoot& m_root;
    CFileList& m_fileList;
    const size_t m_rootLength;
    const std::atomic<bool>* m_stop;
    Exclusions* m_exclusions;
    OtherEntries m_others;
    std::unordered_set<std::string> m_mounts;
    platform::DirSearch m_search;
    platform::DirMatch m_match;
    // Kept, with their capacity, as the walk goes up and down.
    std::vector<Level> m_levels = std::vector<Level>(1);
};

}  // namespace

void ScanDirectory(platform::TreeRoot& root, CFileList* fileList, const std::atomic<bool>* stop,
                   Exclusions* exclusions, OtherEntries others) {
    const size_t firstNew = fileList->size();
    const bool whole = Scan(root, *fileList, stop, exclusions, others).Walk();
    if (exclusions != nullptr) {
        fileList->ruleErrors = exclusions->Errors();
    }
    if (whole && firstNew > 0) {
        SortInsertedEntries(fileList, firstNew);  // rare: a list filled from more than one scan
    }
}

platform::NameMatch NameMatchOf(platform::TreeRoot& root, const CFileList& fileList) {
    for (const auto& entry : fileList) {
        const std::string& name = entry->GetName();
        for (char c : name) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
                return root.IgnoresCase(JoinPieces(entry->RelativePieces(root.Path().size())))
                           ? platform::NameMatch::IgnoreCase
                           : platform::NameMatch::Exact;
            }
        }
    }
    return platform::NameMatch::Exact;
}

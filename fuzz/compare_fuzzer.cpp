// libFuzzer target: CompareTrees on arbitrary pairs of sorted lists, checked
// against a model of the rules: every path of either list is met once, in
// order; a pair of files gives at most a modification, and only when the
// master file was written strictly later or the sizes differ; one-sided
// entries give the kind their type says; a file facing a directory gives an
// action on each side, the master's file created after the slave directory's
// whole subtree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tree/compare_trees.h"

namespace {

struct Item {
    bool isDirectory;
    uint64_t time;
    uint64_t size;
};

// Reads entries from the fuzzer's bytes: a name of up to 6 bytes from a small
// alphabet (so that paths collide and nest), a type bit and a time.
std::map<std::string, Item> ReadTree(const uint8_t*& p, const uint8_t* end) {
    static const char alphabet[] = {'a', 'A', 'b', '.', '/', '~', ' ', '\xC3', '\xA9', '_'};
    std::map<std::string, Item> items;
    while (p < end && *p != 0xFF) {
        std::string name;
        const int len = 1 + (*p++ % 6);
        for (int i = 0; i < len && p < end; ++i) {
            name.push_back(alphabet[*p++ % sizeof alphabet]);
        }
        if (p >= end) {
            break;
        }
        const uint8_t flags = *p++;
        // Keep only well-formed relative paths with every parent a directory.
        if (name.front() == '/' || name.back() == '/' || name.find("//") != std::string::npos) {
            continue;
        }
        bool parentsOk = true;
        for (size_t s = name.find('/'); s != std::string::npos; s = name.find('/', s + 1)) {
            const auto parent = items.find(name.substr(0, s));
            parentsOk = parentsOk && parent != items.end() && parent->second.isDirectory;
        }
        if (parentsOk && items.count(name) == 0) {
            const bool isDirectory = (flags & 1) != 0;
            items[name] = {isDirectory, static_cast<uint64_t>(flags >> 3),
                           isDirectory ? 0 : static_cast<uint64_t>((flags >> 1) & 3)};
        }
    }
    if (p < end) {
        ++p;
    }
    return items;
}

CFileList ToList(const std::string& root, const std::map<std::string, Item>& items) {
    CFileList list;
    for (const auto& [path, item] : items) {
        const size_t s = path.rfind('/');
        const std::string dir = s == std::string::npos ? root : root + "/" + path.substr(0, s);
        list.push_back(std::make_unique<CFileEntry>(
            s == std::string::npos ? path : path.substr(s + 1), item.isDirectory, item.time,
            SharedDirPath(dir), item.size));
    }
    SortInsertedEntries(&list, 0);
    return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const auto master = ReadTree(p, end);
    const auto slave = ReadTree(p, end);
    const CFileList masterList = ToList("/m", master);
    const CFileList slaveList = ToList("/s", slave);
    CActionList actions;
    CompareTrees(&masterList, &slaveList, &actions, "/m", "/s");

    auto isDir = [](const std::map<std::string, Item>& tree, const std::string& path) {
        const auto it = tree.find(path);
        return it != tree.end() && it->second.isDirectory;
    };
    auto isFile = [](const std::map<std::string, Item>& tree, const std::string& path) {
        const auto it = tree.find(path);
        return it != tree.end() && !it->second.isDirectory;
    };
    std::set<std::string> seen;
    std::string previous;
    for (size_t k = 0; k < actions.size(); ++k) {
        const CAction* a = actions[k].get();
        const bool master_side = a->GetKind() == ACTION_CREATE || a->GetKind() == ACTION_MKDIR ||
                                 a->GetKind() == ACTION_MODIFY;
        const std::string& path = a->GetTargetPath();
        if (!seen.insert(path + "#" + std::to_string(master_side)).second) {
            std::abort();  // one action per entry
        }
        // A master file facing a slave directory is created after every action
        // below that directory; everything else stands in order.
        if (a->GetKind() == ACTION_CREATE && isDir(slave, path)) {
            for (size_t later = k + 1; later < actions.size(); ++later) {
                if (actions[later]->GetTargetPath().rfind(path + "/", 0) == 0 &&
                    actions[later]->GetKind() != ACTION_CREATE &&
                    actions[later]->GetKind() != ACTION_MKDIR) {
                    std::abort();
                }
            }
        } else {
            if (!previous.empty() && platform::ComparePaths(previous, path) > 0) {
                std::abort();  // in order
            }
            previous = path;
        }
        const auto m = master.find(path);
        const auto s = slave.find(path);
        switch (a->GetKind()) {
            case ACTION_MODIFY:
                if (!isFile(master, path) || !isFile(slave, path) ||
                    (m->second.time <= s->second.time && m->second.size == s->second.size) ||
                    a->GetSlavePath() != path) {
                    std::abort();
                }
                break;
            case ACTION_CREATE:
                if (!isFile(master, path) || isFile(slave, path)) {
                    std::abort();
                }
                break;
            case ACTION_MKDIR:
                if (!isDir(master, path) || isDir(slave, path)) {
                    std::abort();
                }
                break;
            case ACTION_DELETE:
                if (!isFile(slave, path) || isFile(master, path)) {
                    std::abort();
                }
                break;
            case ACTION_RMDIR:
                if (!isDir(slave, path) || isDir(master, path)) {
                    std::abort();
                }
                break;
            default:
                std::abort();
        }
    }
    // And nothing is missing: every one-sided path, every changed master file
    // and both sides of every file facing a directory have their action.
    size_t due = 0;
    for (const auto& [path, item] : master) {
        const auto s = slave.find(path);
        if (s == slave.end()) {
            due += 1;
        } else if (item.isDirectory != s->second.isDirectory) {
            due += 2;
        } else if (!item.isDirectory) {
            due += item.time > s->second.time || item.size != s->second.size;
        }
    }
    for (const auto& [path, item] : slave) {
        due += master.count(path) == 0;
    }
    if (due != actions.size()) {
        std::abort();
    }
    // Finding the candidates for moves without the plan finds what the plan
    // hands over, and tells as much, under either way of matching names.
    for (const platform::NameMatch match :
         {platform::NameMatch::Exact, platform::NameMatch::IgnoreCase}) {
        CActionList plan;
        MoveCandidates withPlan;
        FolderCandidates without;
        std::vector<std::string> blocked, blockedWithout;
        std::vector<CaseClash> clashes, clashesWithout;
        CompareTrees(&masterList, &slaveList, &plan, "/m", "/s", match, 0, nullptr, &blocked,
                     &clashes, false, &withPlan);
        const size_t planned =
            FindMoveCandidates(masterList, slaveList, "/m", "/s", match, 0, nullptr,
                               &blockedWithout, &clashesWithout, false, without);
        // The same entries, and the same directories among them in list order.
        const auto same = [](const std::vector<MoveCandidates::Candidate>& side,
                             const CFileList& list, const std::vector<bool>& flags,
                             const std::vector<size_t>& dirs) {
            std::vector<bool> expected(list.size(), false);
            std::vector<size_t> expectedDirs;
            for (const MoveCandidates::Candidate& c : side) {
                expected[c.entry] = true;
                if (list[c.entry]->IsDirectory()) {
                    expectedDirs.push_back(c.entry);
                }
            }
            return expected == flags && expectedDirs == dirs;
        };
        if (planned != plan.size() || blocked != blockedWithout ||
            clashes.size() != clashesWithout.size() ||
            !same(withPlan.master, masterList, without.master, without.masterDirs) ||
            !same(withPlan.slave, slaveList, without.slave, without.slaveDirs)) {
            std::abort();
        }
    }
    return 0;
}

// libFuzzer target: CompareTrees on arbitrary pairs of sorted lists, checked
// against a model of the rules: every path of either list is met once, in
// order; a pair gives at most a modification, and only when the master file
// was written strictly later; one-sided entries give the kind their type says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "tree/compare_trees.h"

namespace {

struct Item {
    bool isDirectory;
    uint64_t time;
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
            items[name] = {(flags & 1) != 0, static_cast<uint64_t>(flags >> 1)};
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
        list.push_back(std::make_unique<CFileEntry>(s == std::string::npos ? path : path.substr(s + 1),
                                                    item.isDirectory, item.time,
                                                    SharedDirPath(dir)));
    }
    SortInsertedEntries(&list, 0, 0);
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

    std::set<std::string> seen;
    std::string previous;
    for (const auto& a : actions) {
        const bool master_side = a->GetKind() == ACTION_CREATE || a->GetKind() == ACTION_MKDIR ||
                                 a->GetKind() == ACTION_MODIFY;
        const std::string path = master_side ? a->GetMasterPath() : a->GetSlavePath();
        if (!seen.insert(path + "#" + std::to_string(master_side)).second) {
            std::abort();  // one action per entry
        }
        if (!previous.empty() && platform::ComparePaths(previous, path) > 0) {
            std::abort();  // in order
        }
        previous = path;
        const auto m = master.find(path);
        const auto s = slave.find(path);
        switch (a->GetKind()) {
            case ACTION_MODIFY:
                if (m == master.end() || s == slave.end() || m->second.isDirectory ||
                    m->second.time <= s->second.time || a->GetSlavePath() != path) {
                    std::abort();
                }
                break;
            case ACTION_CREATE:
            case ACTION_MKDIR:
                if (m == master.end() || s != slave.end() ||
                    m->second.isDirectory != (a->GetKind() == ACTION_MKDIR)) {
                    std::abort();
                }
                break;
            case ACTION_DELETE:
            case ACTION_RMDIR:
                if (s == slave.end() || m != master.end() ||
                    s->second.isDirectory != (a->GetKind() == ACTION_RMDIR)) {
                    std::abort();
                }
                break;
            default:
                std::abort();
        }
    }
    // And nothing is missing: every one-sided path and every newer master file has its action.
    size_t due = 0;
    for (const auto& [path, item] : master) {
        const auto s = slave.find(path);
        due += s == slave.end() || (!item.isDirectory && item.time > s->second.time);
    }
    for (const auto& [path, item] : slave) {
        due += master.count(path) == 0;
    }
    if (due != actions.size()) {
        std::abort();
    }
    return 0;
}

#include "support/tree_model.h"

#include <sys/stat.h>

#include <vector>

#include "support/temp_tree.h"

namespace {

std::string RandomName(std::mt19937& rng) {
    static const char* const stems[] = {"a", "A", "b", "B", "read me", "Readme", "README",
                                        ".hidden", "x.y.z", "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89",
                                        "D", "D.txt", "Da", "d_", "-dash", "~~~~", "z~123"};
    std::string name = stems[rng() % std::size(stems)];
    if (rng() % 3 == 0) {
        name += std::to_string(rng() % 5);
    }
    return name;
}

}  // namespace

void GeneratePair(std::mt19937& rng, int size, ModelTree& master, ModelTree& slave) {
    master.clear();
    slave.clear();
    // One pool of paths; each path is a directory or a file in both trees alike.
    ModelTree pool;
    std::vector<std::string> dirs = {""};
    for (int i = 0; i < size; ++i) {
        const std::string& parent = dirs[rng() % dirs.size()];
        const std::string path = parent.empty() ? RandomName(rng) : parent + "/" + RandomName(rng);
        if (pool.count(path) != 0) {
            continue;
        }
        ModelEntry e;
        e.isDirectory = rng() % 4 == 0;
        if (e.isDirectory) {
            dirs.push_back(path);
        }
        pool[path] = e;
    }
    auto parentOf = [](const std::string& p) {
        const size_t s = p.rfind('/');
        return s == std::string::npos ? std::string() : p.substr(0, s);
    };
    const time_t times[] = {1000000000, 1100000000, 1200000000};
    for (const auto& [path, e] : pool) {
        // Which trees hold it: master only, slave only, or both (a parent must be there too).
        const int where = static_cast<int>(rng() % 4);  // 0 master, 1 slave, 2-3 both
        const std::string parent = parentOf(path);
        const bool inMaster = (where != 1) && (parent.empty() || master.count(parent) != 0);
        const bool inSlave = (where != 0) && (parent.empty() || slave.count(parent) != 0);
        ModelEntry m = e;
        ModelEntry s = e;
        if (!e.isDirectory) {
            m.content = "master " + path + " " + std::to_string(rng() % 100);
            s.content = "slave " + path + " " + std::to_string(rng() % 100);
            m.mtime = times[rng() % 3];  // newer, older or equal: all three happen
            s.mtime = times[rng() % 3];
        }
        if (inMaster) {
            master[path] = m;
        }
        if (inSlave) {
            slave[path] = s;
        }
    }
}

void Materialize(const std::string& root, const ModelTree& tree) {
    for (const auto& [path, e] : tree) {  // a map lists parents before their contents
        if (e.isDirectory) {
            ::mkdir((root + "/" + path).c_str(), 0777);
        } else {
            WriteFile(root + "/" + path, e.content, e.mtime);
        }
    }
}

std::map<std::string, std::string> ExpectedSlave(const ModelTree& master, const ModelTree& slave) {
    std::map<std::string, std::string> out;
    for (const auto& [path, m] : master) {
        if (m.isDirectory) {
            out[path] = "d";
            continue;
        }
        const auto s = slave.find(path);
        const bool keepSlave = s != slave.end() && m.mtime <= s->second.mtime;
        out[path] = "f:" + (keepSlave ? s->second.content : m.content);
    }
    return out;
}

std::map<std::string, std::string> SnapshotOf(const ModelTree& tree) {
    std::map<std::string, std::string> out;
    for (const auto& [path, e] : tree) {
        out[path] = e.isDirectory ? "d" : "f:" + e.content;
    }
    return out;
}

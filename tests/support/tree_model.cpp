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
    const mode_t fileModes[] = {0644, 0600, 0755, 0640};
    const mode_t dirModes[] = {0755, 0700, 0750};
    auto isDirIn = [](const ModelTree& tree, const std::string& dir) {
        const auto it = tree.find(dir);
        return dir.empty() || (it != tree.end() && it->second.isDirectory);
    };
    for (const auto& [path, e] : pool) {
        // Which trees hold it: master only, slave only, or both (a parent
        // directory must be there too).
        const int where = static_cast<int>(rng() % 4);  // 0 master, 1 slave, 2-3 both
        const std::string parent = parentOf(path);
        const bool inMaster = (where != 1) && isDirIn(master, parent);
        const bool inSlave = (where != 0) && isDirIn(slave, parent);
        ModelEntry m = e;
        ModelEntry s = e;
        if (rng() % 10 == 0) {
            s.isDirectory = !s.isDirectory;  // a file on one side, a directory on the other
        }
        for (ModelEntry* x : {&m, &s}) {
            if (x->isDirectory) {
                x->mode = dirModes[rng() % 3];
                continue;
            }
            // Equal lengths, so the times decide, except now and then.
            x->content = std::string(x == &m ? "master " : "slave! ") + path + " " +
                         std::to_string(10 + rng() % 90) + (rng() % 5 == 0 ? "+" : "");
            x->mtime = times[rng() % 3];  // newer, older or equal: all three happen
            x->mode = fileModes[rng() % 4];
        }
        if (inMaster) {
            master[path] = m;
        }
        if (inSlave) {
            slave[path] = s;
        }
    }
}

void MaterializePair(const std::string& dir, const ModelTree& master, const ModelTree& slave) {
    MakeDirs(dir + "/m");
    MakeDirs(dir + "/s");
    Materialize(dir + "/m", master);
    Materialize(dir + "/s", slave);
}

bool IsOldOrNew(const ModelTree& master, const ModelTree& slave, const std::string& path,
                const std::string& content) {
    const auto old = slave.find(path);
    const auto fresh = master.find(path);
    return (old != slave.end() && content == "f:" + old->second.content) ||
           (fresh != master.end() && content == "f:" + fresh->second.content);
}

void Materialize(const std::string& root, const ModelTree& tree) {
    for (const auto& [path, e] : tree) {  // a map lists parents before their contents
        if (e.isDirectory) {
            ::mkdir((root + "/" + path).c_str(), 0777);
        } else {
            WriteFile(root + "/" + path, e.content, e.mtime);
        }
    }
    // Last, so a directory without the owner's write bit is filled first.
    for (const auto& [path, e] : tree) {
        if (e.mode != 0) {
            ::chmod((root + "/" + path).c_str(), e.mode);
        }
    }
}

namespace {
// True when the run copies the master's file over what the slave has at `path`.
bool MasterFileWins(const ModelEntry& m, const ModelTree& slave, const std::string& path) {
    const auto s = slave.find(path);
    return s == slave.end() || s->second.isDirectory || m.mtime > s->second.mtime ||
           m.content.size() != s->second.content.size();
}
}  // namespace

std::map<std::string, mode_t> ExpectedModes(const ModelTree& master, const ModelTree& slave,
                                            mode_t umask) {
    std::map<std::string, mode_t> out;
    for (const auto& [path, m] : master) {
        const auto s = slave.find(path);
        const bool made = m.isDirectory ? s == slave.end() || !s->second.isDirectory
                                        : MasterFileWins(m, slave, path);
        // A directory made by the run keeps its owner's rights, whatever the master's.
        const mode_t mode = m.isDirectory ? m.mode | 0700 : m.mode;
        out[path] = made ? mode & ~umask : s->second.mode;
    }
    return out;
}

std::map<std::string, mode_t> Modes(const std::string& root) {
    std::map<std::string, mode_t> out;
    for (const auto& [path, kind] : Snapshot(root)) {
        struct stat st;
        if (::lstat((root + "/" + path).c_str(), &st) == 0) {
            out[path] = st.st_mode & 07777;
        }
    }
    return out;
}

std::map<std::string, std::string> ExpectedSlave(const ModelTree& master, const ModelTree& slave) {
    std::map<std::string, std::string> out;
    for (const auto& [path, m] : master) {
        if (m.isDirectory) {
            out[path] = "d";
            continue;
        }
        out[path] = "f:" + (MasterFileWins(m, slave, path) ? m.content : slave.at(path).content);
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

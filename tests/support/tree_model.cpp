#include "support/tree_model.h"

#ifndef _WIN32
#include <fnmatch.h>
#endif

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

#include "support/temp_tree.h"

namespace {

std::string RandomName(std::mt19937& rng) {
#ifdef _WIN32
    // Names equal but for letter case are one name on Windows: one of each;
    // and no name ends in a dot, which Windows drops.
    static const char* const stems[] = {"a",        "C",    "b",       "E",     "read me",
                                        "Readme",   "R-E",  ".hidden", "x.y.z", "\xC3\xA9t\xC3\xA9",
                                        "\xC3\xA0", "D",    "D.txt",   "Da",    "d_",
                                        "-dash",    "~~~~", "z~123"};
#else
    static const char* const stems[] = {"a",
                                        "A",
                                        "b",
                                        "B",
                                        "read me",
                                        "Readme",
                                        "README",
                                        ".hidden",
                                        "x.y.z",
                                        "\xC3\xA9t\xC3\xA9",
                                        "\xC3\x89T\xC3\x89",
                                        "D",
                                        "D.txt",
                                        "Da",
                                        "d_",
                                        "-dash",
                                        "~~~~",
                                        "z~123"};
#endif
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
    const mode_t fileModes[] = {0644, 0600, 0755, 0444};
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
            MakeDirs(root + "/" + path);
        } else {
            WriteFile(root + "/" + path, e.content, e.mtime);
        }
    }
    // Last, so a directory without the owner's write bit is filled first.
    for (const auto& [path, e] : tree) {
        if (e.mode != 0) {
            SetMode(root + "/" + path, e.mode);
        }
    }
}

namespace {
// The model's matcher of a glob, the C library's own; Windows has none, and
// the tests that need it skip there.
bool ModelMatches(const std::string& glob, const std::string& subject) {
#ifdef _WIN32
    (void)glob;
    (void)subject;
    return false;
#else
    return ::fnmatch(glob.c_str(), subject.c_str(), FNM_PATHNAME) == 0;
#endif
}

// What the system keeps of the bits `mode` (see ModeOf).
mode_t KeptMode(mode_t mode, bool isDirectory) {
#ifdef _WIN32
    return isDirectory ? 0755 : (mode & 0200) ? 0644 : 0444;
#else
    (void)isDirectory;
    return mode;
#endif
}

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
        out[path] = KeptMode(made ? mode & ~umask : s->second.mode, m.isDirectory);
    }
    return out;
}

std::map<std::string, mode_t> Modes(const std::string& root) {
    std::map<std::string, mode_t> out;
    for (const auto& [path, kind] : Snapshot(root)) {
        out[path] = ModeOf(root + "/" + path);
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

std::map<std::string, std::string> ExpectedKept(const ModelTree& master, const ModelTree& slave,
                                                const std::vector<ModelMove>& moved) {
    std::map<std::string, std::string> out;
    std::set<std::string> movedFrom;
    for (const ModelMove& move : moved) {
        movedFrom.insert(move.first);
    }
    for (const auto& [path, s] : slave) {
        const auto m = master.find(path);
        if (movedFrom.contains(path)) {
            continue;
        }
        // Gone from the master, there as the other type (and so everything
        // below it), or a file replaced.
        if (m == master.end() || m->second.isDirectory != s.isDirectory ||
            (!s.isDirectory && MasterFileWins(m->second, slave, path))) {
            out[path] = s.isDirectory ? "d" : "f:" + s.content;
            // The run's folder holds the directories above it too.
            for (size_t slash = path.find('/'); slash != std::string::npos;
                 slash = path.find('/', slash + 1)) {
                out[path.substr(0, slash)] = "d";
            }
        }
    }
    return out;
}

std::pair<std::map<std::string, std::string>, std::map<std::string, std::string>> KeptByAnyRun(
    const std::map<std::string, std::string>& snapshot) {
    std::map<std::string, std::string> own;
    std::map<std::string, std::string> kept;
    for (const auto& [path, content] : snapshot) {
        if (!path.starts_with(".kelvad-versions")) {
            own[path] = content;
            continue;
        }
        const size_t run = path.find('/', path.find('/') + 1);  // after the run's folder
        if (run != std::string::npos) {
            kept[path.substr(run + 1)] = content;
        }
    }
    return {own, kept};
}

std::map<std::string, std::string> SnapshotOf(const ModelTree& tree) {
    std::map<std::string, std::string> out;
    for (const auto& [path, e] : tree) {
        out[path] = e.isDirectory ? "d" : "f:" + e.content;
    }
    return out;
}

std::string GenerateIgnoreFile(std::mt19937& rng, const ModelTree& master) {
    std::vector<std::string> paths;
    for (const auto& [path, e] : master) {
        paths.push_back(path);
    }
    std::string text = "# made for this pair\n";
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < count && !paths.empty(); ++i) {
        const std::string& path = paths[rng() % paths.size()];
        const bool anchored = rng() % 3 == 0;
        std::string pattern = anchored ? path : path.substr(path.rfind('/') + 1);
        const size_t nameAt = pattern.rfind('/') + 1;
        switch (rng() % 4) {
            case 0:
                pattern.replace(nameAt, (pattern.size() - nameAt) / 2, "*");
                break;
            case 1:
                pattern[nameAt] = '?';
                break;
            case 2:
                pattern += "*";
                break;
            default:
                break;
        }
        text += std::string(rng() % 4 == 0 ? "!" : "") + (anchored ? "/" : "") + pattern +
                (rng() % 4 == 0 ? "/" : "") + "\n";
    }
    return text;
}

bool ModelExcludes(const std::string& text, const std::string& path, bool isDirectory) {
    struct Rule {
        std::string glob;
        bool negated, directoryOnly, anchored;
    };
    std::vector<Rule> rules;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        Rule r{line, false, false, false};
        if (r.glob[0] == '!') {
            r.negated = true;
            r.glob.erase(0, 1);
        }
        if (r.glob.size() > 1 && r.glob.back() == '/') {
            r.directoryOnly = true;
            r.glob.pop_back();
        }
        r.anchored = r.glob.find('/') != std::string::npos;
        if (r.glob[0] == '/') {
            r.glob.erase(0, 1);
        }
        rules.push_back(r);
    }
    // Each directory on the way down, then the entry: once one is left out,
    // nothing below it can be taken back.
    for (size_t slash = path.find('/');; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        const bool directory = slash != std::string::npos || isDirectory;
        bool out = false;
        for (const Rule& r : rules) {
            const std::string subject = r.anchored ? prefix : prefix.substr(prefix.rfind('/') + 1);
            if ((!r.directoryOnly || directory) && ModelMatches(r.glob, subject)) {
                out = !r.negated;  // the last that matches decides
            }
        }
        if (out) {
            return true;
        }
        if (slash == std::string::npos) {
            return false;
        }
    }
}

std::map<std::string, std::string> ExpectedSlaveLeavingOut(const ModelTree& master,
                                                           const ModelTree& slave,
                                                           const std::string& text) {
    const auto leftOut = [&](const std::string& path) {
        const auto m = master.find(path);
        const auto s = slave.find(path);
        return (m != master.end() && ModelExcludes(text, path, m->second.isDirectory)) ||
               (s != slave.end() && ModelExcludes(text, path, s->second.isDirectory));
    };
    // A path is out when it, or a directory above it on either side, is.
    const auto outOrBelowOut = [&](const std::string& path) {
        for (size_t slash = path.find('/');; slash = path.find('/', slash + 1)) {
            if (leftOut(path.substr(0, slash))) {
                return true;
            }
            if (slash == std::string::npos) {
                return false;
            }
        }
    };
    ModelTree keptMaster;
    ModelTree keptSlave;
    std::map<std::string, std::string> untouched;
    for (const auto& [path, e] : master) {
        if (!outOrBelowOut(path)) {
            keptMaster[path] = e;
        }
    }
    for (const auto& [path, e] : slave) {
        if (!outOrBelowOut(path)) {
            keptSlave[path] = e;
        } else {
            untouched[path] = e.isDirectory ? "d" : "f:" + e.content;
        }
    }
    std::map<std::string, std::string> out = ExpectedSlave(keptMaster, keptSlave);
    // What stays keeps the slave's directories above it, whatever the master
    // has there, and what the master has below them.
    for (const auto& [path, content] : untouched) {
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            const std::string dir = path.substr(0, slash);
            if (out.count(dir) == 0 || out[dir] != "d") {
                out[dir] = "d";
            }
        }
        out[path] = content;
    }
    return out;
}

namespace {
std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);  // npos + 1 is 0
}
std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}
// Everything at or below `path` in `tree`, moved to `to`; the files' moves
// appended to `moves`.
void MoveInModel(ModelTree& tree, const std::string& path, const std::string& to,
                 std::vector<ModelMove>& moves) {
    ModelTree moved;
    for (auto it = tree.begin(); it != tree.end();) {
        if (it->first == path || it->first.starts_with(path + "/")) {
            const std::string target = to + it->first.substr(path.size());
            if (!it->second.isDirectory) {
                moves.emplace_back(it->first, target);
            }
            moved[target] = it->second;
            it = tree.erase(it);
        } else {
            ++it;
        }
    }
    tree.merge(moved);
}
}  // namespace

std::vector<ModelMove> MoveSome(std::mt19937& rng, ModelTree& master) {
    std::vector<ModelMove> moves;
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < count && !master.empty(); ++k) {
        auto pick = master.begin();
        std::advance(pick, static_cast<long>(rng() % master.size()));
        const std::string path = pick->first;
        const ModelEntry entry = pick->second;
        std::string to;
        switch (rng() % 4) {
            case 0:  // renamed where it is
                to = Join(ParentOf(path), "mv" + std::to_string(k) + NameOf(path));
                break;
            case 1:  // into a new folder, made for it
                to = "new" + std::to_string(k) + "/deep/" + NameOf(path);
                master["new" + std::to_string(k)] = {true, "", 0, 0755};
                master["new" + std::to_string(k) + "/deep"] = {true, "", 0, 0755};
                break;
            case 2: {  // letter case only, which Windows takes for the same name
#ifndef _WIN32
                std::string name = NameOf(path);
                const auto letter = std::ranges::find_if(
                    name, [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
                if (letter != name.end()) {
                    *letter = static_cast<char>(std::islower(static_cast<unsigned char>(*letter))
                                                    ? std::toupper(*letter)
                                                    : std::tolower(*letter));
                    to = Join(ParentOf(path), name);
                }
#endif
                break;
            }
            default:  // copied, not moved: two of equal size and time
                if (!entry.isDirectory && master.count(path + ".copy") == 0) {
                    master[path + ".copy"] = entry;
                }
                continue;
        }
        if (to.empty() || master.count(to) != 0) {
            continue;
        }
        MoveInModel(master, path, to, moves);
        if (rng() % 5 == 0) {
            master[path] = {true, "", 0, 0755};  // the old path turns into a directory
        }
    }
    return moves;
}

std::vector<ModelMove> ExpectedMoves(const ModelTree& master, const ModelTree& slave,
                                     const std::vector<ModelMove>& moves) {
    // How many files are to be created, and deleted, of each size and time.
    std::map<std::pair<size_t, time_t>, int> created, deleted;
    for (const auto& [path, e] : master) {
        created[{e.content.size(), e.mtime}] += !e.isDirectory && slave.count(path) == 0;
    }
    for (const auto& [path, e] : slave) {
        deleted[{e.content.size(), e.mtime}] += !e.isDirectory && master.count(path) == 0;
    }
    const auto belowReplacedDirectory = [&](const std::string& path) {
        for (std::string dir = ParentOf(path); !dir.empty(); dir = ParentOf(dir)) {
            const auto m = master.find(dir);
            if (m != master.end() && !m->second.isDirectory) {
                return true;
            }
        }
        return false;
    };
    std::vector<ModelMove> out;
    for (const auto& [from, to] : moves) {
        const auto s = slave.find(from);
        const auto m = master.find(to);
        if (s == slave.end() || m == master.end() || master.count(from) != 0 ||
            slave.count(to) != 0 || belowReplacedDirectory(from)) {
            continue;
        }
        const std::pair<size_t, time_t> key{m->second.content.size(), m->second.mtime};
        if (s->second.content == m->second.content && created[key] == 1 && deleted[key] == 1) {
            out.emplace_back(from, to);
        }
    }
    return out;
}

bool AtOldOrNewPlace(const std::map<std::string, std::string>& own, const ModelTree& slave,
                     const ModelMove& move) {
    const std::string content = "f:" + slave.at(move.first).content;
    const auto at = [&](const std::string& path) {
        const auto it = own.find(path);
        return it != own.end() && it->second == content;
    };
    return at(move.first) || at(move.second);
}

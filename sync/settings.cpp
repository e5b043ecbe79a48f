#include "sync/settings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "sync/display_text.h"

namespace {

constexpr const char* kKeys[] = {"MasterDir", "SlaveDir", "Option", "KeepVersions"};
constexpr int kKeyCount = static_cast<int>(std::size(kKeys));

struct Line {
    std::string text;  // without its line end
    std::string end;   // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        const bool cr = nl > start && text[nl - 1] == '\r';
        lines.push_back({text.substr(start, nl - start - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
        start = nl + 1;
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t a = 0;
    size_t b = s.size();
    while (a < b && IsBlank(s[a])) {
        ++a;
    }
    while (b > a && (IsBlank(s[b - 1]) || s[b - 1] == '\r')) {
        --b;
    }
    return s.substr(a, b - a);
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (platform::FoldByte(static_cast<unsigned char>(a[i])) !=
            platform::FoldByte(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The name of a section header line, or false when the line is not one.
bool SectionName(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') {
        return false;
    }
    const size_t close = t.find(']');
    if (close == std::string::npos) {
        return false;
    }
    name = Trim(t.substr(1, close - 1));
    return true;
}

// Splits "key=value"; comments and lines without "=" are not entries.
bool Entry(const std::string& line, std::string& key, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') {
        return false;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    key = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return !key.empty();
}

int ParseInt(const std::string& value) {
    const std::string t = Trim(value);
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (end == t.c_str()) {
        return 0;
    }
    if (v > INT_MAX) {
        return INT_MAX;
    }
    if (v < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(v);
}

std::string OneLine(const std::string& value) {
    const size_t cut = value.find_first_of("\r\n");
    return cut == std::string::npos ? value : value.substr(0, cut);
}

// Which key of a history entry `key` is ("Master3": 0, "Slave3": 1, "Option3": 2)
// and its number (3); a number of 0 for any other key.
struct HistoryKey {
    int kind = -1;
    size_t number = 0;
};

HistoryKey ParseHistoryKey(const std::string& key) {
    static constexpr const char* kKinds[] = {"Master", "Slave", "Option"};
    for (int kind = 0; kind < 3; ++kind) {
        const std::string name = kKinds[kind];
        const std::string digits = key.substr(std::min(name.size(), key.size()));
        if (key.size() > name.size() && digits.size() <= 3 &&
            EqualsIgnoringCase(key.substr(0, name.size()), name) &&
            digits.find_first_not_of("0123456789") == std::string::npos) {
            return {kind, std::stoul(digits)};
        }
    }
    return {};
}

bool SameDirectories(const SettingsPair& a, const SettingsPair& b) {
    return a.masterDir == b.masterDir && a.slaveDir == b.slaveDir;
}

// The pairs of the first section History, in the order of their numbers.
std::vector<SettingsPair> ParseHistory(const std::vector<Line>& lines) {
    std::vector<SettingsPair> numbered(kHistoryLength);
    std::vector<int> found(kHistoryLength * 3, 0);
    // The first section of the name only: the one a save writes.
    bool inSection = false;
    bool sectionSeen = false;
    for (const Line& line : lines) {
        std::string name;
        if (SectionName(line.text, name)) {
            inSection = !sectionSeen && EqualsIgnoringCase(name, kHistorySection);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        std::string key;
        std::string value;
        if (!inSection || !Entry(line.text, key, value)) {
            continue;
        }
        const HistoryKey k = ParseHistoryKey(key);
        if (k.number < 1 || k.number > kHistoryLength ||
            found[(k.number - 1) * 3 + static_cast<size_t>(k.kind)]++ > 0) {
            continue;
        }
        SettingsPair& pair = numbered[k.number - 1];
        if (k.kind == 0) {
            pair.masterDir = value;
        } else if (k.kind == 1) {
            pair.slaveDir = value;
        } else {
            pair.option = ParseInt(value);
        }
    }
    std::vector<SettingsPair> history;
    for (const SettingsPair& pair : numbered) {
        const bool seen = std::any_of(history.begin(), history.end(), [&](const SettingsPair& p) {
            return SameDirectories(p, pair);
        });
        if (!pair.masterDir.empty() && !pair.slaveDir.empty() && !seen) {
            history.push_back(pair);
        }
    }
    return history;
}

}  // namespace

SettingsValues ParseSettings(const std::string& text) {
    SettingsValues values;
    bool found[kKeyCount] = {};
    bool inSection = false;
    const std::vector<Line> lines = SplitLines(text);
    values.history = ParseHistory(lines);
    for (const Line& line : lines) {
        std::string name;
        if (SectionName(line.text, name)) {
            inSection = EqualsIgnoringCase(name, kSettingsSection);
            continue;
        }
        std::string key;
        std::string value;
        if (!inSection || !Entry(line.text, key, value)) {
            continue;
        }
        for (int k = 0; k < kKeyCount; ++k) {
            if (!found[k] && EqualsIgnoringCase(key, kKeys[k])) {
                found[k] = true;
                if (k == 0) {
                    values.masterDir = value;
                } else if (k == 1) {
                    values.slaveDir = value;
                } else if (k == 2) {
                    values.option = ParseInt(value);
                } else {
                    values.keepVersions = ParseInt(value) != 0;
                }
            }
        }
    }
    return values;
}

namespace {

std::string Joined(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& line : lines) {
        out += line.text;
        out += line.end;
    }
    return out;
}

// The line ending the file already uses, "\n" for a file without one.
std::string LineEnding(const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (!line.end.empty()) {
            return line.end;
        }
    }
    return "\n";
}

// Where the first section INIT is, its last entry, and the line of each key
// in it; -1 for what is not there.
struct SectionPlace {
    long section = -1;
    long last = -1;
    long keys[kKeyCount] = {-1, -1, -1, -1};
};

SectionPlace FindSection(const std::vector<Line>& lines) {
    SectionPlace place;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const long at = static_cast<long>(i);
        std::string name;
        if (SectionName(lines[i].text, name)) {
            inSection = place.section < 0 && EqualsIgnoringCase(name, kSettingsSection);
            if (inSection) {
                place.section = place.last = at;
            }
            continue;
        }
        std::string key;
        std::string value;
        if (!inSection || !Entry(lines[i].text, key, value)) {
            continue;
        }
        place.last = at;
        for (int k = 0; k < kKeyCount; ++k) {
            if (place.keys[k] < 0 && EqualsIgnoringCase(key, kKeys[k])) {
                place.keys[k] = at;
            }
        }
    }
    return place;
}

// Sets `text` as the line of key `k`: in place where the key is, otherwise as
// a new line after the section's last entry.
void SetKeyLine(std::vector<Line>& lines, SectionPlace& place, int k, const std::string& text,
                const std::string& eol) {
    if (place.keys[k] >= 0) {
        lines[static_cast<size_t>(place.keys[k])].text = text;
        return;
    }
    Line& after = lines[static_cast<size_t>(place.last)];
    if (after.end.empty()) {
        after.end = eol;
    }
    lines.insert(lines.begin() + place.last + 1, Line{text, eol});
    for (long& l : place.keys) {
        if (l > place.last) {
            ++l;
        }
    }
    ++place.last;
}

}  // namespace

std::string UpdateSettings(const std::string& text, const SettingsValues& values) {
    const std::string newValues[kKeyCount] = {OneLine(values.masterDir), OneLine(values.slaveDir),
                                              std::to_string(values.option),
                                              values.keepVersions ? "1" : "0"};
    std::vector<Line> lines = SplitLines(text);
    const std::string eol = LineEnding(lines);
    SectionPlace place = FindSection(lines);
    if (place.section < 0) {
        if (!lines.empty() && lines.back().end.empty()) {
            lines.back().end = eol;
        }
        lines.push_back({std::string("[") + kSettingsSection + "]", eol});
        place.section = place.last = static_cast<long>(lines.size()) - 1;
    }
    for (int k = 0; k < kKeyCount; ++k) {
        SetKeyLine(lines, place, k, std::string(kKeys[k]) + "=" + newValues[k], eol);
    }
    return Joined(lines);
}

std::string RecordPairUsed(const std::string& text, const SettingsPair& pair) {
    std::vector<SettingsPair> pairs{pair};
    for (const SettingsPair& earlier : ParseSettings(text).history) {
        if (pairs.size() < kHistoryLength && !SameDirectories(earlier, pair)) {
            pairs.push_back(earlier);
        }
    }
    // The first section History without its numbered entries; the new ones
    // go after its last other entry, or after its header.
    std::vector<Line> lines;
    const std::vector<Line> old = SplitLines(text);
    const std::string eol = LineEnding(old);
    long section = -1;
    long last = -1;
    bool inSection = false;
    for (const Line& line : old) {
        std::string name;
        std::string key;
        std::string value;
        if (SectionName(line.text, name)) {
            inSection = section < 0 && EqualsIgnoringCase(name, kHistorySection);
            if (inSection) {
                section = last = static_cast<long>(lines.size());
            }
        } else if (inSection && Entry(line.text, key, value)) {
            if (ParseHistoryKey(key).number > 0) {
                continue;
            }
            last = static_cast<long>(lines.size());
        }
        lines.push_back(line);
    }
    if (section < 0) {
        if (!lines.empty() && lines.back().end.empty()) {
            lines.back().end = eol;
        }
        lines.push_back({std::string("[") + kHistorySection + "]", eol});
        last = static_cast<long>(lines.size()) - 1;
    }
    Line& after = lines[static_cast<size_t>(last)];
    if (after.end.empty()) {
        after.end = eol;
    }
    std::vector<Line> entries;
    for (size_t i = 0; i < pairs.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        entries.push_back({"Master" + n + "=" + OneLine(pairs[i].masterDir), eol});
        entries.push_back({"Slave" + n + "=" + OneLine(pairs[i].slaveDir), eol});
        entries.push_back({"Option" + n + "=" + std::to_string(pairs[i].option), eol});
    }
    lines.insert(lines.begin() + last + 1, entries.begin(), entries.end());
    return Joined(lines);
}

std::string SettingsPath() {
    // Any entry of the name counts: what cannot be read or written there is
    // said when it is saved, not passed over for another file.
    std::string text;
    if (!platform::ReadWholeFile(kSettingsFile, text).Is(ENOENT)) {
        return kSettingsFile;
    }
    const std::string config = platform::ConfigDirectory();
    if (config.empty()) {
        return kSettingsFile;
    }
    return config +
           WithNativeSeparators(std::string("/") + platform::kProgramFolder + "/kelvad.ini");
}

SettingsValues LoadSettingsFile(const std::string& path) {
    std::string text;
    if (!platform::ReadWholeFile(path, text).ok()) {
        return SettingsValues{};
    }
    return ParseSettings(text);
}

platform::Status SaveSettingsFile(const std::string& path, const SettingsValues& values) {
    std::string text;
    // A missing file is an empty one; a regular file that cannot be read is
    // not: what else it holds would be lost. What is no regular file (a
    // directory, a link of another user's) the write refuses with its reason.
    if (const platform::Status read = platform::ReadWholeFile(path, text);
        !read.ok() && !read.Is(ENOENT) && !read.Is(EINVAL) && !read.Is(EISDIR) && !read.Is(ELOOP)) {
        return read;
    } else if (read.Is(ENOENT)) {
        if (const platform::Status made = platform::MakeParentDirectories(path); !made.ok()) {
            return made;
        }
    }
    return platform::WriteFileAtomically(
        path, RecordPairUsed(UpdateSettings(text, values),
                             SettingsPair{values.masterDir, values.slaveDir, values.option}));
}

std::string SettingsNotSavedText(const std::string& path, const platform::Status& failure) {
    if (failure.Is(ELOOP)) {
        return "Settings not saved: " + path + " is a link that belongs to another user";
    }
    return "Settings not saved: cannot write " + path + " (" + failure.Reason() + ")";
}

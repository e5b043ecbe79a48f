#include "sync/settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "platform/file_ops.h"
#include "platform/path_compare.h"

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

// Cuts to at most `limit` bytes, dropping a UTF-8 sequence that the cut would split.
std::string CutUtf8(const std::string& s, size_t limit) {
    if (s.size() <= limit) {
        return s;
    }
    size_t end = limit;
    // Step back over continuation bytes to the lead byte of the last character.
    size_t lead = end;
    while (lead > 0 && (static_cast<unsigned char>(s[lead - 1]) & 0xC0) == 0x80 && end - lead < 3) {
        --lead;
    }
    if (lead > 0) {
        const unsigned char c = static_cast<unsigned char>(s[lead - 1]);
        const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (c >= 0xC0 && end - (lead - 1) < need) {
            end = lead - 1;
        }
    }
    return s.substr(0, end);
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

}  // namespace

SettingsValues ParseSettings(const std::string& text) {
    SettingsValues values;
    bool found[kKeyCount] = {};
    bool inSection = false;
    for (const Line& line : SplitLines(text)) {
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
                    values.masterDir = CutUtf8(value, kSettingsReadLimit);
                } else if (k == 1) {
                    values.slaveDir = CutUtf8(value, kSettingsReadLimit);
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
    std::string out;
    for (const Line& line : lines) {
        out += line.text;
        out += line.end;
    }
    return out;
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
    }
    return platform::WriteFileAtomically(path, UpdateSettings(text, values));
}

std::string SettingsNotSavedText(const std::string& path, const platform::Status& failure) {
    if (failure.Is(ELOOP)) {
        return "Settings not saved: " + path + " is a link that belongs to another user";
    }
    return "Settings not saved: cannot write " + path + " (" + failure.Reason() + ")";
}

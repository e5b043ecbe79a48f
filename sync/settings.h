// The settings file: the two directories, the run mode and whether to keep what
// a run takes away, as of the last successful run, in section "INIT", and the
// last ten pairs of directories that runs used, in section "History", of
// kelvad.ini: the one in the working directory where there is one, otherwise
// the one in the user's configuration directory (SettingsPath).
// Plain C++, no windows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/status.h"

inline constexpr const char* kSettingsFile = "./kelvad.ini";
inline constexpr const char* kSettingsSection = "INIT";
inline constexpr const char* kHistorySection = "History";
// How many pairs the history keeps.
constexpr size_t kHistoryLength = 10;

// The two directories and the mode of one successful run.
struct SettingsPair {
    std::string masterDir;
    std::string slaveDir;
    int option = 0;
    bool operator==(const SettingsPair&) const = default;
};

struct SettingsValues {
    std::string masterDir;
    std::string slaveDir;
    int option = 0;
    // Whether a run keeps what it deletes, replaces or removes; on unless the
    // file says "KeepVersions=0".
    bool keepVersions = true;
    // The pairs of the last runs, most recent first, no two with the same
    // directories. Only read: a save records its own pair (RecordPairUsed).
    std::vector<SettingsPair> history{};
};

// Where the window keeps its settings: "./kelvad.ini" when the working
// directory holds a kelvad.ini (a start from a terminal keeps the file it
// always had), otherwise kelvad.ini in Kelvad's folder of the user's
// configuration directory ($XDG_CONFIG_HOME/kelvad, ~/.config/kelvad; on
// Windows %APPDATA%\Kelvad), and "./kelvad.ini" where that is not known.
std::string SettingsPath();

// Reads the four keys from the text of a settings file. Missing keys (or
// section) give the defaults: empty paths, run mode 0 and keeping on. Section and key names
// match ignoring case, the first occurrence counts, values are taken verbatim,
// whatever their length (blanks and quotes included). "Option" is read as a
// decimal integer; a value that is not a number reads as 0. "KeepVersions" is
// on for any number but 0, and off for 0 or a value that is not a number. The
// history is read from section History, keys "Master1", "Slave1", "Option1"
// up to "Option10"; a number whose master or slave is missing or empty, or
// whose directories an earlier number has, is left out.
SettingsValues ParseSettings(const std::string& text);

// Returns `text` with the four keys of section INIT set to `values`, in the
// order MasterDir, SlaveDir, Option, KeepVersions (1 or 0); a key the section
// lacks is added after its last entry; every other line, section and comment is
// kept as it was. A value is cut at a line break, which the file cannot hold.
std::string UpdateSettings(const std::string& text, const SettingsValues& values);

// Returns `text` with `pair` first in section History and the pairs it held
// after it, but the one with the same directories, ten at most, numbered from
// 1; the section's other lines and the rest of the file are kept as they were.
std::string RecordPairUsed(const std::string& text, const SettingsPair& pair);

// Reads the file at `path`; a missing or unreadable file gives the defaults.
SettingsValues LoadSettingsFile(const std::string& path);

// Writes `values` into the file at `path` and records their pair first in the
// history, replacing the file atomically: its missing directories are made
// (0700), a temporary file beside it is written completely and then renamed
// over it, so a crash leaves either the old file or the new one. A link at `path` is written
// through only when it belongs to the user or to root (ELOOP otherwise; see
// platform::WriteFileAtomically). Returns why it could not, the file untouched.
platform::Status SaveSettingsFile(const std::string& path, const SettingsValues& values);

// What the user is told when the settings could not be saved to `path`:
// "Settings not saved: ./kelvad.ini is a link that belongs to another user",
// or "Settings not saved: cannot write ./kelvad.ini (Permission denied)".
std::string SettingsNotSavedText(const std::string& path, const platform::Status& failure);

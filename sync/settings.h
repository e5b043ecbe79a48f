// The settings file: the two directories, the run mode and whether to keep what
// a run takes away, as of the last successful run, in section "INIT" of
// "./kelvad.ini" in the working directory.
// Plain C++, no windows.
#pragma once

#include <string>

#include "platform/status.h"

inline constexpr const char* kSettingsFile = "./kelvad.ini";
inline constexpr const char* kSettingsSection = "INIT";
// A text value is read up to this many bytes.
constexpr size_t kSettingsReadLimit = 255;

struct SettingsValues {
    std::string masterDir;
    std::string slaveDir;
    int option = 0;
    // Whether a run keeps what it deletes, replaces or removes; on unless the
    // file says "KeepVersions=0".
    bool keepVersions = true;
};

// Reads the four keys from the text of a settings file. Missing keys (or
// section) give the defaults: empty paths, run mode 0 and keeping on. Section and key names
// match ignoring case, the first occurrence counts, values are taken verbatim
// (blanks and quotes included) and cut to kSettingsReadLimit bytes without
// splitting a UTF-8 character. "Option" is read as a decimal integer; a value
// that is not a number reads as 0. "KeepVersions" is on for any number but 0,
// and off for 0 or a value that is not a number.
SettingsValues ParseSettings(const std::string& text);

// Returns `text` with the four keys of section INIT set to `values`, in the
// order MasterDir, SlaveDir, Option, KeepVersions (1 or 0); a key the section
// lacks is added after its last entry; every other line, section and comment is
// kept as it was. A value is cut at a line break, which the file cannot hold.
std::string UpdateSettings(const std::string& text, const SettingsValues& values);

// Reads the file at `path`; a missing or unreadable file gives the defaults.
SettingsValues LoadSettingsFile(const std::string& path);

// Writes `values` into the file at `path`, replacing it atomically: a temporary
// file beside it is written completely and then renamed over it, so a crash
// leaves either the old file or the new one. A link at `path` is written
// through only when it belongs to the user or to root (ELOOP otherwise; see
// platform::WriteFileAtomically). Returns why it could not, the file untouched.
platform::Status SaveSettingsFile(const std::string& path, const SettingsValues& values);

// What the user is told when the settings could not be saved to `path`:
// "Settings not saved: ./kelvad.ini is a link that belongs to another user",
// or "Settings not saved: cannot write ./kelvad.ini (Permission denied)".
std::string SettingsNotSavedText(const std::string& path, const platform::Status& failure);

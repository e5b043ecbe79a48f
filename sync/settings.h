// The settings file: the two directories and the run mode of the last
// successful run, in section "INIT" of "./kelvad.ini" in the working directory.
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
};

// Reads the three keys from the text of a settings file. Missing keys (or
// section) give the defaults: empty paths and run mode 0. Section and key names
// match ignoring case, the first occurrence counts, values are taken verbatim
// (blanks and quotes included) and cut to kSettingsReadLimit bytes without
// splitting a UTF-8 character. "Option" is read as a decimal integer; a value
// that is not a number reads as 0.
SettingsValues ParseSettings(const std::string& text);

// Returns `text` with the three keys of section INIT set to `values`, in the
// order MasterDir, SlaveDir, Option; every other line, section and comment is
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

// Texts as they are shown, apart from the texts themselves: a line too long for
// its control is shortened for display only, never the path that is used, and a
// name printed on a terminal is shown escaped, never obeyed; and the words for
// a count of bytes and a time left, alike in the window and the terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// A count of bytes as people read it: "512 bytes", "1.2 MiB", "3.0 GiB".
std::string ByteCountText(std::uint64_t bytes);

// `text` when it has at most `maxChars` characters; otherwise its beginning and
// end joined by "...", `maxChars` characters in all. Counts UTF-8 characters and
// never splits one.
std::string ShortenForDisplay(const std::string& text, size_t maxChars);

// `text` with every byte a terminal could take for a command written as an
// escape, as `ls -b` does, so that a name can neither retitle or clear the
// terminal nor forge or hide a line: "\n", "\r", "\t", "\a", "\b", "\f" and
// "\v", three octal digits for the other controls and DEL ("\033", "\177"),
// "\x" and two hex digits for each byte of a C1 control (U+0080 to U+009F) and
// for every byte that is not part of valid UTF-8 ("\x9b"), and "\\" for a
// backslash, so that every backslash starts an escape. Printable UTF-8 is kept.
// On Windows, where a backslash separates names and no name holds a control,
// a backslash is kept and '/' is shown as one.
std::string EscapeForTerminal(std::string_view text);

// `text` escaped as EscapeForTerminal does, then shortened as ShortenForDisplay
// does, except that an escape is never split: it counts as the characters it
// shows.
std::string ShortenForTerminal(std::string_view text, size_t maxChars);

// `text` with each '/' shown as the system's own separator: a backslash on
// Windows, where no name holds a '/', so every '/' in a path separates; the
// same text elsewhere. Paths are joined with '/' inside Kelvad.
std::string WithNativeSeparators(std::string text);

// `text` with its first `place` (a marker such as "{names}") replaced by `with`.
std::string WithPlaceFilled(std::string text, std::string_view place, std::string_view with);

// A time left, to the second below a minute, then to the minute past an hour:
// "45 s", "3 min 05 s", "2 h 07 min".
std::string DurationText(std::chrono::seconds duration);

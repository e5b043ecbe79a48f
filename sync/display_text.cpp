#include "sync/display_text.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "platform/path_compare.h"

namespace {

bool IsContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Where `text` may be cut: a character, or in escaped text a whole escape, with
// the characters it shows.
struct Piece {
    size_t start;
    size_t width;
};

std::string Shorten(const std::string& text, size_t maxChars, bool escaped) {
    std::vector<Piece> pieces;
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        size_t shows = 1;
        if (escaped && text[i] == '\\') {
            const char kind = i + 1 < text.size() ? text[i + 1] : '\\';
            length = shows = kind == 'x' || (kind >= '0' && kind <= '7') ? 4 : 2;
        } else {
            while (i + length < text.size() && IsContinuation(text[i + length])) {
                ++length;
            }
        }
        pieces.push_back({i, shows});
        width += shows;
        i += length;
    }
    if (width <= maxChars || maxChars < 5) {
        return text;
    }
    const size_t keep = maxChars - 3;
    const size_t head = keep / 2;
    const size_t tail = keep - head;
    size_t headPieces = 0;
    for (size_t shown = 0; pieces[headPieces].width + shown <= head; ++headPieces) {
        shown += pieces[headPieces].width;
    }
    size_t tailStart = pieces.size();
    for (size_t shown = 0; pieces[tailStart - 1].width + shown <= tail; --tailStart) {
        shown += pieces[tailStart - 1].width;
    }
    // An escape wider than the tail leaves it empty.
    const size_t tailByte = tailStart < pieces.size() ? pieces[tailStart].start : text.size();
    return text.substr(0, pieces[headPieces].start) + "..." + text.substr(tailByte);
}

// The length of the printable UTF-8 character `rest` starts with, or 0 when its
// first byte starts no valid sequence or the character is a C1 control.
size_t PrintableUtf8Length(std::string_view rest) {
    const auto byte = [rest](size_t i) { return static_cast<unsigned char>(rest[i]); };
    const unsigned char lead = byte(0);
    size_t length = 4;
    unsigned char low = 0x80;   // the second byte's range, narrowed for the
    unsigned char high = 0xBF;  // overlong forms, surrogates and beyond U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (rest.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (!IsContinuation(rest[i])) {
            return 0;
        }
    }
    return lead == 0xC2 && byte(1) <= 0x9F ? 0 : length;
}

// On Windows a backslash separates the names of a path, and no name holds a
// control character: a backslash there is shown as it is.
constexpr bool kBackslashSeparates = platform::IsSeparator('\\');

bool PassesAsItIs(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7F && (kBackslashSeparates || byte != '\\');
}

// The letter of a control's C escape ("\\n" for a line feed), and of the
// backslash; 0 for a byte written in octal.
char EscapeLetter(unsigned char byte) {
    constexpr std::string_view kBytes("\\\a\b\t\n\v\f\r", 8);
    constexpr std::string_view kLetters("\\abtnvfr", 8);
    const size_t at = kBytes.find(static_cast<char>(byte));
    return at == std::string_view::npos ? '\0' : kLetters[at];
}

}  // namespace

std::string ShortenForDisplay(const std::string& text, size_t maxChars) {
    return Shorten(text, maxChars, false);
}

std::string EscapeForTerminal(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (PassesAsItIs(byte)) {
            size_t end = i + 1;
            while (end < text.size() && PassesAsItIs(static_cast<unsigned char>(text[end]))) {
                ++end;
            }
            out.append(text, i, end - i);
            i = end;
            continue;
        }
        if (byte >= 0x80) {
            const size_t length = PrintableUtf8Length(text.substr(i));
            if (length > 0) {
                out.append(text, i, length);
                i += length;
            } else {
                // A C1 control is two bytes, each escaped in turn.
                const char escape[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
                out.append(escape, sizeof escape);
                ++i;
            }
            continue;
        }
        const char letter = EscapeLetter(byte);
        if (letter != 0) {
            const char escape[] = {'\\', letter};
            out.append(escape, sizeof escape);
        } else {
            const char escape[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                                   static_cast<char>('0' + ((byte >> 3) & 7)),
                                   static_cast<char>('0' + (byte & 7))};
            out.append(escape, sizeof escape);
        }
        ++i;
    }
    return WithNativeSeparators(std::move(out));
}

std::string WithPlaceFilled(std::string text, std::string_view place, std::string_view with) {
    const size_t at = text.find(place);
    return at == std::string::npos ? text : text.replace(at, place.size(), with);
}

std::string WithNativeSeparators(std::string text) {
    if (!kBackslashSeparates) {
        return text;
    }
    // A root typed with its separator ("D:\\") gets no second one; the two
    // that begin a share's name ("//server") stay two.
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        if (c != '/') {
            shown.push_back(c);
        } else if (shown.size() < 2 || shown.back() != '\\') {
            shown.push_back('\\');
        }
    }
    return shown;
}

std::string ShortenForTerminal(std::string_view text, size_t maxChars) {
    return Shorten(EscapeForTerminal(text), maxChars, true);
}

std::string ByteCountText(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
        return text;
    }
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string DurationText(std::chrono::seconds duration) {
    const long long s = duration.count() < 0 ? 0 : duration.count();
    char text[48];
    if (s < 60) {
        std::snprintf(text, sizeof text, "%lld s", s);
    } else if (s < 3600) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, s / 60 % 60);
    }
    return text;
}

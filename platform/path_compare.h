// How paths are ordered and matched. Lists of entries and the action list stand in
// this order: the letters A to Z fold to a to z, bytes compare unsigned, a proper
// prefix sorts first, and names equal but for letter case stand in byte order.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace platform {

// The platform's path separator, used to build keys, to join a root and a relative
// path, and in status and preview lines.
constexpr char kSeparator = '/';

#ifdef _WIN32
// Windows matches names ignoring the case of A to Z, and a backslash
// separates the names of a path as a slash does.
constexpr bool kNamesIgnoreCase = true;
constexpr bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}
#else
constexpr bool kNamesIgnoreCase = false;
constexpr bool IsSeparator(char c) {
    return c == '/';
}
#endif

// Folds A-Z to a-z and leaves every other byte alone.
inline unsigned char FoldByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Folds every byte of `text` in place (FoldByte).
inline void FoldBytes(std::span<char> text) {
    for (char& c : text) {
        c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
    }
}

// A path held in up to three pieces that are read as one string, so that a key
// (directory, separator, name) can be compared without being built.
struct PathPieces {
    std::string_view part[3];
};

// The order of keys and relative paths: A-Z folded first; when that finds the
// two equal, plain byte order. Zero only for byte-identical paths.
int ComparePaths(const PathPieces& a, const PathPieces& b);
int ComparePaths(std::string_view a, std::string_view b);

// The directory part of a relative path: "" for a name in the root.
inline std::string_view DirectoryOf(std::string_view relative) {
    const size_t slash = relative.rfind(kSeparator);
    return slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
}

// `dir` and `name` joined by a separator; either alone when the other is "".
inline std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (!path.empty() && !name.empty()) {
        path.push_back(kSeparator);
    }
    path.append(name);
    return path;
}

// True when `path` is `dir` or lies below it, byte for byte; a `dir` that ends
// in a separator (the file system's root, "/") holds every path it begins.
inline bool IsAtOrBelow(std::string_view path, std::string_view dir) {
    return path.substr(0, dir.size()) == dir &&
           (path.size() == dir.size() || (!dir.empty() && dir.back() == kSeparator) ||
            path[dir.size()] == kSeparator);
}

// How the paths of the two trees are matched: byte for byte, as Linux file
// systems tell names apart, or ignoring the case of A-Z, for a slave on a file
// system that does (FAT, exFAT), where Readme.txt and README.TXT are one file.
enum class NameMatch { Exact, IgnoreCase };

// The merge order of two relative paths under `match`: ComparePaths for Exact;
// for IgnoreCase, A-Z folded alone, so paths equal but for case give 0.
int ComparePaths(const PathPieces& a, const PathPieces& b, NameMatch match);

// Whether two master names that differ only in letter case, on a slave that
// matches names ignoring case, are told as one clash naming both: on Windows,
// where every program takes them for one name. On Linux only a FAT or exFAT
// stick ignores case, and the step of the second name fails as it would.
bool TellsCaseClashes();

}  // namespace platform

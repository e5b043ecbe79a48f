// Turns a directory tree on disk into a file list. Only regular files and
// directories take part: a link, FIFO, socket or device is listed as an entry
// left out or not at all (OtherEntries), and nothing below the root is
// followed through a symbolic link. A directory that cannot be listed is kept, marked as having
// unknown contents.
#pragma once

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>

#include "platform/path_compare.h"
#include "platform/tree_root.h"
#include "tree/exclusions.h"
#include "tree/file_list.h"

// Adds to `fileList` one entry for every file and directory below the open
// `root`, at every depth, in the list's order; the root itself gets no entry.
// Keys begin with the root's path as typed. A root that cannot be listed adds
// nothing. Holds one directory open at a time, however deep the tree. Every
// mount point below the root is recorded in fileList->mountPoints; below a
// root that stays on its file system their contents are unknown, and a bind
// mount of one of a directory's own ancestors is not entered again (its
// contents unknown there too). When `stop` is given and turns true (from
// another thread), the scan ends within a few thousand entries, in the middle
// of a directory's listing or sorting too, leaving an incomplete list, in no
// order, that is only good for throwing away.
// With `exclusions`, what they leave out is kept in the list as an entry
// marked excluded and, for a directory, not read; the ignore files that could
// not be read or hold a bad pattern are told in fileList->ruleErrors.
// Links, FIFOs, sockets and devices: listed as left out (the master's, whose
// paths stay out of the mirror on both sides), or passed over (the slave's,
// which are neither the run's to delete nor to follow).
enum class OtherEntries { LeftOut, Skipped };

// The folder at the root of the slave that keeps what runs took away from it.
// At the root of either tree it is left out, and nothing below it is read.
inline constexpr std::string_view kVersionsFolderName = ".kelvad-versions";

// Whether `name` is the versions folder's, in any letter case: on a slave that
// ignores case ".Kelvad-Versions" is the versions folder itself.
inline bool IsVersionsFolderName(std::string_view name) {
    return name.size() == kVersionsFolderName.size() &&
           std::equal(name.begin(), name.end(), kVersionsFolderName.begin(), [](char a, char b) {
               return platform::FoldByte(static_cast<unsigned char>(a)) ==
                      static_cast<unsigned char>(b);
           });
}

void ScanDirectory(platform::TreeRoot& root, CFileList* fileList,
                   const std::atomic<bool>* stop = nullptr, Exclusions* exclusions = nullptr,
                   OtherEntries others = OtherEntries::LeftOut);

// How names in the tree scanned into `fileList` from `root` are told apart:
// NameMatch::IgnoreCase when its file system takes a name with the case of its
// letters changed for the same entry (FAT, exFAT), found out from the first
// entry whose name has a letter; Exact otherwise, and for a tree without one.
platform::NameMatch NameMatchOf(platform::TreeRoot& root, const CFileList& fileList);

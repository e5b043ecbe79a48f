// The file list of one tree: every entry in ascending key order (ComparePaths),
// entries with equal keys in the order they were inserted. The list owns its
// entries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"
#include "tree/file_entry.h"

class CFileList : public std::vector<std::unique_ptr<CFileEntry>> {
public:
    // Set by the scanner when the root itself could not be listed completely:
    // entries of the other tree may then be missing here without being gone.
    bool rootContentsUnknown = false;
    // The mount points below the root when it was scanned, relative to it.
    std::vector<std::string> mountPoints;
    // Directories that could not be listed (whole or in part), relative to the
    // root ("" the root itself), with the failure that stopped the listing.
    struct Unreadable {
        std::string path;
        platform::Status status;
    };
    std::vector<Unreadable> unreadable;
    // How many entries the scan left out of the mirror (marked excluded), and
    // the ignore files that could not be read or hold a bad pattern.
    size_t leftOut = 0;
    // Entries whose names the system cannot open as one name (a separator in
    // the name, as Wine lists some of a Linux directory), relative to the
    // root: left out, and told once.
    std::vector<std::string> unusable;
    // Directories holding a link, pipe or device that a scan skipping those
    // did not list, relative to the root: their listing is not their whole
    // contents, so no such directory moves whole.
    std::vector<std::string> holdingOthers;
    std::vector<std::string> ruleErrors;
};

// Inserts `entry` at its place by binary search, after every entry whose key
// compares equal to its own. The list takes ownership.
void InsertSorted(CFileList* fileList, std::unique_ptr<CFileEntry> entry);

// Puts the entries from index `firstNew` on into the place that one InsertSorted
// per entry, in index order, would have given them; the entries before
// `firstNew` must already be in order. O(n log n) where one InsertSorted per
// entry is quadratic.
void SortInsertedEntries(CFileList* fileList, size_t firstNew);

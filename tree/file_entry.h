// One file or directory found by a scan: its name, whether it is a directory,
// its last-write time and the path of the directory that holds it. Siblings
// share one copy of that path.
#pragma once

#include <string>

#include "platform/file_time.h"
#include "platform/path_compare.h"
#include "tree/dir_path.h"

class CFileEntry {
public:
    // `dirPath` is the holding directory's path exactly as the scanner built it:
    // the root as typed, then the directories on the way down, each after one
    // separator.
    CFileEntry(std::string name, bool isDirectory, platform::FileTime lastWrite,
               SharedDirPath dirPath);

    bool IsDirectory() const { return m_isDirectory; }
    const std::string& GetName() const { return m_name; }
    const std::string& GetDirPath() const { return m_dirPath.Get(); }
    const SharedDirPath& GetSharedDirPath() const { return m_dirPath; }
    platform::FileTime GetLastWriteTime() const { return m_lastWrite; }

    // -1 when this entry was last written earlier than `other`, 0 at the same
    // instant, +1 later. Exact: no tolerance.
    long CompareTime(const CFileEntry* other) const;

    // A directory whose listing failed or broke off: what lies below it is not
    // known, which is not the same as empty.
    bool HasUnknownContents() const { return m_unknownContents; }
    void MarkContentsUnknown() { m_unknownContents = true; }

    // The key: the holding directory's path, one separator and the name.
    std::string GetKey() const;
    platform::PathPieces KeyPieces() const;

    // The key without the first `rootLength` bytes and the separator after them:
    // the path relative to the root that the entry was scanned from.
    platform::PathPieces RelativePieces(size_t rootLength) const;

private:
    SharedDirPath m_dirPath;
    std::string m_name;
    platform::FileTime m_lastWrite;
    bool m_isDirectory;
    bool m_unknownContents = false;
};

// Joins pieces into one string.
std::string JoinPieces(const platform::PathPieces& pieces);

// One file or directory found by a scan: its name, whether it is a directory,
// its last-write time, its size and the path of the directory that holds it.
// Siblings share one copy of that path.
#pragma once

#include <cstdint>
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
               SharedDirPath dirPath, std::uint64_t size = 0);

    bool IsDirectory() const { return m_isDirectory != 0; }
    // The file's size in bytes; 0 for a directory.
    std::uint64_t GetSize() const { return m_size; }
    const std::string& GetName() const { return m_name; }
    const std::string& GetDirPath() const { return m_dirPath.Get(); }
    const SharedDirPath& GetSharedDirPath() const { return m_dirPath; }
    platform::FileTime GetLastWriteTime() const { return m_lastWrite; }

    // -1 when this entry was last written earlier than `other`, 0 at the same
    // instant, +1 later. Exact: no tolerance; to the nanosecond with
    // `nanoseconds`, else to the 100 ns of a FileTime.
    long CompareTime(const CFileEntry* other, bool nanoseconds = false) const;
    // The nanoseconds of the last-write time below its 100 ns (0 to 99).
    void SetLastWriteNanoseconds(std::uint8_t ns) { m_lastWriteNs = (ns % 100u) & 0x7Fu; }

    // A directory whose listing failed or broke off: what lies below it is not
    // known, which is not the same as empty.
    bool HasUnknownContents() const { return m_unknownContents != 0; }
    void MarkContentsUnknown() { m_unknownContents = 1; }

    // Left out of the mirror by an ignore pattern or a cache tag: nothing is
    // planned for it, nor below it (a directory left out is not read).
    bool IsExcluded() const { return m_excluded != 0; }
    void MarkExcluded() { m_excluded = 1; }

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
    // One word for the size and the flags keeps an entry at 56 bytes, which
    // matters at a million entries a tree.
    std::uint64_t m_size : 54;  // 16 PiB, more than any file
    std::uint64_t m_lastWriteNs : 7;
    std::uint64_t m_isDirectory : 1;
    std::uint64_t m_unknownContents : 1;
    std::uint64_t m_excluded : 1;
};

// Joins pieces into one string.
std::string JoinPieces(const platform::PathPieces& pieces);

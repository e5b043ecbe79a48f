#include "tree/file_entry.h"

#include <utility>

namespace {
constexpr std::string_view kSeparatorText(&platform::kSeparator, 1);
}

CFileEntry::CFileEntry(std::string name, bool isDirectory, platform::FileTime lastWrite,
                       SharedDirPath dirPath, std::uint64_t size)
    : m_dirPath(std::move(dirPath)),
      m_name(std::move(name)),
      m_lastWrite(lastWrite),
      m_size(size & ((std::uint64_t(1) << 54) - 1)),
      m_lastWriteNs(0),
      m_isDirectory(isDirectory ? 1 : 0),
      m_unknownContents(0),
      m_excluded(0) {}

long CFileEntry::CompareTime(const CFileEntry* other, bool nanoseconds) const {
    const int order = platform::CompareFileTime(m_lastWrite, other->m_lastWrite);
    if (order != 0 || !nanoseconds) {
        return order;
    }
    return m_lastWriteNs < other->m_lastWriteNs ? -1
                                                : (m_lastWriteNs > other->m_lastWriteNs ? 1 : 0);
}

std::string CFileEntry::GetKey() const {
    return JoinPieces(KeyPieces());
}

platform::PathPieces CFileEntry::KeyPieces() const {
    return platform::PathPieces{{m_dirPath.Get(), kSeparatorText, m_name}};
}

platform::PathPieces CFileEntry::RelativePieces(size_t rootLength) const {
    const std::string& dir = m_dirPath.Get();
    if (dir.size() <= rootLength) {
        return platform::PathPieces{{m_name, {}, {}}};
    }
    return platform::PathPieces{
        {std::string_view(dir).substr(rootLength + 1), kSeparatorText, m_name}};
}

std::string JoinPieces(const platform::PathPieces& pieces) {
    std::string s;
    s.reserve(pieces.part[0].size() + pieces.part[1].size() + pieces.part[2].size());
    for (const std::string_view& part : pieces.part) {
        s.append(part);
    }
    return s;
}

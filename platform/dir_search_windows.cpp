// The directory search on Windows: NtQueryDirectoryFile on the open directory
// handle, so a search lists the very directory that was opened beneath the
// root. Reparse points (symbolic links, junctions) are passed over like links.
#include "platform/dir_search.h"

#include <cerrno>

#include "platform/file_ops.h"
#include "platform/windows_util.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK io, PVOID buffer,
                                               ULONG length,
                                               FILE_INFORMATION_CLASS informationClass,
                                               BOOLEAN singleEntry, PUNICODE_STRING fileName,
                                               BOOLEAN restartScan);

namespace platform {

namespace {
constexpr ULONG kBufferSize = 64 * 1024;
constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
}  // namespace

Status DirSearch::Open(int fd) {
    Close();
    m_status = Status();
    m_fd = fd;
    m_buffer = std::make_unique<unsigned char[]>(kBufferSize);
    m_next = 0;
    m_bufferFull = false;
    m_first = true;
    return {};
}

bool DirSearch::FillBuffer() {
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        ::NtQueryDirectoryFile(win::HandleOf(m_fd), nullptr, nullptr, nullptr, &io, m_buffer.get(),
                               kBufferSize, FileDirectoryInformation, FALSE, nullptr, m_first);
    m_first = false;
    if (status == kNoMoreFiles) {
        return false;
    }
    if (status < 0) {
        m_status = win::FromNtStatus("NtQueryDirectoryFile", status);
        return false;
    }
    m_next = 0;
    m_bufferFull = true;
    return true;
}

bool DirSearch::Next(DirMatch& match) {
    if (m_fd < 0 || !m_status.ok()) {
        return false;
    }
    for (;;) {
        if (!m_bufferFull && !FillBuffer()) {
            return false;
        }
        const auto* entry =
            reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(m_buffer.get() + m_next);
        if (entry->NextEntryOffset == 0) {
            m_bufferFull = false;
        } else {
            m_next += entry->NextEntryOffset;
        }
        m_name = win::Narrow(
            std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
        match.name = m_name;
        // Links, junctions and the like are named, never looked into. A name
        // with a separator in it (Wine lists "x\\y" of a Linux directory so)
        // would be opened as a path, reaching another entry: it is named only.
        match.unusableName = m_name.find_first_of("\\/") != std::string::npos;
        match.isOther =
            (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || match.unusableName;
        match.isDirectory =
            !match.isOther && (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool dots = m_name == "." || m_name == "..";
        match.lastWrite = dots || match.isOther ? 0 : win::FromFiletime(entry->LastWriteTime);
        match.size = match.isDirectory || match.isOther
                         ? 0
                         : static_cast<std::uint64_t>(entry->EndOfFile.QuadPart);
        return true;
    }
}

void DirSearch::Close() {
    if (m_fd >= 0) {
        (void)CloseFile(m_fd);
        m_fd = -1;
    }
    m_buffer.reset();
}

}  // namespace platform

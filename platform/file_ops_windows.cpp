// The file services on Windows, on the handles behind the C library's
// descriptors. Paths given whole (the settings file, the log) are opened in
// their long form (\\?\), so their length is not limited either.
#include "platform/file_ops.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>

#include "platform/windows_util.h"

namespace platform {

using win::HandleOf;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The most one ReadFile or WriteFile call moves.
constexpr size_t kMaxCall = 1u << 30;

Result<size_t> ReadWith(HANDLE handle, void* buffer, size_t size, OVERLAPPED* at) {
    DWORD n = 0;
    if (!::ReadFile(handle, buffer, static_cast<DWORD>(std::min(size, kMaxCall)), &n, at)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) {
            return size_t{0};
        }
        return Status::Failed("ReadFile", win::ErrnoOf(error));
    }
    return static_cast<size_t>(n);
}

OVERLAPPED At(off_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return at;
}

Result<off_t> SizeOf(int fd) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(HandleOf(fd), &size)) {
        return win::FromLastError("GetFileSizeEx");
    }
    return static_cast<off_t>(size.QuadPart);
}

// What the open `handle` is: a regular file (not a directory, a link or a device).
Status RegularFile(HANDLE handle, const char* call) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        return Status::Failed(call, EINVAL);
    }
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return win::FromLastError("GetFileInformationByHandleEx");
    }
    if (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return Status::Failed(call, ELOOP);
    }
    if (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return Status::Failed(call, EINVAL);
    }
    return {};
}

// Opens the file at `path` whole; the caller owns the handle.
Result<HANDLE> OpenPath(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
    HANDLE handle = ::CreateFileW(win::LongPath(path).c_str(), access, kShareAll, nullptr,
                                  disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return win::FromLastError("CreateFileW");
    }
    return handle;
}

}  // namespace

bool ReachedByOwnerAlone(const FileInfo& info) {
    (void)info;
    return false;
}

mode_t Umask() {
    return 0;
}

Result<size_t> ReadSome(int fd, void* buffer, size_t size) {
    return ReadWith(HandleOf(fd), buffer, size, nullptr);
}

Status WriteAll(int fd, const void* buffer, size_t size) {
    return WriteAllAt(fd, buffer, size, -1);
}

Result<size_t> CopyRange(int, int, size_t) {
    return Status::Failed("CopyFile2", ENOSYS);  // the copier then reads and writes
}

Status CloseFile(int fd) {
    return ::_close(fd) == 0 ? Status() : Status::FromErrno("CloseHandle");
}

void DiscardFile(int fd) {
    (void)CloseFile(fd);
}

bool DiscardsPending() {
    return false;
}

OwnFileTable::OwnFileTable() = default;
OwnFileTable::~OwnFileTable() = default;

Result<size_t> ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    OVERLAPPED at = At(offset);
    return ReadWith(HandleOf(fd), buffer, size, &at);
}

Status WriteAllAt(int fd, const void* buffer, size_t size, off_t offset) {
    const char* p = static_cast<const char*>(buffer);
    while (size > 0) {
        OVERLAPPED at = At(offset);
        DWORD n = 0;
        if (!::WriteFile(HandleOf(fd), p, static_cast<DWORD>(std::min(size, kMaxCall)), &n,
                         offset >= 0 ? &at : nullptr)) {
            return win::FromLastError("WriteFile");
        }
        if (n == 0) {
            return Status::Failed("WriteFile", ENOSPC);
        }
        p += n;
        size -= n;
        if (offset >= 0) {
            offset += n;
        }
    }
    return {};
}

Result<size_t> CopyRangeAt(int, off_t, int, off_t, size_t) {
    return Status::Failed("CopyFile2", ENOSYS);
}

// Copies are never told of holes on Windows (FileInfo::sparse stays false): the
// whole file is one run of data.
Result<off_t> SeekData(int fd, off_t offset) {
    const Result<off_t> size = SizeOf(fd);
    if (!size.ok()) {
        return size;
    }
    return offset < *size ? Result<off_t>(offset)
                          : Result<off_t>(Status::Failed("SeekData", ENXIO));
}

Result<off_t> SeekHole(int fd, off_t) {
    return SizeOf(fd);
}

Status Truncate(int fd, off_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!::SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &end, sizeof end)) {
        return win::FromLastError("SetFileInformationByHandle");
    }
    return {};
}

Status Rewind(int fd) {
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(HandleOf(fd), start, nullptr, FILE_BEGIN)
               ? Status()
               : win::FromLastError("SetFilePointerEx");
}

Status DescribeOpenFile(int fd, FileInfo& info) {
    HANDLE handle = HandleOf(fd);
    BY_HANDLE_FILE_INFORMATION file{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(handle, &file) ||
        !::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return win::FromLastError("GetFileInformationByHandle");
    }
    const bool directory = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.size =
        directory
            ? 0
            : static_cast<off_t>((std::uint64_t{file.nFileSizeHigh} << 32) | file.nFileSizeLow);
    // The read-only attribute is the one permission Windows keeps of this kind.
    info.mode = directory ? 0755 : ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644);
    info.lastWrite = win::FromFiletime(basic.LastWriteTime);
    info.lastChange = win::FromFiletime(basic.ChangeTime);
    info.sparse = false;
    info.lastWriteExact = win::TimespecOf(info.lastWrite);
    info.lastAccessExact = win::TimespecOf(win::FromFiletime(basic.LastAccessTime));
    info.owner = 0;
    info.group = 0;
    info.device = file.dwVolumeSerialNumber;
    info.inode = (std::uint64_t{file.nFileIndexHigh} << 32) | file.nFileIndexLow;
    return {};
}

bool IsDirectoryPath(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(win::LongPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Status MayCreateIn(const std::string&) {
    return Status();  // the first line written tells
}

Status ReadWholeFile(const std::string& path, std::string& text) {
    const Result<HANDLE> opened = OpenPath(path, GENERIC_READ, OPEN_EXISTING, 0);
    if (!opened.ok()) {
        return opened.status();
    }
    const Result<int> fd = win::Adopt(*opened, "CreateFileW");
    if (!fd.ok()) {
        return fd.status();
    }
    Status status = RegularFile(*opened, "CreateFileW");
    if (status.ok()) {
        status = ReadToEnd(*fd, text);
    }
    (void)CloseFile(*fd);
    return status;
}

Status WriteFileAtomically(const std::string& path, const std::string& content) {
    // Only a regular file is replaced: a directory, a link or a device at
    // `path` is left as it is.
    const std::wstring target = win::LongPath(path);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))) {
        return Status::Failed("GetFileAttributesW", EPERM);
    }
    const std::string temp = path + ".tmp" + std::to_string(ProcessId());
    const Result<HANDLE> opened = OpenPath(temp, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (!opened.ok()) {
        return opened.status();
    }
    const Result<int> fd = win::Adopt(*opened, "CreateFileW");
    if (!fd.ok()) {
        return fd.status();
    }
    Status status = WriteAll(*fd, content.data(), content.size());
    if (status.ok() && !::FlushFileBuffers(*opened)) {
        status = win::FromLastError("FlushFileBuffers");
    }
    if (const Status closed = CloseFile(*fd); status.ok()) {
        status = closed;
    }
    const std::wstring wideTemp = win::LongPath(temp);
    if (status.ok() && !::MoveFileExW(wideTemp.c_str(), target.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        status = win::FromLastError("MoveFileExW");
    }
    if (!status.ok()) {
        ::DeleteFileW(wideTemp.c_str());
    }
    return status;
}

Status MakeParentDirectories(const std::string& path) {
    const std::wstring wide = win::LongPath(path);
    // Each directory after the \\?\X:\ (or \\?\UNC\server\share\) part.
    for (size_t slash = wide.find(L'\\', 7); slash != std::wstring::npos;
         slash = wide.find(L'\\', slash + 1)) {
        if (!::CreateDirectoryW(wide.substr(0, slash).c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_ACCESS_DENIED) {
            return win::FromLastError("CreateDirectoryW");
        }
    }
    return {};
}

Result<int> OpenForAppend(const std::string& path, MissingDirectories missing,
                          MissingFile missingFile) {
    const std::wstring wide = win::LongPath(path);
    if (missing == MissingDirectories::Make) {
        if (const Status made = MakeParentDirectories(path); !made.ok()) {
            return made;
        }
    }
    HANDLE handle =
        ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      missingFile == MissingFile::Make ? OPEN_ALWAYS : OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return win::FromLastError("CreateFileW");
    }
    if (const Status regular = RegularFile(handle, "CreateFileW"); !regular.ok()) {
        ::CloseHandle(handle);
        return regular;
    }
    return win::Adopt(handle, "CreateFileW");
}

Status RenameReplacing(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(win::LongPath(from).c_str(), win::LongPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING)) {
        return win::FromLastError("MoveFileExW");
    }
    return {};
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "."
           : slash == 0               ? path.substr(0, 1)
                                      : path.substr(0, slash);
}

namespace {
// `path` made absolute with '/' between names, upper-cased as the file system
// compares names; empty when it cannot be.
std::wstring FullPath(const std::string& path, bool upper) {
    wchar_t buffer[32768];
    const DWORD n = ::GetFullPathNameW(win::Widen(path).c_str(), 32768, buffer, nullptr);
    if (n == 0 || n >= 32768) {
        return {};
    }
    std::wstring full(buffer, n);
    std::replace(full.begin(), full.end(), L'\\', L'/');
    if (upper) {
        ::CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    }
    return full;
}
}  // namespace

std::optional<std::string> PathBelow(const std::string& path, const std::string& root) {
    std::wstring prefix = FullPath(root, true);
    const std::wstring full = FullPath(path, false);
    std::wstring upper = FullPath(path, true);
    if (prefix.empty() || full.empty()) {
        return std::nullopt;
    }
    if (prefix.back() != L'/') {
        prefix += L'/';
    }
    if (upper.size() <= prefix.size() || upper.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    return win::Narrow(full.substr(prefix.size()));
}

int ProcessId() {
    return static_cast<int>(::GetCurrentProcessId());
}

std::string EnvironmentVariable(const char* name) {
    const std::wstring wideName = win::Widen(name);
    const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (n == 0) {
        return {};
    }
    std::wstring value(n, L'\0');
    const DWORD used = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
    value.resize(used);
    return win::Narrow(value);
}

std::string HomeDirectory() {
    return EnvironmentVariable("USERPROFILE");
}

std::string StateDirectory() {
    return EnvironmentVariable("LOCALAPPDATA");
}

std::string StateDirectoryUnknown() {
    return "LOCALAPPDATA is not set";
}

const char* const kStateDirectoryShown = "%LOCALAPPDATA%";

std::string ConfigDirectory() {
    return EnvironmentVariable("APPDATA");
}

const char* const kConfigDirectoryShown = "%APPDATA%";
const char* const kProgramFolder = "Kelvad";

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

}  // namespace platform

#include "platform/windows_util.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cwctype>

namespace platform::win {

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) {
        return {};
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), narrow.data(),
                          n, nullptr, nullptr);
    return narrow;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

Result<int> Adopt(HANDLE handle, const char* call) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return Status::Failed(call, EMFILE);
    }
    return fd;
}

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_NO_MORE_FILES:
            return ENOENT;
        case ERROR_DIRECTORY:  // a file where a directory was asked for
            return ENOTDIR;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
        case ERROR_CANNOT_MAKE:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return kInUse;
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
            return EOPNOTSUPP;
        case ERROR_CANT_ACCESS_FILE:
        case ERROR_CANT_RESOLVE_FILENAME:
        case 681:  // ERROR_STOPPED_ON_SYMLINK
            return ELOOP;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        default:
            return EIO;
    }
}

Status FromLastError(const char* call) {
    return Status::Failed(call, ErrnoOf(::GetLastError()));
}

Status FromNtStatus(const char* call, NTSTATUS status) {
    // Statuses whose Windows error would lose what they say.
    switch (static_cast<ULONG>(status)) {
        case 0xC0000035:  // STATUS_OBJECT_NAME_COLLISION
            return Status::Failed(call, EEXIST);
        case 0xC0000101:  // STATUS_DIRECTORY_NOT_EMPTY
            return Status::Failed(call, ENOTEMPTY);
        case 0xC00000BA:  // STATUS_FILE_IS_A_DIRECTORY
            return Status::Failed(call, EISDIR);
        case 0xC0000103:  // STATUS_NOT_A_DIRECTORY
            return Status::Failed(call, ENOTDIR);
        case 0xC0000121:  // STATUS_CANNOT_DELETE (read-only)
            return Status::Failed(call, EACCES);
        case 0xC0000056:  // STATUS_DELETE_PENDING
            return Status::Failed(call, ENOENT);
        case 0xC0000033:  // STATUS_OBJECT_NAME_INVALID
            return Status::Failed(call, kUnusableName);
        default:
            return Status::Failed(call, ErrnoOf(::RtlNtStatusToDosError(status)));
    }
}

std::wstring LongPath(const std::string& path) {
    std::wstring wide = Widen(path);
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (wide.rfind(L"\\\\?\\", 0) == 0) {
        return wide;
    }
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) {
        return wide;
    }
    std::wstring full(n, L'\0');
    const DWORD used = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    full.resize(used);
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

bool IsUsableName(std::wstring_view name) {
    if (name.empty() || name.back() == L'.' || name.back() == L' ') {
        return false;
    }
    for (const wchar_t c : name) {
        if (c < 32 || std::wstring_view(L"\\/<>:\"|?*").find(c) != std::wstring_view::npos) {
            return false;
        }
    }
    // A device's name, before any extension, in any letter case.
    std::wstring stem(name.substr(0, name.find(L'.')));
    while (!stem.empty() && stem.back() == L' ') {
        stem.pop_back();  // "nul .txt" is the device too
    }
    for (wchar_t& c : stem) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") {
        return false;
    }
    return !(stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
             stem[3] >= L'1' && stem[3] <= L'9');
}

NTSTATUS OpenRelative(HANDLE dir, std::wstring_view name, ACCESS_MASK access, ULONG disposition,
                      ULONG options, ULONG attributes, HANDLE& opened) {
    opened = INVALID_HANDLE_VALUE;
    if (!name.empty() && !IsUsableName(name)) {
        return static_cast<NTSTATUS>(0xC0000033L);  // STATUS_OBJECT_NAME_INVALID
    }
    std::wstring nativeName(name);
    UNICODE_STRING unicodeName;
    unicodeName.Buffer = nativeName.data();
    unicodeName.Length = static_cast<USHORT>(nativeName.size() * sizeof(wchar_t));
    unicodeName.MaximumLength = unicodeName.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &unicodeName, 0, dir, nullptr);
    IO_STATUS_BLOCK io{};
    opened = INVALID_HANDLE_VALUE;
    const NTSTATUS status = ::NtCreateFile(
        &opened, access | SYNCHRONIZE, &object, &io, nullptr, attributes,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) {
        opened = INVALID_HANDLE_VALUE;
    }
    return status;
}

FileTime FromFiletime(const LARGE_INTEGER& t) {
    return t.QuadPart < 0 ? 0 : static_cast<FileTime>(t.QuadPart);
}

timespec TimespecOf(FileTime t) {
    timespec ts{};
    ts.tv_sec =
        static_cast<time_t>(static_cast<std::int64_t>(t / 10000000ULL) - kEpochDifferenceSeconds);
    ts.tv_nsec = static_cast<long>((t % 10000000ULL) * 100);
    return ts;
}

LARGE_INTEGER FiletimeOf(const timespec& ts) {
    LARGE_INTEGER t;
    t.QuadPart = static_cast<LONGLONG>(FileTimeFromTimespec(ts));
    return t;
}

}  // namespace platform::win

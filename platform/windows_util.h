// What the Windows platform layer shares: the conversion of names between
// Kelvad's UTF-8 and the system's UTF-16, the descriptors that stand for
// handles, the system's errors as error numbers, and the open of one name
// relative to an open directory that never follows a reparse point.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <winternl.h>

// The system's headers name functions with macros that would rename the
// root's operations of the same names.
#undef RemoveDirectory
#undef CreateDirectory

#include <string>
#include <string_view>

#include "platform/file_time.h"
#include "platform/status.h"

namespace platform::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The descriptors that the rest of Kelvad holds are the C library's, each
// owning one handle: closing the descriptor closes the handle.
HANDLE HandleOf(int fd);
// Gives `handle` a descriptor; on failure the handle is closed.
Result<int> Adopt(HANDLE handle, const char* call);

// The error number that stands for a Windows error or an NT status, so the
// engine's checks (ENOENT, EEXIST, EACCES, ...) read the same on both systems.
int ErrnoOf(DWORD win32Error);
Status FromLastError(const char* call);
Status FromNtStatus(const char* call, NTSTATUS status);

// `path` as the system takes it whatever its length: absolute, with
// backslashes, behind the \\?\ prefix (\\?\UNC\ for a share).
std::wstring LongPath(const std::string& path);

// True when `name`, one name in a directory, is one that Windows holds and
// every program can open: no separator ('\\' or '/'), none of the reserved
// characters < > : " | ? * nor a control character, no dot or space at its end
// ("." and ".." included), and not a device's name (CON, PRN, AUX, NUL, COM1 to
// COM9, LPT1 to LPT9, alone or before an extension: "nul.txt" too).
bool IsUsableName(std::wstring_view name);

// Opens `name`, one name in the open directory `dir` ("" for `dir` itself),
// with NtCreateFile; a name that is not IsUsableName is never handed to the
// system (Wine opens "a." as "a", and "x\\y" as a path) and gives
// STATUS_OBJECT_NAME_INVALID. `options` always gains
// FILE_OPEN_REPARSE_POINT and synchronous input and output: a reparse point
// (a symbolic link, a junction, a mount point) is opened as itself, never
// followed; the caller looks at its attributes. Returns the NT status.
NTSTATUS OpenRelative(HANDLE dir, std::wstring_view name, ACCESS_MASK access, ULONG disposition,
                      ULONG options, ULONG attributes, HANDLE& opened);

// The last-write time as the system keeps it, and the same as a timespec.
FileTime FromFiletime(const LARGE_INTEGER& t);
timespec TimespecOf(FileTime t);
LARGE_INTEGER FiletimeOf(const timespec& t);

}  // namespace platform::win

#endif

// The root handle on Windows. Every name below a root is opened one component
// at a time with NtCreateFile relative to the directory handle above it, each
// as itself (FILE_OPEN_REPARSE_POINT): a symbolic link, a junction or a mount
// point below the root is refused (ELOOP), never followed. Names are UTF-8 in
// Kelvad and UTF-16 at the system's calls; no call sees a whole path, so paths
// of any length work.
#include "platform/tree_root.h"

#include <cerrno>

#include "platform/dir_search.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/system_root.h"
#include "platform/windows_util.h"

namespace platform {

namespace {

using win::HandleOf;

constexpr ACCESS_MASK kListAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// The path of the open directory `dir` on its volume with a separator after
// it ("\\data\\photos\\"), as the system names what it opened; the names
// opened in it are checked against it.
std::wstring PrefixOf(HANDLE dir) {
    alignas(FILE_NAME_INFO) unsigned char buffer[sizeof(FILE_NAME_INFO) + 65536];
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer);
    if (!::GetFileInformationByHandleEx(dir, FileNameInfo, info, sizeof buffer)) {
        return {};
    }
    std::wstring path(info->FileName, info->FileNameLength / sizeof(wchar_t));
    if (path.empty() || path.back() != L'\\') {
        path += L'\\';
    }
    return path;
}

// Opens the one name `name` in the directory `dir`, whose PrefixOf is
// `dirPrefix`. A reparse point there is refused (ELOOP), and so is anything
// but the entry itself: a link that the system followed although it was asked
// not to (Wine follows a symbolic link to a file made on the Linux side, and
// reports no reparse point) names its target instead, which may lie anywhere.
// The attributes of what was opened are left in `found`.
Result<HANDLE> OpenIn(HANDLE dir, const std::wstring& dirPrefix, const std::wstring& name,
                      ACCESS_MASK access, ULONG disposition, ULONG options, ULONG attributes = 0,
                      DWORD* found = nullptr) {
    HANDLE opened;
    const NTSTATUS status = win::OpenRelative(dir, name, access | FILE_READ_ATTRIBUTES, disposition,
                                              options, attributes, opened);
    if (status < 0) {
        return win::FromNtStatus("NtCreateFile", status);
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag)) {
        const Status failure = win::FromLastError("GetFileInformationByHandleEx");
        ::CloseHandle(opened);
        return failure;
    }
    const std::wstring expected = dirPrefix + name + L'\\';
    const std::wstring actual = PrefixOf(opened);
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || tag.ReparseTag != 0 ||
        ::CompareStringOrdinal(expected.data(), static_cast<int>(expected.size()), actual.data(),
                               static_cast<int>(actual.size()), TRUE) != CSTR_EQUAL) {
        ::CloseHandle(opened);
        return Status::Failed("NtCreateFile", ELOOP);
    }
    if (found != nullptr) {
        *found = tag.FileAttributes;
    }
    return opened;
}

Result<HANDLE> OpenName(HANDLE dir, const std::string& name, ACCESS_MASK access, ULONG disposition,
                        ULONG options, ULONG attributes = 0, DWORD* found = nullptr) {
    return OpenIn(dir, PrefixOf(dir), win::Widen(name), access, disposition, options, attributes,
                  found);
}

// `attributes` with the read-only attribute set or cleared; a file left with
// none has FILE_ATTRIBUTE_NORMAL, as the system asks.
DWORD WithReadOnly(DWORD attributes, bool readOnly) {
    const DWORD changed =
        readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
    return changed != 0 ? changed : FILE_ATTRIBUTE_NORMAL;
}

// Marks the open `handle` for deletion; it goes when the handle is closed.
Status MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
        return win::FromLastError("SetFileInformationByHandle");
    }
    return {};
}

// Sets or clears the read-only attribute of the open `handle`, keeping the rest.
Status SetReadOnly(HANDLE handle, bool readOnly) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return win::FromLastError("GetFileInformationByHandleEx");
    }
    FILE_BASIC_INFO changed{};  // zero times are left as they are
    changed.FileAttributes = WithReadOnly(basic.FileAttributes, readOnly);
    if (changed.FileAttributes == basic.FileAttributes) {
        return {};
    }
    if (!::SetFileInformationByHandle(handle, FileBasicInfo, &changed, sizeof changed)) {
        return win::FromLastError("SetFileInformationByHandle");
    }
    return {};
}

// Deletes the name `name` in `dir` (a file, or with FILE_DIRECTORY_FILE an
// empty directory). A read-only file is made writable first, as the master no
// longer has it and the user asked for the slave to follow.
Status DeleteName(HANDLE dir, const std::string& name, ULONG options) {
    DWORD attributes = 0;
    const Result<HANDLE> opened =
        OpenName(dir, name, DELETE | FILE_WRITE_ATTRIBUTES, FILE_OPEN, options, 0, &attributes);
    if (!opened.ok()) {
        return opened.status();
    }
    Status status;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        status = SetReadOnly(*opened, false);
    }
    if (status.ok()) {
        status = MarkForDeletion(*opened);
    }
    ::CloseHandle(*opened);
    return status;
}

// Renames `from` to `to`, both names in `dir`.
// Gives `from` in `fromDir` the name `to` in `dir`, replacing what has it when
// `replace` says so.
Status RenameIn(HANDLE fromDir, const std::string& from, HANDLE dir, const std::string& to,
                bool replace) {
    const Result<HANDLE> source = OpenName(fromDir, from, DELETE, FILE_OPEN, 0);
    if (!source.ok()) {
        return source.status();
    }
    const std::wstring target = win::Widen(to);
    if (!win::IsUsableName(target)) {
        ::CloseHandle(*source);
        return Status::Failed("NtSetInformationFile", kUnusableName);
    }
    std::string buffer(sizeof(FILE_RENAME_INFORMATION) + target.size() * sizeof(wchar_t), '\0');
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = replace;
    rename->RootDirectory = dir;
    rename->FileNameLength = static_cast<ULONG>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    IO_STATUS_BLOCK io{};
    NTSTATUS status = ::NtSetInformationFile(
        *source, &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    if (status < 0 && replace) {
        // A read-only file in the way refuses to be replaced: it is made
        // writable and the rename tried once more.
        // A target that another program holds open is refused as a denied
        // access too: opening it for deletion tells the two apart.
        const Result<HANDLE> probe = OpenName(dir, to, DELETE, FILE_OPEN, 0);
        if (probe.ok()) {
            ::CloseHandle(*probe);
        } else if (probe.status().Is(kInUse)) {
            ::CloseHandle(*source);
            return probe.status();
        }
        if (const Result<HANDLE> old = OpenName(dir, to, FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0);
            old.ok()) {
            const bool cleared = SetReadOnly(*old, false).ok();
            ::CloseHandle(*old);
            if (cleared) {
                status = ::NtSetInformationFile(
                    *source, &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
            }
        }
    }
    ::CloseHandle(*source);
    return status < 0 ? win::FromNtStatus("NtSetInformationFile", status) : Status();
}

}  // namespace

namespace detail {
bool HasEntry(int dirFd, const std::string& name) {
    HANDLE opened;
    if (win::OpenRelative(HandleOf(dirFd), win::Widen(name), FILE_READ_ATTRIBUTES, FILE_OPEN, 0, 0,
                          opened) < 0) {
        return false;
    }
    ::CloseHandle(opened);
    return true;
}

bool ListsName(int dirFd, const std::string& name) {
    const Result<int> again = OpenDirectoryBeneath(dirFd, "");
    if (!again.ok()) {
        return true;
    }
    DirSearch search;
    if (!search.Open(*again).ok()) {
        return true;
    }
    DirMatch match;
    bool listed = false;
    while (search.Next(match)) {
        listed = listed || match.name == name;
    }
    return listed || !search.status().ok();
}
}  // namespace detail

// The scan walks to each directory from the root. Opening it beneath its parent
// kept open from the last open would save the walk, but the parent may have
// been moved out of the tree meanwhile, and Wine names a moved directory by its
// old path, so where it lies now cannot be checked.
Result<int> OpenDirectoryBeneath(int dirFd, std::string_view relative, Mounts mounts) {
    const HANDLE top = HandleOf(dirFd);
    BY_HANDLE_FILE_INFORMATION topInfo{};
    if (mounts == Mounts::Stay && !::GetFileInformationByHandle(top, &topInfo)) {
        return win::FromLastError("GetFileInformationByHandle");
    }
    // The directory itself again, as a handle of its own, then one component
    // at a time; the path each is checked against grows with the walk.
    HANDLE current;
    const NTSTATUS status =
        win::OpenRelative(top, L"", kListAccess, FILE_OPEN, FILE_DIRECTORY_FILE, 0, current);
    if (status < 0) {
        return win::FromNtStatus("NtCreateFile", status);
    }
    std::wstring prefix = relative.empty() ? std::wstring() : PrefixOf(current);
    for (size_t start = 0; start < relative.size();) {
        const size_t slash = relative.find('/', start);
        const size_t end = slash == std::string_view::npos ? relative.size() : slash;
        const std::string part(relative.substr(start, end - start));
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        const std::wstring name = win::Widen(part);
        Result<HANDLE> next =
            part == ".."
                ? Result<HANDLE>(Status::Failed("NtCreateFile", EXDEV))  // climbs out
                : OpenIn(current, prefix, name, kListAccess, FILE_OPEN, FILE_DIRECTORY_FILE);
        ::CloseHandle(current);
        BY_HANDLE_FILE_INFORMATION here{};
        if (next.ok() && mounts == Mounts::Stay &&
            (!::GetFileInformationByHandle(*next, &here) ||
             here.dwVolumeSerialNumber != topInfo.dwVolumeSerialNumber)) {
            ::CloseHandle(*next);
            next = Status::Failed("NtCreateFile", EXDEV);
        }
        if (!next.ok()) {
            return next.status();
        }
        current = *next;
        prefix += name + L'\\';
    }
    return win::Adopt(current, "NtCreateFile");
}

bool TellsCaseClashes() {
    return true;
}

SystemRoot::SystemRoot(std::string path, Mounts mounts)
    : m_path(std::move(path)), m_mounts(mounts) {
    if (m_path.empty()) {
        m_openStatus = Status::Failed("CreateFileW", ENOENT);
        return;
    }
    HANDLE root = ::CreateFileW(win::LongPath(m_path).c_str(), kListAccess | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (root == INVALID_HANDLE_VALUE) {
        m_openStatus = win::FromLastError("CreateFileW");
        return;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(root, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(root);
        m_openStatus = Status::Failed("CreateFileW", ENOTDIR);
        return;
    }
    const Result<int> fd = win::Adopt(root, "CreateFileW");
    m_fd = fd.ok() ? *fd : -1;
    m_openStatus = fd.status();
}

SystemRoot::SystemRoot(int fd, std::string path, Mounts mounts, Status openStatus)
    : m_path(std::move(path)), m_mounts(mounts), m_fd(fd), m_openStatus(openStatus) {}

std::unique_ptr<TreeRoot> SystemRoot::SecondHandle() const {
    Result<int> fd = m_fd < 0 ? Result<int>(m_openStatus) : OpenDirectoryBeneath(m_fd, "");
    return std::make_unique<SystemRoot>(fd.ok() ? *fd : -1, m_path, m_mounts, fd.status());
}

Result<int> SystemRoot::OpenForRead(std::string_view relative, FileInfo& info) {
    return AtParent(relative, [&info](int dir, const std::string& name) -> Result<int> {
        const Result<HANDLE> opened = OpenName(HandleOf(dir), name, FILE_READ_DATA, FILE_OPEN,
                                               FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY);
        if (!opened.ok()) {
            // A directory where a file was: not a regular file.
            return opened.status().Is(EISDIR) ? Status::Failed("NtCreateFile", EINVAL)
                                              : opened.status();
        }
        const Result<int> fd = win::Adopt(*opened, "NtCreateFile");
        if (!fd.ok()) {
            return fd;
        }
        if (const Status described = DescribeOpenFile(*fd, info); !described.ok()) {
            (void)CloseFile(*fd);
            return described;
        }
        return fd;
    });
}

Result<bool> SystemRoot::LeadsTo(std::string_view relative, const FileInfo& opened,
                                 FileInfo& named) {
    if (const Status described = DescribeName(relative, named); !described.ok()) {
        return described;
    }
    return named.device == opened.device && named.inode == opened.inode;
}

Status SystemRoot::DescribeIn(int dir, const std::string& name, FileInfo& info) {
    HANDLE opened;
    const NTSTATUS status = win::OpenRelative(HandleOf(dir), win::Widen(name), FILE_READ_ATTRIBUTES,
                                              FILE_OPEN, 0, 0, opened);
    if (status < 0) {
        return win::FromNtStatus("NtCreateFile", status);
    }
    const Result<int> fd = win::Adopt(opened, "NtCreateFile");
    if (!fd.ok()) {
        return fd.status();
    }
    const Status described = DescribeOpenFile(*fd, info);
    (void)CloseFile(*fd);
    return described;
}

Status SystemRoot::DescribeName(std::string_view relative, FileInfo& info) {
    return AtParent(relative, [&info](int dir, const std::string& name) {
        return DescribeIn(dir, name, info);
    });
}

Result<int> SystemRoot::CreateExclusive(std::string_view relative, mode_t) {
    // The read-only attribute, where the master's file has it, is given with
    // the times once the content is written (KeepAttributes).
    return AtParent(relative, [](int dir, const std::string& name) -> Result<int> {
        HANDLE opened;
        const NTSTATUS status = win::OpenRelative(
            HandleOf(dir), win::Widen(name), GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE,
            FILE_CREATE, FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, opened);
        if (status < 0) {
            return win::FromNtStatus("NtCreateFile", status);
        }
        return win::Adopt(opened, "NtCreateFile");
    });
}

Result<int> SystemRoot::CreateUnnamed(std::string_view, mode_t) {
    // Windows gives no file without a name; the copy is written under a
    // temporary name instead.
    return Status::Failed("NtCreateFile", EOPNOTSUPP);
}

Status SystemRoot::LinkUnnamed(int, std::string_view) {
    return Status::Failed("NtSetInformationFile", EOPNOTSUPP);
}

Status SystemRoot::RenameReplace(std::string_view from, std::string_view to) {
    const std::string fromName(from.substr(from.rfind('/') + 1));  // a sibling of `to`
    return AtParent(to, [&fromName](int dir, const std::string& toName) {
        return RenameIn(HandleOf(dir), fromName, HandleOf(dir), toName, true);
    });
}

Status SystemRoot::RenameNoReplaceBetween(int fromDir, const std::string& fromName, int toDir,
                                          const std::string& toName) {
    return RenameIn(HandleOf(fromDir), fromName, HandleOf(toDir), toName, false);
}

Result<std::string> SystemRoot::RealPath() {
    return Status::Failed("GetFinalPathNameByHandle", ENOTSUP);
}

Status SystemRoot::Lock() {
    return {};  // a directory handle takes no lock here
}

bool SystemRoot::AncestorHolds(std::string_view) {
    return false;  // no view of one directory through another file system here
}

Result<std::string> SystemRoot::ReadLink(std::string_view) {
    return Status::Failed("NtCreateFile", EINVAL);  // reparse points are never followed
}

Status SystemRoot::RemoveFile(std::string_view relative) {
    return AtParent(relative, [](int dir, const std::string& name) {
        return DeleteName(HandleOf(dir), name, FILE_NON_DIRECTORY_FILE);
    });
}

Status SystemRoot::MakeDirectory(std::string_view relative, mode_t) {
    return AtParent(relative, [](int dir, const std::string& name) {
        HANDLE made;
        const NTSTATUS status =
            win::OpenRelative(HandleOf(dir), win::Widen(name), FILE_LIST_DIRECTORY, FILE_CREATE,
                              FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, made);
        if (status < 0) {
            return win::FromNtStatus("NtCreateFile", status);
        }
        ::CloseHandle(made);
        return Status();
    });
}

Status SystemRoot::SetMode(std::string_view relative, mode_t mode) {
    // Windows keeps one permission of this kind, the read-only attribute of a
    // file; on a directory that attribute means something else and is left.
    return AtParent(relative, [mode](int dir, const std::string& name) {
        DWORD attributes = 0;
        const Result<HANDLE> opened =
            OpenName(HandleOf(dir), name, FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0, 0, &attributes);
        if (!opened.ok()) {
            return opened.status();
        }
        const Status set = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                               ? Status()
                               : SetReadOnly(*opened, (mode & 0200) == 0);
        ::CloseHandle(*opened);
        return set;
    });
}

Status SystemRoot::RemoveDirectory(std::string_view relative) {
    return AtParent(relative, [](int dir, const std::string& name) {
        return DeleteName(HandleOf(dir), name, FILE_DIRECTORY_FILE);
    });
}

bool SystemRoot::MayHold(std::string_view) {
    return true;  // no look-up cheaper than the real one
}

Status SystemRoot::Flush() {
    // Windows lets only an administrator flush a whole volume. Each copy's data
    // is handed to the system when it is closed; removable drives are written
    // through by default.
    return m_fd < 0 ? m_openStatus : Status();
}

Result<std::uint64_t> SystemRoot::FreeSpace() {
    if (m_fd < 0) {
        return m_openStatus;
    }
    // The volume is asked through the path the open handle has now.
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(HandleOf(m_fd), path.data(),
                                                     static_cast<DWORD>(path.size()), 0);
    if (length == 0 || length >= path.size()) {
        return win::FromLastError("GetFinalPathNameByHandleW");
    }
    path.resize(length);
    path += L'\\';
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
        return win::FromLastError("GetDiskFreeSpaceExW");
    }
    return std::uint64_t{available.QuadPart};
}

Status SystemRoot::WriteOut(int, off_t, off_t, off_t) {
    // Windows writes a file's data out behind the copy by itself; a flush
    // here would wait for every byte each time.
    return {};
}

std::string SystemRoot::MountPointOn(std::string_view) {
    return {};  // a volume mounted below a root is a reparse point, refused as one
}

Status SystemRoot::KeepAttributes(int fd, const FileInfo& source) {
    HANDLE handle = HandleOf(fd);
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return win::FromLastError("GetFileInformationByHandleEx");
    }
    FILE_BASIC_INFO changed{};
    changed.LastWriteTime = win::FiletimeOf(source.lastWriteExact);
    changed.LastAccessTime = win::FiletimeOf(source.lastAccessExact);
    changed.FileAttributes = WithReadOnly(basic.FileAttributes, (source.mode & 0200) == 0);
    if (!::SetFileInformationByHandle(handle, FileBasicInfo, &changed, sizeof changed)) {
        return win::FromLastError("SetFileInformationByHandle");
    }
    return {};
}

Status SystemRoot::KeepExtendedAttributes(int, int) {
    return {};  // nothing is kept on Windows
}

Status SystemRoot::KeepOwner(std::string_view, const FileInfo&) {
    return {};  // a copy belongs to the user who made it
}

}  // namespace platform

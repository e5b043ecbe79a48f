// Where trees lie among the mounted file systems: the overlap of two roots by
// what they are, the mounts below a root, a root mounted inside itself, and the
// step in which a file system keeps times.
#include "platform/mounts.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>

#include "platform/file_ops.h"
#include "platform/windows_util.h"

namespace platform {

using win::HandleOf;

namespace {
// The path of the open directory `fd` as the system finds it now, upper-cased
// as the file system compares names; empty when it cannot be told.
std::wstring FinalPath(int fd) {
    wchar_t buffer[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(HandleOf(fd), buffer, 32768, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 32768) {
        return {};
    }
    std::wstring path(buffer, n);
    while (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    return path + L'\\';
}
}  // namespace

bool RootsOverlap(int a, int b) {
    FileInfo infoA;
    FileInfo infoB;
    if (DescribeOpenFile(a, infoA).ok() && DescribeOpenFile(b, infoB).ok() &&
        infoA.device == infoB.device && infoA.inode == infoB.inode) {
        return true;
    }
    const std::wstring pathA = FinalPath(a);
    const std::wstring pathB = FinalPath(b);
    if (pathA.empty() || pathB.empty()) {
        return infoA.device == infoB.device;  // one volume: taken for an overlap
    }
    const std::wstring& shorter = pathA.size() <= pathB.size() ? pathA : pathB;
    const std::wstring& longer = pathA.size() <= pathB.size() ? pathB : pathA;
    return longer.compare(0, shorter.size(), shorter) == 0;
}

FileTime TimeStepOf(int dirFd) {
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(HandleOf(dirFd), nullptr, 0, nullptr, nullptr, nullptr,
                                         fileSystem, MAX_PATH + 1)) {
        return 0;
    }
    const std::wstring name(fileSystem);
    const bool fat = name == L"FAT" || name == L"FAT32" || name == L"exFAT";
    return fat ? FileTime{2} * 10000000 : 0;
}

std::vector<std::string> MountPointsBelow(int) {
    return {};  // volumes mounted in folders are reparse points, which no walk enters
}

bool OnSameMount(int a, int b) {
    FileInfo infoA;
    FileInfo infoB;
    return DescribeOpenFile(a, infoA).ok() && DescribeOpenFile(b, infoB).ok() &&
           infoA.device == infoB.device;
}

bool LiesInsideItself(int) {
    return false;  // the walk enters no reparse point, so no loop
}

}  // namespace platform

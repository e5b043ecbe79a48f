// The last-write time of a file as the system compares it: a 64-bit count of
// 100-nanosecond intervals since 1 January 1601 UTC, compared exactly.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

using FileTime = std::uint64_t;

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;

// Converts a POSIX time (seconds and nanoseconds since 1970) to a FileTime.
// Times before 1601 cannot be written on any file system we meet and clamp to 0.
inline FileTime FileTimeFromTimespec(const timespec& ts) {
    const std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec) + kEpochDifferenceSeconds;
    if (seconds < 0) {
        return 0;
    }
    return static_cast<FileTime>(seconds) * 10000000ULL + static_cast<FileTime>(ts.tv_nsec / 100);
}

// -1 when a is earlier than b, 0 when they are the same instant, +1 when a is later.
inline int CompareFileTime(FileTime a, FileTime b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace platform

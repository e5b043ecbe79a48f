#include "sync/run_marker.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>

#include "platform/file_ops.h"

namespace {

// The start of every marker's name; the process's id and a random number follow.
constexpr const char* kMarkerPrefix = ".kelvad-run-";

// The marker's time: an odd second and its last nanosecond, so that a slave
// keeping 2 s, 1 s, 10 ms or 1 us shows it by how much it drops.
constexpr timespec kProbeTime{1000000001, 999999999};

// The smallest step that accounts for the time kept being `set` rounded to
// `kept` (in a FileTime's 100 ns units), either way.
platform::FileTime StepFor(platform::FileTime set, platform::FileTime kept) {
    constexpr platform::FileTime kSteps[] = {10, 100000, 10000000, 20000000};  // 1 us .. 2 s
    const platform::FileTime off = set > kept ? set - kept : kept - set;
    if (off == 0) {
        return 0;
    }
    for (const platform::FileTime step : kSteps) {
        if (off < step) {
            return step;
        }
    }
    return kSteps[std::size(kSteps) - 1];
}

}  // namespace

RunMarker::RunMarker(platform::TreeRoot& slave) : m_slave(slave) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%d-%08x", kMarkerPrefix, platform::ProcessId(),
                  static_cast<unsigned>(std::random_device()()));
    const platform::Result<int> fd = m_slave.CreateExclusive(name, 0600);
    if (!fd.ok()) {
        return;
    }
    m_name = name;
    platform::FileInfo set;
    set.lastWriteExact = kProbeTime;
    set.lastAccessExact = kProbeTime;
    set.owner = 0;
    set.mode = 0600;  // on Windows, no read-only attribute on the marker
    const bool timed = m_slave.KeepAttributes(*fd, set).ok();
    (void)m_slave.Close(*fd);
    platform::FileInfo kept;
    if (timed && m_slave.DescribeName(m_name, kept).ok()) {
        m_timeStep = StepFor(platform::FileTimeFromTimespec(kProbeTime), kept.lastWrite);
        m_nanoseconds = kept.lastWriteExact.tv_sec == kProbeTime.tv_sec &&
                        kept.lastWriteExact.tv_nsec == kProbeTime.tv_nsec;
    }
}

RunMarker::~RunMarker() {
    if (Made()) {
        (void)m_slave.RemoveFile(m_name);
    }
}

bool RunMarker::SeenFrom(platform::TreeRoot& master, const CFileList& masterList) const {
    if (!Made()) {
        return false;
    }
    return std::any_of(masterList.begin(), masterList.end(),
                       [this](const auto& entry) { return entry->GetName() == m_name; }) ||
           master.AncestorHolds(m_name);
}

void RunMarker::RemoveFrom(CFileList& slaveList) {
    // Markers that killed runs left behind go too: the slave is locked, so no
    // run that lives owns one.
    const size_t rootLength = m_slave.Path().size();
    std::erase_if(slaveList, [&](const auto& entry) {
        const std::string& name = entry->GetName();
        const bool marker = entry->GetDirPath().size() == rootLength && !entry->IsDirectory() &&
                            name.starts_with(kMarkerPrefix) &&
                            (name == m_name || entry->GetSize() == 0);
        return marker && m_slave.RemoveFile(name).ok();
    });
    m_name.clear();
}

platform::NameMatch RunMarker::SlaveMatch() const {
    return Made() && m_slave.IgnoresCase(m_name) ? platform::NameMatch::IgnoreCase
                                                 : platform::NameMatch::Exact;
}

// A file of the run's own, made in the slave's root before the scans and
// removed before the plan. Found in the master's tree or above the master's
// root, it shows that the slave is the master, holds it or lies inside it,
// seen through a view that hides what the directories are (a FUSE
// pass-through, a network share of this machine), which the overlap check by
// identity cannot see. Its last-write time, set to the nanosecond and read
// back, tells the step in which the slave keeps times.
#pragma once

#include <string>

#include "platform/file_time.h"
#include "platform/tree_root.h"
#include "tree/file_list.h"

class RunMarker {
public:
    // Makes the marker in `slave`'s root; where that cannot be done (a
    // read-only slave) nothing is made, and nothing is said.
    explicit RunMarker(platform::TreeRoot& slave);
    // Removes it, if it is still there.
    ~RunMarker();
    RunMarker(const RunMarker&) = delete;
    RunMarker& operator=(const RunMarker&) = delete;

    bool Made() const { return !m_name.empty(); }
    // Whether the slave's file system matches names ignoring letter case,
    // found out from the marker's name before anything is scanned; Exact when
    // no marker was made.
    platform::NameMatch SlaveMatch() const;
    // True when the master, scanned into `masterList` from `master`, shows the
    // marker: in its tree or in a directory above its root.
    bool SeenFrom(platform::TreeRoot& master, const CFileList& masterList) const;
    // The step in which the slave kept the marker's time (0 when to the 100
    // ns of a FileTime, or when no marker was made).
    platform::FileTime TimeStep() const { return m_timeStep; }
    // True when the slave kept the marker's time to the nanosecond.
    bool KeepsNanoseconds() const { return m_nanoseconds; }
    // Removes the marker from the slave and, once it is gone, takes its entry
    // in `slaveList`, scanned meanwhile, out of the mirror; the same for the
    // empty markers of runs that were killed. Where one cannot be removed its
    // entry stays, so the plan deletes it.
    void RemoveFrom(CFileList& slaveList);

private:
    platform::TreeRoot& m_slave;
    std::string m_name;
    platform::FileTime m_timeStep = 0;
    bool m_nanoseconds = false;
};

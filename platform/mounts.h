// Where trees lie among the mounted file systems: the overlap of two roots by
// what they are, the mounts below a root, a root mounted inside itself, and the
// step in which a file system keeps times. For the roots' own use, on their
// open directories; above platform/ a tree is asked through its TreeRoot.
#pragma once

#include <string>
#include <vector>

#include "platform/file_time.h"

namespace platform {

// True when the open directories `a` and `b` are the same or one lies inside
// the other, judged by what they are rather than how they are spelled: the
// device and inode of each, and of every directory above it, so symbolic links,
// "." and ".." and bind mounts all count; and where a file system ignores
// letter case (and may give each spelling its own inode number), by where each
// lies in it, ignoring case. Where a directory's place cannot be told, one
// device is taken for an overlap: refusing a run is better than a run that
// deletes the master.
bool RootsOverlap(int a, int b);

// The step in which the file system holding the open directory `dirFd` keeps
// last-write times: 2 s for FAT, and for exFAT and the FUSE file systems that
// may be serving one; 0 where times are kept to the nanosecond or near it.
FileTime TimeStepOf(int dirFd);

// The mount points below the open directory `dirFd` (bind mounts included),
// as paths relative to it; empty when there are none or they cannot be known.
std::vector<std::string> MountPointsBelow(int dirFd);

// True when the open directories `a` and `b` lie on the same mount, so that a
// rename can take an entry from one to the other: the same mount (a bind mount
// of the same file system is another), or where that cannot be told, the
// same file system.
bool OnSameMount(int a, int b);

// True when the open directory `dirFd` is also one of the directories above
// it: a bind mount of one of its own ancestors, which a walk down would enter
// for ever.
bool LiesInsideItself(int dirFd);

}  // namespace platform

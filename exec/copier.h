// Copies one file from the master into the slave, all or nothing: the content
// goes to an unnamed or temporary file beside the target, which takes the
// target's name only when it is complete and the source held still while it
// was read. A failed or cancelled copy leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "exec/run_host.h"
#include "platform/status.h"

namespace platform {
class TreeRoot;
}
class Keeper;

// Copy results. The text of each goes into the executor's error messages.
enum : int {
    COPY_OK = 0,
    COPY_NO_MEMORY = 1,
    COPY_NO_SOURCE = 2,
    COPY_TARGET_EXISTS = 3,
    COPY_READ_ERROR = 4,
    COPY_WRITE_ERROR = 5,
    COPY_ABORTED = 6,  // cancelled: the output removed, the target as it was
    COPY_CANNOT_DELETE_TARGET = 7,
    // Nothing has the source's name any more: deleted since the scan. The
    // executor takes it for no failure.
    COPY_SOURCE_VANISHED = 8,
};

// The text of a copy result; "" for a code outside the table.
const char* CopyResultText(int code);

// Data moves in pieces of this size; after each the cancel flag is read and the
// pump served once. 1 MiB takes about 0.3 ms from the page cache, so a Cancel
// lands within milliseconds while the per-piece cost stays negligible.
constexpr size_t kCopyPieceBytes = size_t{1} << 20;

// A large copy hands what it wrote to the disk every this many bytes and waits
// for the stretch before (TreeRoot::WriteOut): its progress follows the disk,
// not the memory cache. 32 MiB take 1.6 s at a USB stick's 20 MB/s, and a
// fraction of a millisecond to queue on a fast disk.
constexpr off_t kWriteOutBytes = off_t{32} << 20;

// The process-wide temporary-name tag: the process id modulo 1000, computed on
// first use and kept for the life of the process.
int TemporaryTag();

// The longest name a directory entry can have, in bytes.
constexpr size_t kMaxNameBytes = 255;

// The temporary name of a copy: the target, "~" and the tag as three digits.
// For a name too long to take the suffix, the name's last bytes make room.
std::string TemporaryName(const std::string& target, int tag);

// A temporary name that is taken is left as it is and the next tag tried
// (the tag plus one, modulo 1000), this many names in all; then the copy
// fails with COPY_TARGET_EXISTS.
constexpr int kTemporaryNameAttempts = 8;

enum class CopyMode { Replace, Create };

// What a copy came to: its result and, where the system gave one, the failed
// call behind it (ok when there is none).
struct CopyOutcome {
    int code = COPY_OK;
    platform::Status status;
    // A copy made whose extended attributes (ACLs, capabilities, the user's
    // own) the slave did not all keep (TreeRoot::KeepExtendedAttributes).
    bool extendedAttributesLost = false;
    // The target's old content was kept (Keeper::Keep) before the copy took
    // its name: it is gone from the slave, whatever the code says.
    bool keptOld = false;
};

// A source that changes while it is copied is copied again; this many times in
// all, then the copy fails with COPY_READ_ERROR.
constexpr int kCopyAttempts = 3;

// Copies the master file `masterRelative` to `slaveRelative` in the slave, both
// resolved beneath their roots through no symbolic link. With CopyMode::Replace
// the target is expected to exist and is replaced atomically; with Create, a
// target that exists (or appears before the copy is complete) is left alone
// and COPY_TARGET_EXISTS returned. The copy takes the source's permission bits
// (the 0777 part) less the umask, its times, its extended attributes where the
// slave keeps them (the copy is made all the same where it does not), and
// keeps its holes. Between pieces `host` is pumped once and its cancel flag
// read; a cancel removes the output and returns COPY_ABORTED. The size and
// times of the source are looked at before and
// after; if they moved, the copy is made again (kCopyAttempts in all).
// With `keeper`, a target replaced is first kept there (Keeper::Keep), then
// the copy takes its name; a target that cannot be kept stays as it was, and
// COPY_CANNOT_DELETE_TARGET is returned.
CopyOutcome CopyOneFile(ICopyHost& host, platform::TreeRoot& master,
                        const std::string& masterRelative, platform::TreeRoot& slave,
                        const std::string& slaveRelative, CopyMode mode, Keeper* keeper = nullptr);

// The words for a copy's outcome in a message: the result's text, followed by
// the reason the slave gives for the failure where it says more ("Write error
// on target file: No space left on device"); the reason alone for a name the
// system cannot use ("the name cannot be used on Windows").
std::string CopyOutcomeText(const CopyOutcome& outcome, platform::TreeRoot& slave,
                            const std::string& slaveRelative);

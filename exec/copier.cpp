#include "exec/copier.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "exec/keeper.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/tree_root.h"

namespace {

const char* const kCopyResultTexts[] = {
    "No such error",
    "Cannot acquire memory for buffers",
    "Source file does not exist",
    "Target file exists (and should not)",
    "Read error on source file",
    "Write error on target file",
    "User aborted copy (never reported)",
    "Unable to delete original target file",
    "Source file vanished",
};

// The buffer for copies the kernel cannot do itself: taken once by each thread
// that copies, on first need, and kept, so a run of many copies allocates
// nothing per file or per piece.
char* PieceBuffer() {
    thread_local std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyPieceBytes]);
    return buffer.get();
}

// Owns the descriptors and the output of one copy; whatever it still holds when
// the copy ends is released, and an output this copy created is removed.
struct CopyJob {
    CopyJob(ICopyHost& copyHost, platform::TreeRoot& masterRoot, platform::TreeRoot& slaveRoot)
        : host(copyHost), master(masterRoot), slave(slaveRoot) {}
    ~CopyJob() {
        // A cancelled unnamed output is freed on a thread of its own: a big one
        // takes a while, which Cancel should not wait for. After a failure the
        // run may go on, and the next copy needs the space it held now.
        // Nothing can be done here about a failure to close or remove.
        if (outFd >= 0 && outName.empty() && host.IsCancelled()) {
            platform::DiscardFile(outFd);
        } else if (outFd >= 0) {
            (void)slave.Close(outFd);
        }
        if (sourceFd >= 0) {
            (void)master.Close(sourceFd);
        }
        if (created) {
            (void)slave.RemoveFile(outName);
        }
    }

    // Gives the finished output the name `target` (see CopyOneFile) and closes
    // both files. After it the job owns nothing and removes nothing; on failure
    // it still cleans up as the copy ends.
    CopyOutcome Commit(const std::string& target, CopyMode mode, Keeper* keeper);
    // Keeps the old target, then gives the output its name.
    CopyOutcome KeepAndReplace(const std::string& target, Keeper& keeper);

    ICopyHost& host;
    platform::TreeRoot& master;
    platform::TreeRoot& slave;
    int sourceFd = -1;
    int outFd = -1;        // an unnamed output vanishes when this is closed
    std::string outName;   // relative to the slave root; empty while the output has no name
    bool created = false;  // the output's name exists because this copy made it
    // A source with holes is copied run of data by run of data, at the same
    // offsets, so the holes stay holes.
    off_t size = 0;
    off_t position = 0;
    size_t pieceBytes = 0;  // what the last piece moved
    bool atEnd = false;     // the last piece reached the end of the source
    // The output before `settled` is on the disk; up to `started` it is on
    // its way there (TreeRoot::WriteOut).
    off_t settled = 0;
    off_t started = 0;
};

CopyOutcome ReadError(const platform::Status& status) {
    return {COPY_READ_ERROR, status};
}

CopyOutcome WriteError(const platform::Status& status) {
    return {COPY_WRITE_ERROR, status};
}

// Moves `want` bytes at most from the source into the output, through the
// kernel's copy while it can do it and through the buffer otherwise; `at` is
// the offset of both for a source with holes, -1 to use the descriptors' own.
// Sets `moved` to the bytes moved, 0 at the end of the source.
CopyOutcome MoveBytes(CopyJob& job, bool& useKernel, size_t want, off_t at, size_t& moved) {
    if (useKernel) {
        const platform::Result<size_t> n =
            at < 0 ? job.slave.CopyRange(job.sourceFd, job.outFd, want)
                   : job.slave.CopyRangeAt(job.sourceFd, at, job.outFd, at, want);
        if (n.ok()) {
            moved = *n;
            return {};
        }
        // Unsupported for this pair of files (EXDEV, EINVAL, ENOSYS, ...) or a
        // real error: reading and writing either work or tell which side failed.
        useKernel = false;
    }
    char* buffer = PieceBuffer();
    if (buffer == nullptr) {
        return {COPY_NO_MEMORY, {}};
    }
    const platform::Result<size_t> n = at < 0 ? job.master.Read(job.sourceFd, buffer, want)
                                              : job.master.ReadAt(job.sourceFd, buffer, want, at);
    if (!n.ok()) {
        return ReadError(n.status());
    }
    moved = *n;
    if (moved > 0) {
        const platform::Status written = at < 0
                                             ? job.slave.WriteAll(job.outFd, buffer, moved)
                                             : job.slave.WriteAllAt(job.outFd, buffer, moved, at);
        if (!written.ok()) {
            return WriteError(written);
        }
    }
    return {};
}

// Moves one piece: up to kCopyPieceBytes, fewer only at the end of the source
// as it was when opened (a file that grows meanwhile is not chased: the check
// after the copy sees it).
CopyOutcome CopyPiece(CopyJob& job, bool& useKernel) {
    job.pieceBytes = 0;
    while (job.pieceBytes < kCopyPieceBytes) {
        const size_t want =
            std::min(kCopyPieceBytes - job.pieceBytes,
                     static_cast<size_t>(std::max<off_t>(job.size - job.position, 0)));
        size_t moved = 0;
        if (want == 0) {
            job.atEnd = true;
            return {};
        }
        if (CopyOutcome failed = MoveBytes(job, useKernel, want, -1, moved);
            failed.code != COPY_OK) {
            return failed;
        }
        if (moved == 0) {
            job.atEnd = true;
            return {};
        }
        job.pieceBytes += moved;
        job.position += static_cast<off_t>(moved);
    }
    return {};
}

// The same for a source with holes: only its runs of data are copied, each to
// the same offset, and the output gets its full length at the end.
CopyOutcome CopySparsePiece(CopyJob& job, bool& useKernel) {
    job.pieceBytes = 0;
    while (job.pieceBytes < kCopyPieceBytes) {
        if (job.position >= job.size) {
            job.atEnd = true;
            return {};
        }
        const platform::Result<off_t> data = job.master.SeekData(job.sourceFd, job.position);
        if (!data.ok() && !data.status().Is(ENXIO)) {
            return ReadError(data.status());
        }
        if (!data.ok() || *data >= job.size) {
            job.position = job.size;  // only a hole is left
            job.atEnd = true;
            return {};
        }
        const platform::Result<off_t> hole = job.master.SeekHole(job.sourceFd, *data);
        if (!hole.ok()) {
            return ReadError(hole.status());
        }
        const size_t want = std::min(kCopyPieceBytes - job.pieceBytes,
                                     static_cast<size_t>(std::min(*hole, job.size) - *data));
        size_t moved = 0;
        if (CopyOutcome failed = MoveBytes(job, useKernel, want, *data, moved);
            failed.code != COPY_OK) {
            return failed;
        }
        if (moved == 0) {
            job.atEnd = true;  // the source shrank; the check after the copy sees it
            return {};
        }
        job.position = *data + static_cast<off_t>(moved);
        job.pieceBytes += moved;
    }
    return {};
}

// Hands what a large copy wrote to the disk every `kWriteOutBytes` (and, with
// `last`, what is left of it), waiting for the stretch before: the bytes told
// copied are then at most two stretches ahead of the disk, so the bar and the
// time left keep the disk's pace and the flush at the end has little left to
// do. A failure here is no failure of the copy: the flush at the end of the
// run and the close tell of a disk that refuses the data.
void WriteOutBehind(CopyJob& job, bool last) {
    if (job.position - job.started >= kWriteOutBytes || (last && job.started > 0)) {
        (void)job.slave.WriteOut(job.outFd, last ? job.started : job.settled, job.started,
                                 job.position);
        job.settled = job.started;
        job.started = job.position;
    }
}

// Copies the whole content once, pumping after every piece, the empty last one
// included. A cancel ends it early with COPY_OK.
CopyOutcome CopyContent(ICopyHost& host, CopyJob& job, const platform::FileInfo& source,
                        bool& useKernel) {
    job.size = source.size;
    job.position = 0;
    job.atEnd = false;
    job.settled = job.started = 0;
    while (!job.atEnd) {
        const CopyOutcome piece =
            source.sparse ? CopySparsePiece(job, useKernel) : CopyPiece(job, useKernel);
        if (piece.code != COPY_OK) {
            return piece;
        }
        WriteOutBehind(job, job.atEnd);
        host.AddCopiedBytes(job.pieceBytes);
        host.PumpPending();
        if (host.IsCancelled()) {
            return {};  // the job removes the output; the executor sees the flag
        }
    }
    if (source.sparse) {
        if (const platform::Status cut = job.slave.Truncate(job.outFd, job.size); !cut.ok()) {
            return WriteError(cut);
        }
    }
    return {};
}

bool SameState(const platform::FileInfo& a, const platform::FileInfo& b) {
    return a.size == b.size && a.lastWrite == b.lastWrite && a.lastChange == b.lastChange;
}

// Opens the source by its name; the outcome of a failure, COPY_OK otherwise.
CopyOutcome OpenSource(platform::TreeRoot& master, const std::string& relative, CopyJob& job,
                       platform::FileInfo& info) {
    const platform::Result<int> opened = master.OpenForRead(relative, info);
    if (opened.ok()) {
        job.sourceFd = *opened;
        return {};
    }
    // Nothing there: deleted since the scan, which is no failure. No longer a
    // regular file (a link or a FIFO in its place): the source is gone. A file
    // that is there but cannot be read is a read error.
    const platform::Status& s = opened.status();
    if (s.Is(ENOENT)) {
        return {COPY_SOURCE_VANISHED, s};
    }
    const bool gone = s.Is(ENOTDIR) || s.Is(ELOOP) || s.Is(EINVAL);
    return {gone ? COPY_NO_SOURCE : COPY_READ_ERROR, s};
}

// True when the source held still while it was read and its name still leads
// to it: an editor saves by writing a new file and renaming it over the old
// one, which then only its open descriptor shows. The one look at the name
// tells both: what it leads to, when that is the file read, is what its
// descriptor would tell.
bool SourceHeldStill(platform::TreeRoot& master, const std::string& relative,
                     const platform::FileInfo& before, CopyOutcome& failure) {
    platform::FileInfo after;
    const platform::Result<bool> same = master.LeadsTo(relative, before, after);
    if (!same.ok()) {
        // Gone, or a link in its place: the next try says which.
        const platform::Status& s = same.status();
        if (!s.Is(ENOENT) && !s.Is(ENOTDIR) && !s.Is(ELOOP)) {
            failure = ReadError(s);
        }
        return false;
    }
    return *same && SameState(before, after);
}

}  // namespace

const char* CopyResultText(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kCopyResultTexts))) {
        return "";
    }
    return kCopyResultTexts[code];
}

std::string CopyOutcomeText(const CopyOutcome& outcome, platform::TreeRoot& slave,
                            const std::string& slaveRelative) {
    if (outcome.status.Is(platform::kUnusableName)) {
        return slave.Reason(outcome.status,
                            slaveRelative);  // no step could succeed, whatever it is
    }
    std::string text = CopyResultText(outcome.code);
    // "No such file" after "Source file does not exist" and "File exists" after
    // "Target file exists" only repeat what the result says.
    const bool repeats = (outcome.code == COPY_NO_SOURCE && outcome.status.Is(ENOENT)) ||
                         (outcome.code == COPY_TARGET_EXISTS && outcome.status.Is(EEXIST));
    if (!outcome.status.ok() && !repeats) {
        text += ": " + slave.Reason(outcome.status, slaveRelative);
    }
    return text;
}

int TemporaryTag() {
    static const int tag = platform::ProcessId() % 1000;
    return tag;
}

std::string TemporaryName(const std::string& target, int tag) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "~%03d", tag);
    // A name of the longest length a directory can hold has no room for the
    // suffix; its temporary name gives up the name's last bytes instead, or the
    // file could never be copied at all.
    const size_t slash = target.rfind('/');
    const size_t nameLength =
        slash == std::string::npos ? target.size() : target.size() - slash - 1;
    const size_t suffixLength = std::strlen(suffix);
    if (nameLength + suffixLength > kMaxNameBytes) {
        // Cut between two characters, never inside one: Windows takes no half
        // of a UTF-8 character in a name.
        size_t keep = target.size() - (nameLength + suffixLength - kMaxNameBytes);
        while (keep > 0 && (static_cast<unsigned char>(target[keep]) & 0xC0) == 0x80) {
            --keep;
        }
        return target.substr(0, keep) + suffix;
    }
    return target + suffix;
}

namespace {

// Opens the output beside `target`: without a name where the file system allows
// it for a new file, otherwise under the temporary name. The target's name never
// holds a half-written file, not even after a crash.
CopyOutcome CreateOutput(CopyJob& job, const std::string& target, CopyMode mode, mode_t fileMode) {
    if (mode == CopyMode::Create) {
        // A name taken since the scan is found when the copy takes it (a link
        // or a rename that never replaces): the rare race costs the copy, and
        // every other copy saves a look-up.
        const platform::Result<int> unnamed =
            job.slave.CreateUnnamed(platform::DirectoryOf(target), fileMode);
        if (unnamed.ok()) {
            job.outFd = *unnamed;
            return {};
        }
        if (!unnamed.status().Is(EOPNOTSUPP)) {
            return WriteError(unnamed.status());  // the directory is not writable, or is gone
        }
    }
    // A name taken (a run killed mid-copy whose process had the same tag
    // left its temporary file, or the user has a file of that name) is left
    // alone, and the next tags tried.
    for (int attempt = 0;; ++attempt) {
        job.outName = TemporaryName(target, (TemporaryTag() + attempt) % 1000);
        const platform::Result<int> named = job.slave.CreateExclusive(job.outName, fileMode);
        if (named.ok()) {
            job.outFd = *named;
            job.created = true;
            return {};
        }
        // A directory that is not writable, a full or read-only disk: a write
        // error; each name tried taken: the target exists, as it were.
        if (!named.status().Is(EEXIST) || attempt + 1 == kTemporaryNameAttempts) {
            return {named.status().Is(EEXIST) ? COPY_TARGET_EXISTS : COPY_WRITE_ERROR,
                    named.status()};
        }
    }
}

// Copies the source into the output until a copy is made while the source held
// still (see SourceHeldStill), reading it again from what its name leads to
// after each move, kCopyAttempts times in all. A source written while it is read
// would leave a mix of old and new content that, carrying the master's time, no
// run would ever repair. `source` ends as the state of the file copied.
CopyOutcome CopyWhileSourceHolds(ICopyHost& host, CopyJob& job, const std::string& masterRelative,
                                 platform::FileInfo& source) {
    bool useKernel = true;
    for (int attempt = 1;; ++attempt) {
        const CopyOutcome copied = CopyContent(host, job, source, useKernel);
        if (copied.code != COPY_OK || host.IsCancelled()) {
            return copied;
        }
        CopyOutcome failure;
        if (SourceHeldStill(job.master, masterRelative, source, failure)) {
            return {};
        }
        if (failure.code != COPY_OK) {
            return failure;
        }
        if (attempt == kCopyAttempts) {
            return {COPY_READ_ERROR, {}};
        }
        (void)job.master.Close(job.sourceFd);  // only read from
        job.sourceFd = -1;
        if (const CopyOutcome opened = OpenSource(job.master, masterRelative, job, source);
            opened.code != COPY_OK) {
            return opened;
        }
        platform::Status emptied = job.slave.Truncate(job.outFd, 0);
        if (emptied.ok()) {
            emptied = job.slave.Rewind(job.outFd);
        }
        if (!emptied.ok()) {
            return WriteError(emptied);
        }
    }
}

}  // namespace

CopyOutcome CopyJob::KeepAndReplace(const std::string& target, Keeper& keeper) {
    // The old content is moved away first; the copy, complete under its
    // temporary name, takes the free name at once: both are on the disk at
    // every moment.
    bool kept = false;
    const platform::Status status =
        keeper.Keep(target, outName.substr(outName.rfind('/') + 1), kept);
    if (!kept) {
        return {COPY_CANNOT_DELETE_TARGET, status};
    }
    CopyOutcome outcome;
    if (!status.ok()) {
        outcome = {status.Is(EEXIST) ? COPY_TARGET_EXISTS : COPY_WRITE_ERROR, status};
    }
    outcome.keptOld = true;
    return outcome;
}

CopyOutcome CopyJob::Commit(const std::string& target, CopyMode mode, Keeper* keeper) {
    // The output takes its name in the directory found at its path now, from the
    // root (as every call of a root finds it): one that was moved out of the
    // slave while the copy went on receives nothing.
    const bool unnamed = outName.empty();
    if (unnamed) {
        // An unnamed file must be linked while it is still open; should closing
        // it then fail, the job removes it from the target's name again.
        if (const platform::Status linked = slave.LinkUnnamed(outFd, target); !linked.ok()) {
            return {linked.Is(EEXIST) ? COPY_TARGET_EXISTS : COPY_WRITE_ERROR, linked};
        }
        outName = target;
        created = true;
    }
    const int out = outFd;
    outFd = -1;
    if (const platform::Status closed = slave.Close(out); !closed.ok()) {
        return WriteError(closed);  // a late write error, reported at close
    }
    (void)master.Close(sourceFd);  // only read from
    sourceFd = -1;
    if (!unnamed) {
        if (mode == CopyMode::Replace && keeper != nullptr) {
            if (CopyOutcome replaced = KeepAndReplace(target, *keeper); replaced.code != COPY_OK) {
                return replaced;
            }
            created = false;
            return {COPY_OK, {}, false, true};
        }
        if (mode == CopyMode::Replace) {
            // rename replaces the old target atomically: the name never holds
            // nothing, and if it fails the old target keeps its content.
            if (const platform::Status renamed = slave.RenameReplace(outName, target);
                !renamed.ok()) {
                return {COPY_CANNOT_DELETE_TARGET, renamed};
            }
        } else if (const platform::Status renamed = slave.RenameNoReplace(outName, target);
                   !renamed.ok()) {
            return {renamed.Is(EEXIST) ? COPY_TARGET_EXISTS : COPY_WRITE_ERROR, renamed};
        }
    }
    created = false;  // committed: the target's name is the copy's now
    return {};
}

CopyOutcome CopyOneFile(ICopyHost& host, platform::TreeRoot& master,
                        const std::string& masterRelative, platform::TreeRoot& slave,
                        const std::string& slaveRelative, CopyMode mode, Keeper* keeper) {
    CopyJob job(host, master, slave);
    platform::FileInfo source;
    CopyOutcome outcome = OpenSource(master, masterRelative, job, source);
    // The master's permission bits, never set-id or sticky; creating the file
    // applies the umask, as cp does.
    if (outcome.code == COPY_OK) {
        outcome = CreateOutput(job, slaveRelative, mode, source.mode & 0777);
    }
    if (outcome.code == COPY_OK) {
        outcome = CopyWhileSourceHolds(host, job, masterRelative, source);
    }
    if (outcome.code != COPY_OK) {
        return outcome;  // the job removes what it made
    }
    if (host.IsCancelled()) {
        return {COPY_ABORTED, {}};  // and here too
    }
    // The copy carries the master's time, so the slave shows true dates and a
    // file dated in the future is not copied again on every run.
    if (const platform::Status kept = slave.KeepAttributes(job.outFd, source); !kept.ok()) {
        return WriteError(kept);
    }
    // After the owner, which clears a program's capabilities; before the name,
    // so the target never shows a file without its ACL.
    const bool lost = !slave.KeepExtendedAttributes(job.sourceFd, job.outFd).ok();
    CopyOutcome committed = job.Commit(slaveRelative, mode, keeper);
    committed.extendedAttributesLost = lost && committed.code == COPY_OK;
    return committed;
}

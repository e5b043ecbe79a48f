#include "exec/copier.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/file_ops.h"

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
};

// The buffer for copies the kernel cannot do itself: taken once, on first need,
// and kept, so a run of many copies allocates nothing per file or per piece.
char* PieceBuffer() {
    static std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyPieceBytes]);
    return buffer.get();
}

// Owns the descriptors and the output of one copy; whatever it still holds when
// the copy ends is released, and an output this copy created is removed.
class CopyJob {
public:
    ~CopyJob() {
        if (m_out >= 0) {
            platform::CloseFile(m_out);
        }
        if (m_source >= 0) {
            platform::CloseFile(m_source);
        }
        if (m_created) {
            platform::RemoveFile(m_outName);
        }
    }

    int m_source = -1;
    int m_out = -1;          // an unnamed output vanishes when this is closed
    std::string m_outName;   // empty while the output has no name
    bool m_created = false;  // the output's name exists because this copy made it
};

// The directory part of a path: "." for a bare name, "/" for a name in the root.
std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

enum class PieceResult { Full, Last, ReadError, WriteError, NoMemory };

// Moves one piece: up to kCopyPieceBytes, fewer only at the end of the source.
// The kernel copies where it can; when it fails, reading and writing tell which
// side failed.
PieceResult CopyPiece(CopyJob& job, bool& useKernel) {
    size_t done = 0;
    while (done < kCopyPieceBytes) {
        if (useKernel) {
            const ssize_t n = platform::CopyRange(job.m_source, job.m_out, kCopyPieceBytes - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n == 0) {
                return PieceResult::Last;
            }
            // Unsupported for this pair of files (EXDEV, EINVAL, ENOSYS, ...) or a
            // real error: reading and writing either work or tell which side failed.
            useKernel = false;
            continue;
        }
        char* buffer = PieceBuffer();
        if (buffer == nullptr) {
            return PieceResult::NoMemory;
        }
        const ssize_t n = platform::ReadSome(job.m_source, buffer, kCopyPieceBytes - done);
        if (n < 0) {
            return PieceResult::ReadError;
        }
        if (n == 0) {
            return PieceResult::Last;
        }
        if (platform::WriteAll(job.m_out, buffer, static_cast<size_t>(n)) < 0) {
            return PieceResult::WriteError;
        }
        done += static_cast<size_t>(n);
    }
    return PieceResult::Full;
}

}  // namespace

const char* CopyResultText(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kCopyResultTexts))) {
        return "";
    }
    return kCopyResultTexts[code];
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
    const size_t nameLength = slash == std::string::npos ? target.size() : target.size() - slash - 1;
    const size_t suffixLength = std::strlen(suffix);
    if (nameLength + suffixLength > kMaxNameBytes) {
        return target.substr(0, target.size() - (nameLength + suffixLength - kMaxNameBytes)) + suffix;
    }
    return target + suffix;
}

int CopyOneFile(ICopyHost& host, const std::string& source, const std::string& target,
                bool replace) {
    const int tag = TemporaryTag();
    CopyJob job;
    job.m_source = platform::OpenForRead(source);
    if (job.m_source < 0) {
        return COPY_NO_SOURCE;
    }
    // The target's name never holds a half-written file, not even after a crash:
    // a new file is written without a name and linked in when complete; where
    // the file system cannot do that, and for a replacement, the content goes to
    // the temporary name first.
    if (!replace) {
        if (platform::NameExists(target)) {
            return COPY_TARGET_EXISTS;
        }
        job.m_out = platform::CreateUnnamed(DirectoryOf(target));
        if (job.m_out < 0 && errno != EOPNOTSUPP) {
            return COPY_TARGET_EXISTS;  // the directory is not writable
        }
    }
    if (job.m_out < 0) {
        job.m_outName = TemporaryName(target, tag);
        job.m_out = platform::CreateExclusive(job.m_outName);
        if (job.m_out < 0) {
            return COPY_TARGET_EXISTS;  // a leftover temporary file, or not writable
        }
        job.m_created = true;
    }

    bool useKernel = true;
    for (;;) {
        const PieceResult piece = CopyPiece(job, useKernel);
        switch (piece) {
            case PieceResult::ReadError: return COPY_READ_ERROR;
            case PieceResult::WriteError: return COPY_WRITE_ERROR;
            case PieceResult::NoMemory: return COPY_NO_MEMORY;
            case PieceResult::Full:
            case PieceResult::Last: break;
        }
        host.PumpOneMessage();
        if (host.IsCancelled()) {
            return COPY_OK;  // the job removes the output; the executor sees the flag
        }
        if (piece == PieceResult::Last) {
            break;
        }
    }

    const bool unnamed = job.m_outName.empty();
    if (unnamed) {
        // An unnamed file must be linked while it is still open; should closing
        // it then fail, the job removes it from the target's name again.
        if (platform::LinkUnnamed(job.m_out, target) != 0) {
            return errno == EEXIST ? COPY_TARGET_EXISTS : COPY_WRITE_ERROR;
        }
        job.m_outName = target;
        job.m_created = true;
    }
    const int out = job.m_out;
    job.m_out = -1;
    if (platform::CloseFile(out) != 0) {
        return COPY_WRITE_ERROR;  // a late write error, reported at close
    }
    platform::CloseFile(job.m_source);
    job.m_source = -1;
    if (unnamed) {
        job.m_created = false;
        return COPY_OK;
    }
    if (replace) {
        // rename replaces the old target atomically: the name never holds nothing,
        // and if it fails the old target keeps its content.
        if (platform::RenameReplace(job.m_outName, target) != 0) {
            return COPY_CANNOT_DELETE_TARGET;
        }
    } else if (platform::RenameNoReplace(job.m_outName, target) != 0) {
        return errno == EEXIST ? COPY_TARGET_EXISTS : COPY_WRITE_ERROR;
    }
    job.m_created = false;
    return COPY_OK;
}

// A hook through which tests make one platform call fail on demand: a full disk,
// a failed rename or a read error that a real disk will not produce when asked.
// Production code never installs an injector; the check costs one load per call.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The file-system calls that the scanner, the copier and the executor make.
enum class Call {
    Open,        // opening a source file for reading
    Create,      // creating an output file, named or unnamed (then `path` is its directory)
    Read,
    Write,
    CopyRange,   // the kernel's in-place copy
    Close,
    Rename,      // giving an output its final name (a rename, or linking an unnamed file)
    Unlink,
    Mkdir,
    Rmdir,
    OpenDir,     // opening a directory search
    ReadDir,     // fetching the next match of a directory search
    Stat,
    Chmod,       // setting the permission bits of a directory that a run made
    Sync,        // flushing the slave's file system to its disk
};

const char* CallName(Call call);

class FaultInjector {
public:
    virtual ~FaultInjector() = default;
    // Returns the errno value that the call must fail with, or 0 to let it run.
    // `path` is the file the call works on, or null for calls on an open file.
    virtual int Fail(Call call, const char* path) = 0;
};

// Installs (or, with null, removes) the injector. Not thread-safe; tests only.
void SetFaultInjector(FaultInjector* injector);

namespace detail {
extern FaultInjector* g_faultInjector;
// Sets errno and returns true when the injector wants this call to fail.
bool InjectFault(Call call, const char* path);
// The same for a path below a root: the whole path is built only when an
// injector is installed.
inline bool InjectFault(Call call, const std::string& root, std::string_view relative) {
    if (g_faultInjector == nullptr) {
        return false;
    }
    std::string path = root;
    if (!relative.empty()) {
        path.append(1, '/').append(relative);
    }
    return InjectFault(call, path.c_str());
}
}  // namespace detail

}  // namespace platform

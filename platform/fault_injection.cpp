#include "platform/fault_injection.h"

#include <cerrno>

namespace platform {

namespace detail {
FaultInjector* g_faultInjector = nullptr;

bool InjectFault(Call call, const char* path) {
    if (g_faultInjector == nullptr) {
        return false;
    }
    const int err = g_faultInjector->Fail(call, path);
    if (err == 0) {
        return false;
    }
    errno = err;
    return true;
}
}  // namespace detail

void SetFaultInjector(FaultInjector* injector) {
    detail::g_faultInjector = injector;
}

const char* CallName(Call call) {
    switch (call) {
        case Call::Open: return "open";
        case Call::Create: return "create";
        case Call::Read: return "read";
        case Call::Write: return "write";
        case Call::CopyRange: return "copy_file_range";
        case Call::Close: return "close";
        case Call::Rename: return "rename";
        case Call::Unlink: return "unlink";
        case Call::Mkdir: return "mkdir";
        case Call::Rmdir: return "rmdir";
        case Call::OpenDir: return "opendir";
        case Call::ReadDir: return "readdir";
        case Call::Stat: return "stat";
        case Call::Chmod: return "chmod";
        case Call::Sync: return "syncfs";
    }
    return "?";
}

}  // namespace platform

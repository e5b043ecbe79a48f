#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string ErrorText(int error) {
    if (error == kUnusableName) {
        return "the name cannot be used on Windows";
    }
    if (error == kInUse) {
        return "in use by another program";
    }
    if (error == kChanged) {
        return "changed since it was looked at";
    }
#ifdef _WIN32
    // The Windows C library knows the words of the classic numbers only.
    switch (error) {
        case ELOOP:
            return "Too many levels of symbolic links";
        case EOPNOTSUPP:
            return "Operation not supported";
        case ENOTSUP:
            return "Operation not supported";
        case ETIMEDOUT:
            return "Connection timed out";
        default:
            return std::strerror(error);
    }
#else
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("Unknown error");
#endif
}

Status Status::FromErrno(const char* call) {
    // A call that failed without saying why is still a failure.
    return Failed(call, errno != 0 ? errno : EIO);
}

std::string Status::ToString() const {
    return ok() ? std::string("OK") : std::string(m_call) + ": " + Reason();
}

}  // namespace platform

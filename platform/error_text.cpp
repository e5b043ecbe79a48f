#include "platform/error_text.h"

#include <cstring>

namespace platform {

std::string ErrorText(int err) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("Unknown error");
}

}  // namespace platform

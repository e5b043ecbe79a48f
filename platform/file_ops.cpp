// The file services that are the same on every system, built on the others.
#include "platform/file_ops.h"

namespace platform {

Status ReadToEnd(int fd, std::string& text) {
    text.clear();
    char buffer[65536];
    for (;;) {
        const Result<size_t> n = ReadSome(fd, buffer, sizeof buffer);
        if (!n.ok()) {
            return n.status();
        }
        if (*n == 0) {
            return {};
        }
        text.append(buffer, *n);
    }
}

}  // namespace platform

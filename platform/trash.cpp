#include "platform/trash.h"

#include <cstdio>

#include "platform/file_ops.h"

namespace platform {

std::string TrashInfo(std::string_view path, std::time_t when) {
    std::string text = "[Trash Info]\nPath=";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~' ||
            c == '/') {
            text.push_back(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            text += escaped;
        }
    }
    const std::tm local = LocalTime(when);
    char date[80];
    std::snprintf(date, sizeof date, "\nDeletionDate=%04d-%02d-%02dT%02d:%02d:%02d\n",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    return text + date;
}

}  // namespace platform

#include "app/display_text.h"

#include <vector>

std::string ShortenForDisplay(const std::string& text, size_t maxChars) {
    // Byte offsets at which characters start.
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            starts.push_back(i);
        }
    }
    if (starts.size() <= maxChars || maxChars < 5) {
        return text;
    }
    const size_t keep = maxChars - 3;
    const size_t head = keep / 2;
    const size_t tail = keep - head;
    return text.substr(0, starts[head]) + "..." + text.substr(starts[starts.size() - tail]);
}

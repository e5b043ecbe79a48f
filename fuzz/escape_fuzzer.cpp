// libFuzzer target: names of arbitrary bytes shown on a terminal. What comes
// out holds no control byte and every backslash starts an escape, so nothing
// in a name can move the cursor or pass for another name; shortened, it holds
// no control byte either.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sync/display_text.h"

namespace {

bool HoldsAControl(std::string_view text) {
    for (const char byte : text) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const std::string shown = EscapeForTerminal(name);
    if (HoldsAControl(shown) || HoldsAControl(ShortenForTerminal(name, 20))) {
        std::abort();
    }
    constexpr std::string_view kEscaped = "\\abtnvfrx01234567";
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\\') {
            if (i + 1 == shown.size() || kEscaped.find(shown[i + 1]) == std::string_view::npos) {
                std::abort();
            }
            ++i;  // the escape's letter
        }
    }
    return 0;
}

// libFuzzer target: ignore files of arbitrary bytes. A file is read or refused
// with a message that names its line; rules that were read judge any path
// without failing, and a path below an excluded directory is judged as the
// rules say of it, never by a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tree/ignore_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first line is a path to judge, the rest the file.
    const size_t newline = bytes.find('\n');
    const std::string_view path =
        newline == std::string_view::npos ? bytes : bytes.substr(0, newline);
    const std::string_view text =
        newline == std::string_view::npos ? "" : bytes.substr(newline + 1);
    const platform::Checked<IgnoreRules> rules = IgnoreRules::Parse(text, "f");
    if (!rules.ok()) {
        if (rules.problem().file != "f" || rules.problem().line == 0 ||
            !rules.problem().message.starts_with("f:" + std::to_string(rules.problem().line) +
                                                 ":")) {
            std::abort();
        }
        return 0;
    }
    (void)rules->Match(path, false);
    (void)rules->Match(path, true);
    for (const std::string_view pattern : {text.substr(0, text.find('\n'))}) {
        if (CheckPattern(pattern).empty()) {
            (void)GlobMatch(pattern, path);
        }
    }
    return 0;
}

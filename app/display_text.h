// Texts as they are shown, apart from the texts themselves: a line too long for
// its control is shortened for display only, never the path that is used.
#pragma once

#include <string>

// `text` when it has at most `maxChars` characters; otherwise its beginning and
// end joined by "...", `maxChars` characters in all. Counts UTF-8 characters and
// never splits one.
std::string ShortenForDisplay(const std::string& text, size_t maxChars);

#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// GBK bytes without embedded NUL; an absent text and an empty text are the same.
using Text = std::string;

// An ordered list of texts; duplicates allowed.
using WordList = std::vector<Text>;

// Line separator inside every Text.
inline constexpr std::string_view kLineBreak = "\r\n";

// Cuts text at every CR LF, stepping over GBK double-byte characters so that a separator is never matched
// inside one. Empty pieces between separators count; a trailing CR LF adds no empty last entry.
WordList SplitLines(std::string_view text);

// The number of entries SplitLines gives for text, without building them.
std::size_t CountLines(std::string_view text);

// Renders value as printf's "%.13g" does: 100 -> "100", 100.0 / 3 -> "33.33333333333".
std::string FormatPercent(double value);

} // namespace morvane

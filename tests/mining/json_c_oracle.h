#pragma once

#include "mining/gbk_json.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// json-c's own reading of a text, as a yardstick for the GBK reading, and small text helpers: shared by the
// extract-words tests and the fuzz target.
namespace morvane::test {

// True when json-c and the GBK rules read every string of text alike: ASCII only, and every backslash starts an
// escape both decode to the same byte.
bool ReadAlikeByJsonC(std::string_view text);

// The serialised value of document, or nothing when it holds none (the text did not parse, or its value is null).
std::optional<std::string> Serialised(const JsonDocument& document);

// json-c's own reading of text, or nothing when it does not parse.
std::optional<std::string> JsonCReading(std::string text);

// What json-c reads as the first value of text with everything after it ignored; nothing when that cannot be
// told (see the source for when).
std::optional<std::optional<std::string>> JsonCFirstValue(std::string_view text);

// The UTF-8 bytes of one code point (any value up to U+10FFFF, surrogates included).
std::string Utf32ToUtf8(char32_t code);

} // namespace morvane::test

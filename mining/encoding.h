#pragma once

#include <string>
#include <string_view>

namespace morvane {

// Converts bytes from one encoding to another, both named as iconv names them ("GBK", "UTF-8", "GB18030"),
// in one step. Strict: an invalid sequence, a sequence cut off at the end or a character the target cannot
// represent gives the empty result, never a part. Empty input gives empty output.
std::string ConvertEncoding(std::string_view bytes, const char* fromEncoding, const char* toEncoding);

// Converts bytes as ConvertEncoding does, but puts replacement in place of every character that is invalid in
// the source or that the target cannot represent, and converts the rest: never an empty result for a non-empty
// input. A UTF-8 source skips a whole faulty sequence per replacement (its first byte and the continuation bytes
// after it, up to the length the first byte claims); any other source skips one byte.
std::string ConvertEncodingReplacing(std::string_view bytes, const char* fromEncoding, const char* toEncoding,
                                     std::string_view replacement);

// True when bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

} // namespace morvane

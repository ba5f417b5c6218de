#pragma once

#include "mining/text.h"

namespace morvane {

// Percent-encodes one seed word for the word= value of a recommendation request. With toUtf8 the GBK text is
// first converted to UTF-8 (text that is not valid GBK gives the empty result); with keepUnreserved the
// letters, digits, '-' and '.' stay as they are and every other byte becomes %XX with uppercase hex digits.
Text EncodeSeedWord(std::string_view text, bool keepUnreserved, bool toUtf8);

} // namespace morvane

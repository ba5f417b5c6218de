// Feeds arbitrary bytes to the seed encoding and to the conversions between GBK, UTF-8 and GB18030, and checks
// them against plain readings of their contracts: a percent-decoding of every seed encoding, round trips,
// conversion piece by piece, iconv's own judgement of UTF-8, and the replacing conversion done again one
// character at a time. The first byte picks the pair of encodings, the replacement and a place to cut the text.
#include "fuzz/fuzz_check.h"
#include "mining/encoding.h"
#include "mining/seed_encoding.h"
#include "mining/text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

using morvane::ConvertEncoding;
using morvane::ConvertEncodingReplacing;
using morvane::fuzz::Check;

struct EncodingPair {
    const char* from;
    const char* to;
};

constexpr std::array<EncodingPair, 6> kPairs{{{"GBK", "UTF-8"},
                                              {"UTF-8", "GBK"},
                                              {"GBK", "GB18030"},
                                              {"GB18030", "GBK"},
                                              {"UTF-8", "GB18030"},
                                              {"GB18030", "UTF-8"}}};

bool IsUtf8(const char* encoding) {
    return std::string_view(encoding) == "UTF-8";
}

bool IsUnreservedByte(unsigned char b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' || b == '.';
}

// The bytes that encoded stands for, when it holds only unreserved bytes and %XX with uppercase hex digits.
std::optional<std::string> PercentDecode(std::string_view encoded) {
    static constexpr std::string_view kUpperHex = "0123456789ABCDEF";
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const auto c = static_cast<unsigned char>(encoded[i]);
        if (c != '%') {
            if (!IsUnreservedByte(c)) {
                return std::nullopt;
            }
            bytes.push_back(encoded[i]);
            continue;
        }
        if (i + 2 >= encoded.size()) {
            return std::nullopt;
        }
        const std::size_t high = kUpperHex.find(encoded[i + 1]);
        const std::size_t low = kUpperHex.find(encoded[i + 2]);
        if (high == std::string_view::npos || low == std::string_view::npos) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

void CheckSeedEncoding(std::string_view text) {
    const std::string asUtf8 = ConvertEncoding(text, "GBK", "UTF-8");
    for (const bool toUtf8 : {false, true}) {
        const std::string expected = toUtf8 ? asUtf8 : std::string(text);
        std::size_t expectedSize = 0;
        for (const bool keepUnreserved : {false, true}) {
            const morvane::Text encoded = morvane::EncodeSeedWord(text, keepUnreserved, toUtf8);
            const std::optional<std::string> decoded = PercentDecode(encoded);
            Check(decoded.has_value(), "a seed encodes to unreserved bytes and %XX only");
            Check(*decoded == expected, "a seed's encoding decodes to its bytes (converted to UTF-8 when asked)");
            expectedSize = 0;
            for (const char c : expected) {
                expectedSize += keepUnreserved && IsUnreservedByte(static_cast<unsigned char>(c)) ? 1 : 3;
            }
            Check(encoded.size() == expectedSize, "exactly the unreserved bytes stay as they are when asked");
        }
    }
    if (!asUtf8.empty()) {
        Check(morvane::IsValidUtf8(asUtf8), "GBK converts to well-formed UTF-8");
        Check(ConvertEncoding(asUtf8, "UTF-8", "GBK") == text, "GBK text survives a round trip through UTF-8");
    }
}

// The length of the well-formed UTF-8 character that starts bytes, or 0 when none does (Unicode's table of
// well-formed byte sequences).
std::size_t Utf8CharacterLength(std::string_view bytes) {
    struct Row {
        unsigned char firstLow, firstHigh;
        std::size_t length;
        unsigned char secondLow, secondHigh;
    };
    static constexpr std::array<Row, 8> kRows{{{0xC2, 0xDF, 2, 0x80, 0xBF},
                                               {0xE0, 0xE0, 3, 0xA0, 0xBF},
                                               {0xE1, 0xEC, 3, 0x80, 0xBF},
                                               {0xED, 0xED, 3, 0x80, 0x9F},
                                               {0xEE, 0xEF, 3, 0x80, 0xBF},
                                               {0xF0, 0xF0, 4, 0x90, 0xBF},
                                               {0xF1, 0xF3, 4, 0x80, 0xBF},
                                               {0xF4, 0xF4, 4, 0x80, 0x8F}}};
    const auto first = static_cast<unsigned char>(bytes[0]);
    if (first < 0x80) {
        return 1;
    }
    for (const Row& row : kRows) {
        if (first < row.firstLow || first > row.firstHigh) {
            continue;
        }
        if (bytes.size() < row.length) {
            return 0;
        }
        const auto second = static_cast<unsigned char>(bytes[1]);
        if (second < row.secondLow || second > row.secondHigh) {
            return 0;
        }
        for (std::size_t k = 2; k < row.length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[k]);
            if (next < 0x80 || next > 0xBF) {
                return 0;
            }
        }
        return row.length;
    }
    return 0;
}

// How many bytes one replacement stands for in a UTF-8 source at a character that cannot be converted: the
// first byte and the continuation bytes right after it, up to the length the first byte announces. A byte that
// could start a character of its own is never swallowed.
std::size_t Utf8FaultLength(std::string_view bytes) {
    const auto first = static_cast<unsigned char>(bytes[0]);
    std::size_t announced = 1;
    if (first >= 0xC2 && first <= 0xDF) {
        announced = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        announced = 3;
    } else if (first >= 0xF0 && first <= 0xF4) {
        announced = 4;
    }
    std::size_t length = 1;
    while (length < announced && length < bytes.size()) {
        const auto next = static_cast<unsigned char>(bytes[length]);
        if (next < 0x80 || next > 0xBF) {
            break;
        }
        ++length;
    }
    return length;
}

// ConvertEncodingReplacing done again one character at a time with the strict conversion: a character of the
// source that converts on its own gives its conversion, anything else the replacement.
std::string ReplacingReference(std::string_view bytes, const EncodingPair& pair, std::string_view replacement) {
    const bool fromUtf8 = IsUtf8(pair.from);
    const bool fromGb18030 = std::string_view(pair.from) == "GB18030";
    std::string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::string_view rest = bytes.substr(i);
        std::array<std::size_t, 3> candidates{1, 2, fromGb18030 ? std::size_t{4} : std::size_t{0}};
        if (fromUtf8) {
            candidates = {Utf8CharacterLength(rest), 0, 0};
        }
        std::size_t length = 0;
        std::string converted;
        for (const std::size_t candidate : candidates) {
            if (candidate == 0 || candidate > rest.size()) {
                continue;
            }
            converted = ConvertEncoding(rest.substr(0, candidate), pair.from, pair.to);
            if (!converted.empty()) {
                length = candidate;
                break;
            }
        }
        if (length > 0) {
            out += converted;
            i += length;
        } else {
            out += replacement;
            i += fromUtf8 ? Utf8FaultLength(rest) : 1;
        }
    }
    return out;
}

void CheckConversion(std::string_view text, const EncodingPair& pair, bool wideReplacement, std::size_t cut) {
    const std::string strict = ConvertEncoding(text, pair.from, pair.to);
    if (IsUtf8(pair.to)) {
        Check(strict.empty() || morvane::IsValidUtf8(strict), "conversion to UTF-8 gives well-formed UTF-8");
    }
    if (!strict.empty()) {
        Check(ConvertEncoding(strict, pair.to, pair.from) == text, "a converted text converts back to itself");
        const std::string_view head = text.substr(0, cut);
        const std::string_view tail = text.substr(cut);
        const std::string headConverted = ConvertEncoding(head, pair.from, pair.to);
        const std::string tailConverted = ConvertEncoding(tail, pair.from, pair.to);
        if ((head.empty() || !headConverted.empty()) && (tail.empty() || !tailConverted.empty())) {
            Check(headConverted + tailConverted == strict, "two convertible pieces convert as their whole does");
        }
    }

    std::string_view replacement = "?";
    if (wideReplacement) {
        replacement = IsUtf8(pair.to) ? "\xEF\xBF\xBD" : "\xA1\xF6"; // U+FFFD, or ■ in GBK and GB18030
    }
    const std::string replaced = ConvertEncodingReplacing(text, pair.from, pair.to, replacement);
    Check(text.empty() || !replaced.empty(), "the replacing conversion of a text is never empty");
    if (!strict.empty()) {
        Check(replaced == strict, "the replacing conversion of a convertible text is the strict one");
    }
    Check(replaced == ReplacingReference(text, pair, replacement),
          "the replacing conversion converts character by character, one replacement per faulty character");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    CheckSeedEncoding(text);

    const bool wellFormed = morvane::IsValidUtf8(text);
    Check(text.empty() || wellFormed == !ConvertEncoding(text, "UTF-8", "GB18030").empty(),
          "IsValidUtf8 agrees with iconv, which converts every well-formed UTF-8 text to GB18030");

    const EncodingPair& pair = kPairs[(mode & 0x07U) % kPairs.size()];
    const bool wideReplacement = (mode & 0x08U) != 0;
    const std::size_t cut = text.size() * (mode >> 4U) / 15;
    CheckConversion(text, pair, wideReplacement, cut);
    return 0;
}

#include "tests/mining/json_c_oracle.h"

#include <json-c/json.h>

#include <cctype>

namespace morvane::test {
namespace {

constexpr std::size_t kLongestPrefixSearched = 4096;

} // namespace

// True when json-c and the GBK rules read every string of text alike: ASCII only, and every backslash starts an
// escape both decode to the same byte.
bool ReadAlikeByJsonC(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b >= 0x80) {
            return false;
        }
        if (b != '\\') {
            continue;
        }
        const std::string_view rest = text.substr(i + 1);
        if (!rest.empty() && std::string_view("\"\\/bfnrt").find(rest[0]) != std::string_view::npos) {
            ++i;
        } else if (rest.size() >= 5 && rest.substr(0, 3) == "u00" && rest[3] >= '0' && rest[3] <= '7' &&
                   std::isxdigit(static_cast<unsigned char>(rest[4]))) {
            i += 5;
        } else {
            return false;
        }
    }
    return true;
}

// The serialised value of document, or nothing when it holds none (the text did not parse, or its value is null).
std::optional<std::string> Serialised(const JsonDocument& document) {
    if (!document.Parsed()) {
        return std::nullopt;
    }
    return std::string(json_object_to_json_string_ext(document.Root(), JSON_C_TO_STRING_PLAIN));
}

// json-c's own reading of text, or nothing when it does not parse. A blank stands in for the terminating NUL, so
// that a number at the end completes: given a NUL inside a comment, json-c can return an inner value as if it
// were the whole document.
std::optional<std::string> JsonCReading(std::string text) {
    text += ' ';
    json_tokener* tok = json_tokener_new();
    JsonDocument document(json_tokener_parse_ex(tok, text.data(), static_cast<int>(text.size())));
    if (json_tokener_get_error(tok) != json_tokener_success) {
        document = JsonDocument();
    }
    json_tokener_free(tok);
    return Serialised(document);
}

// What json-c reads as the first value of text with everything after it ignored; nothing when that cannot be
// told. json-c itself goes on after a value, eating white space and comments, and fails on a stray '/' there;
// then the longest prefix that ends with a closing bracket or quote and that json-c reads gives the value. Only
// told for a root object, array or string, and for texts short enough to search.
std::optional<std::optional<std::string>> JsonCFirstValue(std::string_view text) {
    std::optional<std::string> whole = JsonCReading(std::string(text));
    if (whole) {
        return whole;
    }
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || std::string_view("{[\"'").find(text[first]) == std::string_view::npos ||
        text.size() > kLongestPrefixSearched) {
        return std::nullopt;
    }
    for (std::size_t size = text.size(); size > first; --size) {
        if (std::string_view("}]\"'").find(text[size - 1]) != std::string_view::npos) {
            if (std::optional<std::string> value = JsonCReading(std::string(text.substr(0, size)))) {
                return value;
            }
        }
    }
    return std::optional<std::string>();
}

std::string Utf32ToUtf8(char32_t code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

} // namespace morvane::test

// Feeds arbitrary bytes to ExtractWords and the GBK JSON reading, and checks them against two independent
// readings: json-c's own, for texts whose strings json-c reads as the GBK rules do, and a plain decoder of the
// GBK string rules, for texts that start with a string.
#include "mining/encoding.h"
#include "mining/gbk_json.h"
#include "mining/recommendations.h"

#include <json-c/json.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using morvane::JsonDocument;

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

constexpr std::size_t kLongestPrefixSearched = 4096;

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

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

int HexValue(char c) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
        return -1;
    }
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

std::optional<unsigned> Hex4(std::string_view text, std::size_t at) {
    if (text.size() < at + 4) {
        return std::nullopt;
    }
    unsigned code = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0) {
            return std::nullopt;
        }
        code = code * 16 + static_cast<unsigned>(digit);
    }
    return code;
}

std::string Utf8(unsigned code) {
    std::string out;
    if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code & 0x3F));
    return out;
}

// The GBK string rules written out plainly: the bytes of the string that opens text, or nothing when it does
// not read. text[0] is the opening quote.
std::optional<std::string> ReferenceString(std::string_view text) {
    const char quote = text[0];
    std::string out;
    std::size_t i = 1;
    for (;;) {
        if (i >= text.size()) {
            return std::nullopt;
        }
        const auto b = static_cast<unsigned char>(text[i]);
        if (text[i] == quote) {
            return out;
        }
        if (b >= 0x81 && b <= 0xFE) {
            if (i + 1 >= text.size()) {
                return std::nullopt;
            }
            out += text.substr(i, 2);
            i += 2;
            continue;
        }
        if (b != '\\') {
            out += text[i++];
            continue;
        }
        if (i + 1 >= text.size()) {
            return std::nullopt;
        }
        const char e = text[i + 1];
        const std::string_view simple = "\"'/\\bfnrt";
        const std::string_view decoded = "\"'/\\\b\f\n\r\t";
        if (const std::size_t k = simple.find(e); k != std::string_view::npos) {
            out += decoded[k];
            i += 2;
            continue;
        }
        if (e != 'u') {
            out += '\\';
            ++i;
            continue;
        }
        std::optional<unsigned> code = Hex4(text, i + 2);
        if (!code || (*code >= 0xDC00 && *code <= 0xDFFF)) {
            return std::nullopt;
        }
        i += 6;
        if (*code >= 0xD800 && *code <= 0xDBFF) {
            const std::optional<unsigned> low = text.substr(i, 2) == "\\u" ? Hex4(text, i + 2) : std::nullopt;
            if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                return std::nullopt;
            }
            code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
            i += 6;
        }
        if (*code < 0x80) {
            out += static_cast<char>(*code);
            continue;
        }
        const std::string bytes = morvane::ConvertEncoding(Utf8(*code), "UTF-8", "GB18030");
        if (bytes.empty()) {
            return std::nullopt;
        }
        out += bytes;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view whole(reinterpret_cast<const char*>(data), size);

    morvane::WordList words{"kept"};
    morvane::ExtractWords(whole, words);
    Check(!words.empty() && words.front() == "kept");
    for (std::size_t i = 1; i < words.size(); ++i) {
        Check(!words[i].empty() && words[i].find('\0') == std::string::npos);
    }

    const std::string_view text = whole.substr(0, whole.find('\0'));
    if (ReadAlikeByJsonC(text)) {
        if (const auto expected = JsonCFirstValue(text)) {
            Check(Serialised(morvane::ParseGbkJson(text)) == *expected);
        }
    }

    if (!text.empty() && (text[0] == '"' || text[0] == '\'')) {
        const std::optional<std::string> expected = ReferenceString(text);
        const JsonDocument document = morvane::ParseGbkJson(text);
        std::optional<std::string> actual;
        if (json_object_is_type(document.Root(), json_type_string)) {
            actual.emplace(json_object_get_string(document.Root()),
                           static_cast<std::size_t>(json_object_get_string_len(document.Root())));
        }
        Check(actual == expected);
    }
    return 0;
}

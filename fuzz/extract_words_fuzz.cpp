// Feeds arbitrary bytes to ExtractWords and the GBK JSON reading, and checks them against two independent
// readings: json-c's own, for texts whose strings json-c reads as the GBK rules do, and a plain decoder of the
// GBK string rules, for texts that start with a string.
#include "mining/encoding.h"
#include "mining/gbk_json.h"
#include "mining/recommendations.h"
#include "tests/mining/json_c_oracle.h"

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
using morvane::test::JsonCFirstValue;
using morvane::test::ReadAlikeByJsonC;
using morvane::test::Serialised;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::optional<unsigned> Hex4(std::string_view text, std::size_t at) {
    if (text.size() < at + 4) {
        return std::nullopt;
    }
    unsigned code = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const int digit = morvane::HexDigitValue(text[i]);
        if (digit < 0) {
            return std::nullopt;
        }
        code = code * 16 + static_cast<unsigned>(digit);
    }
    return code;
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
        const std::string bytes =
            morvane::ConvertEncoding(morvane::test::Utf32ToUtf8(static_cast<char32_t>(*code)), "UTF-8", "GB18030");
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

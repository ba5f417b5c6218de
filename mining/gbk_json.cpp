#include "mining/gbk_json.h"

#include "mining/text.h"

#include <iconv.h>
#include <json-c/json.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// How this works: json-c stays the parser of the document, but it reads strings by its own rules (byte by byte,
// \u escapes to UTF-8, no unknown escapes) and, after a value, goes on eating white space and comments. One pass
// over the text finds every string the way json-c's lexer would (double- or single-quoted, skipping /* */ and //
// comments), decodes it by the GBK rules and follows the nesting of objects and arrays to find where the first
// value ends. A string whose GBK reading equals json-c's own is handed to json-c untouched; any other string is
// handed over in an escaped form that json-c decodes back to exactly the GBK reading. The text goes to json-c's
// tokener in pieces, so the unchanged stretches are never copied, and stops at the end of the first value.

namespace morvane {

JsonDocument::~JsonDocument() {
    if (m_root != nullptr) {
        json_object_put(m_root);
    }
}

JsonDocument& JsonDocument::operator=(JsonDocument&& other) noexcept {
    if (this != &other) {
        if (m_root != nullptr) {
            json_object_put(m_root);
        }
        m_root = other.m_root;
        other.m_root = nullptr;
    }
    return *this;
}

namespace {

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;

// json-c takes a piece's length as an int.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

// Size of the pieces in which a rewritten string goes to json-c.
constexpr std::size_t kRewriteChunk = std::size_t{64} << 10U;

// What json-c's tree takes for each value, at most, malloc's own overhead and the slot of an array element
// included (measured with json-c 0.16 and glibc; bench/reply_memory_bench checks it). A string costs
// kStringCost plus its length in the text, whether it is a value or a member name (a name's copy and hash
// entry cost less than a string value); a number or literal costs kScalarCost plus its length.
constexpr std::size_t kObjectCost = 800;
constexpr std::size_t kArrayCost = 160;
constexpr std::size_t kStringCost = 96;
constexpr std::size_t kScalarCost = 112;

// GB18030 bytes of every code point U+0080..U+FFFF outside the surrogates, asked of the system's iconv once.
class Gb18030Table {
public:
    Gb18030Table() {
        iconv_t cd = iconv_open("GB18030", "UTF-32LE");
        // (iconv_t)-1 is iconv_open's failure value; without a converter no \u escape above 0x7F has a form.
        if (cd == reinterpret_cast<iconv_t>(-1)) { // NOLINT(performance-no-int-to-ptr)
            return;
        }
        for (char32_t code = 0x80; code < kFirstSupplementary; ++code) {
            if (code >= kHighSurrogateFirst && code <= kSurrogateLast) {
                continue;
            }
            std::array<char, 4> in{static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF), 0, 0};
            Entry& entry = m_entries[code];
            char* inPtr = in.data();
            std::size_t inLeft = in.size();
            char* outPtr = entry.bytes.data();
            std::size_t outLeft = entry.bytes.size();
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
                iconv(cd, nullptr, nullptr, nullptr, nullptr); // reset after a code this iconv cannot map
                continue;
            }
            entry.length = static_cast<std::uint8_t>(entry.bytes.size() - outLeft);
        }
        iconv_close(cd);
    }

    // The GB18030 bytes of code (0x80..0x10FFFF, not a surrogate); empty when it has none.
    std::string_view Bytes(char32_t code, std::array<char, 4>& scratch) const {
        if (code < kFirstSupplementary) {
            const Entry& entry = m_entries[code];
            return {entry.bytes.data(), entry.length};
        }
        // Beyond the BMP GB18030 is a plain count of four-byte sequences from 90 30 81 30 on.
        const char32_t index = code - kFirstSupplementary;
        scratch[0] = static_cast<char>(0x90 + index / 12600);
        scratch[1] = static_cast<char>(0x30 + index / 1260 % 10);
        scratch[2] = static_cast<char>(0x81 + index / 10 % 126);
        scratch[3] = static_cast<char>(0x30 + index % 10);
        return {scratch.data(), scratch.size()};
    }

private:
    struct Entry {
        std::array<char, 4> bytes{};
        std::uint8_t length = 0;
    };
    std::vector<Entry> m_entries = std::vector<Entry>(kFirstSupplementary);
};

const Gb18030Table& Gb18030() {
    static const Gb18030Table table;
    return table;
}

// A backslash before c escapes one character: \" \' \/ \\ \b \f \n \r \t.
bool IsSingleEscape(char c) {
    switch (c) {
    case '"':
    case '\'':
    case '/':
    case '\\':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
        return true;
    default:
        return false;
    }
}

// Reads the four hexadecimal digits at p.
bool ReadHex4(const char* p, const char* end, char32_t& code) {
    if (end - p < 4) {
        return false;
    }
    code = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = HexDigitValue(p[i]);
        if (digit < 0) {
            return false;
        }
        code = code * 16 + static_cast<char32_t>(digit);
    }
    return true;
}

enum class StringKind {
    Plain,        // json-c reads it exactly as the GBK rules do
    Rewrite,      // json-c would read it differently: hand it over rewritten
    Unterminated, // the text ends inside it
};

struct StringScan {
    const char* end; // just past the closing quote
    StringKind kind;
};

// Finds where the string whose body starts at p ends, and whether json-c would read it as the GBK rules do.
StringScan ScanString(const char* p, const char* end, char quote) {
    bool rewrite = false;
    while (p < end) {
        const char c = *p;
        if (c == quote) {
            return {p + 1, rewrite ? StringKind::Rewrite : StringKind::Plain};
        }
        if (IsGbkLeadByte(static_cast<unsigned char>(c))) {
            if (end - p < 2) {
                break;
            }
            // json-c would end the string or start an escape at this second byte.
            rewrite = rewrite || p[1] == quote || p[1] == '\\';
            p += 2;
        } else if (c == '\\') {
            rewrite = true;
            // After any other backslash the next byte is read on its own (the hex digits of \u included).
            p += (end - p >= 2 && IsSingleEscape(p[1])) ? 2 : 1;
        } else {
            ++p;
        }
    }
    return {end, StringKind::Unterminated};
}

// Appends byte so that json-c, reading a double-quoted string, gives back exactly that byte.
void AppendForJsonC(std::string& out, char byte) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    const auto b = static_cast<unsigned char>(byte);
    if (byte == '"' || byte == '\\') {
        out += '\\';
        out += byte;
    } else if (b < 0x20) {
        out += "\\u00";
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    } else {
        out += byte;
    }
}

// json-c's tokener fed piece by piece until it completes one value or fails.
class Tokener {
public:
    Tokener() = default;
    ~Tokener() {
        if (m_tok != nullptr) {
            json_tokener_free(m_tok);
        }
    }
    Tokener(const Tokener&) = delete;
    Tokener& operator=(const Tokener&) = delete;

    // Hands size bytes to json-c. False once it wants no more: it has completed its value or failed.
    bool Feed(const char* data, std::size_t size) {
        while (!m_done && size > 0) {
            const std::size_t piece = std::min(size, kMaxPiece);
            json_object* value = json_tokener_parse_ex(m_tok, data, static_cast<int>(piece));
            const json_tokener_error error = json_tokener_get_error(m_tok);
            if (error == json_tokener_continue) {
                data += piece;
                size -= piece;
                continue;
            }
            m_done = true;
            JsonDocument document(value);
            if (error == json_tokener_success) {
                m_completed = true;
                m_value = std::move(document);
            }
        }
        return !m_done;
    }

    // The completed value; empty when json-c failed or has not completed one. Sets failure to None when json-c
    // completed a value (null gives an empty document too), else to Syntax.
    JsonDocument TakeValue(JsonFailure& failure) {
        failure = m_completed ? JsonFailure::None : JsonFailure::Syntax;
        return std::move(m_value);
    }

private:
    json_tokener* m_tok = json_tokener_new();
    bool m_done = m_tok == nullptr;
    bool m_completed = false;
    JsonDocument m_value;
};

// Decodes the string whose body starts at p by the GBK rules and appends it to out as a double-quoted string
// json-c reads back to the same bytes. Whenever out has grown to kRewriteChunk it goes to tokener, so a long
// string never needs its rewritten form (up to six times its size) in one piece. False when an escape makes
// the text fail to parse.
bool RewriteString(const char* p, const char* end, char quote, std::string& out, Tokener& tokener) {
    out += '"';
    while (p < end && *p != quote) {
        if (out.size() >= kRewriteChunk) {
            // A tokener that stops here has failed; the caller's next Feed finds it done.
            tokener.Feed(out.data(), out.size());
            out.clear();
        }
        const char c = *p;
        if (IsGbkLeadByte(static_cast<unsigned char>(c))) {
            if (end - p < 2) {
                return false;
            }
            AppendForJsonC(out, p[0]);
            AppendForJsonC(out, p[1]);
            p += 2;
            continue;
        }
        if (c != '\\') {
            AppendForJsonC(out, c);
            ++p;
            continue;
        }
        if (end - p < 2) {
            return false;
        }
        const char escaped = p[1];
        switch (escaped) {
        case 'b':
            out += "\\b";
            p += 2;
            break;
        case 'f':
            out += "\\f";
            p += 2;
            break;
        case 'n':
            out += "\\n";
            p += 2;
            break;
        case 'r':
            out += "\\r";
            p += 2;
            break;
        case 't':
            out += "\\t";
            p += 2;
            break;
        case 'u': {
            char32_t code = 0;
            if (!ReadHex4(p + 2, end, code)) {
                return false;
            }
            p += 6;
            if (code >= kLowSurrogateFirst && code <= kSurrogateLast) {
                return false; // a low surrogate without its high half
            }
            if (code >= kHighSurrogateFirst && code < kLowSurrogateFirst) {
                char32_t low = 0;
                if (end - p < 6 || p[0] != '\\' || p[1] != 'u' || !ReadHex4(p + 2, end, low) ||
                    low < kLowSurrogateFirst || low > kSurrogateLast) {
                    return false; // a high surrogate without its low half
                }
                p += 6;
                code = kFirstSupplementary + ((code - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
            }
            if (code < 0x80) {
                AppendForJsonC(out, static_cast<char>(code));
                break;
            }
            std::array<char, 4> scratch{};
            const std::string_view bytes = Gb18030().Bytes(code, scratch);
            if (bytes.empty()) {
                return false;
            }
            for (const char b : bytes) {
                AppendForJsonC(out, b);
            }
            break;
        }
        default:
            if (IsSingleEscape(escaped)) {
                AppendForJsonC(out, escaped);
                p += 2;
            } else {
                // Kept literally; the next byte is read on its own, so a double-byte character stays whole.
                AppendForJsonC(out, '\\');
                ++p;
            }
            break;
        }
    }
    if (p == end) {
        return false;
    }
    out += '"';
    return true;
}

// A byte that can belong to a number or literal (true, null, NaN, -Infinity, ...).
bool IsScalarByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '+' ||
           c == '-';
}

// Returns where the comment that starts with the '/' at p ends, as json-c's lexer sees it.
const char* SkipComment(const char* p, const char* end) {
    if (end - p < 2) {
        return end;
    }
    if (p[1] == '/') {
        const void* lineEnd = std::memchr(p + 2, '\n', static_cast<std::size_t>(end - p - 2));
        return lineEnd != nullptr ? static_cast<const char*>(lineEnd) + 1 : end;
    }
    if (p[1] != '*') {
        return p + 1; // json-c stops with an error here; nothing to skip
    }
    const char* q = p + 2;
    while (q < end) {
        const auto* star = static_cast<const char*>(std::memchr(q, '*', static_cast<std::size_t>(end - q)));
        if (star == nullptr || end - star < 2) {
            return end;
        }
        if (star[1] == '/') {
            return star + 2;
        }
        // json-c takes the byte after a star as comment text even when it is another star, so "**/" does not
        // close the comment.
        q = star + 2;
    }
    return end;
}

} // namespace

JsonDocument ParseGbkJson(std::string_view text, JsonFailure* failure) {
    JsonFailure ignored = JsonFailure::None;
    JsonFailure& result = failure != nullptr ? *failure : ignored;
    result = JsonFailure::Syntax;
    text = text.substr(0, text.find('\0'));
    Tokener tokener;
    const char* const end = text.data() + text.size();
    const char* fed = text.data();
    const char* p = text.data();
    std::size_t depth = 0; // of objects and arrays around p
    bool valueEnded = false;
    std::string rewritten;
    // What json-c's tree would take for the values scanned so far. The scan runs ahead of what json-c is given,
    // so a text whose tree would grow too large is refused before json-c has built more than the limit.
    std::size_t treeBytes = 0;
    const auto grow = [&treeBytes](std::size_t bytes) {
        treeBytes += bytes;
        return treeBytes <= kMaxJsonTreeBytes;
    };
    const auto tooLarge = [&result] {
        result = JsonFailure::TooLarge;
        return JsonDocument();
    };
    // The scan stops where the first value ends, and json-c is given nothing after it: json-c would go on to eat
    // white space and comments there and fail on a stray '/', where the rule is that everything after the value
    // is ignored.
    while (p != end && !valueEnded) {
        const char c = *p;
        if (c == '"' || c == '\'') {
            const StringScan scan = ScanString(p + 1, end, c);
            if (!grow(kStringCost + static_cast<std::size_t>(scan.end - p))) {
                return tooLarge();
            }
            if (scan.kind != StringKind::Plain) {
                if (!tokener.Feed(fed, static_cast<std::size_t>(p - fed))) {
                    return tokener.TakeValue(result);
                }
                rewritten.clear();
                if (scan.kind == StringKind::Unterminated || !RewriteString(p + 1, end, c, rewritten, tokener)) {
                    return {};
                }
                if (!tokener.Feed(rewritten.data(), rewritten.size())) {
                    return tokener.TakeValue(result);
                }
                fed = scan.end;
            }
            p = scan.end;
            valueEnded = depth == 0; // a string at the root is the whole value
        } else if (c == '/') {
            p = SkipComment(p, end);
        } else if (c == '{' || c == '[') {
            if (!grow(c == '{' ? kObjectCost : kArrayCost)) {
                return tooLarge();
            }
            ++depth;
            ++p;
        } else if (c == '}' || c == ']') {
            ++p;
            if (depth > 0) {
                --depth;
            }
            valueEnded = depth == 0; // closes the root value (or is a stray one, which json-c rejects)
        } else if (IsScalarByte(c)) {
            // A number or literal. At the root json-c's own reading of it ends within this run, or fails.
            const char* const start = p;
            while (p != end && IsScalarByte(*p)) {
                ++p;
            }
            if (!grow(kScalarCost + static_cast<std::size_t>(p - start))) {
                return tooLarge();
            }
            valueEnded = depth == 0;
        } else {
            ++p;
        }
    }
    if (!valueEnded) {
        // The text ends before its value does, or holds none. json-c is not asked: given the terminating NUL
        // inside a comment it can even return an inner value as if it were the whole document.
        return {};
    }
    if (tokener.Feed(fed, static_cast<std::size_t>(p - fed))) {
        // The terminating NUL completes a value that only ends with the text, such as a number at the root.
        tokener.Feed("", 1);
    }
    return tokener.TakeValue(result);
}

json_object* FindMember(json_object* object, const char* name) {
    json_object* value = nullptr;
    if (!json_object_is_type(object, json_type_object) || !json_object_object_get_ex(object, name, &value)) {
        return nullptr;
    }
    return value;
}

std::optional<std::string_view> StringText(json_object* value) {
    if (!json_object_is_type(value, json_type_string)) {
        return std::nullopt;
    }
    return std::string_view(json_object_get_string(value));
}

std::size_t ArrayLength(json_object* value) {
    return json_object_is_type(value, json_type_array) ? json_object_array_length(value) : 0;
}

json_object* ArrayElement(json_object* array, std::size_t index) {
    return index < ArrayLength(array) ? json_object_array_get_idx(array, index) : nullptr;
}

} // namespace morvane

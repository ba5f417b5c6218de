#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// json-c's value; only the reading (gbk_json.cpp) looks inside it. Code that reads a document goes through the
// functions below, and needs no json-c header.
struct json_object;

namespace morvane {

// A parsed JSON document: owns json-c's tree and releases it when destroyed. Empty when the text did not parse,
// and when its value is null (json-c has no object for null).
class JsonDocument {
public:
    JsonDocument() = default;
    // Takes over root, which may be nullptr; json_object_put releases it with the document.
    explicit JsonDocument(json_object* root) : m_root(root) {}
    ~JsonDocument();
    JsonDocument(JsonDocument&& other) noexcept : m_root(other.m_root) { other.m_root = nullptr; }
    JsonDocument& operator=(JsonDocument&& other) noexcept;
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // The root value, or nullptr for an empty document. Valid while the document lives.
    json_object* Root() const { return m_root; }
    // True when the document holds a value.
    bool Parsed() const { return m_root != nullptr; }

private:
    json_object* m_root = nullptr;
};

// The most that json-c's tree of one text may take (48 MiB, estimated from the text before json-c builds it).
// A reply of the service's shape takes about 1 kB a word, so some 50,000 words fit; the bound keeps the memory
// that reading a hostile text takes (millions of empty objects, say) within a fixed amount.
inline constexpr std::size_t kMaxJsonTreeBytes = std::size_t{48} << 20U;

// Why ParseGbkJson gave no value.
enum class JsonFailure {
    None,     // a value was read (null gives an empty document all the same)
    Syntax,   // the text is not JSON by the GBK reading rules
    TooLarge, // its tree would take more than kMaxJsonTreeBytes
};

// Parses the first JSON value of text (GBK) with json-c, read by the GBK rules: white space and comments before
// the value are skipped and everything after it is ignored; inside a string a byte 0x81..0xFE and the byte after
// it are one character, copied unchanged, that neither ends the string nor starts an escape; \" \' \/ \\ \b \f \n
// \r \t are the usual characters; \uXXXX gives a code below 0x80 as that byte and any other code (a surrogate
// pair as one character) as its GB18030 bytes; a backslash before any other character stays, with that character.
// The text is read up to its first NUL byte. Empty document when the text is empty, ends before its value does,
// does not start with a value, nests deeper than json-c allows, or holds a \u escape without four hexadecimal
// digits, a lone surrogate, or a code without a GB18030 form; empty too when the values of text up to the end of
// its first value would take json-c more than kMaxJsonTreeBytes. failure, when given, tells which.
JsonDocument ParseGbkJson(std::string_view text, JsonFailure* failure = nullptr);

// The value of member name of object (its last occurrence when the name repeats), or nullptr when object is not
// a JSON object or has no such member.
json_object* FindMember(json_object* object, const char* name);

// The text of value when it is a JSON string, up to its first NUL byte; nothing for any other value or nullptr.
std::optional<std::string_view> StringText(json_object* value);

// The number of elements of value when it is a JSON array; 0 for any other value or nullptr.
std::size_t ArrayLength(json_object* value);

// The element at index of array, or nullptr when array is not a JSON array or has no such element.
json_object* ArrayElement(json_object* array, std::size_t index);

} // namespace morvane

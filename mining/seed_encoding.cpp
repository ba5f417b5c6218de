#include "mining/seed_encoding.h"

#include "mining/encoding.h"

namespace morvane {
namespace {

bool IsKeptByte(unsigned char b) {
    return (b >= 0x2D && b <= 0x39 && b != 0x2F) || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

} // namespace

Text EncodeSeedWord(std::string_view text, bool keepUnreserved, bool toUtf8) {
    static constexpr std::string_view kHexDigits = "0123456789ABCDEF";
    const std::string bytes = toUtf8 ? ConvertEncoding(text, "GBK", "UTF-8") : std::string(text);
    Text out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (keepUnreserved && IsKeptByte(b)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHexDigits[b >> 4U]);
            out.push_back(kHexDigits[b & 0x0FU]);
        }
    }
    return out;
}

} // namespace morvane

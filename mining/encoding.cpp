#include "mining/encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace morvane {
namespace {

// Closes an iconv descriptor when the conversion leaves scope, whatever way it leaves.
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (Valid()) {
            iconv_close(m_cd);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    // iconv_open reports failure as (iconv_t)-1.
    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); } // NOLINT(performance-no-int-to-ptr)
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// How many bytes a UTF-8 sequence starting with lead claims: 1 for a byte that cannot start one.
std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 1;
}

// The bytes of the faulty UTF-8 sequence at the start of bytes: its first byte and the continuation bytes after
// it, up to the length the first byte claims. A byte that is no continuation byte starts the next character, so
// a sequence cut short never swallows it.
std::size_t Utf8FaultLength(std::string_view bytes) {
    const std::size_t claimed = std::min(Utf8SequenceLength(static_cast<unsigned char>(bytes[0])), bytes.size());
    std::size_t length = 1;
    while (length < claimed && (static_cast<unsigned char>(bytes[length]) & 0xC0U) == 0x80U) {
        ++length;
    }
    return length;
}

} // namespace

std::string ConvertEncodingReplacing(std::string_view bytes, const char* fromEncoding, const char* toEncoding,
                                     std::string_view replacement) {
    if (bytes.empty()) {
        return {};
    }
    IconvHandle cd(toEncoding, fromEncoding);
    if (!cd.Valid()) {
        return {};
    }
    const bool fromUtf8 = std::string_view(fromEncoding) == "UTF-8";
    std::string out;
    out.reserve(bytes.size() * 2);
    char buffer[4096];
    auto* in = const_cast<char*>(bytes.data()); // iconv never writes through its input pointer
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL: a character that is invalid, cut off, or missing from the target.
        const std::size_t skip = fromUtf8 ? Utf8FaultLength(std::string_view(in, inLeft)) : 1;
        in += skip;
        inLeft -= skip;
        out += replacement;
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr); // back to the initial state
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    return out;
}

std::string ConvertEncoding(std::string_view bytes, const char* fromEncoding, const char* toEncoding) {
    if (bytes.empty()) {
        return {};
    }
    IconvHandle cd(toEncoding, fromEncoding);
    if (!cd.Valid()) {
        return {};
    }
    // Enough for every pair of GBK, GB18030 and UTF-8 (a GBK pair becomes at most three UTF-8 bytes), so that a
    // large text is converted without regrowing and the buffer stays within half again its size.
    std::string out(bytes.size() + bytes.size() / 2 + 16, '\0');
    // iconv's interface takes a non-const input pointer but never writes through it.
    auto* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t produced = 0;
    for (;;) {
        char* outPtr = out.data() + produced;
        std::size_t outLeft = out.size() - produced;
        const std::size_t rc =
            iconv(cd.Get(), inLeft > 0 ? &in : nullptr, inLeft > 0 ? &inLeft : nullptr, &outPtr, &outLeft);
        produced = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) {
                // Input consumed: one more call with no input flushes any pending shift state.
                outPtr = out.data() + produced;
                outLeft = out.size() - produced;
                if (iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
                    if (errno != E2BIG) {
                        return {};
                    }
                    out.resize(out.size() * 2);
                    continue;
                }
                produced = out.size() - outLeft;
                break;
            }
            continue;
        }
        if (errno != E2BIG) {
            return {}; // EILSEQ (invalid or unrepresentable) or EINVAL (cut off at the end)
        }
        out.resize(out.size() * 2);
    }
    out.resize(produced);
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) {
                low = 0xA0; // no overlong forms
            } else if (b0 == 0xED) {
                high = 0x9F; // no surrogates
            }
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) {
                low = 0x90;
            } else if (b0 == 0xF4) {
                high = 0x8F; // nothing above U+10FFFF
            }
        } else {
            return false;
        }
        if (n - i < length) {
            return false;
        }
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        if (b1 < low || b1 > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            if (b < 0x80 || b > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

} // namespace morvane

#include "mining/text.h"

#include <array>
#include <charconv>

namespace morvane {
namespace {

// Calls onLine(begin, end) for every line of text, as SplitLines defines them.
template <typename OnLine> void ForEachLine(std::string_view text, OnLine onLine) {
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (IsGbkLeadByte(byte)) {
            i += 2; // a lead byte and its trail byte are one character
            continue;
        }
        if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            onLine(start, i);
            i += 2;
            start = i;
            continue;
        }
        ++i;
    }
    if (start < text.size()) {
        onLine(start, text.size());
    }
}

} // namespace

WordList SplitLines(std::string_view text) {
    WordList lines;
    ForEachLine(text, [&](std::size_t begin, std::size_t end) { lines.emplace_back(text.substr(begin, end - begin)); });
    return lines;
}

std::size_t CountLines(std::string_view text) {
    std::size_t count = 0;
    ForEachLine(text, [&](std::size_t, std::size_t) { ++count; });
    return count;
}

void LineCounter::Append(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (m_pendingTrail) {
            m_pendingTrail = false;
            continue;
        }
        if (m_pendingCr) {
            m_pendingCr = false;
            if (byte == '\n') {
                ++m_completed;
                m_openLine = false;
                continue;
            }
        }
        m_openLine = true;
        if (IsGbkLeadByte(byte)) {
            m_pendingTrail = true;
        } else if (byte == '\r') {
            m_pendingCr = true;
        }
    }
}

std::string FormatPercent(double value) {
    // to_chars writes what "%.13g" writes in the C locale, whatever locale the program runs in: a window program
    // takes the user's locale, whose decimal comma would change the status text.
    std::array<char, 64> buffer{};
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::general, 13);
    return error == std::errc() ? std::string(buffer.data(), end) : std::string();
}

} // namespace morvane

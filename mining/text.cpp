#include "mining/text.h"

#include <array>
#include <cstdio>

namespace morvane {
namespace {

// Calls onLine(begin, end) for every line of text, as SplitLines defines them.
template <typename OnLine> void ForEachLine(std::string_view text, OnLine onLine) {
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x81 && byte <= 0xFE) {
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
        if (byte >= 0x81 && byte <= 0xFE) {
            m_pendingTrail = true;
        } else if (byte == '\r') {
            m_pendingCr = true;
        }
    }
}

std::string FormatPercent(double value) {
    std::array<char, 64> buffer{};
    const int length = std::snprintf(buffer.data(), buffer.size(), "%.13g", value);
    return {buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0U};
}

} // namespace morvane

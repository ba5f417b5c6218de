#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// GBK bytes without embedded NUL; an absent text and an empty text are the same.
using Text = std::string;

// An ordered list of texts; duplicates allowed.
using WordList = std::vector<Text>;

// Line separator inside every Text.
inline constexpr std::string_view kLineBreak = "\r\n";

// True for a byte that starts a GBK double-byte character (0x81 to 0xFE): it and the byte after it are one
// character. 0x80, the euro sign, is a character of one byte.
constexpr bool IsGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

// True for the second byte of a GB18030 four-byte character (after a lead byte): a digit, 0x30 to 0x39, which no
// double-byte character has there.
constexpr bool IsGb18030FourByteSecond(unsigned char byte) {
    return byte >= 0x30 && byte <= 0x39;
}

// Cuts text at every CR LF, stepping over GBK double-byte characters (lead byte 0x81 to 0xFE and the byte
// after it) so that a separator is never matched inside one; 0x80, the euro sign, is a single byte. Empty pieces
// between separators count; a trailing CR LF adds no empty last entry.
WordList SplitLines(std::string_view text);

// The number of entries SplitLines gives for text, without building them.
std::size_t CountLines(std::string_view text);

// Counts the lines of a text that grows by appending, giving at every moment what CountLines gives for the
// whole text so far, at a cost in proportion to what is appended.
class LineCounter {
public:
    void Append(std::string_view text);
    void Reset() { *this = LineCounter(); }
    std::size_t Count() const { return m_completed + (m_openLine ? 1 : 0); }

private:
    std::size_t m_completed = 0; // pieces ended by a separator
    bool m_openLine = false;     // bytes after the last separator
    bool m_pendingTrail = false; // the last byte was a lead byte whose trail byte has not come yet
    bool m_pendingCr = false;    // the last byte was a CR that a LF would make a separator
};

// The value of a hexadecimal digit in either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Renders value as printf's "%.13g" does: 100 -> "100", 100.0 / 3 -> "33.33333333333".
std::string FormatPercent(double value);

} // namespace morvane

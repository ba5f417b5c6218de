#include "ui/control_text.h"

#include <gtest/gtest.h>

#include <array>

namespace morvane::ui {
namespace {

struct RoundTrip {
    const char* shown; // UTF-8, as the control holds it
    Text core;         // GBK with CR LF
};

TEST(ControlTextTest, convertsBothWaysAtTheBoundary) {
    const auto cases = std::to_array<RoundTrip>({
        {"", ""},
        {"abc", "abc"},
        {"手机", "\xca\xd6\xbb\xfa"},
        {"a\nb\n", "a\r\nb\r\n"},
        {"\n\n", "\r\n\r\n"},
        {" ", " "},
        {"€", "\x80"}, // the euro sign is one byte in GBK
    });
    for (const RoundTrip& c : cases) {
        EXPECT_EQ(FromControlText(QString::fromUtf8(c.shown)), c.core) << c.shown;
        EXPECT_EQ(ToControlText(c.core), QString::fromUtf8(c.shown)) << c.shown;
    }
}

TEST(ControlTextTest, characterThatGbkLacksBecomesAMarkAndKeepsTheRest) {
    // An emoji and a Korean syllable: GBK has neither.
    EXPECT_EQ(FromControlText(QString::fromUtf8("手😀机\n한")), "\xca\xd6?\xbb\xfa\r\n?");
}

TEST(ControlTextTest, wordsOutsideGbkFromAReplyShowAsTheirCharacters) {
    // A \u escape of a reply gives the four-byte GB18030 form of a character GBK lacks.
    EXPECT_EQ(ToControlText("\x81\x30\x81\x30"
                            "a"),
              QString::fromUtf8("\u0080a"));
    EXPECT_EQ(ToControlText("\x94\x39\xfc\x36"), QString::fromUtf8("😀"));
}

TEST(ControlTextTest, bytesThatDoNotDecodeShowAsReplacementCharacters) {
    EXPECT_EQ(ToControlText("a\xd6"), QString::fromUtf8("a\uFFFD"));
}

} // namespace
} // namespace morvane::ui

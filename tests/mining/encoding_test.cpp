#include "mining/encoding.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

struct ConvertCase {
    const char* name;
    std::string input;
    const char* from;
    const char* to;
    std::string expected;
};

class ConvertEncodingTest : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertEncodingTest, convertsWholeOrNothing) {
    const ConvertCase& c = GetParam();
    EXPECT_EQ(ConvertEncoding(c.input, c.from, c.to), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertEncodingTest,
                         testing::Values(ConvertCase{"emptyGivesEmpty", "", "UTF-8", "GBK", ""},
                                         ConvertCase{"asciiUnchanged", "abc 1", "UTF-8", "GBK", "abc 1"},
                                         ConvertCase{"utf8ToGbk", "\xe4\xb8\xad\xe6\x96\x87", "UTF-8", "GBK",
                                                     "\xd6\xd0\xce\xc4"},
                                         ConvertCase{"gbkToUtf8", "\xd6\xd0", "GBK", "UTF-8", "\xe4\xb8\xad"},
                                         ConvertCase{"trailByteBackslash", "\x9c\x5c", "GBK", "UTF-8", "\xe6\xb7\xba"},
                                         ConvertCase{"invalidUtf8GivesNothing",
                                                     "ab\xff"
                                                     "cd",
                                                     "UTF-8", "GBK", ""},
                                         ConvertCase{"cutOffSequenceGivesNothing", "ab\xe4\xb8", "UTF-8", "GBK", ""},
                                         ConvertCase{"unrepresentableGivesNothing",
                                                     "a\xf0\x9f\x98\x80"
                                                     "b",
                                                     "UTF-8", "GBK", ""},
                                         ConvertCase{"byteOrderMarkHasNoGbkForm", "\xef\xbb\xbf{}", "UTF-8", "GBK", ""},
                                         ConvertCase{"loneLeadByteGivesNothing", "a\xd6", "GBK", "UTF-8", ""},
                                         ConvertCase{"unknownEncodingGivesNothing", "a", "NO-SUCH-CODE", "UTF-8", ""}),
                         test::CaseName());

TEST(ConvertEncodingTest, largeInputConvertsWhole) {
    std::string utf8;
    for (int i = 0; i < 100000; ++i) {
        utf8 += "\xe4\xb8\xad";
    }
    EXPECT_EQ(ConvertEncoding(utf8, "UTF-8", "GBK").size(), 200000U);
}

class ConvertEncodingReplacingTest : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertEncodingReplacingTest, replacesOnlyWhatCannotBeConverted) {
    const ConvertCase& c = GetParam();
    EXPECT_EQ(ConvertEncodingReplacing(c.input, c.from, c.to, "?"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertEncodingReplacingTest,
    testing::Values(ConvertCase{"emptyGivesEmpty", "", "UTF-8", "GBK", ""},
                    ConvertCase{"convertibleTextAsStrict", "a\xe4\xb8\xad\r\n", "UTF-8", "GBK", "a\xd6\xd0\r\n"},
                    // An emoji is one character of four bytes: one replacement, and the text around it stays.
                    ConvertCase{"unrepresentableCharacterIsOneMark", "a\xf0\x9f\x98\x80\xe4\xb8\xad", "UTF-8", "GBK",
                                "a?\xd6\xd0"},
                    ConvertCase{"everyCharacterMissing", "\xf0\x9f\x98\x80\xf0\x9f\x98\x81", "UTF-8", "GBK", "??"},
                    ConvertCase{"invalidUtf8ByteIsOneMark",
                                "a\xff"
                                "b",
                                "UTF-8", "GBK", "a?b"},
                    ConvertCase{"cutOffAtTheEnd", "ab\xe4\xb8", "UTF-8", "GBK", "ab?"},
                    ConvertCase{"gb18030FourByteToUtf8", "\x81\x30\x81\x30", "GB18030", "UTF-8", "\xc2\x80"},
                    ConvertCase{"loneLeadByteInGbk", "a\xd6", "GBK", "UTF-8", "a?"}),
    test::CaseName());

TEST(ConvertEncodingReplacingTest, largeInputWithMarksConvertsWhole) {
    std::string utf8;
    for (int i = 0; i < 50000; ++i) {
        utf8 += "\xe4\xb8\xad\xf0\x9f\x98\x80";
    }
    const std::string gbk = ConvertEncodingReplacing(utf8, "UTF-8", "GBK", "?");
    ASSERT_EQ(gbk.size(), 150000U);
    EXPECT_EQ(gbk.substr(0, 6), "\xd6\xd0?\xd6\xd0?");
}

TEST(IsValidUtf8Test, acceptsWellFormedOnly) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("abc\xe4\xb8\xad\xf0\x9f\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));         // overlong
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));     // surrogate
    EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xe4\xb8"));         // cut off
    EXPECT_FALSE(IsValidUtf8("\x80"));             // stray continuation
}

} // namespace
} // namespace morvane

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

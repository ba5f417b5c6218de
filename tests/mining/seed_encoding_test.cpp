#include "mining/seed_encoding.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

struct EncodeCase {
    const char* name;
    std::string word;
    bool keepUnreserved;
    bool toUtf8;
    std::string expected;
};

class EncodeSeedWordTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeSeedWordTest, encodes) {
    const EncodeCase& c = GetParam();
    EXPECT_EQ(EncodeSeedWord(c.word, c.keepUnreserved, c.toUtf8), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeSeedWordTest,
    testing::Values(EncodeCase{"keptBytesStay", "abc-XYZ.09", true, true, "abc-XYZ.09"},
                    EncodeCase{"space", " ", true, true, "%20"}, EncodeCase{"slash", "/", true, true, "%2F"},
                    EncodeCase{"underscore", "_", true, true, "%5F"}, EncodeCase{"tilde", "~", true, true, "%7E"},
                    EncodeCase{"plus", "+", true, true, "%2B"},
                    EncodeCase{"chineseAsUtf8Uppercase", "\xd6\xd0", true, true, "%E4%B8%AD"},
                    EncodeCase{"leadingZero", "\t", true, true, "%09"}, EncodeCase{"empty", "", true, true, ""},
                    EncodeCase{"everyByteWhenNotKeeping", "a1", false, true, "%61%31"},
                    EncodeCase{"gbkBytesWithoutConversion", "\xd6\xd0", true, false, "%D6%D0"},
                    EncodeCase{"neitherFlag", "a\xd6\xd0", false, false, "%61%D6%D0"},
                    EncodeCase{"invalidGbkGivesEmpty", "a\xd6", true, true, ""},
                    EncodeCase{"invalidGbkKeptWithoutConversion", "a\xd6", true, false, "a%D6"}),
    test::CaseName());

} // namespace
} // namespace morvane

// Inputs that fuzzing found to break a property of the mining core, kept as regular cases.
#include "mining/encoding.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <string>

namespace morvane {
namespace {

struct ReplacingCase {
    const char* name;
    std::string utf8;
    std::string gbk;

    friend void PrintTo(const ReplacingCase& c, std::ostream* out) { *out << c.name; }
};

class FaultyUtf8ReplacingTest : public testing::TestWithParam<ReplacingCase> {};

// A UTF-8 sequence cut short by a byte that is no continuation byte is one fault; that byte starts the next
// character and is converted, never swallowed into the fault.
TEST_P(FaultyUtf8ReplacingTest, keepsTheCharacterAfterASequenceCutShort) {
    const ReplacingCase& c = GetParam();
    EXPECT_EQ(ConvertEncodingReplacing(c.utf8, "UTF-8", "GBK", "?"), c.gbk);
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultyUtf8ReplacingTest,
                         testing::Values(ReplacingCase{"twoByteLeadThenControl", "\xc3\x17\xa9", "?\x17?"},
                                         ReplacingCase{"threeByteLeadThenAscii",
                                                       "a\xe3\x81"
                                                       "b",
                                                       "a?b"},
                                         ReplacingCase{"fourByteLeadThenHanzi", "\xf0\x9f\x98\xe4\xb8\xad",
                                                       "?\xd6\xd0"},
                                         ReplacingCase{"overlongStartThenAscii",
                                                       "\xe0\x80"
                                                       "AB",
                                                       "?AB"},
                                         ReplacingCase{"leadThenQuoteAndLineBreak", "\xe4\"\r\n", "?\"\r\n"},
                                         ReplacingCase{"wholeUnrepresentableSequenceIsStillOneMark",
                                                       "\xf0\x9f\x98\x80"
                                                       "b",
                                                       "?b"}),
                         test::CaseName());

} // namespace
} // namespace morvane

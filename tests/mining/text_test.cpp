#include "mining/text.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace morvane {
namespace {

struct SplitCase {
    const char* name;
    std::string text;
    WordList lines;
};

class SplitLinesTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitLinesTest, cutsAtCrLfOnly) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(SplitLines(c.text), c.lines);
    EXPECT_EQ(CountLines(c.text), c.lines.size());
}

TEST_P(SplitLinesTest, lineCounterAgreesWhateverTheAppendedPieces) {
    const SplitCase& c = GetParam();
    for (std::size_t cut = 0; cut <= c.text.size(); ++cut) {
        LineCounter counter;
        counter.Append(std::string_view(c.text).substr(0, cut));
        counter.Append(std::string_view(c.text).substr(cut));
        EXPECT_EQ(counter.Count(), c.lines.size()) << "cut at " << cut;
    }
    LineCounter byteByByte;
    for (const char ch : c.text) {
        byteByByte.Append(std::string_view(&ch, 1));
    }
    EXPECT_EQ(byteByByte.Count(), c.lines.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitLinesTest,
    testing::Values(SplitCase{"empty", "", {}}, SplitCase{"oneWord", "a", {"a"}},
                    SplitCase{"trailingBreakAddsNoLine", "a\r\n", {"a"}},
                    SplitCase{"emptyLineInside", "a\r\n\r\nb", {"a", "", "b"}},
                    SplitCase{"leadingBreakGivesEmptyFirst", "\r\na", {"", "a"}},
                    SplitCase{"onlyBreaks", "\r\n\r\n", {"", ""}},
                    SplitCase{"bareLfAndCrAreContent", "a\nb\rc", {"a\nb\rc"}},
                    SplitCase{"blanksAreContent", "  \r\nx", {"  ", "x"}},
                    // A lead byte swallows the CR that follows it: 0x81 0x0D is one character.
                    SplitCase{"noSeparatorInsideDoubleByte", "\x81\r\nb", {"\x81\r\nb"}},
                    SplitCase{"doubleBytesThenBreak", "\xd6\xd0\r\n\xce\xc4", {"\xd6\xd0", "\xce\xc4"}},
                    SplitCase{"loneLeadByteAtEnd", "a\r\n\xd6", {"a", "\xd6"}},
                    // The euro sign is the single byte 0x80 in GBK; it must not swallow the line break.
                    SplitCase{"euroSignIsOneByte", "\x80\r\nb", {"\x80", "b"}},
                    SplitCase{"byteFFIsOneByte", "\xff\r\nb", {"\xff", "b"}}),
    test::CaseName());

TEST(FormatPercentTest, rendersAsPercentPoint13g) {
    EXPECT_EQ(FormatPercent(100.0), "100");
    EXPECT_EQ(FormatPercent(12.5), "12.5");
    EXPECT_EQ(FormatPercent(1.0 / 3.0 * 100.0), "33.33333333333");
    EXPECT_EQ(FormatPercent(2.0 / 3.0 * 100.0), "66.66666666667");
    EXPECT_EQ(FormatPercent(0.0), "0");
}

// A window program runs in the user's locale; a decimal comma must not reach the status text.
TEST(FormatPercentTest, ignoresTheLocalesDecimalComma) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            comma = name;
            break;
        }
    }
    if (comma == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    const std::string rendered = FormatPercent(100.0 / 3.0);
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(rendered, "33.33333333333") << "in " << comma;
}

} // namespace
} // namespace morvane

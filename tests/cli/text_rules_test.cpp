// The command line's text rules: seed lines and filter matching in GBK.
#include "cli/seed_input.h"
#include "cli/word_filter.h"
#include "tests/cli/mine_test_support.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

using test::Gbk;

struct SeedCase {
    std::string name;
    std::string input;
    bool gbk;
    WordList seeds;
    std::vector<std::size_t> skippedLines;

    friend void PrintTo(const SeedCase& param, std::ostream* out) { *out << param.name; }
};

class SeedInputTest : public testing::TestWithParam<SeedCase> {};

TEST_P(SeedInputTest, cutsLinesAndLeavesOutWhatCannotBeASeed) {
    const SeedCase& c = GetParam();
    const SeedInput input = DecodeSeedInput(c.input, c.gbk);
    EXPECT_EQ(input.error, "");
    EXPECT_EQ(input.lines.seeds, c.seeds);
    EXPECT_EQ(input.lines.shown.size(), c.seeds.size());
    std::vector<std::size_t> skipped;
    for (const SkippedLine& line : input.skipped) {
        skipped.push_back(line.lineNumber);
    }
    EXPECT_EQ(skipped, c.skippedLines);
    // The job must read back exactly these lines from the seed box.
    EXPECT_EQ(SplitLines(JoinSeedLines(input.lines.seeds)), c.seeds);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, SeedInputTest,
    testing::Values(SeedCase{"empty", "", false, {}, {}},
                    SeedCase{"finalLineFeedAddsNoLine", "a\nb\n", false, {"a", "b"}, {}},
                    SeedCase{"lastLineWithoutLineFeed", "a\nb", false, {"a", "b"}, {}},
                    SeedCase{"crBeforeLfDropped", "a\r\n\r\nb\r\n", false, {"a", "", "b"}, {}},
                    SeedCase{"crElsewhereKept", "a\rb\na\r", false, {"a\rb", "a\r"}, {}},
                    SeedCase{"blanksAreContent", "  \n", false, {"  "}, {}},
                    SeedCase{"utf8ConvertedToGbk", "手机\n旅游\n", false, {Gbk("手机"), Gbk("旅游")}, {}},
                    SeedCase{"byteOrderMarkDropped", "\xEF\xBB\xBF手机\n", false, {Gbk("手机")}, {}},
                    SeedCase{"characterGbkLacksSkipped", "手机\n😀\n旅游", false, {Gbk("手机"), "", Gbk("旅游")}, {2}},
                    SeedCase{"nulByteSkipped", std::string("a\n\0b\nc", 6), false, {"a", "", "c"}, {2}},
                    SeedCase{"euroIsASingleByteSeed", "€\n€x\nx€\n", false, {"\x80", "\x80x", "x\x80"}, {}},
                    SeedCase{"gbkTakenAsItStands", Gbk("手机\r\n旅游\r\n"), true, {Gbk("手机"), Gbk("旅游")}, {}},
                    SeedCase{"gbkInvalidSkipped", "a\r\n\xFF\xFF\r\n\x81\r\nb", true, {"a", "", "", "b"}, {2, 3}}),
    test::CaseName());

TEST(SeedInputTest, invalidUtf8NamesItsLineAndSuggestsGbk) {
    const SeedInput input = DecodeSeedInput("手机\n旅游\n" + Gbk("咖啡") + "\n", false);
    EXPECT_EQ(input.error, "seed text is not valid UTF-8 (line 3); if it is GBK, try --gbk");
}

struct ContainsCase {
    std::string name;
    std::string text;
    std::string part;
    bool gbk;
    bool found;

    friend void PrintTo(const ContainsCase& param, std::ostream* out) { *out << param.name; }
};

class ContainsWordTest : public testing::TestWithParam<ContainsCase> {};

TEST_P(ContainsWordTest, matchesOnlyAtCharacterBoundaries) {
    const ContainsCase& c = GetParam();
    EXPECT_EQ(ContainsWord(c.text, c.part, c.gbk), c.found);
}

INSTANTIATE_TEST_SUITE_P(Filters, ContainsWordTest,
                         testing::Values(
                             // 鞍、 is B0 B0 A1 A2 and holds the bytes of 啊 (B0 A1) across its two characters.
                             ContainsCase{"gbkNotAcrossTwoCharacters", Gbk("鞍、"), Gbk("啊"), true, false},
                             ContainsCase{"gbkWholeCharacter", Gbk("啊、"), Gbk("啊"), true, true},
                             ContainsCase{"gbkLaterCharacter", Gbk("鞍啊"), Gbk("啊"), true, true},
                             // 乤 is 81 61: its trail byte is the letter a.
                             ContainsCase{"gbkAsciiNotInsideTrailByte", Gbk("乤"), "a", true, false},
                             ContainsCase{"gbkAsciiAfterDoubleByte", Gbk("乤") + "a", "a", true, true},
                             // A four-byte GB18030 form carries digits in its second and fourth bytes.
                             ContainsCase{"gbkDigitNotInsideFourByteForm", "\x81\x30\x81\x30", "0", true, false},
                             ContainsCase{"gbkAfterFourByteForm", "\x81\x30\x81\x30" + Gbk("啊"), Gbk("啊"), true,
                                          true},
                             ContainsCase{"gbkSingleByteEuroStandsAlone",
                                          "\x80"
                                          "a",
                                          "a", true, true},
                             ContainsCase{"emptyPartEverywhere", Gbk("啊"), "", true, true},
                             ContainsCase{"utf8Substring", "手机支架", "支架", false, true},
                             ContainsCase{"utf8Missing", "手机支架", "旅游", false, false}),
                         test::CaseName());

TEST(WordFilterTest, keepsAnyIncludeAndDropsEveryExclude) {
    const WordFilter filter({"支架", "攻略"}, {"手机"}, false);
    EXPECT_TRUE(filter.Keeps("旅游攻略"));
    EXPECT_TRUE(filter.Keeps("桌面支架"));
    EXPECT_FALSE(filter.Keeps("手机支架"));
    EXPECT_FALSE(filter.Keeps("咖啡"));
    EXPECT_TRUE(WordFilter({}, {}, false).Keeps("咖啡"));
}

} // namespace
} // namespace morvane

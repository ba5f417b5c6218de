#include "service/corpus.h"
#include "tests/support/case_name.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace morvane {
namespace {

using Words = std::vector<std::pair<std::string, std::uint64_t>>;

Words Flatten(const CorpusLoad& load) {
    Words words;
    for (const CorpusWord& entry : load.words) {
        words.emplace_back(entry.word, entry.frequency);
    }
    return words;
}

struct GoodCorpusCase {
    const char* name;
    std::string text;
    Words expected;
};

class ParseCorpusGoodTest : public testing::TestWithParam<GoodCorpusCase> {};

TEST_P(ParseCorpusGoodTest, readsEveryWord) {
    const GoodCorpusCase& c = GetParam();
    const CorpusLoad load = ParseCorpus(c.text);
    EXPECT_EQ(load.error, "");
    EXPECT_EQ(Flatten(load), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseCorpusGoodTest,
    testing::Values(
        GoodCorpusCase{"twoColumns", "手机 30\n电脑 20\n", {{"手机", 30}, {"电脑", 20}}},
        GoodCorpusCase{"jiebaTagColumnIgnored", "手机 30 n\nC++ 3 nz\n", {{"手机", 30}, {"C++", 3}}},
        GoodCorpusCase{"tabsAndRunsOfBlanks", "手机\t30\t n\n  电脑   20  \n", {{"手机", 30}, {"电脑", 20}}},
        GoodCorpusCase{"crlfLineEnds", "手机 30\r\n电脑 20\r\n", {{"手机", 30}, {"电脑", 20}}},
        GoodCorpusCase{"lastLineWithoutBreak", "手机 30\n电脑 20", {{"手机", 30}, {"电脑", 20}}},
        GoodCorpusCase{"blankLinesSkipped", "\n手机 30\n\n \t\n电脑 20\n\n", {{"手机", 30}, {"电脑", 20}}},
        GoodCorpusCase{"byteOrderMarkSkipped", "\xEF\xBB\xBF手机 30\n", {{"手机", 30}}},
        GoodCorpusCase{
            "zeroAndLargeFrequency", "a 0\nb 18446744073709551615\n", {{"a", 0}, {"b", 18446744073709551615ULL}}},
        GoodCorpusCase{"duplicatesKeptForTheIndex", "手机 30\n手机 50\n", {{"手机", 30}, {"手机", 50}}}),
    test::CaseName());

struct BadCorpusCase {
    const char* name;
    std::string text;
    std::string error;
};

class ParseCorpusBadTest : public testing::TestWithParam<BadCorpusCase> {};

TEST_P(ParseCorpusBadTest, failsNamingTheLine) {
    const BadCorpusCase& c = GetParam();
    const CorpusLoad load = ParseCorpus(c.text);
    EXPECT_EQ(load.error, c.error);
    EXPECT_TRUE(load.words.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseCorpusBadTest,
    testing::Values(
        BadCorpusCase{"wordWithoutFrequency", "手机 30\n电脑\n",
                      "line 2: expected \"word frequency\" with an optional tag"},
        BadCorpusCase{"fourColumns", "手机 30 n x\n", "line 1: expected \"word frequency\" with an optional tag"},
        BadCorpusCase{"frequencyNotANumber", "\n手机 many\n", "line 2: the frequency is not a decimal number"},
        BadCorpusCase{"negativeFrequency", "手机 -3\n", "line 1: the frequency is not a decimal number"},
        BadCorpusCase{"frequencyWithTrailingLetters", "手机 3x\n", "line 1: the frequency is not a decimal number"},
        BadCorpusCase{"frequencyOverflow", "手机 18446744073709551616\n",
                      "line 1: the frequency is not a decimal number"},
        BadCorpusCase{"gbkWordIsNotUtf8", "\xCA\xD6\xBB\xFA 30\n", "line 1: the word is not valid UTF-8 text"},
        BadCorpusCase{"cutUtf8Sequence", "\xE6\x89 30\n", "line 1: the word is not valid UTF-8 text"},
        BadCorpusCase{"controlCharacterInWord", "a\x01b 30\n", "line 1: the word is not valid UTF-8 text"},
        BadCorpusCase{"emptyText", "", "no words"}, BadCorpusCase{"onlyBlankLines", "\n \r\n\t\n", "no words"}),
    test::CaseName());

TEST(ParseCorpusGbkTest, wordsThatGbkCannotHoldAreLeftOutAndCounted) {
    // Hangul, a character beyond the Basic Multilingual Plane (valid UTF-8 of four bytes), an emoji.
    const CorpusLoad load = ParseCorpus("手机 30\n한국 5\n\xF0\xA0\x80\x80字 7\n电脑 20\n手机😀 1\nC++ 3\n");
    EXPECT_EQ(load.error, "");
    EXPECT_EQ(Flatten(load), (Words{{"手机", 30}, {"电脑", 20}, {"C++", 3}}));
    EXPECT_EQ(load.leftOut, 3U);
    EXPECT_EQ(load.firstLeftOutLine, 2U);

    const CorpusLoad clean = ParseCorpus("手机 30\n");
    EXPECT_EQ(clean.leftOut, 0U);
    EXPECT_EQ(clean.firstLeftOutLine, 0U);

    EXPECT_EQ(ParseCorpus("한국 5\n").error, "no words that GBK can hold");
    // A malformed line still fails the load, whatever its word.
    EXPECT_EQ(ParseCorpus("한국 x\n").error, "line 1: the frequency is not a decimal number");
}

TEST(LoadCorpusFileTest, readsAFileAndNamesItInErrors) {
    const test::TempDir dir;
    test::WriteFileBytes(dir / "good.txt", "手机 30 n\n电脑 20 n\n");
    const CorpusLoad good = LoadCorpusFile((dir / "good.txt").string());
    EXPECT_EQ(good.error, "");
    EXPECT_EQ(Flatten(good), (Words{{"手机", 30}, {"电脑", 20}}));

    test::WriteFileBytes(dir / "bad.txt", "手机 30\n电脑 x\n");
    const std::string bad = (dir / "bad.txt").string();
    EXPECT_EQ(LoadCorpusFile(bad).error, bad + ": line 2: the frequency is not a decimal number");

    const std::string missing = (dir / "missing.txt").string();
    EXPECT_EQ(LoadCorpusFile(missing).error, missing + ": cannot open: No such file or directory");
}

TEST(BundledCorpusTest, holdsAFewHundredDistinctWords) {
    const CorpusLoad load = ParseCorpus(BundledCorpusText());
    ASSERT_EQ(load.error, "");
    EXPECT_GE(load.words.size(), 250U);
    EXPECT_EQ(load.leftOut, 0U);
    std::set<std::string> distinct;
    for (const CorpusWord& entry : load.words) {
        EXPECT_TRUE(distinct.insert(entry.word).second) << entry.word << " is listed twice";
        EXPECT_GT(entry.frequency, 0U) << entry.word;
    }
}

} // namespace
} // namespace morvane

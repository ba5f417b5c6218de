#include "service/word_index.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace morvane {
namespace {

std::vector<std::string> Find(const WordIndex& index, std::string_view seed, std::size_t limit = 100) {
    std::vector<std::string_view> found;
    index.Find(seed, limit, found);
    return {found.begin(), found.end()};
}

// A corpus small enough to rank by hand, with ties on frequency and on length.
WordIndex SmallIndex() {
    return WordIndex({
        {"手机", 100},
        {"手机壳", 50},
        {"手机号", 80},
        {"手机号码", 80},
        {"智能手机", 90},
        {"苹果手机", 50},
        {"二手手机", 50},
        {"机器", 70},
        {"手表", 60},
        {"手表", 500},
        {"天天", 40},
        {"天天向上", 30},
        {"C++", 9},
        {"iPhone手机壳", 5},
        {"甲乙丙", 3},
        {"乙丙丁", 3},
        {"\xF0\xA0\x80\x80字", 2},
    });
}

struct FindCase {
    const char* name;
    std::string seed;
    std::size_t limit;
    std::vector<std::string> expected;
};

class WordIndexFindTest : public testing::TestWithParam<FindCase> {};

TEST_P(WordIndexFindTest, ranksPrefixesFirstThenByFrequency) {
    static const WordIndex index = SmallIndex();
    const FindCase& c = GetParam();
    EXPECT_EQ(Find(index, c.seed, c.limit), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WordIndexFindTest,
    testing::Values(
        // 手机号 and 手机号码 tie on frequency: the shorter first. 二手手机 and 苹果手机 tie on both: byte order.
        FindCase{"prefixesThenFrequencySeedExcluded",
                 "手机",
                 100,
                 {"手机号", "手机号码", "手机壳", "智能手机", "二手手机", "苹果手机", "iPhone手机壳"}},
        FindCase{"limitCutsTheList", "手机", 4, {"手机号", "手机号码", "手机壳", "智能手机"}},
        FindCase{"limitInsideThePrefixes", "手机", 1, {"手机号"}}, FindCase{"zeroLimit", "手机", 0, {}},
        FindCase{"oneCharacter",
                 "机",
                 100,
                 {"机器", "手机", "智能手机", "手机号", "手机号码", "手机壳", "二手手机", "苹果手机", "iPhone手机壳"}},
        FindCase{"duplicateKeepsHighestFrequency", "手", 2, {"手表", "手机"}},
        FindCase{"threeCharactersPrefix", "手机号", 100, {"手机号码"}},
        FindCase{"threeCharactersInside", "能手机", 100, {"智能手机"}},
        FindCase{"threeCharactersAtTheEnd", "机号码", 100, {"手机号码"}},
        FindCase{"pairsPresentButNotTogether", "甲乙丁", 100, {}},
        FindCase{"pairsOverlapAcrossWords", "甲乙丙丁", 100, {}}, FindCase{"longerThanEveryWord", "手机壳子", 100, {}},
        FindCase{"wordHoldingSeedTwiceListedOnce", "天", 100, {"天天", "天天向上"}},
        FindCase{"seedEqualToAWordExcludedOnlyItself", "天天", 100, {"天天向上"}},
        FindCase{"asciiSymbols", "+", 100, {"C++"}}, FindCase{"mixedScripts", "Phone手", 100, {"iPhone手机壳"}},
        FindCase{"caseSensitive", "iphone", 100, {}},
        FindCase{"fourByteCharacter", "\xF0\xA0\x80\x80", 100, {"\xF0\xA0\x80\x80字"}},
        FindCase{"unknownCharacter", "猫", 100, {}}, FindCase{"emptySeed", "", 100, {}},
        // The bytes E6 89 begin 手 (E6 89 8B), but a cut character is no character: nothing matches it.
        FindCase{"partOfACharacterMatchesNothing", "\xE6\x89", 100, {}}, FindCase{"invalidUtf8", "\xFF", 100, {}}),
    test::CaseName());

TEST(WordIndexTest, countsDistinctWordsInRankOrder) {
    const WordIndex index = SmallIndex();
    EXPECT_EQ(index.Size(), 16U);
    EXPECT_EQ(index.Word(0), "手表");
    EXPECT_EQ(index.Word(1), "手机");
    EXPECT_EQ(index.Word(index.Size() - 1), "\xF0\xA0\x80\x80字");
}

TEST(WordIndexTest, emptyIndexFindsNothing) {
    const WordIndex index;
    EXPECT_EQ(index.Size(), 0U);
    EXPECT_TRUE(Find(index, "手").empty());
}

TEST(WordIndexTest, appendsToWhatTheListHolds) {
    const WordIndex index = SmallIndex();
    std::vector<std::string_view> found{"kept"};
    index.Find("天天", 100, found);
    EXPECT_EQ(found, (std::vector<std::string_view>{"kept", "天天向上"}));
}

// The straightforward answer: scan every word, then sort.
std::vector<std::string> ReferenceFind(const std::vector<CorpusWord>& corpus, const std::string& seed,
                                       std::size_t limit) {
    std::map<std::string, std::uint64_t> best;
    for (const CorpusWord& entry : corpus) {
        if (entry.word != seed && entry.word.find(seed) != std::string::npos) {
            best[entry.word] = std::max(best[entry.word], entry.frequency);
        }
    }
    const auto characters = [](const std::string& word) {
        return std::count_if(word.begin(), word.end(), [](char c) { return (c & 0xC0) != 0x80; });
    };
    std::vector<std::pair<std::string, std::uint64_t>> matches(best.begin(), best.end());
    std::sort(matches.begin(), matches.end(), [&](const auto& a, const auto& b) {
        const auto key = [&](const auto& m) {
            return std::make_tuple(!m.first.starts_with(seed), ~m.second, characters(m.first), m.first);
        };
        return key(a) < key(b);
    });
    std::vector<std::string> words;
    for (std::size_t i = 0; i < matches.size() && i < limit; ++i) {
        words.push_back(matches[i].first);
    }
    return words;
}

// Every substring of one to four characters of every bundled word, as seeds.
std::set<std::string> SeedsFrom(const std::vector<CorpusWord>& corpus) {
    std::set<std::string> seeds;
    for (const CorpusWord& entry : corpus) {
        std::vector<std::size_t> starts;
        for (std::size_t i = 0; i < entry.word.size(); ++i) {
            if ((entry.word[i] & 0xC0) != 0x80) {
                starts.push_back(i);
            }
        }
        starts.push_back(entry.word.size());
        for (std::size_t from = 0; from + 1 < starts.size(); ++from) {
            for (std::size_t to = from + 1; to < starts.size() && to <= from + 4; ++to) {
                seeds.insert(entry.word.substr(starts[from], starts[to] - starts[from]));
            }
        }
    }
    return seeds;
}

TEST(WordIndexTest, agreesWithAFullScanOnTheBundledCorpus) {
    const CorpusLoad load = ParseCorpus(BundledCorpusText());
    ASSERT_EQ(load.error, "");
    const WordIndex index(load.words);
    const std::set<std::string> seeds = SeedsFrom(load.words);
    ASSERT_GT(seeds.size(), 1000U);
    for (const std::string& seed : seeds) {
        for (const std::size_t limit : {std::size_t{3}, std::size_t{100}}) {
            ASSERT_EQ(Find(index, seed, limit), ReferenceFind(load.words, seed, limit))
                << "seed " << seed << ", limit " << limit;
        }
    }
}

} // namespace
} // namespace morvane

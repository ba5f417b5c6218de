#include "mining/encoding.h"
#include "mining/gbk_json.h"
#include "mining/recommendations.h"
#include "tests/mining/json_c_oracle.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>
#include <json-c/json.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace morvane {
namespace {

using test::JsonCFirstValue;
using test::ReadAlikeByJsonC;
using test::Serialised;
using test::Utf32ToUtf8;

// A reply that carries words, with entries as the body of data.list.
std::string Reply(const std::string& entries) {
    return R"({"success":"1","data":{"list":[)" + entries + "]}}";
}

// A reply whose only entry's word is written as wordLiteral (quotes included).
std::string OneWord(const std::string& wordLiteral) {
    return Reply(R"({"word":)" + wordLiteral + "}");
}

struct ExtractCase {
    const char* name;
    std::string reply;
    WordList words;
};

class ExtractWordsTest : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractWordsTest, collectsTheWordsOfTheReply) {
    const ExtractCase& c = GetParam();
    WordList words;
    ExtractWords(c.reply, words);
    EXPECT_EQ(words, c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ExtractWordsTest,
    testing::Values(
        ExtractCase{"wordsInListOrderEmptySkipped", Reply(R"({"word":"a"},{"word":""},{"word":"b"})"), {"a", "b"}},
        ExtractCase{"gbkWordsCopied",
                    Reply("{\"word\":\"\xd6\xd0\xce\xc4\"},{\"word\":\"\xb4\xca a\"}"),
                    {"\xd6\xd0\xce\xc4", "\xb4\xca a"}},
        ExtractCase{"repeatedWordKeptTwice", Reply(R"({"word":"a"},{"word":"a"})"), {"a", "a"}},
        ExtractCase{"entryWithOtherMembersGivesOnlyItsWord",
                    Reply(R"({"id":7,"word":"a","pv":"x","sub":{"word":"z"},"tags":["word"]},{"word":"b","q":null})"),
                    {"a", "b"}},
        ExtractCase{"membersInAnyOrder",
                    R"({"data":{"other":[],"list":[{"word":"a"}]},"x":{"success":"0"},"success":"1"})",
                    {"a"}},
        ExtractCase{"successZero", R"({"success":"0","data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successTrueString", R"({"success":"true","data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successLeadingBlank", R"({"success":" 1","data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successTrailingBlank", R"({"success":"1 ","data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successLeadingZero", R"({"success":"01","data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successEmpty", R"({"success":"","data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successNumber", R"({"success":1,"data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successBoolean", R"({"success":true,"data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successNull", R"({"success":null,"data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successArray", R"({"success":["1"],"data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successMissing", R"({"data":{"list":[{"word":"a"}]}})", {}},
        ExtractCase{"successOnlyInData", R"({"data":{"success":"1","list":[{"word":"a"}]}})", {}},
        ExtractCase{"successEscaped", R"({"success":"\u0031","data":{"list":[{"word":"a"}]}})", {"a"}},
        ExtractCase{"dataMissing", R"({"success":"1"})", {}},
        ExtractCase{"dataArray", R"({"success":"1","data":[{"list":[{"word":"a"}]}]})", {}},
        ExtractCase{"dataString", R"({"success":"1","data":"list"})", {}},
        ExtractCase{"listMissing", R"({"success":"1","data":{}})", {}},
        ExtractCase{"listObject", R"({"success":"1","data":{"list":{"0":{"word":"a"}}}})", {}},
        ExtractCase{"listString", R"({"success":"1","data":{"list":"a"}})", {}},
        ExtractCase{"listNull", R"({"success":"1","data":{"list":null}})", {}}, ExtractCase{"listEmpty", Reply(""), {}},
        ExtractCase{"listAtRoot", R"({"success":"1","list":[{"word":"a"}]})", {}},
        ExtractCase{"elementsNotObjectsPassedOver", Reply(R"("x",1,null,true,[{"word":"n"}],{"word":"a"})"), {"a"}},
        ExtractCase{"wordNotStringPassedOver",
                    Reply(R"({"word":1},{"word":null},{"word":true},{"word":["w"]},{"word":{"word":"w"}},)"
                          R"({"Word":"w"},{},{"word":"a"})"),
                    {"a"}},
        ExtractCase{"rootArray", R"([{"success":"1","data":{"list":[{"word":"a"}]}}])", {}},
        ExtractCase{"rootString", R"("1")", {}}, ExtractCase{"rootNumber", "1", {}},
        ExtractCase{"rootNull", "null", {}}, ExtractCase{"rootTrue", "true", {}},
        ExtractCase{"lastSuccessCounts", R"({"success":"0","data":{"list":[{"word":"a"}]},"success":"1"})", {"a"}},
        ExtractCase{"lastSuccessCountsAgainst", R"({"success":"1","data":{"list":[{"word":"a"}]},"success":"0"})", {}},
        ExtractCase{"lastDataCounts",
                    R"({"success":"1","data":{"list":[{"word":"a"}]},"data":{"list":[{"word":"b"}]}})",
                    {"b"}},
        ExtractCase{"lastListCounts", R"({"success":"1","data":{"list":[{"word":"a"}],"list":[{"word":"b"}]}})", {"b"}},
        ExtractCase{"lastWordCounts", Reply(R"({"word":"a","word":"b"},{"word":"c","word":""})"), {"b"}},
        ExtractCase{"trailingSecondObject", Reply(R"({"word":"a"})") + R"({"success":"0"})", {"a"}},
        ExtractCase{"trailingHtmlLine", Reply(R"({"word":"a"})") + "\r\n<html><body>error</body></html>\r\n", {"a"}},
        ExtractCase{"trailingUnterminatedString", Reply(R"({"word":"a"})") + R"( "\u4e2d)", {"a"}},
        ExtractCase{"trailingBadEscape", Reply(R"({"word":"a"})") + R"( "\u12G4" "\ud800")", {"a"}},
        ExtractCase{"trailingUnclosedComment", Reply(R"({"word":"a"})") + "/* ", {"a"}},
        ExtractCase{"trailingStraySlash", Reply(R"({"word":"a"})") + " / 2", {"a"}},
        ExtractCase{"trailingClosingTag", Reply(R"({"word":"a"})") + "/body>", {"a"}},
        ExtractCase{"leadingWhiteSpace", " \t\r\n" + Reply(R"({"word":"a"})"), {"a"}},
        ExtractCase{"commentsAround",
                    "/* x */ // y\n" + Reply(R"(/*1*/{"word"/**/:"a"}// z)"
                                             "\n"),
                    {"a"}},
        ExtractCase{"singleQuotedStrings", R"({'success':'1','data':{'list':[{'word':'a'}]}})", {"a"}},
        ExtractCase{"emptyText", "", {}}, ExtractCase{"whiteSpaceOnly", " \r\n\t ", {}},
        ExtractCase{"htmlPage", "<html><head><title>404 Not Found</title></head></html>", {}},
        ExtractCase{"garbage", "success=1&data=a", {}},
        ExtractCase{"cutOffInList", R"({"success":"1","data":{"list":[{"word":"a"},{"wo)", {}},
        ExtractCase{"cutOffAfterList", R"({"success":"1","data":{"list":[{"word":"a"}]})", {}},
        ExtractCase{"cutOffInEscapedWord", R"({"success":"1","data":{"list":[{"word":"\u4e2d)", {}},
        ExtractCase{"cutOffInComment", R"({"success":"1","data":{"list":[{"word":"a"}]}/*})", {}},
        // Stock json-c takes the inner object for the document here.
        ExtractCase{"cutOffInCommentAfterInnerReply",
                    R"({"success":"0","data":{"success":"1","data":{"list":[{"word":"a"}]}} /*)",
                    {}},
        ExtractCase{"cutOffInLineCommentAfterInnerReply",
                    R"({"success":"0","data":{"success":"1","data":{"list":[{"word":"a"}]}} // x)",
                    {}},
        ExtractCase{"readUpToFirstNul", std::string(Reply(R"({"word":"a"})") + '\0' + "garbage"), {"a"}},
        ExtractCase{"nulBeforeValueEnds", std::string(R"({"success":"1")") + '\0' + R"(,"data":{"list":[]}})", {}}),
    test::CaseName());

// How a word written in the reply arrives.
INSTANTIATE_TEST_SUITE_P(
    Strings, ExtractWordsTest,
    testing::Values(
        ExtractCase{"escapesToGbk", OneWord(R"("\u4e2d\u6587")"), {"\xd6\xd0\xce\xc4"}},
        ExtractCase{"escapeUpperCaseHex", OneWord(R"("\u4E2D\u6587")"), {"\xd6\xd0\xce\xc4"}},
        ExtractCase{"escapeBelow0x80IsOneByte", OneWord(R"("\u0041\u007e")"), {"A~"}},
        ExtractCase{"escapesMixedWithGbk", OneWord("\"\xd6\xd0\\u6587x\""), {"\xd6\xd0\xce\xc4x"}},
        ExtractCase{"escapeOutsideGbkToFourBytes", OneWord(R"("\u00a9")"), {"\x81\x30\x84\x38"}},
        ExtractCase{"surrogatePairToFourBytes", OneWord(R"("\ud83d\ude00")"), {"\x94\x39\xfc\x36"}},
        ExtractCase{"loneHighSurrogateFailsReply", OneWord(R"("a\ud83d")"), {}},
        ExtractCase{"highSurrogateThenOtherFailsReply", OneWord(R"("a\ud83d\u0041")"), {}},
        ExtractCase{"loneLowSurrogateFailsReply", OneWord(R"("a\ude00")"), {}},
        ExtractCase{"nonHexDigitFailsReply", Reply(R"({"word":"a"},{"word":"\u4e2g"})"), {}},
        ExtractCase{"nonHexDigitInIgnoredMemberFailsReply", Reply(R"({"word":"a","x":"\uzzzz"})"), {}},
        ExtractCase{"shortEscapeFailsReply", OneWord(R"("\u4e2")"), {}},
        ExtractCase{"codeWithoutGb18030FormFailsReply", OneWord(R"("\ue78d")"), {}},
        ExtractCase{
            "nulEscapeEndsWord", Reply(R"({"word":"ab\u0000cd"},{"word":"\u0000cd"},{"word":"e"})"), {"ab", "e"}},
        ExtractCase{"simpleEscapes", OneWord(R"("\"\\\/\b\f\n\r\t\'")"), {"\"\\/\b\f\n\r\t'"}},
        ExtractCase{"otherEscapeKeptLiterally", OneWord(R"("a\qb\x41\U0041")"), {R"(a\qb\x41\U0041)"}},
        ExtractCase{"backslashBeforeGbkCharacterKept", OneWord("\"\\\xd6\xd0\""), {"\\\xd6\xd0"}},
        ExtractCase{"trailByteBackslashKept", OneWord("\"\xc7\xb3\x9c\x5c\xcb\xae\""), {"\xc7\xb3\x9c\x5c\xcb\xae"}},
        ExtractCase{
            "trailByteBackslashBeforeQuote", Reply("{\"word\":\"\x9c\x5c\"},{\"word\":\"b\"}"), {"\x9c\x5c", "b"}},
        ExtractCase{
            "trailByteBackslashBeforeLetter", OneWord("\"\x9c\x5cn\x9c\x5cu4e2d\""), {"\x9c\x5cn\x9c\x5cu4e2d"}},
        ExtractCase{"trailByteQuoteStaysInString", OneWord("\"\xd6\"z\""), {"\xd6\"z"}},
        ExtractCase{"rawControlBytesKept", OneWord("\"a\x01\tb\""), {"a\x01\tb"}},
        ExtractCase{"singleQuotedWithEscapes", OneWord(R"('a"\u4e2d\'')"), {"a\"\xd6\xd0'"}},
        ExtractCase{"doubleQuotedWithSingleQuote", OneWord(R"("it's\u4e2d")"), {"it's\xd6\xd0"}},
        ExtractCase{"escapedMemberNames", R"({"\u0073uccess":"1","d\u0061ta":{"list":[{"w\u006frd":"a"}]}})", {"a"}},
        ExtractCase{"quotesInsideComments",
                    Reply(R"(/* " ' */ {"word":"\u4e2d"} // ' "
,{"word":"\u6587"})"),
                    {"\xd6\xd0", "\xce\xc4"}},
        ExtractCase{"starStarSlashDoesNotCloseComment", Reply(R"(/* **/ ' */ {"word":"\u4e2d"})"), {"\xd6\xd0"}},
        ExtractCase{"lineCommentEndsAtLineFeedOnly",
                    Reply("// x\r{\"word\":\"\\u4e2d\"},\n{\"word\":\"\\u6587\"}"),
                    {"\xce\xc4"}},
        ExtractCase{"escapedWordAfterNumberMember",
                    R"({"n":12,"success":"1","data":{"list":[{"word":"\u4e2d"}]}})",
                    {"\xd6\xd0"}}),
    test::CaseName());

TEST(ExtractWordsAppendTest, keepsTheWordsAlreadyInTheList) {
    WordList words{"old", ""};
    ExtractWords(Reply(R"({"word":"a"},{"word":"b"})"), words);
    EXPECT_EQ(words, (WordList{"old", "", "a", "b"}));
    ExtractWords("not json", words);
    ExtractWords(R"({"success":"0"})", words);
    EXPECT_EQ(words, (WordList{"old", "", "a", "b"}));
}

TEST(ExtractWordsNestingTest, tooDeepNestingGivesNoWordsWithoutCrashing) {
    const std::string deep(200000, '[');
    WordList words;
    ExtractWords(deep, words);
    ExtractWords(R"({"success":"1","x":)" + deep, words);
    // Complete and well formed, but deeper than json-c reads.
    ExtractWords(R"({"success":"1","data":{"list":[{"word":"a"}]},"x":)" + std::string(100000, '[') +
                     std::string(100000, ']') + "}",
                 words);
    ExtractWords(Reply(R"({"word":"a","x":)" + std::string(5000, '[') + std::string(5000, ']') + "}"), words);
    EXPECT_TRUE(words.empty());
}

TEST(ExtractWordsNestingTest, moderateNestingInIgnoredMembersStillGivesWords) {
    WordList words;
    ExtractWords(Reply(R"({"word":"a","x":)" + std::string(20, '[') + std::string(20, ']') + "}"), words);
    EXPECT_EQ(words, WordList{"a"});
}

struct ReadingCase {
    const char* name;
    std::string reply;
    ReplyReading reading;
};

class ReplyReadingTest : public testing::TestWithParam<ReadingCase> {};

TEST_P(ReplyReadingTest, tellsARecommendationFromOtherTexts) {
    WordList words;
    EXPECT_EQ(ExtractWords(GetParam().reply, words), GetParam().reading);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ReplyReadingTest,
    testing::Values(ReadingCase{"withWords", Reply(R"({"word":"a"})"), ReplyReading::Recommendation},
                    ReadingCase{"successNotOne", R"({"success":"0"})", ReplyReading::Recommendation},
                    ReadingCase{"successWithoutData", R"({"success":"1"})", ReplyReading::Recommendation},
                    ReadingCase{"empty", "", ReplyReading::NotJson},
                    ReadingCase{"text", "no words today", ReplyReading::NotJson},
                    ReadingCase{"cutShort", R"({"success":"1","data":{"li)", ReplyReading::NotJson},
                    ReadingCase{"array", R"(["a"])", ReplyReading::OtherJson},
                    ReadingCase{"null", "null", ReplyReading::OtherJson},
                    ReadingCase{"successNumber", R"({"success":1})", ReplyReading::OtherJson},
                    ReadingCase{"noSuccess", R"({"data":{"list":[]}})", ReplyReading::OtherJson}),
    test::CaseName());

// entries copies of entry, comma separated, as the body of data.list.
std::string Entries(const std::string& entry, std::size_t count) {
    std::string entries;
    entries.reserve((entry.size() + 1) * count);
    for (std::size_t i = 0; i < count; ++i) {
        entries += i == 0 ? "" : ",";
        entries += entry;
    }
    return entries;
}

// What json-c's tree may take is bounded, whatever the size of the text: values beyond the bound are refused
// before json-c has built them.
TEST(ReplyTreeLimitTest, replyWhoseTreeWouldPassTheLimitIsRefused) {
    const std::size_t kEntryEstimate = 1000; // an object with a one-byte word, as ParseGbkJson estimates it
    const std::size_t fits = kMaxJsonTreeBytes / kEntryEstimate * 9 / 10;
    WordList words;
    EXPECT_EQ(ExtractWords(Reply(Entries(R"({"word":"w"})", fits)), words), ReplyReading::Recommendation);
    EXPECT_EQ(words.size(), fits);

    words.clear();
    const std::size_t passes = kMaxJsonTreeBytes / kEntryEstimate * 11 / 10;
    EXPECT_EQ(ExtractWords(Reply(Entries(R"({"word":"w"})", passes)), words), ReplyReading::TooLarge);
    EXPECT_TRUE(words.empty());

    // Ten megabytes of empty objects, each a hash table for json-c, and of numbers in an ignored member.
    EXPECT_EQ(ExtractWords(Reply(Entries("{}", 3'500'000)), words), ReplyReading::TooLarge);
    EXPECT_EQ(ExtractWords(R"({"success":"1","x":[)" + Entries("1", 5'000'000) + "]}", words), ReplyReading::TooLarge);
    JsonFailure failure = JsonFailure::None;
    EXPECT_FALSE(ParseGbkJson(Entries("[", 10) + Entries("{}", 3'500'000), &failure).Parsed());
    EXPECT_EQ(failure, JsonFailure::TooLarge);
    EXPECT_TRUE(words.empty());
}

// A string that must be rewritten for json-c goes to it in pieces; the pieces make the same string.
TEST(ReplyTreeLimitTest, longRewrittenStringIsReadWhole) {
    std::string word;
    for (int i = 0; i < 100'000; ++i) {
        word += "\xd6\xd0\\q\\t\\u4e2d\x01";
    }
    std::string expected;
    for (int i = 0; i < 100'000; ++i) {
        expected += "\xd6\xd0\\q\t\xd6\xd0\x01";
    }
    WordList words;
    ExtractWords(OneWord("\"" + word + "\""), words);
    ASSERT_EQ(words.size(), 1U);
    EXPECT_EQ(words[0], expected);
}

// The exact bytes json-c holds for a document that is one string.
std::optional<std::string> RootStringBytes(std::string_view text) {
    const JsonDocument document = ParseGbkJson(text);
    if (!json_object_is_type(document.Root(), json_type_string)) {
        return std::nullopt;
    }
    return std::string(json_object_get_string(document.Root()),
                       static_cast<std::size_t>(json_object_get_string_len(document.Root())));
}

std::string Hex4(unsigned code) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    std::string out;
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(code >> shift) & 0x0F];
    }
    return out;
}

TEST(ParseGbkJsonTest, nulEscapeIsKeptInTheParsedString) {
    EXPECT_EQ(RootStringBytes(R"("a\u0000b")"), std::string("a\0b", 3));
}

TEST(ParseGbkJsonTest, everyBmpEscapeGivesItsGb18030Bytes) {
    for (char32_t code = 0x80; code <= 0xFFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) {
            continue;
        }
        const std::string expected = ConvertEncoding(Utf32ToUtf8(code), "UTF-8", "GB18030");
        const std::optional<std::string> actual = RootStringBytes("\"\\u" + Hex4(code) + "\"");
        if (expected.empty()) {
            EXPECT_EQ(actual, std::nullopt) << "U+" << Hex4(code);
        } else {
            ASSERT_EQ(actual, expected) << "U+" << Hex4(code);
        }
    }
}

TEST(ParseGbkJsonTest, surrogatePairsGiveTheGb18030BytesOfTheirCharacter) {
    for (char32_t code = 0x10000; code <= 0x10FFFF; code += 0x3FF) {
        const char32_t high = 0xD800 + ((code - 0x10000) >> 10);
        const char32_t low = 0xDC00 + ((code - 0x10000) & 0x3FF);
        const std::string expected = ConvertEncoding(Utf32ToUtf8(code), "UTF-8", "GB18030");
        ASSERT_EQ(expected.size(), 4U);
        ASSERT_EQ(RootStringBytes("\"\\u" + Hex4(high) + "\\u" + Hex4(low) + "\""), expected)
            << "U+" << std::hex << static_cast<unsigned>(code);
    }
}

// Under the sanitizers: a tree released twice or never shows up here.
TEST(ParseGbkJsonTest, documentOwnsItsTreeAcrossMoves) {
    JsonDocument moved = ParseGbkJson(R"({"a":["\u4e2d"]})");
    JsonDocument target = ParseGbkJson("[1]");
    ASSERT_TRUE(moved.Parsed());
    target = std::move(moved);
    const JsonDocument constructed(std::move(target));
    EXPECT_EQ(StringText(ArrayElement(FindMember(constructed.Root(), "a"), 0)), "\xd6\xd0");
}

// The JSONTestSuite parsing cases (tests/data/JSONTestSuite): no file may crash the reading, and every file whose
// strings json-c reads as the GBK rules do must give json-c's own reading of its first value.
TEST(ParseGbkJsonTest, jsonTestSuiteFiles) {
    const std::filesystem::path folder = MORVANE_JSON_TEST_SUITE_DIR "/test_parsing";
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << "the JSONTestSuite files are missing from " << folder;
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        WordList words;
        ExtractWords(text, words);
        EXPECT_TRUE(words.empty()) << entry.path();

        text = text.substr(0, text.find('\0'));
        if (!ReadAlikeByJsonC(text)) {
            continue;
        }
        if (const auto expected = JsonCFirstValue(text)) {
            EXPECT_EQ(Serialised(ParseGbkJson(text)), *expected) << entry.path();
            ++compared;
        }
    }
    EXPECT_GT(compared, 100);
}

} // namespace
} // namespace morvane

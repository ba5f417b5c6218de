#include "mining/encoding.h"
#include "service/recommendation_api.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>
#include <json-c/json.h>

#include <optional>

namespace morvane {
namespace {

constexpr std::string_view kPath = "/recomword/recomWordCache_findRecomWord.htm";

std::string Target(std::string_view query) {
    return std::string(kPath) + "?" + std::string(query);
}

struct DecodeCase {
    const char* name;
    std::string value;
    std::optional<std::string> expected;
};

class PercentDecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(PercentDecodeTest, decodes) {
    EXPECT_EQ(PercentDecode(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PercentDecodeTest,
    testing::Values(DecodeCase{"plain", "abc", "abc"}, DecodeCase{"empty", "", ""},
                    DecodeCase{"upperHex", "%E4%B8%AD", "中"}, DecodeCase{"lowerHex", "%e4%b8%ad", "中"},
                    DecodeCase{"mixedWithPlain", "a%20b", "a b"}, DecodeCase{"plusStaysPlus", "a+b", "a+b"},
                    DecodeCase{"encodedPercent", "%25", "%"}, DecodeCase{"nulByte", "%00", std::string(1, '\0')},
                    DecodeCase{"rawUtf8PassesThrough", "中", "中"}, DecodeCase{"lonePercent", "%", std::nullopt},
                    DecodeCase{"oneDigit", "%4", std::nullopt}, DecodeCase{"oneDigitAtTheEnd", "ab%4", std::nullopt},
                    DecodeCase{"notHex", "%G0", std::nullopt}, DecodeCase{"secondNotHex", "%0x", std::nullopt}),
    test::CaseName());

struct TargetCase {
    const char* name;
    std::string target;
    int status;
    std::string word; // when status is 200
    int areaId;
};

class ParseTargetTest : public testing::TestWithParam<TargetCase> {};

TEST_P(ParseTargetTest, readsTheRequest) {
    const TargetCase& c = GetParam();
    const ParsedRecommendationTarget parsed = ParseRecommendationTarget(c.target);
    EXPECT_EQ(parsed.status, c.status);
    if (c.status == 200) {
        EXPECT_EQ(parsed.query.word, c.word);
        EXPECT_EQ(parsed.query.areaId, c.areaId);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseTargetTest,
    testing::Values(TargetCase{"asTheClientSendsIt", Target("area_id=0&word=%E4%B8%AD&ie=utf-8"), 200, "中", 0},
                    TargetCase{"lastArea", Target("area_id=30&word=a&ie=utf-8"), 200, "a", 30},
                    TargetCase{"leadingZeroArea", Target("area_id=07&word=a"), 200, "a", 7},
                    TargetCase{"ieOptional", Target("area_id=1&word=a"), 200, "a", 1},
                    TargetCase{"ieAnyCase", Target("area_id=1&word=a&ie=UTF-8"), 200, "a", 1},
                    TargetCase{"ieWithoutHyphen", Target("area_id=1&word=a&ie=utf8"), 200, "a", 1},
                    TargetCase{"keysInAnyOrder", Target("ie=utf-8&word=a&area_id=2"), 200, "a", 2},
                    TargetCase{"otherKeysIgnored", Target("area_id=0&_=123&word=a&x"), 200, "a", 0},
                    TargetCase{"plusIsAPlus", Target("area_id=0&word=C%2B%2B+"), 200, "C+++", 0},
                    TargetCase{"spaceAsEscape", Target("area_id=0&word=a%20b"), 200, "a b", 0},
                    TargetCase{"fragmentIgnored", Target("area_id=0&word=a#frag"), 200, "a", 0},
                    TargetCase{"absoluteForm", "http://127.0.0.1:8765" + Target("area_id=0&word=a"), 200, "a", 0},
                    TargetCase{"missingWord", Target("area_id=0&ie=utf-8"), 400, "", 0},
                    TargetCase{"wordWithoutValue", Target("area_id=0&word"), 400, "", 0},
                    TargetCase{"emptyWord", Target("area_id=0&word=&ie=utf-8"), 400, "", 0},
                    TargetCase{"badEscape", Target("area_id=0&word=%E4%B8%A"), 400, "", 0},
                    TargetCase{"badEscapeDigit", Target("area_id=0&word=%ZZ"), 400, "", 0},
                    TargetCase{"gbkIsNotUtf8", Target("area_id=0&word=%D6%D0"), 400, "", 0},
                    TargetCase{"cutUtf8", Target("area_id=0&word=%E4%B8"), 400, "", 0},
                    TargetCase{"surrogateInUtf8", Target("area_id=0&word=%ED%A0%80"), 400, "", 0},
                    TargetCase{"missingArea", Target("word=a"), 400, "", 0},
                    TargetCase{"emptyArea", Target("area_id=&word=a"), 400, "", 0},
                    TargetCase{"areaOutsideRange", Target("area_id=31&word=a"), 400, "", 0},
                    TargetCase{"negativeArea", Target("area_id=-1&word=a"), 400, "", 0},
                    TargetCase{"areaNotANumber", Target("area_id=abc&word=a"), 400, "", 0},
                    TargetCase{"areaWithBlank", Target("area_id=%201&word=a"), 400, "", 0},
                    TargetCase{"hugeArea", Target("area_id=99999999999999999999&word=a"), 400, "", 0},
                    TargetCase{"otherEncoding", Target("area_id=0&word=a&ie=gbk"), 400, "", 0},
                    TargetCase{"wordTwice", Target("area_id=0&word=a&word=b"), 400, "", 0},
                    TargetCase{"areaTwice", Target("area_id=0&area_id=1&word=a"), 400, "", 0},
                    TargetCase{"noQuery", std::string(kPath), 400, "", 0},
                    TargetCase{"otherPath", "/recomword/other.htm?area_id=0&word=a", 404, "", 0},
                    TargetCase{"root", "/", 404, "", 0},
                    TargetCase{"pathWithTrailingSlash", std::string(kPath) + "/?area_id=0&word=a", 404, "", 0},
                    TargetCase{"pathInOtherCase", "/RECOMWORD/recomWordCache_findRecomWord.htm?area_id=0&word=a", 404,
                               "", 0}),
    test::CaseName());

// The words of a reply as a JSON reader sees them; empty when it is not {"success":"1","data":{"list":[...]}}.
std::vector<std::string> ParseReply(const std::string& body) {
    std::vector<std::string> words;
    json_tokener* tokener = json_tokener_new();
    json_object* root = json_tokener_parse_ex(tokener, body.c_str(), static_cast<int>(body.size()));
    const bool complete =
        json_tokener_get_error(tokener) == json_tokener_success && json_tokener_get_parse_end(tokener) == body.size();
    json_tokener_free(tokener);
    json_object* success = nullptr;
    json_object* data = nullptr;
    json_object* list = nullptr;
    if (complete && json_object_object_get_ex(root, "success", &success) &&
        std::string_view(json_object_get_string(success)) == "1" && json_object_object_get_ex(root, "data", &data) &&
        json_object_object_get_ex(data, "list", &list)) {
        for (std::size_t i = 0; i < json_object_array_length(list); ++i) {
            json_object* word = nullptr;
            json_object_object_get_ex(json_object_array_get_idx(list, i), "word", &word);
            words.emplace_back(json_object_get_string(word),
                               static_cast<std::size_t>(json_object_get_string_len(word)));
        }
    }
    json_object_put(root);
    return words;
}

TEST(RecommendationJsonTest, writesTheReplyShape) {
    EXPECT_EQ(RecommendationJson({}), R"({"success":"1","data":{"list":[]}})");
    EXPECT_EQ(RecommendationJson({"中", "a"}), R"({"success":"1","data":{"list":[{"word":"中"},{"word":"a"}]}})");
}

TEST(RecommendationJsonTest, escapesWhatJsonRequires) {
    const std::vector<std::string_view> words{"say \"hi\"", "back\\slash", "line\nbreak\r\t",
                                              std::string_view("\x01\x1F\0", 3), "中文/\x7F"};
    const std::string json = RecommendationJson(words);
    EXPECT_NE(json.find(R"("say \"hi\"")"), std::string::npos);
    EXPECT_NE(json.find(R"("\u0001\u001f\u0000")"), std::string::npos);
    EXPECT_EQ(ParseReply(json), std::vector<std::string>(words.begin(), words.end()));
}

class RecommendationHandlerTest : public testing::Test {
protected:
    WordIndex m_index{{{"手机", 100}, {"手机壳", 50}, {"智能手机", 90}, {"电脑", 80}}};
    RecommendationHandler m_handler{m_index, kDefaultReplyLimit};
};

TEST_F(RecommendationHandlerTest, answersWithTheRankedWords) {
    const HttpReply reply = m_handler.Handle(Target("area_id=0&word=%E6%89%8B%E6%9C%BA&ie=utf-8"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/json; charset=utf-8");
    EXPECT_EQ(reply.body, R"({"success":"1","data":{"list":[{"word":"手机壳"},{"word":"智能手机"}]}})");
}

TEST_F(RecommendationHandlerTest, unknownSeedIsAnEmptySuccess) {
    const HttpReply reply = m_handler.Handle(Target("area_id=3&word=%E7%8C%AB&ie=utf-8"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, R"({"success":"1","data":{"list":[]}})");
}

TEST_F(RecommendationHandlerTest, areaDoesNotChangeTheWords) {
    EXPECT_EQ(m_handler.Handle(Target("area_id=0&word=%E6%89%8B")).body,
              m_handler.Handle(Target("area_id=30&word=%E6%89%8B")).body);
}

TEST_F(RecommendationHandlerTest, refusalsCarryFailureBody) {
    const HttpReply bad = m_handler.Handle(Target("area_id=31&word=a"));
    EXPECT_EQ(bad.status, 400);
    EXPECT_EQ(bad.body, R"({"success":"0"})");
    const HttpReply missing = m_handler.Handle("/elsewhere");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, R"({"success":"0"})");
}

TEST_F(RecommendationHandlerTest, limitCapsTheList) {
    const RecommendationHandler one(m_index, 1);
    EXPECT_EQ(one.Handle(Target("area_id=0&word=%E6%89%8B")).body,
              R"({"success":"1","data":{"list":[{"word":"手机"}]}})");
}

std::string PercentEncode(std::string_view bytes) {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        encoded += '%';
        encoded += kHex[byte >> 4U];
        encoded += kHex[byte & 0x0FU];
    }
    return encoded;
}

TEST(RecommendationHandlerRepliesTest, everyReplyListsExactlyTheWordsFound) {
    const WordIndex index(ParseCorpus(BundledCorpusText()).words);
    const RecommendationHandler handler(index, 20);
    for (std::size_t rank = 0; rank < index.Size(); ++rank) {
        const std::string_view word = index.Word(rank);
        for (const std::string_view seed : {word.substr(0, 1), word.substr(0, 3), word.substr(0, 6), word}) {
            std::vector<std::string_view> found;
            index.Find(seed, 20, found);
            const HttpReply reply = handler.Handle(Target("area_id=0&word=" + PercentEncode(seed)));
            if (!IsValidUtf8(seed)) {
                EXPECT_EQ(reply.status, 400) << seed;
                continue;
            }
            ASSERT_EQ(reply.body, RecommendationJson(found)) << seed;
        }
    }
}

TEST(RecommendationHandlerRepliesTest, wordsThatNeedEscapingArriveIntact) {
    const WordIndex index({{"say\"hi\"", 5}, {"back\\slash", 4}, {"a/b", 3}});
    const RecommendationHandler handler(index, kDefaultReplyLimit);
    const HttpReply reply = handler.Handle(Target("area_id=0&word=a"));
    EXPECT_EQ(ParseReply(reply.body), (std::vector<std::string>{"a/b", "say\"hi\"", "back\\slash"}));
}

} // namespace
} // namespace morvane

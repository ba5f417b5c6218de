// What FetchRecommendations makes of every kind of reply, and of requests that bring none.
#include "mining/cancel_token.h"
#include "mining/gbk_json.h"
#include "mining/recommendations.h"
#include "tests/support/case_name.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <ostream>

namespace morvane {
namespace {

using test::ScriptedReply;
using test::ScriptedServer;
using test::WordsReply;

const std::string kZhong = "\xd6\xd0"; // 中 in GBK

struct OutcomeCase {
    std::string name;
    ScriptedReply reply;
    QueryOutcome outcome;
    WordList words{};

    friend void PrintTo(const OutcomeCase& param, std::ostream* out) { *out << param.name; }
};

class FetchOutcomeTest : public testing::TestWithParam<OutcomeCase> {};

TEST_P(FetchOutcomeTest, tellsWhatTheReplyWas) {
    const OutcomeCase& c = GetParam();
    ScriptedServer server;
    server.AnswerAll(c.reply);
    QueryReport report;

    const WordList words = RecommendationService(server.BaseUrl()).FetchRecommendations(kZhong, "0", nullptr, &report);

    EXPECT_EQ(report.outcome, c.outcome);
    EXPECT_EQ(report.httpStatus, c.reply.status);
    EXPECT_EQ(words, c.words);
}

ScriptedReply Body(std::string body, int status = 200) {
    return ScriptedReply{.status = status, .body = std::move(body)};
}

ScriptedReply WithStatus(ScriptedReply reply, int status) {
    reply.status = status;
    return reply;
}

// A list of count entries {"word":"w"}: small as text, large as json-c's tree.
ScriptedReply ManyEntries(std::size_t count) {
    std::string body = R"({"success":"1","data":{"list":[)";
    for (std::size_t i = 0; i < count; ++i) {
        body += i == 0 ? R"({"word":"w"})" : R"(,{"word":"w"})";
    }
    return Body(body + "]}}");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FetchOutcomeTest,
    testing::Values(
        OutcomeCase{"words", WordsReply({"a", "\xe4\xb8\xad"}), QueryOutcome::Recommendation, {"a", kZhong}},
        OutcomeCase{"successNotOne", Body(R"({"success":"0"})"), QueryOutcome::Recommendation},
        OutcomeCase{"recommendationWithErrorStatusStillCounts",
                    WithStatus(WordsReply({"a"}), 500),
                    QueryOutcome::Recommendation,
                    {"a"}},
        OutcomeCase{"notFoundPage", Body("<html><body>Not Found</body></html>", 404), QueryOutcome::ErrorStatus},
        OutcomeCase{"serverErrorText", Body("failure", 500), QueryOutcome::ErrorStatus},
        OutcomeCase{"htmlPage", Body("\xEF\xBB\xBF \r\n<!DOCTYPE html><html></html>"), QueryOutcome::HtmlPage},
        OutcomeCase{"gbkBody", Body("{\"success\":\"1\",\"data\":{\"list\":[{\"word\":\"\xd6\xd0\"}]}}"),
                    QueryOutcome::NotUtf8},
        OutcomeCase{"characterGbkLacks", WordsReply({"a", "\xf0\x9f\x98\x80"}), QueryOutcome::NotGbk},
        OutcomeCase{"emptyBody", Body(""), QueryOutcome::NotJson},
        OutcomeCase{"plainText", Body("no words"), QueryOutcome::NotJson},
        OutcomeCase{"otherJson", Body(R"({"ok":true})"), QueryOutcome::OtherJson},
        OutcomeCase{"brokenOff",
                    ScriptedReply{.kind = ScriptedReply::Kind::BreakOff, .body = R"({"success":"1","data":{"li)"},
                    QueryOutcome::BrokenOff},
        OutcomeCase{"brokenOffAfterAWholeValue",
                    ScriptedReply{.kind = ScriptedReply::Kind::BreakOff,
                                  .body = R"({"success":"1","data":{"list":[{"word":"a"}]}} trailing)"},
                    QueryOutcome::Recommendation,
                    {"a"}},
        OutcomeCase{"bodyOverTheLimit",
                    ScriptedReply{.kind = ScriptedReply::Kind::Large, .largeSize = kMaxReplyBytes + 1},
                    QueryOutcome::TooLarge},
        OutcomeCase{"treeOverTheLimit", ManyEntries(kMaxJsonTreeBytes / 900), QueryOutcome::TooLarge}),
    test::CaseName());

TEST(FetchOutcome, requestsThatBringNoReply) {
    ScriptedServer server;
    server.AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    QueryReport report;

    const RecommendationService impatient(server.BaseUrl(), std::chrono::milliseconds(50));
    EXPECT_TRUE(impatient.FetchRecommendations("a", "0", nullptr, &report).empty());
    EXPECT_EQ(report.outcome, QueryOutcome::TimedOut);

    std::string longSeed;
    for (int i = 0; i < 220; ++i) {
        longSeed += kZhong;
    }
    EXPECT_TRUE(impatient.FetchRecommendations(longSeed, "0", nullptr, &report).empty());
    EXPECT_EQ(report.outcome, QueryOutcome::SeedTooLong);
    EXPECT_EQ(server.Requests().size(), 1U);

    CancelToken cancelled;
    cancelled.Cancel();
    EXPECT_TRUE(impatient.FetchRecommendations("a", "0", &cancelled, &report).empty());
    EXPECT_EQ(report.outcome, QueryOutcome::Cancelled);

    std::string closedBase;
    {
        const ScriptedServer closed;
        closedBase = closed.BaseUrl();
    }
    EXPECT_TRUE(RecommendationService(closedBase).FetchRecommendations("a", "0", nullptr, &report).empty());
    EXPECT_EQ(report.outcome, QueryOutcome::NoReply);
    EXPECT_EQ(report.httpStatus, 0);
}

} // namespace
} // namespace morvane

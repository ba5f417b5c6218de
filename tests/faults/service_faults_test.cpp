// The whole job against a service that misbehaves on the second of three seeds: the job goes on with the third
// seed (or, where only a stop can end the request, stops at once on request), writes whole lines only, and
// morvane-mine names what happened.
#include "cli/run_mine.h"
#include "tests/cli/mine_test_support.h"
#include "tests/faults/fault_fixture.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace morvane {
namespace {

using test::JobFaultTest;
using test::ScriptedReply;

constexpr std::string_view kReplyFor = "the reply of the recommendation service for line 2 ";

struct ServiceFault {
    const char* name;
    ScriptedReply reply;        // the service's answer to the second seed, "bad"
    bool answered;              // false: the request never ends by itself, and the window sets no time-out
    QueryOutcome windowOutcome; // what the window's job learns of the request, when it ends
    std::string windowWords;    // the lines the window gets from it
    std::string mineWarning;    // morvane-mine's warning about it

    friend void PrintTo(const ServiceFault& c, std::ostream* out) { *out << c.name; }
};

ScriptedReply WithKind(ScriptedReply reply, ScriptedReply::Kind kind) {
    reply.kind = kind;
    return reply;
}

const ScriptedReply kBadWords = test::WordsReply({"bad-a"});

const std::vector<ServiceFault> kServiceFaults = {
    {"silent", ScriptedReply{.kind = ScriptedReply::Kind::Silent}, false, QueryOutcome::TimedOut, "",
     "no reply from the recommendation service for line 2 within 0.3 s (--timeout); going on with the next seed"},
    // One byte every 20 ms: the window, which waits as long as it takes, gets the words a second later.
    {"slowDrip",
     [] {
         ScriptedReply drip = WithKind(kBadWords, ScriptedReply::Kind::Drip);
         drip.dripInterval = std::chrono::milliseconds(20);
         return drip;
     }(),
     true, QueryOutcome::Recommendation, "bad-a\r\n",
     "no reply from the recommendation service for line 2 within 0.3 s (--timeout); going on with the next seed"},
    {"resetMidBody", WithKind(kBadWords, ScriptedReply::Kind::Reset), true, QueryOutcome::BrokenOff, "",
     std::string(kReplyFor) + "broke off before its end; no words from it"},
    {"body50MiB", ScriptedReply{.kind = ScriptedReply::Kind::Large}, true, QueryOutcome::TooLarge, "",
     std::string(kReplyFor) + "is too large to read (over 32 MiB, or too many values); no words from it"},
    {"body50MiBOfUnannouncedLength", ScriptedReply{.kind = ScriptedReply::Kind::Large, .announceLength = false}, true,
     QueryOutcome::TooLarge, "",
     std::string(kReplyFor) + "is too large to read (over 32 MiB, or too many values); no words from it"},
    {"notFoundPage",
     ScriptedReply{.status = 404,
                   .body = "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>"},
     true, QueryOutcome::ErrorStatus, "",
     "the recommendation service answered line 2 with status 404, not a recommendation; is --service the right "
     "address?"},
    {"invalidUtf8",
     ScriptedReply{.body = R"({"success":"1","data":{"list":[{"word":"bad-)"
                           "\xff"
                           R"("}]}})"},
     true, QueryOutcome::NotUtf8, "", std::string(kReplyFor) + "is not UTF-8 text; no words from it"},
    // U+FEFF has no GBK form, so a byte-order mark leaves the whole reply unreadable.
    {"byteOrderMark", ScriptedReply{.body = "\xEF\xBB\xBF" + kBadWords.body}, true, QueryOutcome::NotGbk, "",
     std::string(kReplyFor) + "holds a character that GBK lacks, which leaves the whole reply unreadable; no words "
                              "from it"},
    {"gbkBody", ScriptedReply{.body = test::Gbk(R"({"success":"1","data":{"list":[{"word":"手机"}]}})")}, true,
     QueryOutcome::NotUtf8, "", std::string(kReplyFor) + "is not UTF-8 text; no words from it"},
};

std::vector<ServiceFault> AnsweredFaults() {
    std::vector<ServiceFault> answered;
    std::copy_if(kServiceFaults.begin(), kServiceFaults.end(), std::back_inserter(answered),
                 [](const ServiceFault& c) { return c.answered; });
    return answered;
}

// The window sets no time-out, so only the faults whose request ends by itself let its job run to the end; the
// others are stopped below.
class WindowServiceFaultTest : public JobFaultTest, public testing::WithParamInterface<ServiceFault> {};

TEST_P(WindowServiceFaultTest, jobGoesOnWithTheNextSeed) {
    const ServiceFault& c = GetParam();
    AnswerBadSeedWith(c.reply);
    output.SetOutputMode(OutputTarget::kResultList);

    const test::WindowResult result = RunWindowJob("one\r\nbad\r\ntwo");

    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.resultText, WordLines({"one"}, "\r\n") + c.windowWords + WordLines({"two"}, "\r\n"));
    EXPECT_EQ(result.outcomes,
              (std::vector<QueryOutcome>{QueryOutcome::Recommendation, c.windowOutcome, QueryOutcome::Recommendation}));
    ASSERT_FALSE(result.statusTexts.empty());
    EXPECT_EQ(result.statusTexts.back(), kStatusFinished);
    EXPECT_EQ(result.startEnabled, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowServiceFaultTest, testing::ValuesIn(AnsweredFaults()), test::CaseName());

class MineServiceFaultTest : public JobFaultTest, public testing::WithParamInterface<ServiceFault> {};

TEST_P(MineServiceFaultTest, namesTheFaultAndGoesOnWithTheNextSeed) {
    const ServiceFault& c = GetParam();
    AnswerBadSeedWith(c.reply);

    // A time-out short enough to end the silent and the dripping request soon, and far too long for any other.
    const char* timeout = c.answered && c.reply.kind != ScriptedReply::Kind::Drip ? "60" : "0.3";
    const test::MineResult result = RunMine({"--quiet", "--timeout", timeout}, "one\nbad\ntwo\n");

    EXPECT_EQ(result.status, kExitSuccess);
    EXPECT_EQ(result.out, WordLines({"one", "two"}, "\n"));
    EXPECT_EQ(result.err, "morvane-mine: " + c.mineWarning + "\n");
    EXPECT_EQ(test::RequestedSeeds(*server), (std::vector<std::string>{"one", "bad", "two"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, MineServiceFaultTest, testing::ValuesIn(kServiceFaults), test::CaseName());

// A request still open (nothing answered, or the body still dripping) ends at once when the job is stopped.
class StopDuringFaultTest : public JobFaultTest, public testing::WithParamInterface<ServiceFault> {};

TEST_P(StopDuringFaultTest, windowJobStopsAtOnceWithTheLinesSoFar) {
    AnswerBadSeedWith(GetParam().reply);
    output.SetOutputMode(OutputTarget::kResultList);

    const test::WindowResult result = RunWindowJob("one\r\nbad\r\ntwo", 2);

    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.resultText, WordLines({"one"}, "\r\n"));
    EXPECT_EQ(result.outcomes, std::vector<QueryOutcome>{QueryOutcome::Recommendation});
    EXPECT_EQ(result.startEnabled, 0);
}

TEST_P(StopDuringFaultTest, morvaneMineStopsAtOnceWithTheLinesSoFar) {
    AnswerBadSeedWith(GetParam().reply);

    const test::MineResult result = RunMine({"--timeout", "0"}, "one\nbad\ntwo\n", 2);

    EXPECT_EQ(result.status, kExitInterrupted);
    EXPECT_EQ(result.out, WordLines({"one"}, "\n"));
    EXPECT_EQ(result.err, "正在挖(33.33333333333%)...\n强制停止！\n");
    EXPECT_EQ(server->Requests().size(), 2U);
}

INSTANTIATE_TEST_SUITE_P(Cases, StopDuringFaultTest,
                         testing::Values(kServiceFaults[0],
                                         [] {
                                             ServiceFault drip = kServiceFaults[1];
                                             drip.reply.dripInterval = std::chrono::hours(1);
                                             return drip;
                                         }()),
                         test::CaseName());

} // namespace
} // namespace morvane

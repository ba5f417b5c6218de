#include "mining/cancel_token.h"
#include "mining/http_get.h"
#include "mining/recommendations.h"
#include "tests/support/case_name.h"
#include "tests/support/scripted_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <array>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace morvane {
namespace {

using test::RecordedRequest;
using test::ScriptedReply;
using test::ScriptedServer;
using testing::ElementsAre;
using testing::Field;
using testing::StartsWith;
using testing::UnorderedElementsAre;

const std::string kZhong = "\xd6\xd0"; // 中 in GBK
const std::string kDefaultBody = R"({"success":"0"})";

std::string Repeat(const std::string& piece, std::size_t count) {
    std::string repeated;
    for (std::size_t i = 0; i < count; ++i) {
        repeated += piece;
    }
    return repeated;
}

// The request target of a recommendation request for seed in region 0.
std::string SeedTarget(const std::string& seed) {
    return RecommendationService{""}.RequestUrl(seed, "0");
}

// The header lines of a raw request: everything between the request line and the blank line.
std::vector<std::string> HeaderLines(const std::string& raw) {
    std::vector<std::string> lines;
    std::size_t start = raw.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        const std::size_t end = raw.find("\r\n", start);
        if (end == std::string::npos || end == start) {
            break;
        }
        lines.push_back(raw.substr(start, end - start));
        start = end;
    }
    return lines;
}

// Runs HttpGet on a thread of its own with a token the test can cancel. The destructor cancels and joins, so a
// failing test never leaves the thread behind.
class BackgroundGet {
public:
    explicit BackgroundGet(std::string url)
        : m_thread([this, target = std::move(url)] { m_result = HttpGet(target, {.cancel = &m_token}); }) {}
    BackgroundGet(const BackgroundGet&) = delete;
    BackgroundGet& operator=(const BackgroundGet&) = delete;
    BackgroundGet(BackgroundGet&&) = delete;
    BackgroundGet& operator=(BackgroundGet&&) = delete;
    ~BackgroundGet() {
        m_token.Cancel();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    CancelToken& Token() { return m_token; }

    // Waits for HttpGet to return and gives its result.
    HttpGetResult Result() {
        m_thread.join();
        return m_result;
    }

private:
    CancelToken m_token;
    HttpGetResult m_result;
    std::thread m_thread; // last, so that it starts after the members it uses
};

TEST(HttpGetRequest, SendsHttp10GetWithOnlyHostUserAgentAndAccept) {
    ScriptedServer server;
    EXPECT_EQ(HttpGet(RecommendationService{server.BaseUrl()}.RequestUrl(kZhong, "0")).body, kDefaultBody);

    const std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_THAT(requests[0].raw, StartsWith("GET /recomword/recomWordCache_findRecomWord.htm?area_id=0&word=%E4%B8%AD"
                                            "&ie=utf-8 HTTP/1.0\r\n"));
    EXPECT_THAT(HeaderLines(requests[0].raw),
                UnorderedElementsAre("Host: 127.0.0.1:" + std::to_string(server.Port()),
                                     "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", "Accept: */*"));
}

// Sets an environment variable for its lifetime and then restores it. No other thread of the test binary reads
// the environment, so changing it here is safe.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str())) { // NOLINT(concurrency-mt-unsafe)
            m_saved = old;
        }
        setenv(m_name.c_str(), value.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ScopedEnvironment(ScopedEnvironment&&) = delete;
    ScopedEnvironment& operator=(ScopedEnvironment&&) = delete;
    ~ScopedEnvironment() {
        if (m_saved) {
            setenv(m_name.c_str(), m_saved->c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        } else {
            unsetenv(m_name.c_str()); // NOLINT(concurrency-mt-unsafe)
        }
    }

private:
    std::string m_name;
    std::optional<std::string> m_saved;
};

TEST(HttpGetRequest, EnvironmentProxyIsIgnored) {
    ScriptedServer server;
    // A proxy that refuses every connection: a request routed through it would never reach the server.
    const ScopedEnvironment proxy("http_proxy", "http://127.0.0.1:1");

    EXPECT_EQ(HttpGet(server.BaseUrl() + "/x").body, kDefaultBody);
    EXPECT_THAT(server.Requests(), ElementsAre(Field(&RecordedRequest::target, "/x")));
}

struct TargetCase {
    std::string name;
    std::string target;

    friend void PrintTo(const TargetCase& param, std::ostream* out) { *out << param.name; }
};

class HttpGetTargetTest : public testing::TestWithParam<TargetCase> {};

// Targets that escaping or path normalisation would change.
TEST_P(HttpGetTargetTest, TargetIsSentUnchanged) {
    ScriptedServer server;
    HttpGet(server.BaseUrl() + GetParam().target);
    EXPECT_THAT(server.Requests(), ElementsAre(Field(&RecordedRequest::target, GetParam().target)));
}

INSTANTIATE_TEST_SUITE_P(Targets, HttpGetTargetTest,
                         testing::Values(TargetCase{"DotSegments", "/a/./b/../c"},
                                         TargetCase{"LowercaseEscapes", "/x?word=%e4%b8%ad"},
                                         TargetCase{"EscapedReservedCharacters", "/%7Ex?a=b%2Fc%26d&e=%20"},
                                         TargetCase{"UnescapedQueryCharacters", "/x?a=b/c?d&e='f'"}),
                         test::CaseName());

struct LengthCase {
    std::string name;
    std::string target;
    bool sent = false;

    friend void PrintTo(const LengthCase& param, std::ostream* out) { *out << param.name; }
};

class HttpGetTargetLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(HttpGetTargetLengthTest, OnlyTargetsUpTo2047CharactersAreSent) {
    ScriptedServer server;
    const HttpGetResult result = HttpGet(server.BaseUrl() + GetParam().target);
    // HttpGet returns only after the server has answered, so a request made by the first call would be recorded
    // before the second one.
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/after").body, kDefaultBody);

    const std::vector<RecordedRequest> requests = server.Requests();
    if (GetParam().sent) {
        EXPECT_EQ(result.outcome, HttpOutcome::Complete);
        EXPECT_EQ(result.body, kDefaultBody);
        ASSERT_EQ(requests.size(), 2U);
        EXPECT_EQ(requests[0].target, GetParam().target);
    } else {
        EXPECT_EQ(result.outcome, HttpOutcome::TargetTooLong);
        EXPECT_EQ(result.body, "");
        EXPECT_THAT(requests, ElementsAre(Field(&RecordedRequest::target, "/after")));
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, HttpGetTargetLengthTest,
                         testing::Values(LengthCase{"Seed219ChineseCharacters", SeedTarget(Repeat(kZhong, 219)), true},
                                         LengthCase{"Seed220ChineseCharacters", SeedTarget(Repeat(kZhong, 220)), false},
                                         LengthCase{"Path2047", "/" + std::string(2046, 'p'), true},
                                         LengthCase{"Path2048", "/" + std::string(2047, 'p'), false},
                                         LengthCase{"Query2047", "/q?" + std::string(2044, 'q'), true},
                                         LengthCase{"Query2048", "/q?" + std::string(2045, 'q'), false}),
                         test::CaseName());

struct ReplyCase {
    std::string name;
    ScriptedReply reply;
    std::string expected;
    HttpOutcome outcome = HttpOutcome::Complete;

    friend void PrintTo(const ReplyCase& param, std::ostream* out) { *out << param.name; }
};

class HttpGetReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(HttpGetReplyTest, ReturnsTheBodyThatArrived) {
    ScriptedServer server;
    server.AnswerAll(GetParam().reply);
    const HttpGetResult result = HttpGet(server.BaseUrl() + "/x");
    EXPECT_EQ(result.body, GetParam().expected);
    EXPECT_EQ(result.outcome, GetParam().outcome);
    EXPECT_EQ(result.status, GetParam().reply.status);
    // One request whatever the reply: no retry and no redirect followed.
    EXPECT_EQ(server.Requests().size(), 1U);
}

ScriptedReply Reply(ScriptedReply::Kind kind, int status, std::string body) {
    ScriptedReply reply;
    reply.kind = kind;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

ScriptedReply Redirect() {
    ScriptedReply reply = Reply(ScriptedReply::Kind::Complete, 302, "moved");
    reply.headers = {"Location: /elsewhere"};
    return reply;
}

const std::string kNotFoundPage = "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>";
const std::string kPartialJson = R"({"success":"1","data":{"list":[{"word":"a"},{"wo)";

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpGetReplyTest,
    testing::Values(
        ReplyCase{"NotFoundPage", Reply(ScriptedReply::Kind::Complete, 404, kNotFoundPage), kNotFoundPage},
        ReplyCase{"ServerErrorPage", Reply(ScriptedReply::Kind::Complete, 500, "failure"), "failure"},
        ReplyCase{"RedirectNotFollowed", Redirect(), "moved"},
        ReplyCase{"EmptyBody", Reply(ScriptedReply::Kind::Complete, 200, ""), ""},
        ReplyCase{"BinaryBody", Reply(ScriptedReply::Kind::Complete, 200, std::string("\0\xff\r\n\x1b", 5)),
                  std::string("\0\xff\r\n\x1b", 5)},
        ReplyCase{"BrokenOffBodyGivesThePartReceived", Reply(ScriptedReply::Kind::BreakOff, 200, kPartialJson),
                  kPartialJson, HttpOutcome::BrokenOff},
        ReplyCase{"BrokenOffBeforeTheBody", Reply(ScriptedReply::Kind::BreakOff, 200, ""), "", HttpOutcome::BrokenOff},
        ReplyCase{"DrippedBodyReadWhole", Reply(ScriptedReply::Kind::Drip, 200, R"({"success":"1","data":{}})"),
                  R"({"success":"1","data":{}})"}),
    test::CaseName());

struct SizeCase {
    std::string name;
    std::size_t limit; // maxBodyBytes
    std::size_t size;  // of the body
    bool announced;    // with a Content-Length
    HttpOutcome outcome;

    friend void PrintTo(const SizeCase& param, std::ostream* out) { *out << param.name; }
};

class HttpGetSizeTest : public testing::TestWithParam<SizeCase> {};

// A body up to the limit is read whole; a larger one is refused, before it is read when its length is announced
// and as soon as it passes the limit when not.
TEST_P(HttpGetSizeTest, BodiesOverTheLimitAreRefused) {
    const SizeCase& c = GetParam();
    ScriptedServer server;
    server.AnswerAll(
        ScriptedReply{.kind = ScriptedReply::Kind::Large, .largeSize = c.size, .announceLength = c.announced});

    const HttpGetResult result = HttpGet(server.BaseUrl() + "/large", {.maxBodyBytes = c.limit});

    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.status, 200);
    if (c.outcome == HttpOutcome::Complete) {
        EXPECT_EQ(result.body.size(), c.size);
        EXPECT_EQ(result.body.find_first_not_of('x'), std::string::npos);
    } else {
        EXPECT_EQ(result.body, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, HttpGetSizeTest,
    testing::Values(SizeCase{"DefaultLimitReadWhole", kMaxReplyBytes, kMaxReplyBytes, true, HttpOutcome::Complete},
                    SizeCase{"DefaultLimitPassed", kMaxReplyBytes, kMaxReplyBytes + 1, true, HttpOutcome::TooLarge},
                    SizeCase{"UnannouncedReadWhole", 100000, 100000, false, HttpOutcome::Complete},
                    SizeCase{"UnannouncedPassed", 100000, 100001, false, HttpOutcome::TooLarge},
                    SizeCase{"UnannouncedFarBeyond", 100000, std::size_t{50} << 20U, false, HttpOutcome::TooLarge}),
    test::CaseName());

TEST(HttpGetTimeout, SilentServerTimesOutAndAPartialBodyIsKept) {
    ScriptedServer server;
    server.SetHandler([](const RecordedRequest& request) {
        // The drip sends its first byte at once and the second an hour later.
        return request.target == "/silent" ? ScriptedReply{.kind = ScriptedReply::Kind::Silent}
                                           : ScriptedReply{.kind = ScriptedReply::Kind::Drip,
                                                           .body = "ab",
                                                           .dripInterval = std::chrono::hours(1)};
    });
    const HttpGetOptions options{.timeout = std::chrono::milliseconds(100)};

    const HttpGetResult silent = HttpGet(server.BaseUrl() + "/silent", options);
    EXPECT_EQ(silent.outcome, HttpOutcome::TimedOut);
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.body, "");

    const HttpGetResult drip = HttpGet(server.BaseUrl() + "/drip", options);
    EXPECT_EQ(drip.outcome, HttpOutcome::TimedOut);
    EXPECT_EQ(drip.status, 200);
    EXPECT_EQ(drip.body, "a");
}

struct BadUrlCase {
    std::string name;
    std::string url; // '@' stands for 127.0.0.1:<port of a running server>

    friend void PrintTo(const BadUrlCase& param, std::ostream* out) { *out << param.name; }
};

class HttpGetBadUrlTest : public testing::TestWithParam<BadUrlCase> {};

TEST_P(HttpGetBadUrlTest, ReturnsEmptyAndSendsNothing) {
    ScriptedServer server;
    std::string url = GetParam().url;
    if (const std::size_t at = url.rfind('@'); at != std::string::npos) {
        url.replace(at, 1, "127.0.0.1:" + std::to_string(server.Port()));
    }
    const HttpGetResult result = HttpGet(url);
    EXPECT_EQ(result.outcome, HttpOutcome::NotSent);
    EXPECT_EQ(result.body, "");
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/after").body, kDefaultBody);
    EXPECT_THAT(server.Requests(), ElementsAre(Field(&RecordedRequest::target, "/after")));
}

INSTANTIATE_TEST_SUITE_P(Urls, HttpGetBadUrlTest,
                         testing::Values(BadUrlCase{"Empty", ""}, BadUrlCase{"NotAUrl", "not a url"},
                                         BadUrlCase{"NoScheme", "@/x"}, BadUrlCase{"NoHost", "http://:80/x"},
                                         BadUrlCase{"PortOutOfRange", "http://127.0.0.1:70000/x"},
                                         BadUrlCase{"SpaceInPath", "http://@/a b"},
                                         BadUrlCase{"OtherScheme", "ftp://@/x"},
                                         BadUrlCase{"Credentials", "http://user:secret@@/x"}),
                         test::CaseName());

TEST(HttpGetFailure, RefusedConnectionGivesEmptyBody) {
    std::string url;
    {
        const ScriptedServer closed;
        url = closed.BaseUrl() + "/x";
    }
    const HttpGetResult result = HttpGet(url);
    EXPECT_EQ(result.outcome, HttpOutcome::NoReply);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.body, "");
}

TEST(HttpGetCancel, CancelWhileServerIsSilentReturnsEmpty) {
    ScriptedServer server;
    server.AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    BackgroundGet get(server.BaseUrl() + "/silent");
    ASSERT_TRUE(server.WaitForRequests(1));

    get.Token().Cancel();
    const HttpGetResult result = get.Result();
    EXPECT_EQ(result.outcome, HttpOutcome::Cancelled);
    EXPECT_EQ(result.body, "");
}

TEST(HttpGetCancel, CancelAfterPartOfTheBodyReturnsEmpty) {
    ScriptedServer server;
    // The first byte goes out at once, the second an hour later.
    server.AnswerAll(
        ScriptedReply{.kind = ScriptedReply::Kind::Drip, .body = "ab", .dripInterval = std::chrono::hours(1)});
    BackgroundGet get(server.BaseUrl() + "/drip");
    ASSERT_TRUE(server.WaitForRequests(1));

    get.Token().Cancel();
    const HttpGetResult result = get.Result();
    EXPECT_EQ(result.outcome, HttpOutcome::Cancelled);
    EXPECT_EQ(result.body, "");
}

TEST(HttpGetCancel, CancelledTokenSendsNothing) {
    ScriptedServer server;
    CancelToken cancelled;
    cancelled.Cancel();
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/x", {.cancel = &cancelled}).outcome, HttpOutcome::Cancelled);

    CancelToken live;
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/after", {.cancel = &live}).body, kDefaultBody);
    EXPECT_THAT(server.Requests(), ElementsAre(Field(&RecordedRequest::target, "/after")));
}

TEST(ScriptedServer, DestructionEndsSilentConnections) {
    auto server = std::make_unique<ScriptedServer>();
    server->AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    BackgroundGet get(server->BaseUrl() + "/silent");
    ASSERT_TRUE(server->WaitForRequests(1));

    server.reset();
    EXPECT_EQ(get.Result().body, "");
}

TEST(ScriptedServer, DroppedConnectionEndsTheRequestAndLaterOnesAreServed) {
    ScriptedServer server;
    server.SetHandler([](const RecordedRequest& request) {
        return request.target == "/silent" ? ScriptedReply{.kind = ScriptedReply::Kind::Silent}
                                           : ScriptedReply{.body = "served"};
    });
    BackgroundGet get(server.BaseUrl() + "/silent");
    ASSERT_TRUE(server.WaitForRequests(1));

    server.DropOpenConnections();
    EXPECT_EQ(get.Result().body, "");
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/next").body, "served");
}

TEST(ScriptedServer, ClientLeavingMidReplyEndsOnlyItsConnection) {
    ScriptedServer server;
    server.SetHandler([](const RecordedRequest& request) {
        return request.target == "/large" ? ScriptedReply{.kind = ScriptedReply::Kind::Large}
                                          : ScriptedReply{.body = "served"};
    });

    const int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(client, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.Port());
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    ASSERT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /large HTTP/1.0\r\n\r\n";
    ASSERT_EQ(send(client, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    std::array<char, 1024> buffer{};
    EXPECT_GT(recv(client, buffer.data(), buffer.size(), 0), 0);
    close(client);

    EXPECT_EQ(HttpGet(server.BaseUrl() + "/next").body, "served");
}

} // namespace
} // namespace morvane

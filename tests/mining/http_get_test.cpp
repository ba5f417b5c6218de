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
        : m_thread([this, target = std::move(url)] { m_body = HttpGet(target, &m_token); }) {}
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
    std::string Result() {
        m_thread.join();
        return m_body;
    }

private:
    CancelToken m_token;
    std::string m_body;
    std::thread m_thread; // last, so that it starts after the members it uses
};

TEST(HttpGetRequest, SendsHttp10GetWithOnlyHostUserAgentAndAccept) {
    ScriptedServer server;
    EXPECT_EQ(HttpGet(RecommendationService{server.BaseUrl()}.RequestUrl(kZhong, "0")), kDefaultBody);

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

    EXPECT_EQ(HttpGet(server.BaseUrl() + "/x"), kDefaultBody);
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
    const std::string body = HttpGet(server.BaseUrl() + GetParam().target);
    // HttpGet returns only after the server has answered, so a request made by the first call would be recorded
    // before the second one.
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/after"), kDefaultBody);

    const std::vector<RecordedRequest> requests = server.Requests();
    if (GetParam().sent) {
        EXPECT_EQ(body, kDefaultBody);
        ASSERT_EQ(requests.size(), 2U);
        EXPECT_EQ(requests[0].target, GetParam().target);
    } else {
        EXPECT_EQ(body, "");
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

    friend void PrintTo(const ReplyCase& param, std::ostream* out) { *out << param.name; }
};

class HttpGetReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(HttpGetReplyTest, ReturnsTheBodyThatArrived) {
    ScriptedServer server;
    server.AnswerAll(GetParam().reply);
    bool answered = false;
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/x", nullptr, &answered), GetParam().expected);
    // Every one of these replies starts with a status line, so the server counts as having answered.
    EXPECT_TRUE(answered);
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
    testing::Values(ReplyCase{"NotFoundPage", Reply(ScriptedReply::Kind::Complete, 404, kNotFoundPage), kNotFoundPage},
                    ReplyCase{"ServerErrorPage", Reply(ScriptedReply::Kind::Complete, 500, "failure"), "failure"},
                    ReplyCase{"RedirectNotFollowed", Redirect(), "moved"},
                    ReplyCase{"EmptyBody", Reply(ScriptedReply::Kind::Complete, 200, ""), ""},
                    ReplyCase{"BinaryBody", Reply(ScriptedReply::Kind::Complete, 200, std::string("\0\xff\r\n\x1b", 5)),
                              std::string("\0\xff\r\n\x1b", 5)},
                    ReplyCase{"BrokenOffBodyGivesThePartReceived",
                              Reply(ScriptedReply::Kind::BreakOff, 200, kPartialJson), kPartialJson},
                    ReplyCase{"BrokenOffBeforeTheBody", Reply(ScriptedReply::Kind::BreakOff, 200, ""), ""},
                    ReplyCase{"DrippedBodyReadWhole",
                              Reply(ScriptedReply::Kind::Drip, 200, R"({"success":"1","data":{}})"),
                              R"({"success":"1","data":{}})"}),
    test::CaseName());

TEST(HttpGetReply, FiftyMegabyteBodyIsReadWhole) {
    ScriptedServer server;
    ScriptedReply reply;
    reply.kind = ScriptedReply::Kind::Large;
    server.AnswerAll(reply);

    const std::string body = HttpGet(server.BaseUrl() + "/large");
    EXPECT_EQ(body.size(), reply.largeSize);
    EXPECT_EQ(body.find_first_not_of('x'), std::string::npos);
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
    bool answered = true;
    EXPECT_EQ(HttpGet(url, nullptr, &answered), "");
    EXPECT_FALSE(answered);
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/after"), kDefaultBody);
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
    bool answered = true;
    EXPECT_EQ(HttpGet(url, nullptr, &answered), "");
    EXPECT_FALSE(answered);
}

TEST(HttpGetCancel, CancelWhileServerIsSilentReturnsEmpty) {
    ScriptedServer server;
    server.AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    BackgroundGet get(server.BaseUrl() + "/silent");
    ASSERT_TRUE(server.WaitForRequests(1));

    get.Token().Cancel();
    EXPECT_EQ(get.Result(), "");
}

TEST(HttpGetCancel, CancelAfterPartOfTheBodyReturnsEmpty) {
    ScriptedServer server;
    // The first byte goes out at once, the second an hour later.
    server.AnswerAll(
        ScriptedReply{.kind = ScriptedReply::Kind::Drip, .body = "ab", .dripInterval = std::chrono::hours(1)});
    BackgroundGet get(server.BaseUrl() + "/drip");
    ASSERT_TRUE(server.WaitForRequests(1));

    get.Token().Cancel();
    EXPECT_EQ(get.Result(), "");
}

TEST(HttpGetCancel, CancelledTokenSendsNothing) {
    ScriptedServer server;
    CancelToken cancelled;
    cancelled.Cancel();
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/x", &cancelled), "");

    CancelToken live;
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/after", &live), kDefaultBody);
    EXPECT_THAT(server.Requests(), ElementsAre(Field(&RecordedRequest::target, "/after")));
}

TEST(ScriptedServer, DestructionEndsSilentConnections) {
    auto server = std::make_unique<ScriptedServer>();
    server->AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    BackgroundGet get(server->BaseUrl() + "/silent");
    ASSERT_TRUE(server->WaitForRequests(1));

    server.reset();
    EXPECT_EQ(get.Result(), "");
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
    EXPECT_EQ(get.Result(), "");
    EXPECT_EQ(HttpGet(server.BaseUrl() + "/next"), "served");
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

    EXPECT_EQ(HttpGet(server.BaseUrl() + "/next"), "served");
}

} // namespace
} // namespace morvane

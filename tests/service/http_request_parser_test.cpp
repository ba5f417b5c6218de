#include "service/http_request_parser.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <string>

namespace morvane {
namespace {

using namespace std::string_literals;
using State = RequestFrame::State;

constexpr std::size_t kMaxHead = 64;

struct FrameCase {
    const char* name;
    std::string input;
    State state;
    std::size_t headStart;
    std::size_t headEnd; // Complete only
    int errorStatus;     // Refused only

    friend void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }
};

class FrameRequestTest : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameRequestTest, findsTheHeadOrRefuses) {
    const FrameCase& c = GetParam();
    const RequestFrame frame = FrameRequest(c.input, 0, kMaxHead);
    EXPECT_EQ(frame.state, c.state);
    if (c.state != State::Refused) {
        EXPECT_EQ(frame.headStart, c.headStart);
    }
    if (c.state == State::Complete) {
        EXPECT_EQ(frame.headEnd, c.headEnd);
    }
    if (c.state == State::Refused) {
        EXPECT_EQ(frame.errorStatus, c.errorStatus);
    }
}

const std::string kShortRequest = "GET / HTTP/1.1\r\nHost: x\r\n\r\n"; // 27 bytes

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameRequestTest,
    testing::Values(
        FrameCase{"crlf", kShortRequest + "GET /next", State::Complete, 0, 27, 0},
        FrameCase{"bareLf", "GET /\n\nrest", State::Complete, 0, 7, 0},
        FrameCase{"lfThenCrlf", "GET /\nHost: x\n\r\n", State::Complete, 0, 16, 0},
        FrameCase{"notYetEnded", "GET / HTTP/1.1\r\nHost: x\r\n", State::Incomplete, 0, 0, 0},
        FrameCase{"nothingYet", "", State::Incomplete, 0, 0, 0},
        FrameCase{"emptyLinesAhead", "\r\n\n" + kShortRequest, State::Complete, 3, 30, 0},
        FrameCase{"onlyEmptyLinesWithinTheCap", std::string(16, '\n'), State::Incomplete, 0, 0, 0},
        FrameCase{"emptyLinesUpToTheCap", std::string(8, '\r') + std::string(8, '\n') + kShortRequest, State::Complete,
                  16, 43, 0},
        FrameCase{"emptyLinesBeyondTheCap", std::string(17, '\n') + kShortRequest, State::Refused, 0, 0, 400},
        FrameCase{"onlyEmptyLinesBeyondTheCap", std::string(17, '\n'), State::Refused, 0, 0, 400},
        FrameCase{"headOfTheLimit", "GET /" + std::string(kMaxHead - 9, 'a') + "\r\n\r\n", State::Complete, 0, kMaxHead,
                  0},
        FrameCase{"headBeyondTheLimit", "GET /" + std::string(kMaxHead - 8, 'a') + "\r\n\r\n", State::Refused, 0, 0,
                  431},
        FrameCase{"unfinishedHeadOfTheLimit", "GET /" + std::string(kMaxHead - 5, 'a'), State::Incomplete, 0, 0, 0},
        FrameCase{"unfinishedHeadBeyondTheLimit", "GET /" + std::string(kMaxHead - 4, 'a'), State::Refused, 0, 0, 431},
        // The empty lines ahead do not count against the head's limit.
        FrameCase{"limitCountsFromTheRequestLine", "\r\n\r\nGET /" + std::string(kMaxHead - 9, 'a') + "\r\n\r\n",
                  State::Complete, 4, kMaxHead + 4, 0}),
    test::CaseName());

TEST(FrameRequestResumeTest, aHeadArrivingByteByByteIsFoundAtItsLastByte) {
    for (const std::string& request : {"\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\n"s, "GET /\nA: b\n\n"s, "GET /\n\r\n"s}) {
        std::size_t resumeAt = 0;
        for (std::size_t length = 1; length < request.size(); ++length) {
            const RequestFrame frame = FrameRequest(std::string_view(request).substr(0, length), resumeAt, kMaxHead);
            ASSERT_EQ(frame.state, State::Incomplete) << request << " cut at " << length;
            resumeAt = frame.resumeAt;
        }
        const RequestFrame whole = FrameRequest(request, resumeAt, kMaxHead);
        EXPECT_EQ(whole.state, State::Complete) << request;
        EXPECT_EQ(whole.headEnd, request.size()) << request;
    }
}

struct HeadCase {
    const char* name;
    std::string head;
    int errorStatus;
    bool keepAlive;

    friend void PrintTo(const HeadCase& c, std::ostream* out) { *out << c.name; }
};

class ParseRequestHeadTest : public testing::TestWithParam<HeadCase> {};

TEST_P(ParseRequestHeadTest, acceptsOrRefuses) {
    const HeadCase& c = GetParam();
    const RequestHead head = ParseRequestHead(c.head);
    EXPECT_EQ(head.errorStatus, c.errorStatus);
    if (c.errorStatus == 0) {
        EXPECT_EQ(head.keepAlive, c.keepAlive);
    }
}

HeadCase Accepted(const char* name, std::string head, bool keepAlive = true) {
    return HeadCase{name, std::move(head), 0, keepAlive};
}

HeadCase Refused(const char* name, std::string head, int status = 400) {
    return HeadCase{name, std::move(head), status, false};
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, ParseRequestHeadTest,
    testing::Values(Accepted("http11", "GET /a?b=c HTTP/1.1\r\nHost: x\r\n\r\n"),
                    Accepted("head", "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"),
                    Accepted("bareLf", "GET / HTTP/1.1\nHost: x\n\n"),
                    Accepted("http11Close", "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", false),
                    Accepted("closeInAList", "GET / HTTP/1.1\r\nHost: x\r\nConnection: Upgrade, CLOSE\r\n\r\n", false),
                    Accepted("http10WithoutHost", "GET / HTTP/1.0\r\n\r\n", false),
                    Accepted("http10KeepAlive", "GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"),
                    Accepted("http10KeepAliveAndClose", "GET / HTTP/1.0\r\nConnection: keep-alive, close\r\n\r\n",
                             false),
                    Accepted("absoluteForm", "GET http://h:1/x HTTP/1.1\r\nHost: h:1\r\n\r\n"),
                    Accepted("hostOfEveryShape", "GET / HTTP/1.1\r\nHost: [::1]:8765\r\n\r\n"),
                    Accepted("emptyHost", "GET / HTTP/1.1\r\nHost:\r\n\r\n"),
                    Accepted("namesInAnyCase", "GET / HTTP/1.1\r\nhOsT: x\r\nCONTENT-length: 0\r\n\r\n"),
                    Accepted("tabAndBytesAbove127InAValue", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\tcaf\xC3\xA9\r\n\r\n"),
                    Accepted("blanksAroundAValue", "GET / HTTP/1.1\r\nHost: \t x \t\r\n\r\n")),
    test::CaseName());

INSTANTIATE_TEST_SUITE_P(Refused, ParseRequestHeadTest,
                         testing::Values(Refused("http11WithoutHost", "GET / HTTP/1.1\r\nAccept: */*\r\n\r\n"),
                                         Refused("twoHosts", "GET / HTTP/1.1\r\nHost: x\r\nHost: x\r\n\r\n"),
                                         Refused("twoHostsInHttp10", "GET / HTTP/1.0\r\nHost: x\r\nhost: y\r\n\r\n"),
                                         Refused("hostWithABlank", "GET / HTTP/1.1\r\nHost: a b\r\n\r\n"),
                                         Refused("hostWithASlash", "GET / HTTP/1.1\r\nHost: a/b\r\n\r\n"),
                                         Refused("nulInAValue", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\0b\r\n\r\n"s),
                                         Refused("nulInHost", "GET / HTTP/1.1\r\nHost: x\0\r\n\r\n"s),
                                         Refused("loneCrInAValue", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\rb\r\n\r\n"),
                                         Refused("escapeInAValue", "GET / HTTP/1.1\r\nHost: x\r\nX-A: \x1B[2J\r\n\r\n"),
                                         Refused("deleteInAValue", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\x7F\r\n\r\n"),
                                         Refused("nameNotAToken", "GET / HTTP/1.1\r\nHost: x\r\nX(A): b\r\n\r\n"),
                                         Refused("blankBeforeTheColon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n"),
                                         Refused("emptyName", "GET / HTTP/1.1\r\nHost: x\r\n: b\r\n\r\n"),
                                         Refused("noColon", "GET / HTTP/1.1\r\nHost: x\r\nAccept\r\n\r\n"),
                                         Refused("folded", "GET / HTTP/1.1\r\nHost: x\r\nX-A: 1\r\n\t2\r\n\r\n"),
                                         Refused("methodNotAToken", "G@T / HTTP/1.1\r\nHost: x\r\n\r\n"),
                                         Refused("twoWords", "GET /\r\n\r\n"),
                                         Refused("targetWithoutSlash", "GET x HTTP/1.1\r\nHost: x\r\n\r\n"),
                                         Refused("notAVersion", "GET / HTTP/1\r\nHost: x\r\n\r\n"),
                                         Refused("otherVersion", "GET / HTTP/2.0\r\nHost: x\r\n\r\n", 505),
                                         Refused("post", "POST / HTTP/1.1\r\nHost: x\r\n\r\n", 405),
                                         Refused("body", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\n"),
                                         Refused("chunked",
                                                 "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n")),
                         test::CaseName());

TEST(ParseRequestHeadPartsTest, givesTheRequestLineAndItsParts) {
    const RequestHead head = ParseRequestHead("GET /a?b HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_EQ(head.requestLine, "GET /a?b HTTP/1.0");
    EXPECT_EQ(head.method, "GET");
    EXPECT_EQ(head.target, "/a?b");
    EXPECT_EQ(head.version, "HTTP/1.0");
    EXPECT_EQ(ParseRequestHead("BAD\r\n\r\n").requestLine, "BAD");
    EXPECT_EQ(FirstLine("GET /x\r\nHost"), "GET /x");
    EXPECT_EQ(FirstLine("GET /x"), "GET /x");
}

} // namespace
} // namespace morvane

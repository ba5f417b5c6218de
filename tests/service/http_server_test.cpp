#include "service/http_server.h"
#include "tests/service/raw_http_client.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace morvane {
namespace {

using test::Exchange;
using test::RawConnection;
using test::RawReply;
using namespace std::string_literals;

std::string Repeat(std::string_view piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// Echoes the target as the body; "/throw" throws.
HttpReply EchoTarget(const HttpRequest& request) {
    if (request.target == "/throw") {
        throw std::runtime_error("handler failed");
    }
    return HttpReply{200, std::string(request.target), "text/plain"};
}

// Collects the request log and lets a test wait for a number of lines.
class LogRecorder {
public:
    HttpLogSink Sink() {
        return [this](std::string_view lines) {
            const std::lock_guard lock(m_mutex);
            m_text.append(lines);
            m_changed.notify_all();
        };
    }

    std::vector<std::string> WaitForLines(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return Lines().size() >= count; });
        return Lines();
    }

private:
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end = m_text.find('\n'); end != std::string::npos; end = m_text.find('\n', start)) {
            lines.push_back(m_text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_text;
};

class HttpServerTest : public testing::Test {
protected:
    void StartServer(HttpServerOptions options = {}, HttpHandler handler = EchoTarget) {
        m_server = std::make_unique<HttpServer>(std::move(options), std::move(handler));
        ASSERT_EQ(m_server->Start(), "");
        m_port = m_server->Port();
    }

    std::unique_ptr<HttpServer> m_server;
    std::uint16_t m_port = 0;
};

TEST_F(HttpServerTest, http11KeepsTheConnectionForTheNextRequest) {
    StartServer();
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send("GET /one HTTP/1.1\r\nHost: x\r\n\r\n"));
    const RawReply first = connection.ReadReply();
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.body, "/one");
    EXPECT_EQ(first.headers.at("connection"), "keep-alive");
    EXPECT_EQ(first.headers.at("content-type"), "text/plain");
    EXPECT_EQ(first.headers.at("content-length"), "4");
    ASSERT_TRUE(connection.Send("GET /two HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(connection.ReadReply().body, "/two");
}

TEST_F(HttpServerTest, http10ClosesUnlessKeepAliveIsAsked) {
    StartServer();
    RawConnection plain(m_port);
    ASSERT_TRUE(plain.Send("GET /a HTTP/1.0\r\n\r\n"));
    const RawReply reply = plain.ReadReply();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers.at("connection"), "close");
    EXPECT_TRUE(plain.WaitForClose());

    RawConnection kept(m_port);
    ASSERT_TRUE(kept.Send("GET /a HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"));
    EXPECT_EQ(kept.ReadReply().headers.at("connection"), "keep-alive");
    ASSERT_TRUE(kept.Send("GET /b HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(kept.ReadReply().body, "/b");
    EXPECT_TRUE(kept.WaitForClose());
}

TEST_F(HttpServerTest, http11ClosesWhenAsked) {
    StartServer();
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send("GET /a HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    EXPECT_EQ(connection.ReadReply().headers.at("connection"), "close");
    EXPECT_TRUE(connection.WaitForClose());
}

TEST_F(HttpServerTest, pipelinedRequestsAreAnsweredInOrder) {
    StartServer();
    RawConnection connection(m_port);
    std::string requests;
    for (int i = 0; i < 200; ++i) {
        requests += "GET /" + std::to_string(i) + " HTTP/1.1\r\nHost: x\r\n\r\n";
    }
    // Bare LF line ends are read too, and blank lines between requests are skipped.
    requests += "\r\nGET /last HTTP/1.1\nHost: x\n\n";
    ASSERT_TRUE(connection.Send(requests));
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(connection.ReadReply().body, "/" + std::to_string(i));
    }
    EXPECT_EQ(connection.ReadReply().body, "/last");
}

TEST_F(HttpServerTest, headSendsTheHeaderOnly) {
    StartServer();
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send("HEAD /abc HTTP/1.1\r\nHost: x\r\n\r\n"));
    const RawReply head = connection.ReadReply(true);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.headers.at("content-length"), "4");
    // Had a body followed, it would be read here in place of the next reply.
    ASSERT_TRUE(connection.Send("GET /next HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(connection.ReadReply().body, "/next");
}

TEST_F(HttpServerTest, aThrowingHandlerGives500AndCloses) {
    StartServer();
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send("GET /throw HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(connection.ReadReply().status, 500);
    EXPECT_TRUE(connection.WaitForClose());
    EXPECT_EQ(Exchange(m_port, "GET /fine HTTP/1.1\r\nHost: x\r\n\r\n").status, 200);
}

struct BadRequestCase {
    const char* name;
    std::string request;
    int status;

    friend void PrintTo(const BadRequestCase& c, std::ostream* out) { *out << c.name; }
};

class HttpServerBadRequestTest : public HttpServerTest, public testing::WithParamInterface<BadRequestCase> {};

TEST_P(HttpServerBadRequestTest, answersWithAnErrorAndCloses) {
    StartServer(HttpServerOptions{.maxHeaderBytes = 1024});
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send(GetParam().request));
    RawReply reply = connection.ReadReply();
    EXPECT_EQ(reply.status, GetParam().status);
    EXPECT_EQ(reply.headers["connection"], "close");
    EXPECT_TRUE(connection.WaitForClose());
    EXPECT_EQ(Exchange(m_port, "GET /after HTTP/1.1\r\nHost: x\r\n\r\n").body, "/after");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpServerBadRequestTest,
    testing::Values(
        BadRequestCase{"garbage", "GARBAGE\r\n\r\n", 400}, BadRequestCase{"twoWords", "GET /\r\n\r\n", 400},
        BadRequestCase{"fourWords", "GET / x HTTP/1.1\r\n\r\n", 400},
        BadRequestCase{"doubleSpace", "GET  / HTTP/1.1\r\n\r\n", 400},
        BadRequestCase{"notHttp", "GET / FTP/1.0\r\n\r\n", 400},
        BadRequestCase{"targetWithoutSlash", "GET abc HTTP/1.1\r\n\r\n", 400},
        BadRequestCase{"controlByteInTarget", std::string("GET /a\x01 HTTP/1.1\r\n\r\n"), 400},
        BadRequestCase{"nulBytes", "GET /\0\0 HTTP/1.1\r\n\r\n"s, 400},
        BadRequestCase{"headerWithoutColon", "GET / HTTP/1.1\r\nHost: x\r\nAccept x\r\n\r\n", 400},
        BadRequestCase{"emptyHeaderName", "GET / HTTP/1.1\r\nHost: x\r\n: x\r\n\r\n", 400},
        BadRequestCase{"blankInHeaderName", "GET / HTTP/1.1\r\nHost: x\r\nAccept : x\r\n\r\n", 400},
        BadRequestCase{"foldedHeader", "GET / HTTP/1.1\r\nHost: x\r\nX-A: 1\r\n 2\r\n\r\n", 400},
        BadRequestCase{"bodyAnnounced", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 400},
        BadRequestCase{"chunkedBody", "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
        BadRequestCase{"otherVersion", "GET / HTTP/2.0\r\n\r\n", 505},
        BadRequestCase{"post", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", 405},
        BadRequestCase{"lowercaseMethod", "get / HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        BadRequestCase{"oversizedHeader", "GET / HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(2000, 'a') + "\r\n\r\n",
                       431},
        BadRequestCase{"oversizedUnfinishedHeader", "GET /" + std::string(3000, 'a'), 431},
        BadRequestCase{"manyHeaderLines", "GET / HTTP/1.1\r\n" + Repeat("X-A: b\r\n", 200) + "\r\n", 431},
        BadRequestCase{"manyUnfinishedHeaderLines", "GET / HTTP/1.1\r\n" + Repeat("X-A: b\r\n", 200), 431},
        BadRequestCase{"http11WithoutHost", "GET / HTTP/1.1\r\nAccept: */*\r\n\r\n", 400},
        BadRequestCase{"twoHosts", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
        BadRequestCase{"twoHostsInHttp10", "GET / HTTP/1.0\r\nHost: a\r\nhost: a\r\n\r\n", 400},
        BadRequestCase{"nulInHeaderValue", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\0b\r\n\r\n"s, 400},
        BadRequestCase{"nulInHost", "GET / HTTP/1.1\r\nHost: x\0\r\n\r\n"s, 400},
        BadRequestCase{"loneCrInHeaderValue", "GET / HTTP/1.1\r\nHost: x\r\nX-A: a\rb\r\n\r\n", 400},
        BadRequestCase{"tooManyEmptyLinesFirst", Repeat("\r\n", 9) + "GET / HTTP/1.1\r\nHost: x\r\n\r\n", 400},
        BadRequestCase{"emptyLinesOnly", Repeat("\r\n", 5000), 400}),
    test::CaseName());

TEST_F(HttpServerTest, methodNotAllowedNamesTheAllowedOnes) {
    StartServer();
    EXPECT_EQ(Exchange(m_port, "DELETE / HTTP/1.1\r\nHost: x\r\n\r\n").headers["allow"], "GET, HEAD");
}

TEST_F(HttpServerTest, survivesRandomBytes) {
    StartServer(HttpServerOptions{.maxHeaderBytes = 512});
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> length(1, 1200);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::string alphabet = "GET /HTTP1.0\r\n: ";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int round = 0; round < 200; ++round) {
        std::string junk;
        const int size = length(random);
        for (int i = 0; i < size; ++i) {
            // Half of the rounds draw from the bytes of real requests, to reach deeper into the parser.
            junk += round % 2 == 0 ? static_cast<char>(byte(random)) : alphabet[pick(random)];
        }
        RawConnection connection(m_port);
        ASSERT_TRUE(connection.Connected());
        connection.Send(junk);
        // Ends the request so that an incomplete header is not left waiting for the time-out.
        connection.Send("\r\n\r\n" + std::string(600, 'x') + "\r\n\r\n");
        connection.WaitForClose();
    }
    EXPECT_EQ(Exchange(m_port, "GET /alive HTTP/1.1\r\nHost: x\r\n\r\n").body, "/alive");
}

TEST_F(HttpServerTest, aTricklingClientDoesNotBlockOthersAndIsDropped) {
    // One worker: were it to wait for the slow client, the second request would never be answered.
    StartServer(HttpServerOptions{.threads = 1, .headerTimeout = std::chrono::milliseconds(200)});
    RawConnection slow(m_port);
    ASSERT_TRUE(slow.Send("GET /slow HTT"));
    EXPECT_EQ(Exchange(m_port, "GET /fast HTTP/1.1\r\nHost: x\r\n\r\n").body, "/fast");
    slow.Send("P/1.");
    EXPECT_TRUE(slow.WaitForClose());
}

TEST_F(HttpServerTest, aSilentConnectionIsDropped) {
    StartServer(HttpServerOptions{.headerTimeout = std::chrono::milliseconds(100)});
    RawConnection silent(m_port);
    EXPECT_TRUE(silent.WaitForClose());
}

TEST_F(HttpServerTest, anIdleKeepAliveConnectionIsClosed) {
    StartServer(HttpServerOptions{.idleTimeout = std::chrono::milliseconds(100)});
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(connection.ReadReply().status, 200);
    EXPECT_TRUE(connection.WaitForClose());
}

TEST_F(HttpServerTest, anEmptyLineAfterAReplyStartsTheHeaderClockNotTheIdleOne) {
    // Were the empty line to renew the idle time, the connection would stay for an hour.
    StartServer(
        HttpServerOptions{.headerTimeout = std::chrono::milliseconds(100), .idleTimeout = std::chrono::hours(1)});
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_EQ(connection.ReadReply().status, 200);
    ASSERT_TRUE(connection.Send("\r\n"));
    EXPECT_TRUE(connection.WaitForClose());
}

TEST_F(HttpServerTest, clientsBeyondTheCapWaitUntilAConnectionCloses) {
    std::atomic<int> accepted{0};
    HttpServerOptions options{.threads = 1, .maxConnections = 2};
    options.systemCalls.accept = [&accepted](int fd, sockaddr* address, socklen_t* length, int flags) {
        const int connection = accept4(fd, address, length, flags);
        accepted += connection >= 0 ? 1 : 0;
        return connection;
    };
    StartServer(options);
    ASSERT_EQ(m_server->MaxConnections(), 2U);
    auto first = std::make_unique<RawConnection>(m_port);
    RawConnection second(m_port);
    ASSERT_TRUE(first->Send("GET /1 HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_EQ(first->ReadReply().body, "/1");
    RawConnection third(m_port);
    ASSERT_TRUE(third.Send("GET /3 HTTP/1.1\r\nHost: x\r\n\r\n"));
    // The third client was waiting to be accepted before this request arrived, so the loop has seen it by the
    // time this reply comes.
    ASSERT_TRUE(second.Send("GET /2 HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_EQ(second.ReadReply().body, "/2");
    EXPECT_EQ(accepted.load(), 2);

    first.reset();
    EXPECT_EQ(third.ReadReply().body, "/3");
    EXPECT_EQ(accepted.load(), 3);
}

TEST_F(HttpServerTest, manyClientsAtOnceAreAllServed) {
    StartServer(HttpServerOptions{.threads = 2});
    constexpr int kClients = 16;
    constexpr int kRequests = 50;
    std::vector<std::thread> clients;
    clients.reserve(kClients);
    std::vector<int> answered(kClients, 0);
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            RawConnection connection(m_port);
            for (int r = 0; r < kRequests; ++r) {
                const std::string target = "/" + std::to_string(c) + "/" + std::to_string(r);
                if (!connection.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n") ||
                    connection.ReadReply().body != target) {
                    return;
                }
                ++answered[static_cast<std::size_t>(c)];
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(answered, std::vector<int>(kClients, kRequests));
}

TEST_F(HttpServerTest, logsOneLinePerRequest) {
    LogRecorder log;
    StartServer(HttpServerOptions{.log = log.Sink()});
    Exchange(m_port, "GET /logged?q=\"x\" HTTP/1.1\r\nHost: x\r\n\r\n");
    Exchange(m_port, "BAD\r\n\r\n");
    const std::vector<std::string> lines = log.WaitForLines(2);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_NE(lines[0].find(R"( "GET /logged?q=\x22x\x22 HTTP/1.1" 200 13 )"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" 127.0.0.1:"), std::string::npos) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("ms")) << lines[0];
    EXPECT_NE(lines[1].find(R"( "BAD" 400 12 )"), std::string::npos) << lines[1];
}

TEST_F(HttpServerTest, stopClosesOpenConnectionsAndJoins) {
    StartServer();
    RawConnection idle(m_port);
    ASSERT_TRUE(idle.Send("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_EQ(idle.ReadReply().status, 200);
    RawConnection halfway(m_port);
    ASSERT_TRUE(halfway.Send("GET /b"));
    m_server->Stop();
    EXPECT_TRUE(idle.WaitForClose());
    EXPECT_TRUE(halfway.WaitForClose());
    m_server->Stop();
    EXPECT_FALSE(RawConnection(m_port).Connected());
}

// Records what the server reports through onFailure.
class FailureRecorder {
public:
    HttpFailureSink Sink() {
        return [this](std::string_view what) {
            const std::lock_guard lock(m_mutex);
            m_reports.emplace_back(what);
            m_changed.notify_all();
        };
    }

    std::vector<std::string> WaitForReport() {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return !m_reports.empty(); });
        return m_reports;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_reports;
};

TEST_F(HttpServerTest, aFailedEventLoopStopsTheWholeServerAndSaysWhy) {
    // Only the second worker's loop fails. Left running, the first would go on handing every other new
    // connection to a worker that no longer serves.
    std::atomic<std::thread::id> acceptor{};
    std::atomic<bool> failSecondWorker{false};
    FailureRecorder failures;
    HttpServerOptions options{.threads = 2, .headerTimeout = std::chrono::milliseconds(400)};
    options.onFailure = failures.Sink();
    options.systemCalls.accept = [&acceptor](int fd, sockaddr* address, socklen_t* length, int flags) {
        acceptor = std::this_thread::get_id();
        return accept4(fd, address, length, flags);
    };
    options.systemCalls.epollWait = [&](int epollFd, epoll_event* events, int maxEvents, int timeoutMs) {
        if (failSecondWorker && std::this_thread::get_id() != acceptor.load()) {
            errno = EBADF;
            return -1;
        }
        return epoll_wait(epollFd, events, maxEvents, timeoutMs);
    };
    StartServer(options);
    // One connection on each worker, both kept alive.
    RawConnection onFirst(m_port);
    RawConnection onSecond(m_port);
    for (RawConnection* connection : {&onFirst, &onSecond}) {
        ASSERT_TRUE(connection->Send("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"));
        ASSERT_EQ(connection->ReadReply().status, 200);
    }

    failSecondWorker = true;

    EXPECT_EQ(failures.WaitForReport(), std::vector<std::string>{"waiting for events failed: Bad file descriptor"});
    EXPECT_TRUE(onSecond.WaitForClose());
    EXPECT_TRUE(onFirst.WaitForClose());
    m_server->Stop();
    EXPECT_FALSE(RawConnection(m_port).Connected());
}

// Set once from any thread; waited for by the test.
class Event {
public:
    void Set() {
        const std::lock_guard lock(m_mutex);
        m_set = true;
        m_changed.notify_all();
    }

    bool Wait() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

struct EpollCtlFailureCase {
    const char* name;
    int operation;        // the epoll_ctl operation made to fail once
    std::uint32_t events; // for EPOLL_CTL_MOD: fails only when these events are asked for
    const char* target;

    friend void PrintTo(const EpollCtlFailureCase& c, std::ostream* out) { *out << c.name; }
};

class EpollCtlFailureTest : public HttpServerTest, public testing::WithParamInterface<EpollCtlFailureCase> {};

TEST_P(EpollCtlFailureTest, closesTheConnectionItConcernsAndServesOthers) {
    const EpollCtlFailureCase& c = GetParam();
    std::atomic<bool> armed{false};
    Event failed;
    // The idle time would otherwise close a connection left waiting for an event that never comes.
    HttpServerOptions options{.idleTimeout = std::chrono::hours(1)};
    options.systemCalls.epollCtl = [&](int epollFd, int operation, int fd, epoll_event* event) {
        if (operation == c.operation && (operation != EPOLL_CTL_MOD || (event->events & c.events) != 0U) &&
            armed.exchange(false)) {
            failed.Set();
            errno = ENOMEM;
            return -1;
        }
        return epoll_ctl(epollFd, operation, fd, event);
    };
    // A reply far larger than the socket buffers, so that sending it has to wait for the client.
    StartServer(options, [](const HttpRequest& request) {
        return HttpReply{200, request.target == "/big" ? std::string(std::size_t{32} << 20U, 'x') : "small",
                         "text/plain"};
    });
    armed = true;
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.Send("GET "s + c.target + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    // Read only once the call has failed: a client reading all along might leave the server no need to wait.
    ASSERT_TRUE(failed.Wait());
    EXPECT_TRUE(connection.WaitForClose());
    EXPECT_EQ(Exchange(m_port, "GET /after HTTP/1.1\r\nHost: x\r\n\r\n").body, "small");
}

INSTANTIATE_TEST_SUITE_P(Cases, EpollCtlFailureTest,
                         testing::Values(EpollCtlFailureCase{"addingTheConnection", EPOLL_CTL_ADD, 0, "/small"},
                                         EpollCtlFailureCase{"waitingToSend", EPOLL_CTL_MOD, EPOLLOUT, "/big"}),
                         test::CaseName());

TEST(HttpServerStartTest, reportsWhyItCannotListen) {
    HttpServer first(HttpServerOptions{}, EchoTarget);
    ASSERT_EQ(first.Start(), "");
    HttpServer second(HttpServerOptions{.port = first.Port()}, EchoTarget);
    const std::string error = second.Start();
    EXPECT_EQ(error, "cannot listen on 127.0.0.1:" + std::to_string(first.Port()) + ": Address already in use");

    HttpServer named(HttpServerOptions{.host = "localhost"}, EchoTarget);
    EXPECT_EQ(named.Start(), "not a numeric IP address: localhost");
}

TEST(HttpServerStartTest, listensOnIpv6Loopback) {
    HttpServer server(HttpServerOptions{.host = "::1"}, EchoTarget);
    const std::string error = server.Start();
    if (error.find("Cannot assign requested address") != std::string::npos ||
        error.find("Address family not supported") != std::string::npos) {
        GTEST_SKIP() << "no IPv6 loopback here: " << error;
    }
    EXPECT_EQ(error, "");
    EXPECT_NE(server.Port(), 0);
}

} // namespace
} // namespace morvane

// Allocation failures while the server takes a connection in, in a binary of its own: it replaces the global
// operator new so that a test can make the next allocation of one thread fail.
#include "service/http_server.h"
#include "tests/service/failing_allocation.h"
#include "tests/service/raw_http_client.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace morvane {
namespace {

using test::Exchange;
using test::RawConnection;
using namespace std::string_literals;

HttpReply Echo(const HttpRequest& request) {
    return HttpReply{200, std::string(request.target), "text/plain"};
}

// Which step makes the allocation fail: the accepting worker taking a connection for itself or queueing it for
// another, or the other worker adopting it.
enum class Step { AcceptForItself, QueueForAnother, Adopt };

struct AllocationCase {
    const char* name;
    Step step;

    friend void PrintTo(const AllocationCase& c, std::ostream* out) { *out << c.name; }
};

class AllocationFailureTest : public testing::TestWithParam<AllocationCase> {};

TEST_P(AllocationFailureTest, dropsThatConnectionAndServesTheNext) {
    const Step step = GetParam().step;
    std::atomic<int> acceptsBeforeFailing{-1};
    std::atomic<bool> failAdopting{false};
    std::atomic<std::thread::id> acceptor{};
    HttpServerOptions options{.threads = step == Step::AcceptForItself ? 1 : 2};
    options.systemCalls.accept = [&](int fd, sockaddr* address, socklen_t* length, int flags) {
        acceptor = std::this_thread::get_id();
        const int connection = accept4(fd, address, length, flags);
        if (connection >= 0 && acceptsBeforeFailing.fetch_sub(1) == 0) {
            test::FailNextAllocationOfThisThread();
        }
        return connection;
    };
    options.systemCalls.epollWait = [&](int epollFd, epoll_event* events, int maxEvents, int timeoutMs) {
        const int count = epoll_wait(epollFd, events, maxEvents, timeoutMs);
        // The second worker wakes only for connections handed to it.
        if (count > 0 && std::this_thread::get_id() != acceptor.load() && failAdopting.exchange(false)) {
            test::FailNextAllocationOfThisThread();
        }
        return count;
    };
    HttpServer server(options, Echo);
    ASSERT_EQ(server.Start(), "");
    // Connections are dealt out in turn, the first to the accepting worker. These warm both workers up and
    // leave the next connection to the second worker (with two).
    for (const char* target : {"/warm0", "/warm1", "/warm2"}) {
        ASSERT_EQ(Exchange(server.Port(), "GET "s + target + " HTTP/1.1\r\nHost: x\r\n\r\n").body, target);
    }

    if (step == Step::Adopt) {
        failAdopting = true;
    } else {
        acceptsBeforeFailing = 0;
    }
    RawConnection failing(server.Port());
    EXPECT_TRUE(failing.WaitForClose());
    EXPECT_FALSE(failAdopting.load());

    for (const char* target : {"/after0", "/after1"}) {
        EXPECT_EQ(Exchange(server.Port(), "GET "s + target + " HTTP/1.1\r\nHost: x\r\n\r\n").body, target);
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, AllocationFailureTest,
                         testing::Values(AllocationCase{"acceptForItself", Step::AcceptForItself},
                                         AllocationCase{"queueForAnother", Step::QueueForAnother},
                                         AllocationCase{"adopt", Step::Adopt}),
                         test::CaseName());

} // namespace
} // namespace morvane

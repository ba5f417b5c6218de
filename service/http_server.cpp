#include "service/http_server.h"

#include "service/error_text.h"
#include "service/http_worker.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace morvane {
namespace {

// Descriptors kept free of connections for the process's own use (standard streams, the listening socket, the
// log, a corpus file, the reserve), besides two for each worker's event loop.
constexpr std::size_t kReservedDescriptors = 32;

// maxConnections, lowered so that connections leave the reserved descriptors free under the current limit.
std::size_t AffordableConnections(std::size_t wanted, std::size_t workers) {
    wanted = std::max<std::size_t>(wanted, 1);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return wanted;
    }
    const std::size_t reserved = kReservedDescriptors + 2 * workers;
    const auto available = static_cast<std::size_t>(limit.rlim_cur);
    return std::clamp<std::size_t>(available > reserved ? available - reserved : 1, 1, wanted);
}

} // namespace

int HttpServerCore::EpollWait(int epollFd, epoll_event* events, int maxEvents, int timeoutMs) const {
    const auto& call = options.systemCalls.epollWait;
    return call ? call(epollFd, events, maxEvents, timeoutMs) : epoll_wait(epollFd, events, maxEvents, timeoutMs);
}

int HttpServerCore::EpollCtl(int epollFd, int operation, int fd, epoll_event* event) const {
    const auto& call = options.systemCalls.epollCtl;
    return call ? call(epollFd, operation, fd, event) : epoll_ctl(epollFd, operation, fd, event);
}

int HttpServerCore::Accept(int fd, sockaddr* address, socklen_t* length, int flags) const {
    const auto& call = options.systemCalls.accept;
    return call ? call(fd, address, length, flags) : accept4(fd, address, length, flags);
}

void HttpServerCore::ConnectionClosed() {
    if (connections.fetch_sub(1, std::memory_order_acq_rel) >= maxConnections) {
        workers.front()->Wake();
    }
}

void HttpServerCore::Fail(const char* what, int error) noexcept {
    if (failed.exchange(true)) {
        return;
    }
    stopping.store(true, std::memory_order_release);
    for (const auto& worker : workers) {
        worker->Wake();
    }
    if (!options.onFailure) {
        return;
    }
    try {
        options.onFailure(std::string(what) + ": " + ErrorText(error));
    } catch (...) {
        // Out of memory for the message: say what is known without building it.
        try {
            options.onFailure(what);
        } catch (...) {
            // The server stops all the same.
        }
    }
}

void HttpServerCore::Shutdown() {
    stopping.store(true, std::memory_order_release);
    for (const auto& worker : workers) {
        worker->Wake();
    }
    for (std::thread& thread : threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    threads.clear();
    workers.clear();
    if (listenFd >= 0) {
        close(listenFd);
        listenFd = -1;
    }
}

struct HttpServer::Impl : HttpServerCore {};

HttpServer::HttpServer(HttpServerOptions options, HttpHandler handler) : m_impl(std::make_unique<Impl>()) {
    m_impl->options = std::move(options);
    m_impl->handler = std::move(handler);
}

HttpServer::~HttpServer() {
    Stop();
}

std::string HttpServer::Start() {
    Impl& impl = *m_impl;
    const std::lock_guard lock(impl.stopMutex);
    if (impl.started) {
        return "the server was already started";
    }
    const HttpServerOptions& options = impl.options;
    const std::string where = options.host + ":" + std::to_string(options.port);

    sockaddr_storage address{};
    socklen_t addressLength = 0;
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET, options.host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(options.port);
        std::memcpy(&address, &v4, sizeof v4);
        addressLength = sizeof v4;
    } else if (inet_pton(AF_INET6, options.host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(options.port);
        std::memcpy(&address, &v6, sizeof v6);
        addressLength = sizeof v6;
    } else {
        return "not a numeric IP address: " + options.host;
    }

    impl.listenFd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (impl.listenFd < 0) {
        return "cannot create a socket: " + std::string(ErrorText(errno));
    }
    const int reuse = 1;
    setsockopt(impl.listenFd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (bind(impl.listenFd, reinterpret_cast<const sockaddr*>(&address), addressLength) != 0 ||
        listen(impl.listenFd, SOMAXCONN) != 0) {
        std::string error = "cannot listen on " + where + ": " + ErrorText(errno);
        impl.Shutdown();
        return error;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(impl.listenFd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    impl.port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);

    const auto workerCount = static_cast<std::size_t>(std::max(1, options.threads));
    impl.maxConnections = AffordableConnections(options.maxConnections, workerCount);
    for (std::size_t i = 0; i < workerCount; ++i) {
        impl.workers.push_back(std::make_unique<HttpWorker>(impl, i));
        if (std::string error = impl.workers.back()->Init(); !error.empty()) {
            impl.Shutdown();
            return error;
        }
    }
    try {
        for (const auto& worker : impl.workers) {
            impl.threads.emplace_back([running = worker.get()] { running->Run(); });
        }
    } catch (const std::system_error& error) {
        impl.Shutdown();
        return std::string("cannot start a worker thread: ") + error.what();
    }
    impl.started = true;
    return {};
}

std::uint16_t HttpServer::Port() const {
    return m_impl->port;
}

std::size_t HttpServer::MaxConnections() const {
    return m_impl->maxConnections;
}

void HttpServer::Stop() {
    Impl& impl = *m_impl;
    const std::lock_guard lock(impl.stopMutex);
    if (!impl.started || impl.stopped) {
        return;
    }
    impl.Shutdown();
    impl.stopped = true;
}

} // namespace morvane

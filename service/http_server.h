#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace morvane {

// Content-Type of every JSON reply.
inline constexpr std::string_view kJsonContentType = "application/json; charset=utf-8";

// One request as a handler sees it; the views live as long as the handler call.
struct HttpRequest {
    std::string_view method;  // "GET" or "HEAD"
    std::string_view target;  // as sent, for example "/path?key=value"
    std::string_view version; // "HTTP/1.0" or "HTTP/1.1"
};

// A handler's answer. For HEAD the server sends the header only, with the body's length.
struct HttpReply {
    int status = 200;
    std::string body;
    std::string_view contentType = kJsonContentType;
};

// Answers one request. Called on the server's worker threads, several at once, so it must be thread-safe;
// an exception it throws becomes a 500 reply.
using HttpHandler = std::function<HttpReply(const HttpRequest&)>;

// Receives finished lines of the request log ("\n"-terminated, possibly several at once), from any worker.
using HttpLogSink = std::function<void(std::string_view lines)>;

// Reports, once and from a worker, why the server stopped serving by itself (an event loop that failed).
using HttpFailureSink = std::function<void(std::string_view what)>;

// The system calls of the event loop, each replaceable so that tests can make it fail; an empty one is the real
// call. Called from the worker threads.
struct HttpSystemCalls {
    std::function<int(int epollFd, epoll_event* events, int maxEvents, int timeoutMs)> epollWait{};
    std::function<int(int epollFd, int operation, int fd, epoll_event* event)> epollCtl{};
    std::function<int(int listenFd, sockaddr* address, socklen_t* length, int flags)> accept{};
};

// Most connections served at once unless told otherwise.
inline constexpr std::size_t kDefaultMaxConnections = 1024;

struct HttpServerOptions {
    std::string host = "127.0.0.1"; // numeric IPv4 or IPv6 address
    std::uint16_t port = 0;         // 0 lets the system choose; Port() tells which
    int threads = 2;                // worker threads, each with its own epoll loop
    std::size_t maxHeaderBytes = 8192;
    // More connections wait in the listening queue until one closes. Lowered at Start() to what the descriptor
    // limit allows, so that a flood of clients cannot take every descriptor; MaxConnections() tells the result.
    std::size_t maxConnections = kDefaultMaxConnections;
    // A request whose header has not arrived in full this long after its first byte (an empty line ahead of it
    // included) is dropped, so a client that trickles bytes holds a connection for a bounded time only. A new
    // connection that sends nothing is dropped after this too.
    std::chrono::milliseconds headerTimeout{10'000};
    // A keep-alive connection is closed this long after its last reply was sent, and one whose client does not
    // read its reply this long after the reply last moved. Bytes that start no complete request never renew it:
    // they start the header's clock instead.
    std::chrono::milliseconds idleTimeout{60'000};
    // One line per request: time, peer, request line, status, body bytes and latency (from the worker's wake-up
    // with the request's last bytes to its reply being queued). Empty for no log. Called from the workers; it
    // must not block, or serving waits for it.
    HttpLogSink log{};
    HttpFailureSink onFailure{};
    HttpSystemCalls systemCalls{};
};

// A small HTTP/1.0 and HTTP/1.1 server over POSIX sockets and epoll: non-blocking sockets, a fixed set of
// worker threads, each owning the connections handed to it round-robin by the first worker, which also
// accepts. Keep-alive for HTTP/1.1 (and for HTTP/1.0 when asked), pipelined requests answered in order,
// GET and HEAD only, no request bodies. Oversized headers get 431, malformed requests 400, and both close the
// connection; no request bytes can crash it. A worker whose event loop fails stops the whole server and says
// why through onFailure, rather than leave its connections unanswered. Usage:
//
//     HttpServer server(HttpServerOptions{.port = 0}, [](const HttpRequest& r) { return HttpReply{...}; });
//     if (std::string error = server.Start(); !error.empty()) { ... }
//     ... server.Port() ...
//     server.Stop(); // or let the destructor do it
class HttpServer {
public:
    HttpServer(HttpServerOptions options, HttpHandler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds, listens and starts the workers. Returns an empty text on success, otherwise what failed.
    std::string Start();

    // The port listened on, once Start() has succeeded.
    std::uint16_t Port() const;

    // The most connections served at once, once Start() has succeeded: the option, or less when the
    // descriptor limit is lower.
    std::size_t MaxConnections() const;

    // Stops accepting, closes every connection and joins every worker. Idempotent; safe from any thread but
    // a worker's own (that is, not from inside the handler or the log sink).
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The reason phrase of an HTTP status code ("OK", "Not Found"); "Unknown" for codes the server never sends.
std::string_view HttpReasonPhrase(int status);

} // namespace morvane

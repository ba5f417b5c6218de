#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

struct HttpServerOptions {
    std::string host = "127.0.0.1"; // numeric IPv4 or IPv6 address
    std::uint16_t port = 0;         // 0 lets the system choose; Port() tells which
    int threads = 2;                // worker threads, each with its own epoll loop
    std::size_t maxHeaderBytes = 8192;
    // A request whose header has not arrived in full this long after its first byte is dropped, so a client
    // that trickles bytes holds a connection for a bounded time only.
    std::chrono::milliseconds headerTimeout{10'000};
    // A keep-alive connection with no request, or a reply the client does not read, is closed after this.
    std::chrono::milliseconds idleTimeout{60'000};
    // One line per request: time, peer, request line, status, body bytes and latency (from the worker's wake-up
    // with the request's last bytes to its reply being queued). Empty for no log.
    HttpLogSink log{};
};

// A small HTTP/1.0 and HTTP/1.1 server over POSIX sockets and epoll: non-blocking sockets, a fixed set of
// worker threads, each owning the connections handed to it round-robin by the first worker, which also
// accepts. Keep-alive for HTTP/1.1 (and for HTTP/1.0 when asked), pipelined requests answered in order,
// GET and HEAD only, no request bodies. Oversized headers get 431, malformed requests 400, and both close the
// connection; no request bytes can crash it. Usage:
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

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::test {

// One request as the server received it.
struct RecordedRequest {
    std::string raw;     // every byte up to and including the blank line that ends the header
    std::string method;  // "GET"
    std::string target;  // the request target, as sent
    std::string version; // "HTTP/1.0"
};

// How the server answers one request.
struct ScriptedReply {
    enum class Kind {
        Complete, // status line, Content-Length, the whole body, then close
        BreakOff, // announces Content-Length of body.size() + 1000, sends body, then closes
        Silent,   // reads the request, then never answers (until the client leaves, a drop or the server stops)
        Drip,     // sends the header, then the body one byte per dripInterval
        Large,    // a body of largeSize bytes of 'x', streamed
        Reset,    // announces Content-Length of body.size(), sends the first half of body, then resets the
                  // connection (RST, no FIN) once the client has received what was sent
    };
    Kind kind = Kind::Complete;
    int status = 200;
    std::string body{};
    std::string contentType = "text/html; charset=utf-8";
    std::chrono::milliseconds dripInterval{1};
    std::size_t largeSize = std::size_t{50} << 20U;
    std::vector<std::string> headers{}; // further header lines without CR LF, e.g. "Location: /elsewhere"
    bool announceLength = true;         // false: no Content-Length; the end of the connection ends the body
};

// A loopback HTTP server on 127.0.0.1 with a port of the system's choosing. It answers each request with what
// its handler returns for it (by default 200 with the body {"success":"0"}) and records every request. One
// request per connection, which is closed after the reply; a request is recorded before its handler runs, so
// WaitForRequests returns once the request is in. Connections are served on threads of its own; a client that
// leaves mid-reply only ends its own connection. The destructor ends silent and dripping connections and joins
// every thread. Usage:
//
//     ScriptedServer server;
//     server.SetHandler([](const RecordedRequest&) { return ScriptedReply{.body = R"({"success":"1"})"}; });
//     HttpGet(server.BaseUrl() + "/x");
//     EXPECT_EQ(server.Requests().at(0).target, "/x");
class ScriptedServer {
public:
    using Handler = std::function<ScriptedReply(const RecordedRequest&)>;

    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // "http://127.0.0.1:<port>"
    std::string BaseUrl() const;
    std::uint16_t Port() const { return m_port; }

    // Answers every later request with handler's reply (called on a connection thread).
    void SetHandler(Handler handler);
    // Answers every later request with reply.
    void AnswerAll(ScriptedReply reply);

    // The requests received so far, in arrival order.
    std::vector<RecordedRequest> Requests() const;

    // Blocks until at least count requests have arrived; false if timeout passes first (a safety net for a
    // broken test, not a way to wait for time).
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // Ends every connection open now (silent, dripping or still being answered), as if the server had gone
    // away; later connections are served as usual.
    void DropOpenConnections();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::uint16_t m_port = 0;
};

// The value of key in a recorded request's query, percent-decoded: the seed (UTF-8) for "word", the region
// for "area_id". Empty when the query has no such key.
std::string QueryValue(const RecordedRequest& request, std::string_view key);

// A reply of the recommendation service (UTF-8 JSON, success "1") that lists words in order.
ScriptedReply WordsReply(const std::vector<std::string>& words);

} // namespace morvane::test

#pragma once

// The inside of HttpServer: what its workers share, and one worker's event loop with the connections it owns.

#include "service/http_request_parser.h"
#include "service/http_server.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace morvane {

class HttpWorker;

// What the workers share: set up by Start() before they run, read-only while they run, except the atomics.
struct HttpServerCore {
    HttpServerOptions options;
    HttpHandler handler;
    int listenFd = -1;
    std::uint16_t port = 0;
    std::size_t maxConnections = 1; // the option, lowered to what the descriptor limit allows
    std::vector<std::unique_ptr<HttpWorker>> workers;
    std::vector<std::thread> threads;
    std::atomic<bool> stopping{false};
    std::atomic<bool> failed{false};
    std::atomic<std::size_t> connections{0}; // accepted and not yet closed, over every worker
    std::mutex stopMutex;
    bool started = false;
    bool stopped = false;

    // The system calls, through options.systemCalls when it replaces them.
    int EpollWait(int epollFd, epoll_event* events, int maxEvents, int timeoutMs) const;
    int EpollCtl(int epollFd, int operation, int fd, epoll_event* event) const;
    int Accept(int fd, sockaddr* address, socklen_t* length, int flags) const;

    // Counts one connection less; wakes the accepting worker when that makes room under the cap.
    void ConnectionClosed();

    // Makes every worker leave its loop, closing its connections, and reports why, once.
    void Fail(const char* what, int error) noexcept;

    // Stops and joins every worker and closes the listening socket.
    void Shutdown();
};

using HttpClock = std::chrono::steady_clock;

// One client connection, owned by one worker.
struct HttpConnection {
    int fd = -1;
    std::size_t slot = 0; // position in the worker's list
    std::string peer;     // "address:port", kept only when requests are logged
    std::string input;    // bytes of requests not answered yet, empty lines ahead of the next one included
    std::size_t resumeAt = 0;
    std::string output;
    std::size_t sent = 0;
    std::uint32_t watched = EPOLLIN;
    bool closeAfterReply = false;
    bool lingering = false;
    bool servedAny = false;
    // First byte of the pending request (or the connection's start, the previous request's answer, or the start
    // of lingering): the header's clock.
    HttpClock::time_point requestStart;
    // When a reply was last queued, moved or finished: the idle clock.
    HttpClock::time_point lastProgress;
};

// A connection accepted by the first worker for another one.
struct HttpHandoff {
    int fd = -1;
    sockaddr_storage address{};
};

// One epoll loop and the connections it owns. Worker 0 also accepts, and deals new connections out in turn.
class HttpWorker {
public:
    HttpWorker(HttpServerCore& server, std::size_t index) : m_server(server), m_index(index) {}
    ~HttpWorker();
    HttpWorker(const HttpWorker&) = delete;
    HttpWorker& operator=(const HttpWorker&) = delete;

    // Creates the event loop; an empty text on success, otherwise what failed.
    std::string Init();

    // Called by the accepting worker: queues a new connection for this worker and wakes it. May throw
    // std::bad_alloc, and then the connection is not taken.
    void HandOff(const HttpHandoff& handoff);

    // Makes the loop look round at once (new connections, room under the cap, stopping).
    void Wake() const;

    // The loop, until the server stops; closes every connection of this worker on the way out.
    void Run();

private:
    static constexpr int kMaxEvents = 128;
    static constexpr std::size_t kReadChunk = std::size_t{16} * 1024;

    void RunPass(const std::array<epoll_event, kMaxEvents>& events, int count);
    void AcceptConnections(HttpClock::time_point now);
    void RefusePendingConnection();
    void PauseAccepting();
    void ResumeAcceptingWhenRoom();
    void Dispatch(const HttpHandoff& handoff, HttpClock::time_point now);
    void AdoptHandoffs(HttpClock::time_point now);
    void AddConnection(const HttpHandoff& handoff, HttpClock::time_point now);
    void Drop(int fd);
    void HandleEvent(HttpConnection& connection, std::uint32_t events, HttpClock::time_point now);
    void Receive(HttpConnection& connection, HttpClock::time_point now);
    bool Serve(HttpConnection& connection, HttpClock::time_point now);
    bool AnswerRequests(HttpConnection& connection, HttpClock::time_point now);
    void Answer(HttpConnection& connection, const RequestHead& head, HttpClock::time_point now);
    bool Flush(HttpConnection& connection, HttpClock::time_point now);
    bool Watch(HttpConnection& connection, std::uint32_t events);
    void Close(HttpConnection& connection);
    void Sweep(HttpClock::time_point now);
    void RefreshClock();
    void FlushLog();

    HttpServerCore& m_server;
    std::size_t m_index;
    int m_epollFd = -1;
    int m_wakeFd = -1;
    int m_reserveFd = -1;
    bool m_acceptPaused = false;
    std::size_t m_nextWorker = 0;
    std::chrono::milliseconds m_tick{1000};
    HttpClock::time_point m_lastSweep;
    std::mutex m_handoffMutex;
    std::vector<HttpHandoff> m_handoffs;
    std::vector<std::unique_ptr<HttpConnection>> m_connections;
    std::array<char, kReadChunk> m_readBuffer{};
    std::string m_logBuffer;
    std::time_t m_clockSecond = -1;
    std::string m_httpDate;
    std::string m_logTime;
};

} // namespace morvane

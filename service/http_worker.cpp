#include "service/http_worker.h"

#include "service/error_text.h"
#include "service/http_message_text.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <sys/eventfd.h>
#include <unistd.h>

namespace morvane {
namespace {

// Input buffer kept between requests; one that grew larger (a long header) is released once empty.
constexpr std::size_t kRetainedInputBytes = 4096;
// Pipelined requests are answered only while this much output is waiting; the rest waits until the client
// reads, so a client that sends without reading cannot grow the server's memory.
constexpr std::size_t kMaxPendingOutput = std::size_t{64} * 1024;
// After an error reply the server stops sending and reads (and drops) what the client still sends, for at
// most this long, so the reply is not destroyed by a reset.
constexpr std::chrono::milliseconds kLingerTimeout{2000};
constexpr int kMaxAcceptsPerWakeup = 64;

// Tags that tell epoll events of the listening socket and of a worker's wake-up descriptor from connections.
char g_listenTag;
char g_wakeTag;

} // namespace

HttpWorker::~HttpWorker() {
    for (const HttpHandoff& handoff : m_handoffs) {
        close(handoff.fd);
    }
    for (const int fd : {m_epollFd, m_wakeFd, m_reserveFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::string HttpWorker::Init() {
    m_epollFd = epoll_create1(EPOLL_CLOEXEC);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_epollFd < 0 || m_wakeFd < 0) {
        return std::string("cannot create an event loop: ") + ErrorText(errno);
    }
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.ptr = &g_wakeTag;
    if (m_server.EpollCtl(m_epollFd, EPOLL_CTL_ADD, m_wakeFd, &wake) != 0) {
        return std::string("cannot create an event loop: ") + ErrorText(errno);
    }
    if (m_index == 0) {
        epoll_event listen{};
        listen.events = EPOLLIN;
        listen.data.ptr = &g_listenTag;
        if (m_server.EpollCtl(m_epollFd, EPOLL_CTL_ADD, m_server.listenFd, &listen) != 0) {
            return std::string("cannot watch the listening socket: ") + ErrorText(errno);
        }
        // Held in reserve so that, out of descriptors, a pending connection can still be accepted and closed
        // instead of waking the loop forever.
        m_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    const auto shortest = std::min(m_server.options.headerTimeout, m_server.options.idleTimeout);
    m_tick = std::clamp(shortest / 4, std::chrono::milliseconds(1), std::chrono::milliseconds(1000));
    return {};
}

void HttpWorker::HandOff(const HttpHandoff& handoff) {
    {
        const std::lock_guard lock(m_handoffMutex);
        m_handoffs.push_back(handoff);
    }
    Wake();
}

void HttpWorker::Wake() const {
    const std::uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost when this write fails.
    [[maybe_unused]] const ssize_t ignored = write(m_wakeFd, &one, sizeof one);
}

void HttpWorker::Run() {
    std::array<epoll_event, kMaxEvents> events{};
    m_lastSweep = HttpClock::now();
    while (!m_server.stopping.load(std::memory_order_acquire)) {
        const int count = m_server.EpollWait(m_epollFd, events.data(), kMaxEvents, static_cast<int>(m_tick.count()));
        if (count < 0 && errno != EINTR) {
            // Every failure of epoll_wait is lasting; this worker's connections would never be served again.
            m_server.Fail("waiting for events failed", errno);
            break;
        }
        try {
            RunPass(events, std::max(count, 0));
        } catch (const std::exception&) {
            // Out of memory outside any one connection (each connection's own failures are handled where they
            // happen): leave the rest of this pass, the next may find memory again.
        }
    }
    while (!m_connections.empty()) {
        Close(*m_connections.back());
    }
}

void HttpWorker::RunPass(const std::array<epoll_event, kMaxEvents>& events, int count) {
    const HttpClock::time_point now = HttpClock::now();
    RefreshClock();
    for (int i = 0; i < count; ++i) {
        const epoll_event& event = events[static_cast<std::size_t>(i)];
        if (event.data.ptr == &g_listenTag) {
            AcceptConnections(now);
        } else if (event.data.ptr == &g_wakeTag) {
            std::uint64_t counter = 0;
            [[maybe_unused]] const ssize_t ignored = read(m_wakeFd, &counter, sizeof counter);
            AdoptHandoffs(now);
        } else {
            HandleEvent(*static_cast<HttpConnection*>(event.data.ptr), event.events, now);
        }
    }
    if (m_index == 0) {
        ResumeAcceptingWhenRoom();
    }
    FlushLog();
    if (now - m_lastSweep >= m_tick) {
        Sweep(now);
        m_lastSweep = now;
    }
}

void HttpWorker::AcceptConnections(HttpClock::time_point now) {
    for (int accepted = 0; accepted < kMaxAcceptsPerWakeup; ++accepted) {
        if (m_server.connections.load(std::memory_order_acquire) >= m_server.maxConnections) {
            PauseAccepting();
            return;
        }
        HttpHandoff handoff{};
        socklen_t length = sizeof handoff.address;
        handoff.fd = m_server.Accept(m_server.listenFd, reinterpret_cast<sockaddr*>(&handoff.address), &length,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (handoff.fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE) {
                RefusePendingConnection();
            }
            return;
        }
        m_server.connections.fetch_add(1, std::memory_order_acq_rel);
        const int noDelay = 1;
        setsockopt(handoff.fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        Dispatch(handoff, now);
    }
}

// Accepts one waiting connection and closes it at once, using the descriptor held in reserve when the process
// has none left.
void HttpWorker::RefusePendingConnection() {
    if (m_reserveFd >= 0) {
        close(m_reserveFd);
        m_reserveFd = -1;
    }
    const int refused = m_server.Accept(m_server.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (refused >= 0) {
        close(refused);
    }
    m_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// At the cap: stop watching the listening socket, so that further clients wait in its queue (the kernel's
// backlog) rather than take descriptors, until a connection closes.
void HttpWorker::PauseAccepting() {
    if (m_acceptPaused) {
        return;
    }
    epoll_event listen{};
    listen.events = 0;
    listen.data.ptr = &g_listenTag;
    if (m_server.EpollCtl(m_epollFd, EPOLL_CTL_MOD, m_server.listenFd, &listen) == 0) {
        m_acceptPaused = true;
        return;
    }
    // Still watched, the socket would wake this loop again and again: turn the waiting client away instead.
    RefusePendingConnection();
}

void HttpWorker::ResumeAcceptingWhenRoom() {
    if (!m_acceptPaused || m_server.connections.load(std::memory_order_acquire) >= m_server.maxConnections) {
        return;
    }
    epoll_event listen{};
    listen.events = EPOLLIN;
    listen.data.ptr = &g_listenTag;
    // On failure it stays paused and is tried again on the next pass, at most a tick later.
    if (m_server.EpollCtl(m_epollFd, EPOLL_CTL_MOD, m_server.listenFd, &listen) == 0) {
        m_acceptPaused = false;
    }
}

void HttpWorker::Dispatch(const HttpHandoff& handoff, HttpClock::time_point now) {
    HttpWorker& target = *m_server.workers[m_nextWorker];
    m_nextWorker = (m_nextWorker + 1) % m_server.workers.size();
    if (&target == this) {
        AddConnection(handoff, now);
        return;
    }
    try {
        target.HandOff(handoff);
    } catch (const std::bad_alloc&) {
        Drop(handoff.fd);
    }
}

void HttpWorker::AdoptHandoffs(HttpClock::time_point now) {
    std::vector<HttpHandoff> handoffs;
    {
        const std::lock_guard lock(m_handoffMutex);
        handoffs.swap(m_handoffs);
    }
    for (const HttpHandoff& handoff : handoffs) {
        AddConnection(handoff, now);
    }
}

void HttpWorker::AddConnection(const HttpHandoff& handoff, HttpClock::time_point now) {
    try {
        auto connection = std::make_unique<HttpConnection>();
        connection->fd = handoff.fd;
        connection->slot = m_connections.size();
        connection->requestStart = now;
        connection->lastProgress = now;
        if (m_server.options.log) {
            connection->peer = FormatPeer(handoff.address);
        }
        // Room first, so that nothing can fail once the descriptor is watched.
        m_connections.reserve(m_connections.size() + 1);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = connection.get();
        if (m_server.EpollCtl(m_epollFd, EPOLL_CTL_ADD, handoff.fd, &event) != 0) {
            Drop(handoff.fd);
            return;
        }
        m_connections.push_back(std::move(connection));
    } catch (const std::bad_alloc&) {
        Drop(handoff.fd);
    }
}

void HttpWorker::Drop(int fd) {
    close(fd);
    m_server.ConnectionClosed();
}

void HttpWorker::HandleEvent(HttpConnection& connection, std::uint32_t events, HttpClock::time_point now) {
    try {
        if ((events & EPOLLERR) != 0U) {
            Close(connection);
            return;
        }
        if ((events & EPOLLOUT) != 0U && !Serve(connection, now)) {
            return;
        }
        if ((events & (EPOLLIN | EPOLLHUP)) != 0U && (connection.watched & EPOLLIN) != 0U) {
            Receive(connection, now);
        }
    } catch (const std::exception&) {
        // Out of memory while serving one client: drop that client, keep serving the others.
        Close(connection);
    }
}

void HttpWorker::Receive(HttpConnection& connection, HttpClock::time_point now) {
    const ssize_t got = recv(connection.fd, m_readBuffer.data(), m_readBuffer.size(), 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (got <= 0) {
        Close(connection);
        return;
    }
    if (connection.lingering) {
        return;
    }
    // The header's clock starts with the first byte after the previous request, an empty line's included, and
    // no later byte restarts it: bytes that do not finish a request renew nothing.
    if (connection.input.empty()) {
        connection.requestStart = now;
    }
    connection.input.append(m_readBuffer.data(), static_cast<std::size_t>(got));
    Serve(connection, now);
}

// Answers the complete requests in the input and sends what it can; false when the connection was closed.
bool HttpWorker::Serve(HttpConnection& connection, HttpClock::time_point now) {
    for (;;) {
        const bool outputFull = AnswerRequests(connection, now);
        if (!Flush(connection, now)) {
            return false;
        }
        if (!outputFull || !connection.output.empty()) {
            return true;
        }
    }
}

// Appends a reply for every complete request in the input; true when it stopped because enough output is
// waiting.
bool HttpWorker::AnswerRequests(HttpConnection& connection, HttpClock::time_point now) {
    while (!connection.closeAfterReply && !connection.lingering) {
        if (connection.output.size() - connection.sent >= kMaxPendingOutput) {
            return true;
        }
        if (connection.input.empty()) {
            return false;
        }
        const RequestFrame frame = FrameRequest(connection.input, connection.resumeAt, m_server.options.maxHeaderBytes);
        if (frame.state == RequestFrame::State::Incomplete) {
            connection.resumeAt = frame.resumeAt;
            return false;
        }
        const std::string_view input(connection.input);
        RequestHead head;
        if (frame.state == RequestFrame::State::Refused) {
            head.requestLine = FirstLine(input.substr(frame.headStart));
            head.errorStatus = frame.errorStatus;
        } else {
            head = ParseRequestHead(input.substr(frame.headStart, frame.headEnd - frame.headStart));
        }
        Answer(connection, head, now);
        connection.input.erase(0, frame.state == RequestFrame::State::Complete ? frame.headEnd : input.size());
        connection.resumeAt = 0;
        connection.requestStart = now;
        connection.servedAny = true;
    }
    return false;
}

void HttpWorker::Answer(HttpConnection& connection, const RequestHead& head, HttpClock::time_point now) {
    HttpReply reply;
    bool keepAlive = head.keepAlive;
    bool failed = head.errorStatus != 0;
    if (failed) {
        reply.status = head.errorStatus;
    } else {
        try {
            reply = m_server.handler(HttpRequest{head.method, head.target, head.version});
        } catch (...) {
            reply = HttpReply{};
            reply.status = 500;
            failed = true;
        }
    }
    if (failed) {
        keepAlive = false;
        reply.body = std::string(HttpReasonPhrase(reply.status)) + "\n";
        reply.contentType = "text/plain; charset=utf-8";
    }
    connection.closeAfterReply = !keepAlive;
    AppendReplyHead(connection.output, reply.status, m_httpDate, reply.contentType, reply.body.size(), keepAlive);
    if (head.method != "HEAD") {
        connection.output += reply.body;
    }
    connection.lastProgress = now;
    if (m_server.options.log) {
        const auto latency = std::chrono::duration_cast<std::chrono::microseconds>(HttpClock::now() - now);
        AppendLogLine(m_logBuffer, m_logTime, connection.peer, head.requestLine, reply.status, reply.body.size(),
                      latency);
    }
}

// Sends pending output; false when the connection was closed.
bool HttpWorker::Flush(HttpConnection& connection, HttpClock::time_point now) {
    while (connection.sent < connection.output.size()) {
        const ssize_t sent = send(connection.fd, connection.output.data() + connection.sent,
                                  connection.output.size() - connection.sent, MSG_NOSIGNAL);
        if (sent > 0) {
            connection.sent += static_cast<std::size_t>(sent);
            connection.lastProgress = now;
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Watch(connection, EPOLLOUT);
        }
        Close(connection);
        return false;
    }
    connection.output.clear();
    connection.sent = 0;
    // A large request or a burst of pipelined ones should not pin its buffers for the connection's life.
    if (connection.output.capacity() > kMaxPendingOutput) {
        std::string().swap(connection.output);
    }
    if (connection.input.empty() && connection.input.capacity() > kRetainedInputBytes) {
        std::string().swap(connection.input);
    }
    if (connection.closeAfterReply && !connection.lingering) {
        shutdown(connection.fd, SHUT_WR);
        connection.lingering = true;
        connection.input.clear();
        connection.requestStart = now;
    }
    return Watch(connection, EPOLLIN);
}

// Watches the connection for events instead of the ones it was watched for; closes it and gives false when
// epoll refuses, since it would otherwise wait for an event that never comes.
bool HttpWorker::Watch(HttpConnection& connection, std::uint32_t events) {
    if (connection.watched == events) {
        return true;
    }
    epoll_event event{};
    event.events = events;
    event.data.ptr = &connection;
    if (m_server.EpollCtl(m_epollFd, EPOLL_CTL_MOD, connection.fd, &event) != 0) {
        Close(connection);
        return false;
    }
    connection.watched = events;
    return true;
}

void HttpWorker::Close(HttpConnection& connection) {
    close(connection.fd);
    const std::size_t slot = connection.slot;
    if (slot + 1 != m_connections.size()) {
        m_connections[slot] = std::move(m_connections.back());
        m_connections[slot]->slot = slot;
    }
    m_connections.pop_back();
    m_server.ConnectionClosed();
}

// Closes connections whose time is up: a header that does not arrive, an idle keep-alive, a reply the client
// does not read, an error reply's lingering.
void HttpWorker::Sweep(HttpClock::time_point now) {
    const HttpServerOptions& options = m_server.options;
    for (std::size_t i = m_connections.size(); i > 0; --i) {
        HttpConnection& connection = *m_connections[i - 1];
        // Idle between requests, or waiting for the client to read a reply, unless a header or lingering is due.
        HttpClock::time_point deadline = connection.lastProgress + options.idleTimeout;
        if (connection.lingering) {
            deadline = connection.requestStart + kLingerTimeout;
        } else if (connection.output.empty() && (!connection.input.empty() || !connection.servedAny)) {
            deadline = connection.requestStart + options.headerTimeout;
        }
        if (now > deadline) {
            Close(connection);
        }
    }
}

void HttpWorker::RefreshClock() {
    const std::time_t second = std::time(nullptr);
    if (second == m_clockSecond) {
        return;
    }
    m_clockSecond = second;
    std::tm utc{};
    gmtime_r(&second, &utc);
    std::array<char, 64> text{};
    m_httpDate.assign(text.data(), std::strftime(text.data(), text.size(), "%a, %d %b %Y %H:%M:%S GMT", &utc));
    m_logTime.assign(text.data(), std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc));
}

void HttpWorker::FlushLog() {
    if (m_logBuffer.empty()) {
        return;
    }
    try {
        m_server.options.log(m_logBuffer);
    } catch (...) {
        // A log that cannot be written must not stop the serving.
    }
    m_logBuffer.clear();
}

} // namespace morvane

#include "service/http_server.h"

#include "service/error_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = std::size_t{16} * 1024;
// Input buffer kept between requests; one that grew larger (a long header) is released once empty.
constexpr std::size_t kRetainedInputBytes = 4096;
// Pipelined requests are answered only while this much output is waiting; the rest waits until the client
// reads, so a client that sends without reading cannot grow the server's memory.
constexpr std::size_t kMaxPendingOutput = std::size_t{64} * 1024;
// After an error reply the server stops sending and reads (and drops) what the client still sends, for at
// most this long, so the reply is not destroyed by a reset.
constexpr std::chrono::milliseconds kLingerTimeout{2000};
constexpr int kMaxEvents = 128;
constexpr int kMaxAcceptsPerWakeup = 64;
constexpr std::size_t kMaxLoggedRequestLine = 512;

// Tags that tell epoll events of the listening socket and of a worker's wake-up descriptor from connections.
char g_listenTag;
char g_wakeTag;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// What the header block of one request says, or the status to answer it with when it is unacceptable.
struct ParsedHeader {
    std::string_view requestLine;
    std::string_view method;
    std::string_view target;
    std::string_view version;
    bool keepAlive = false;
    int errorStatus = 0; // non-zero: answer with this status and close the connection
};

bool IsAcceptableTarget(std::string_view target) {
    const bool originForm = target.starts_with('/');
    const bool absoluteForm =
        EqualsIgnoringCase(target.substr(0, 7), "http://") || EqualsIgnoringCase(target.substr(0, 8), "https://");
    if (!originForm && !absoluteForm) {
        return false;
    }
    return std::none_of(target.begin(), target.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

// Reads the request line and the header fields that matter here: Connection, and those that announce a body.
ParsedHeader ParseHeader(std::string_view header) {
    ParsedHeader parsed;
    std::size_t lineEnd = header.find('\n');
    std::string_view line = header.substr(0, lineEnd);
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    parsed.requestLine = line;
    const std::size_t firstSpace = line.find(' ');
    const std::size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos || line.find(' ', secondSpace + 1) != std::string_view::npos) {
        parsed.errorStatus = 400;
        return parsed;
    }
    parsed.method = line.substr(0, firstSpace);
    parsed.target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    parsed.version = line.substr(secondSpace + 1);
    if (parsed.method.empty() || !IsAcceptableTarget(parsed.target)) {
        parsed.errorStatus = 400;
        return parsed;
    }
    if (parsed.version != "HTTP/1.1" && parsed.version != "HTTP/1.0") {
        parsed.errorStatus = parsed.version.starts_with("HTTP/") ? 505 : 400;
        return parsed;
    }

    bool closeAsked = false;
    bool keepAliveAsked = false;
    bool hasBody = false;
    while (lineEnd != std::string_view::npos) {
        const std::size_t start = lineEnd + 1;
        lineEnd = header.find('\n', start);
        line = header.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break;
        }
        const std::size_t colon = line.find(':');
        // Folded continuation lines are obsolete and a classic smuggling vector: refuse them.
        if (line.front() == ' ' || line.front() == '\t' || colon == std::string_view::npos || colon == 0) {
            parsed.errorStatus = 400;
            return parsed;
        }
        const std::string_view name = line.substr(0, colon);
        if (name.find_first_of(" \t") != std::string_view::npos) {
            parsed.errorStatus = 400;
            return parsed;
        }
        const std::string_view value = TrimBlanks(line.substr(colon + 1));
        if (EqualsIgnoringCase(name, "Connection")) {
            std::string_view rest = value;
            while (!rest.empty()) {
                const std::size_t comma = rest.find(',');
                const std::string_view token = TrimBlanks(rest.substr(0, comma));
                closeAsked = closeAsked || EqualsIgnoringCase(token, "close");
                keepAliveAsked = keepAliveAsked || EqualsIgnoringCase(token, "keep-alive");
                rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        } else if (EqualsIgnoringCase(name, "Content-Length")) {
            hasBody = hasBody || value != "0";
        } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
            hasBody = true;
        }
    }
    if (parsed.method != "GET" && parsed.method != "HEAD") {
        parsed.errorStatus = 405;
        return parsed;
    }
    // This server reads no request bodies; answering one and reading on would take the body for a request.
    if (hasBody) {
        parsed.errorStatus = 400;
        return parsed;
    }
    parsed.keepAlive = parsed.version == "HTTP/1.1" ? !closeAsked : (keepAliveAsked && !closeAsked);
    return parsed;
}

// The index just past the blank line that ends the header ("\n\n" or "\n\r\n"), searching from "from";
// npos when it has not arrived yet.
std::size_t FindHeaderEnd(std::string_view input, std::size_t from) {
    std::size_t at = input.find('\n', from);
    while (at != std::string_view::npos) {
        if (at + 1 < input.size() && input[at + 1] == '\n') {
            return at + 2;
        }
        if (at + 2 < input.size() && input[at + 1] == '\r' && input[at + 2] == '\n') {
            return at + 3;
        }
        at = input.find('\n', at + 1);
    }
    return std::string_view::npos;
}

void AppendNumber(std::string& out, std::uint64_t value) {
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), result.ptr);
}

// The request line as it may appear in the log: bytes outside printable ASCII become \xHH, and a long one is cut.
void AppendSanitized(std::string& out, std::string_view text) {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    const bool cut = text.size() > kMaxLoggedRequestLine;
    for (const char c : text.substr(0, kMaxLoggedRequestLine)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || c == '"' || c == '\\') {
            out += "\\x";
            out += kHex[byte >> 4U];
            out += kHex[byte & 0x0FU];
        } else {
            out += c;
        }
    }
    if (cut) {
        out += "...";
    }
}

struct Connection {
    int fd = -1;
    std::size_t slot = 0; // position in the worker's list
    std::string peer;     // "address:port", kept only when requests are logged
    std::string input;
    std::size_t scanned = 0; // bytes of input already searched for the end of the header
    std::string output;
    std::size_t sent = 0;
    std::uint32_t watched = EPOLLIN;
    bool closeAfterReply = false;
    bool lingering = false;
    bool servedAny = false;
    Clock::time_point requestStart; // first byte of the pending request (or accept, or start of lingering)
    Clock::time_point lastActivity;
};

struct Handoff {
    int fd;
    sockaddr_storage address;
};

std::string FormatPeer(const sockaddr_storage& address) {
    std::array<char, INET6_ADDRSTRLEN> host{};
    std::array<char, INET6_ADDRSTRLEN + 16> peer{};
    if (address.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &address, sizeof v4);
        inet_ntop(AF_INET, &v4.sin_addr, host.data(), host.size());
        std::snprintf(peer.data(), peer.size(), "%s:%u", host.data(), unsigned{ntohs(v4.sin_port)});
    } else if (address.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &address, sizeof v6);
        inet_ntop(AF_INET6, &v6.sin6_addr, host.data(), host.size());
        std::snprintf(peer.data(), peer.size(), "[%s]:%u", host.data(), unsigned{ntohs(v6.sin6_port)});
    } else {
        peer[0] = '-';
    }
    return peer.data();
}

} // namespace

std::string_view HttpReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

namespace {

class Worker;

// What the workers share: set up by Start() before they run, read-only while they run, except the stop flag.
struct ServerCore {
    HttpServerOptions options;
    HttpHandler handler;
    int listenFd = -1;
    std::uint16_t port = 0;
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<std::thread> threads;
    std::atomic<bool> stopping{false};
    std::mutex stopMutex;
    bool started = false;
    bool stopped = false;

    void Shutdown();
};

} // namespace

struct HttpServer::Impl : ServerCore {};

namespace {

// One epoll loop and the connections it owns. Worker 0 also accepts and deals new connections out in turn.
class Worker {
public:
    Worker(ServerCore& server, std::size_t index) : m_server(server), m_index(index) {}
    ~Worker() {
        for (const Handoff& handoff : m_handoffs) {
            close(handoff.fd);
        }
        for (const int fd : {m_epollFd, m_wakeFd, m_reserveFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    std::string Init() {
        m_epollFd = epoll_create1(EPOLL_CLOEXEC);
        m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_epollFd < 0 || m_wakeFd < 0) {
            return std::string("cannot create an event loop: ") + ErrorText(errno);
        }
        epoll_event wake{};
        wake.events = EPOLLIN;
        wake.data.ptr = &g_wakeTag;
        if (epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_wakeFd, &wake) != 0) {
            return std::string("cannot create an event loop: ") + ErrorText(errno);
        }
        if (m_index == 0) {
            epoll_event listen{};
            listen.events = EPOLLIN;
            listen.data.ptr = &g_listenTag;
            if (epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_server.listenFd, &listen) != 0) {
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

    // Called by the accepting worker: queues a new connection for this worker and wakes it.
    void HandOff(const Handoff& handoff) {
        {
            const std::lock_guard lock(m_handoffMutex);
            m_handoffs.push_back(handoff);
        }
        Wake();
    }

    void Wake() const {
        const std::uint64_t one = 1;
        // A full counter already means "wake up"; nothing is lost when this write fails.
        [[maybe_unused]] const ssize_t ignored = write(m_wakeFd, &one, sizeof one);
    }

    void Run() {
        std::array<epoll_event, kMaxEvents> events{};
        Clock::time_point lastSweep = Clock::now();
        while (!m_server.stopping.load(std::memory_order_acquire)) {
            const int count = epoll_wait(m_epollFd, events.data(), kMaxEvents, static_cast<int>(m_tick.count()));
            if (count < 0 && errno != EINTR) {
                break;
            }
            const Clock::time_point now = Clock::now();
            RefreshClock();
            for (int i = 0; i < count; ++i) {
                void* tag = events[static_cast<std::size_t>(i)].data.ptr;
                if (tag == &g_listenTag) {
                    AcceptConnections(now);
                } else if (tag == &g_wakeTag) {
                    std::uint64_t counter = 0;
                    [[maybe_unused]] const ssize_t ignored = read(m_wakeFd, &counter, sizeof counter);
                    AdoptHandoffs(now);
                } else {
                    HandleEvent(*static_cast<Connection*>(tag), events[static_cast<std::size_t>(i)].events, now);
                }
            }
            FlushLog();
            if (now - lastSweep >= m_tick) {
                Sweep(now);
                lastSweep = now;
            }
        }
        while (!m_connections.empty()) {
            Close(*m_connections.back());
        }
    }

private:
    void AcceptConnections(Clock::time_point now) {
        for (int accepted = 0; accepted < kMaxAcceptsPerWakeup; ++accepted) {
            Handoff handoff{};
            socklen_t length = sizeof handoff.address;
            handoff.fd = accept4(m_server.listenFd, reinterpret_cast<sockaddr*>(&handoff.address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (handoff.fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) {
                    continue;
                }
                if ((errno == EMFILE || errno == ENFILE) && m_reserveFd >= 0) {
                    close(m_reserveFd);
                    const int refused = accept(m_server.listenFd, nullptr, nullptr);
                    if (refused >= 0) {
                        close(refused);
                    }
                    m_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
                }
                return;
            }
            const int noDelay = 1;
            setsockopt(handoff.fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            Worker& target = *m_server.workers[m_nextWorker];
            m_nextWorker = (m_nextWorker + 1) % m_server.workers.size();
            if (&target == this) {
                AddConnection(handoff, now);
            } else {
                target.HandOff(handoff);
            }
        }
    }

    void AdoptHandoffs(Clock::time_point now) {
        std::vector<Handoff> handoffs;
        {
            const std::lock_guard lock(m_handoffMutex);
            handoffs.swap(m_handoffs);
        }
        for (const Handoff& handoff : handoffs) {
            AddConnection(handoff, now);
        }
    }

    void AddConnection(const Handoff& handoff, Clock::time_point now) {
        auto connection = std::make_unique<Connection>();
        connection->fd = handoff.fd;
        connection->slot = m_connections.size();
        connection->requestStart = now;
        connection->lastActivity = now;
        if (m_server.options.log) {
            connection->peer = FormatPeer(handoff.address);
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = connection.get();
        if (epoll_ctl(m_epollFd, EPOLL_CTL_ADD, handoff.fd, &event) != 0) {
            close(handoff.fd);
            return;
        }
        m_connections.push_back(std::move(connection));
    }

    void HandleEvent(Connection& connection, std::uint32_t events, Clock::time_point now) {
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

    void Receive(Connection& connection, Clock::time_point now) {
        const ssize_t got = recv(connection.fd, m_readBuffer.data(), m_readBuffer.size(), 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (got <= 0) {
            Close(connection);
            return;
        }
        connection.lastActivity = now;
        if (connection.lingering) {
            return;
        }
        if (connection.input.empty()) {
            connection.requestStart = now;
        }
        connection.input.append(m_readBuffer.data(), static_cast<std::size_t>(got));
        Serve(connection, now);
    }

    // Answers the complete requests in the input and sends what it can; false when the connection was closed.
    bool Serve(Connection& connection, Clock::time_point now) {
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
    bool AnswerRequests(Connection& connection, Clock::time_point now) {
        std::string& input = connection.input;
        while (!connection.closeAfterReply && !connection.lingering) {
            if (connection.output.size() - connection.sent >= kMaxPendingOutput) {
                return true;
            }
            // Empty lines before a request line are to be ignored.
            const std::size_t blank = input.find_first_not_of("\r\n");
            if (blank != 0) {
                input.erase(0, blank == std::string::npos ? input.size() : blank);
                connection.scanned = 0;
            }
            if (input.empty()) {
                return false;
            }
            const std::size_t end = FindHeaderEnd(input, connection.scanned);
            const std::size_t limit = m_server.options.maxHeaderBytes;
            if (end == std::string::npos && input.size() <= limit) {
                connection.scanned = input.size() >= 2 ? input.size() - 2 : 0;
                return false;
            }
            ParsedHeader parsed;
            if (end == std::string::npos || end > limit) {
                parsed.requestLine = std::string_view(input).substr(0, input.find('\n'));
                parsed.errorStatus = 431;
            } else {
                parsed = ParseHeader(std::string_view(input).substr(0, end));
            }
            Answer(connection, parsed, now);
            input.erase(0, std::min(end, input.size()));
            connection.scanned = 0;
            connection.requestStart = now;
            connection.servedAny = true;
        }
        return false;
    }

    void Answer(Connection& connection, const ParsedHeader& parsed, Clock::time_point now) {
        HttpReply reply;
        bool keepAlive = parsed.keepAlive;
        bool failed = parsed.errorStatus != 0;
        if (failed) {
            reply.status = parsed.errorStatus;
        } else {
            try {
                reply = m_server.handler(HttpRequest{parsed.method, parsed.target, parsed.version});
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

        std::string& out = connection.output;
        out += "HTTP/1.1 ";
        AppendNumber(out, static_cast<std::uint64_t>(reply.status));
        out += ' ';
        out += HttpReasonPhrase(reply.status);
        out += "\r\nServer: morvane-recomd\r\nDate: ";
        out += m_httpDate;
        out += "\r\nContent-Type: ";
        out += reply.contentType;
        out += "\r\nContent-Length: ";
        AppendNumber(out, reply.body.size());
        out += keepAlive ? "\r\nConnection: keep-alive" : "\r\nConnection: close";
        if (reply.status == 405) {
            out += "\r\nAllow: GET, HEAD";
        }
        out += "\r\n\r\n";
        if (parsed.method != "HEAD") {
            out += reply.body;
        }

        if (m_server.options.log) {
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - now).count();
            std::string& log = m_logBuffer;
            log += m_logTime;
            log += ' ';
            log += connection.peer;
            log += " \"";
            AppendSanitized(log, parsed.requestLine);
            log += "\" ";
            AppendNumber(log, static_cast<std::uint64_t>(reply.status));
            log += ' ';
            AppendNumber(log, reply.body.size());
            log += ' ';
            AppendNumber(log, static_cast<std::uint64_t>(micros / 1000));
            log += '.';
            const auto fraction = static_cast<std::uint64_t>(micros % 1000);
            log += static_cast<char>('0' + fraction / 100);
            log += static_cast<char>('0' + fraction / 10 % 10);
            log += static_cast<char>('0' + fraction % 10);
            log += "ms\n";
        }
    }

    // Sends pending output; false when the connection was closed.
    bool Flush(Connection& connection, Clock::time_point now) {
        while (connection.sent < connection.output.size()) {
            const ssize_t sent = send(connection.fd, connection.output.data() + connection.sent,
                                      connection.output.size() - connection.sent, MSG_NOSIGNAL);
            if (sent > 0) {
                connection.sent += static_cast<std::size_t>(sent);
                connection.lastActivity = now;
                continue;
            }
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                Watch(connection, EPOLLOUT);
                return true;
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
        Watch(connection, EPOLLIN);
        return true;
    }

    void Watch(Connection& connection, std::uint32_t events) const {
        if (connection.watched == events) {
            return;
        }
        epoll_event event{};
        event.events = events;
        event.data.ptr = &connection;
        epoll_ctl(m_epollFd, EPOLL_CTL_MOD, connection.fd, &event);
        connection.watched = events;
    }

    void Close(Connection& connection) {
        close(connection.fd);
        const std::size_t slot = connection.slot;
        if (slot + 1 != m_connections.size()) {
            m_connections[slot] = std::move(m_connections.back());
            m_connections[slot]->slot = slot;
        }
        m_connections.pop_back();
    }

    // Closes connections whose time is up: a header that does not arrive, an idle keep-alive, a reply the
    // client does not read, an error reply's lingering.
    void Sweep(Clock::time_point now) {
        const HttpServerOptions& options = m_server.options;
        for (std::size_t i = m_connections.size(); i > 0; --i) {
            Connection& connection = *m_connections[i - 1];
            const bool awaitingHeader = !connection.lingering && connection.output.empty() &&
                                        (!connection.input.empty() || !connection.servedAny);
            bool expired = false;
            if (connection.lingering) {
                expired = now - connection.requestStart > kLingerTimeout;
            } else if (awaitingHeader) {
                expired = now - connection.requestStart > options.headerTimeout;
            } else {
                // Idle between requests, or waiting for the client to read the reply.
                expired = now - connection.lastActivity > options.idleTimeout;
            }
            if (expired) {
                Close(connection);
            }
        }
    }

    void RefreshClock() {
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

    void FlushLog() {
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

    ServerCore& m_server;
    std::size_t m_index;
    int m_epollFd = -1;
    int m_wakeFd = -1;
    int m_reserveFd = -1;
    std::size_t m_nextWorker = 0;
    std::chrono::milliseconds m_tick{1000};
    std::mutex m_handoffMutex;
    std::vector<Handoff> m_handoffs;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::array<char, kReadChunk> m_readBuffer{};
    std::string m_logBuffer;
    std::time_t m_clockSecond = -1;
    std::string m_httpDate;
    std::string m_logTime;
};

} // namespace

void ServerCore::Shutdown() {
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
    for (std::size_t i = 0; i < workerCount; ++i) {
        impl.workers.push_back(std::make_unique<Worker>(impl, i));
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

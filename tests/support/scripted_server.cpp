#include "tests/support/scripted_server.h"

#include "mining/text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <linux/sockios.h>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace morvane::test {

namespace {

// A request header longer than this ends its connection unanswered.
constexpr std::size_t kMaxHeaderBytes = std::size_t{64} << 10U;
// Size of the pieces in which a large body is sent.
constexpr std::size_t kStreamChunk = std::size_t{64} << 10U;
// Size announced beyond the body by a reply that breaks off.
constexpr std::size_t kBreakOffShortfall = 1000;

constexpr std::string_view kHeaderEnd = "\r\n\r\n";

ScriptedReply DefaultReply() {
    ScriptedReply reply;
    reply.body = R"({"success":"0"})";
    return reply;
}

std::string_view ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

std::string ReplyHeader(const ScriptedReply& reply, std::size_t contentLength) {
    std::string header = "HTTP/1.0 " + std::to_string(reply.status) + " ";
    header += ReasonPhrase(reply.status);
    header += "\r\n";
    if (!reply.contentType.empty()) {
        header += "Content-Type: " + reply.contentType + "\r\n";
    }
    if (reply.announceLength) {
        header += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    }
    for (const std::string& line : reply.headers) {
        header += line + "\r\n";
    }
    header += "\r\n";
    return header;
}

RecordedRequest ParseRequest(std::string raw) {
    RecordedRequest request;
    const std::string_view line = std::string_view(raw).substr(0, raw.find("\r\n"));
    const std::size_t firstSpace = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (firstSpace != std::string_view::npos && lastSpace > firstSpace) {
        request.method = line.substr(0, firstSpace);
        request.target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
        request.version = line.substr(lastSpace + 1);
    } else {
        request.method = line;
    }
    request.raw = std::move(raw);
    return request;
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

struct ScriptedServer::Impl {
    struct Connection {
        int fd = -1; // -1 once the connection thread has closed it
        std::thread thread;
        bool finished = false;
    };

    // What ended a wait on a socket.
    enum class Wake { Ready, Stopped, TimedOut };

    Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    Impl(Impl&&) = delete;
    Impl& operator=(Impl&&) = delete;
    ~Impl();

    Wake WaitOn(int fd, short events, int timeoutMs) const;
    bool ReadRequest(int fd, std::string& raw) const;
    bool SendAll(int fd, std::string_view bytes) const;
    bool ClientGone(int fd, int timeoutMs) const;
    void Answer(int fd, const ScriptedReply& reply) const;
    void Serve(int fd);
    void AcceptLoop();

    int listenFd = -1;
    // Written once by the destructor and never drained, so that every wait sees it from then on.
    std::array<int, 2> stopPipe{-1, -1};
    std::uint16_t port = 0;
    std::thread acceptThread;

    mutable std::mutex mutex;
    mutable std::condition_variable requestArrived;
    std::vector<RecordedRequest> requests;
    Handler handler = [](const RecordedRequest&) { return DefaultReply(); };
    // Changed in structure only by the accept thread; fd and finished under mutex.
    std::list<Connection> connections;
};

ScriptedServer::Impl::Impl() {
    if (pipe(stopPipe.data()) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t length = sizeof address;
    if (listenFd < 0 || !SetNonBlocking(listenFd) ||
        bind(listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd, SOMAXCONN) != 0 ||
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        if (listenFd >= 0) {
            close(listenFd);
        }
        close(stopPipe[0]);
        close(stopPipe[1]);
        throw std::system_error(error, std::generic_category(), "listening on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    acceptThread = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::Impl::~Impl() {
    const char stop = 1;
    while (write(stopPipe[1], &stop, 1) < 0 && errno == EINTR) {
    }
    acceptThread.join();
    // The accept thread is gone, so the list no longer changes; each connection thread ends at the stop signal.
    for (Connection& connection : connections) {
        connection.thread.join();
    }
    close(listenFd);
    close(stopPipe[0]);
    close(stopPipe[1]);
}

ScriptedServer::Impl::Wake ScriptedServer::Impl::WaitOn(int fd, short events, int timeoutMs) const {
    std::array<pollfd, 2> fds{{{fd, events, 0}, {stopPipe[0], POLLIN, 0}}};
    for (;;) {
        const int ready = poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || fds[1].revents != 0) {
            return Wake::Stopped;
        }
        // An error or hang-up counts as ready: the next recv or send reports it.
        return ready == 0 ? Wake::TimedOut : Wake::Ready;
    }
}

bool ScriptedServer::Impl::ReadRequest(int fd, std::string& raw) const {
    std::string received;
    std::array<char, 4096> buffer{};
    for (;;) {
        const std::size_t end = received.find(kHeaderEnd);
        if (end != std::string::npos) {
            received.resize(end + kHeaderEnd.size());
            raw = std::move(received);
            return true;
        }
        if (received.size() > kMaxHeaderBytes) {
            return false;
        }
        const ssize_t count = recv(fd, buffer.data(), buffer.size(), 0);
        if (count > 0) {
            received.append(buffer.data(), static_cast<std::size_t>(count));
            continue;
        }
        const bool retry =
            count < 0 && (errno == EINTR || (WouldBlock(errno) && WaitOn(fd, POLLIN, -1) == Wake::Ready));
        if (!retry) {
            return false;
        }
    }
}

bool ScriptedServer::Impl::SendAll(int fd, std::string_view bytes) const {
    while (!bytes.empty()) {
        // MSG_NOSIGNAL: a client that has left gives EPIPE here instead of killing the process.
        const ssize_t count = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (count > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(count));
        } else if (count < 0 && WouldBlock(errno)) {
            if (WaitOn(fd, POLLOUT, -1) != Wake::Ready) {
                return false;
            }
        } else if (count == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Waits up to timeoutMs (-1: without limit) for the connection to end: the client closing it, a drop, or the
// server stopping. Returns false when the time passed first.
bool ScriptedServer::Impl::ClientGone(int fd, int timeoutMs) const {
    std::array<char, 256> discard{};
    for (;;) {
        const Wake wake = WaitOn(fd, POLLIN, timeoutMs);
        if (wake != Wake::Ready) {
            return wake == Wake::Stopped;
        }
        const ssize_t count = recv(fd, discard.data(), discard.size(), 0);
        if (count == 0 || (count < 0 && !WouldBlock(errno) && errno != EINTR)) {
            return true;
        }
    }
}

void ScriptedServer::Impl::Answer(int fd, const ScriptedReply& reply) const {
    switch (reply.kind) {
    case ScriptedReply::Kind::Complete:
        SendAll(fd, ReplyHeader(reply, reply.body.size()) + reply.body);
        break;
    case ScriptedReply::Kind::BreakOff:
        SendAll(fd, ReplyHeader(reply, reply.body.size() + kBreakOffShortfall) + reply.body);
        break;
    case ScriptedReply::Kind::Silent:
        ClientGone(fd, -1);
        break;
    case ScriptedReply::Kind::Drip: {
        if (!SendAll(fd, ReplyHeader(reply, reply.body.size()))) {
            break;
        }
        const int intervalMs = static_cast<int>(reply.dripInterval.count());
        for (std::size_t i = 0; i < reply.body.size(); ++i) {
            if ((i > 0 && ClientGone(fd, intervalMs)) || !SendAll(fd, std::string_view(reply.body).substr(i, 1))) {
                break;
            }
        }
        break;
    }
    case ScriptedReply::Kind::Reset: {
        if (!SendAll(fd, ReplyHeader(reply, reply.body.size()) + reply.body.substr(0, reply.body.size() / 2))) {
            break;
        }
        // Closing with data still unsent would drop it with the reset; wait until the client has it all.
        int unacknowledged = 0;
        while (ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0 && WaitOn(fd, 0, 1) == Wake::TimedOut) {
        }
        // A zero linger time makes the close that ends the connection send a reset instead of a FIN.
        const linger reset{.l_onoff = 1, .l_linger = 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        break;
    }
    case ScriptedReply::Kind::Large: {
        if (!SendAll(fd, ReplyHeader(reply, reply.largeSize))) {
            break;
        }
        const std::string chunk(kStreamChunk, 'x');
        for (std::size_t left = reply.largeSize; left > 0;) {
            const std::size_t size = std::min(left, chunk.size());
            if (!SendAll(fd, std::string_view(chunk).substr(0, size))) {
                break;
            }
            left -= size;
        }
        break;
    }
    }
}

void ScriptedServer::Impl::Serve(int fd) {
    std::string raw;
    if (!ReadRequest(fd, raw)) {
        return;
    }
    const RecordedRequest request = ParseRequest(std::move(raw));
    Handler current;
    {
        const std::lock_guard lock(mutex);
        requests.push_back(request);
        current = handler;
    }
    requestArrived.notify_all();
    const ScriptedReply reply = current(request);
    Answer(fd, reply);
    if (reply.kind != ScriptedReply::Kind::Reset) {
        // Ends our side with a FIN, so the client reads every byte sent before it sees the end.
        shutdown(fd, SHUT_WR);
    }
}

void ScriptedServer::Impl::AcceptLoop() {
    while (WaitOn(listenFd, POLLIN, -1) == Wake::Ready) {
        const int fd = accept(listenFd, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        if (!SetNonBlocking(fd)) {
            close(fd);
            continue;
        }
        std::list<Connection> ended;
        {
            const std::lock_guard lock(mutex);
            for (auto it = connections.begin(); it != connections.end();) {
                const auto next = std::next(it);
                if (it->finished) {
                    ended.splice(ended.end(), connections, it);
                }
                it = next;
            }
            Connection& connection = connections.emplace_back();
            connection.fd = fd;
            try {
                connection.thread = std::thread([this, &connection, fd] {
                    Serve(fd);
                    const std::lock_guard finishLock(mutex);
                    close(fd);
                    connection.fd = -1;
                    connection.finished = true;
                });
            } catch (const std::system_error&) {
                close(fd);
                connections.pop_back();
            }
        }
        for (Connection& connection : ended) {
            connection.thread.join();
        }
    }
}

ScriptedServer::ScriptedServer() : m_impl(std::make_unique<Impl>()), m_port(m_impl->port) {}

ScriptedServer::~ScriptedServer() = default;

std::string ScriptedServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void ScriptedServer::SetHandler(Handler handler) {
    const std::lock_guard lock(m_impl->mutex);
    m_impl->handler = std::move(handler);
}

void ScriptedServer::AnswerAll(ScriptedReply reply) {
    SetHandler([reply = std::move(reply)](const RecordedRequest&) { return reply; });
}

std::vector<RecordedRequest> ScriptedServer::Requests() const {
    const std::lock_guard lock(m_impl->mutex);
    return m_impl->requests;
}

bool ScriptedServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->requestArrived.wait_for(lock, timeout, [&] { return m_impl->requests.size() >= count; });
}

void ScriptedServer::DropOpenConnections() {
    const std::lock_guard lock(m_impl->mutex);
    for (const Impl::Connection& connection : m_impl->connections) {
        if (connection.fd >= 0) {
            shutdown(connection.fd, SHUT_RDWR);
        }
    }
}

std::string QueryValue(const RecordedRequest& request, std::string_view key) {
    const std::string_view target = request.target;
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) {
        return {};
    }
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (!pair.starts_with(key) || pair.size() <= key.size() || pair[key.size()] != '=') {
            continue;
        }
        std::string value;
        const std::string_view encoded = pair.substr(key.size() + 1);
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            if (encoded[i] == '%' && i + 2 < encoded.size() && HexDigitValue(encoded[i + 1]) >= 0 &&
                HexDigitValue(encoded[i + 2]) >= 0) {
                value.push_back(static_cast<char>(HexDigitValue(encoded[i + 1]) * 16 + HexDigitValue(encoded[i + 2])));
                i += 2;
            } else {
                value.push_back(encoded[i]);
            }
        }
        return value;
    }
    return {};
}

ScriptedReply WordsReply(const std::vector<std::string>& words) {
    std::string body = R"({"success":"1","data":{"list":[)";
    for (std::size_t i = 0; i < words.size(); ++i) {
        body += i == 0 ? R"({"word":")" : R"(,{"word":")";
        body += words[i];
        body += "\"}";
    }
    body += "]}}";
    return ScriptedReply{.body = body};
}

} // namespace morvane::test

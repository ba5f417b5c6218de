#include "tests/service/raw_http_client.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace morvane::test {

RawConnection::RawConnection(std::uint16_t port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        return;
    }
    timeval timeout{};
    timeout.tv_sec = 30;
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(m_fd);
        m_fd = -1;
    }
}

RawConnection::~RawConnection() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool RawConnection::Send(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t sent = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool RawConnection::Fill() {
    std::array<char, 16384> chunk{};
    for (;;) {
        const ssize_t got = recv(m_fd, chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        m_buffer.append(chunk.data(), static_cast<std::size_t>(got));
        return true;
    }
}

RawReply RawConnection::ReadReply(bool toHead) {
    RawReply reply;
    std::size_t headerEnd = 0;
    while ((headerEnd = m_buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill()) {
            return reply;
        }
    }
    const std::string header = m_buffer.substr(0, headerEnd);
    m_buffer.erase(0, headerEnd + 4);

    std::size_t lineEnd = header.find("\r\n");
    const std::string statusLine = header.substr(0, lineEnd);
    const std::size_t space = statusLine.find(' ');
    if (!statusLine.starts_with("HTTP/1.") || space == std::string::npos) {
        return reply;
    }
    while (lineEnd != std::string::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = header.find("\r\n", start);
        const std::string line =
            header.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
        const std::size_t valueStart = line.find_first_not_of(' ', colon + 1);
        reply.headers[name] = valueStart == std::string::npos ? std::string() : line.substr(valueStart);
    }
    std::size_t length = 0;
    if (!toHead && reply.headers.contains("content-length")) {
        length = std::strtoul(reply.headers["content-length"].c_str(), nullptr, 10);
    }
    while (m_buffer.size() < length) {
        if (!Fill()) {
            return reply;
        }
    }
    reply.body = m_buffer.substr(0, length);
    m_buffer.erase(0, length);
    reply.status = std::atoi(statusLine.c_str() + space + 1);
    return reply;
}

bool RawConnection::WaitForClose() const {
    std::array<char, 16384> chunk{};
    for (;;) {
        const ssize_t got = recv(m_fd, chunk.data(), chunk.size(), 0);
        if (got == 0) {
            return true;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return errno == ECONNRESET;
        }
    }
}

bool RawConnection::ClosedWithin(std::chrono::milliseconds wait) const {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::array<char, 16384> chunk{};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{m_fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0))) <= 0) {
            return false;
        }
        const ssize_t got = recv(m_fd, chunk.data(), chunk.size(), 0);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) {
            return true;
        }
    }
}

std::size_t RawConnection::ReadSome(std::size_t bytes) const {
    std::string chunk(bytes, '\0');
    const ssize_t got = recv(m_fd, chunk.data(), chunk.size(), 0);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

void RawConnection::Reset() {
    if (m_fd < 0) {
        return;
    }
    const linger abort{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(m_fd);
    m_fd = -1;
}

RawReply Exchange(std::uint16_t port, std::string_view request) {
    RawConnection connection(port);
    if (!connection.Send(request)) {
        return {};
    }
    return connection.ReadReply();
}

} // namespace morvane::test

#include "service/http_message_text.h"

#include "service/http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>

namespace morvane {
namespace {

constexpr std::size_t kMaxLoggedRequestLine = 512;

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

void AppendNumber(std::string& out, std::uint64_t value) {
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), result.ptr);
}

void AppendReplyHead(std::string& out, int status, std::string_view date, std::string_view contentType,
                     std::size_t contentLength, bool keepAlive) {
    out += "HTTP/1.1 ";
    AppendNumber(out, static_cast<std::uint64_t>(status));
    out += ' ';
    out += HttpReasonPhrase(status);
    out += "\r\nServer: morvane-recomd\r\nDate: ";
    out += date;
    out += "\r\nContent-Type: ";
    out += contentType;
    out += "\r\nContent-Length: ";
    AppendNumber(out, contentLength);
    out += keepAlive ? "\r\nConnection: keep-alive" : "\r\nConnection: close";
    if (status == 405) {
        out += "\r\nAllow: GET, HEAD";
    }
    out += "\r\n\r\n";
}

void AppendLogLine(std::string& log, std::string_view time, std::string_view peer, std::string_view requestLine,
                   int status, std::size_t bodyBytes, std::chrono::microseconds latency) {
    const auto micros = static_cast<std::uint64_t>(std::max<std::int64_t>(0, latency.count()));
    log += time;
    log += ' ';
    log += peer;
    log += " \"";
    AppendSanitized(log, requestLine);
    log += "\" ";
    AppendNumber(log, static_cast<std::uint64_t>(status));
    log += ' ';
    AppendNumber(log, bodyBytes);
    log += ' ';
    AppendNumber(log, micros / 1000);
    log += '.';
    const std::uint64_t fraction = micros % 1000;
    log += static_cast<char>('0' + fraction / 100);
    log += static_cast<char>('0' + fraction / 10 % 10);
    log += static_cast<char>('0' + fraction % 10);
    log += "ms\n";
}

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

} // namespace morvane

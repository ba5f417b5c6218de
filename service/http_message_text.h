#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace morvane {

// Appends value in decimal.
void AppendNumber(std::string& out, std::uint64_t value);

// Appends the status line and header of a reply, through the empty line that ends it. date is an HTTP date.
void AppendReplyHead(std::string& out, int status, std::string_view date, std::string_view contentType,
                     std::size_t contentLength, bool keepAlive);

// Appends one line of the request log: "TIME PEER "REQUEST LINE" STATUS BODY-BYTES LATENCYms\n". The request
// line is cut after 512 bytes, and its bytes outside printable ASCII, quotes and backslashes become \xHH.
void AppendLogLine(std::string& log, std::string_view time, std::string_view peer, std::string_view requestLine,
                   int status, std::size_t bodyBytes, std::chrono::microseconds latency);

// "address:port" or "[v6 address]:port" of a peer; "-" for another family.
std::string FormatPeer(const sockaddr_storage& address);

} // namespace morvane

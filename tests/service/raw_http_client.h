#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace morvane::test {

// One reply as read off the wire.
struct RawReply {
    int status = 0;                             // 0 when the connection closed (or failed) before a reply
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
};

// A plain blocking TCP connection to 127.0.0.1:port for speaking HTTP byte by byte, as no library client
// would. Every read gives up after 30 s, a safety net for a broken test only.
class RawConnection {
public:
    explicit RawConnection(std::uint16_t port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return m_fd >= 0; }

    // Sends every byte; false when the connection is gone.
    bool Send(std::string_view bytes) const;

    // Reads one reply: its header, then Content-Length bytes of body (none for a reply to HEAD).
    RawReply ReadReply(bool toHead = false);

    // Reads and drops until the server closes the connection; true when it did, false on time-out.
    bool WaitForClose() const;

    // Reads and drops what arrives for at most wait; true when the server closed the connection meanwhile.
    bool ClosedWithin(std::chrono::milliseconds wait) const;

    // Reads at most bytes of what the server sent (waiting for the first); the number read, 0 when closed.
    std::size_t ReadSome(std::size_t bytes) const;

    // Ends the connection with a reset (RST) instead of an orderly close.
    void Reset();

private:
    bool Fill();

    int m_fd = -1;
    std::string m_buffer;
};

// Sends request on a new connection and reads one reply.
RawReply Exchange(std::uint16_t port, std::string_view request);

} // namespace morvane::test

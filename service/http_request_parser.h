#pragma once

#include <cstddef>
#include <string_view>

namespace morvane {

// Bytes of CR and LF a client may send ahead of a request line (eight empty lines): some old clients end a
// request with an extra line break, but a stream of them is only a way to hold a connection.
inline constexpr std::size_t kMaxBlankBytesBeforeRequest = 16;

// Where the first request of a connection's input stands.
struct RequestFrame {
    enum class State {
        Incomplete, // the head has not arrived in full; search again from resumeAt when more bytes come
        Complete,   // the head is input[headStart, headEnd)
        Refused,    // answer with errorStatus and close
    };
    State state = State::Incomplete;
    std::size_t headStart = 0; // bytes of empty lines ahead of the request line
    std::size_t headEnd = 0;   // Complete: just past the empty line that ends the head
    std::size_t resumeAt = 0;  // Incomplete: the offset to pass to the next call
    int errorStatus = 0;       // Refused: 400 (too many empty lines first) or 431 (head longer than allowed)
};

// Finds the head of the first request in input: empty lines (at most kMaxBlankBytesBeforeRequest bytes), then
// the request line and header lines, ended by an empty line; each line ends with LF, optionally after CR.
// resumeAt is the resumeAt of the previous call on the same input with bytes added at its end (0 the first
// time), so that a head arriving byte by byte is searched once. A head longer than maxHeadBytes is refused.
RequestFrame FrameRequest(std::string_view input, std::size_t resumeAt, std::size_t maxHeadBytes);

// What the head of one request says, or the status to answer it with when it is unacceptable.
struct RequestHead {
    std::string_view requestLine; // without its line end, also when the head is refused
    std::string_view method;
    std::string_view target;
    std::string_view version; // "HTTP/1.0" or "HTTP/1.1"
    bool keepAlive = false;
    int errorStatus = 0; // non-zero: answer with this status and close the connection
};

// Reads a complete head (request line, header lines, the empty line), as FrameRequest found it. Refused with
// 400: a request line that is not "METHOD SP TARGET SP HTTP/x.y" with a token for method and an origin-form
// or absolute-form target free of controls and blanks; a header line that is folded, has no name, a name that
// is not a token, or a value holding a control character other than tab (NUL and a lone CR included); an
// HTTP/1.1 request without a Host header; any request with more than one Host header or an invalid Host
// value; a request announcing a body (Content-Length other than 0, or Transfer-Encoding). 505 for a version
// other than HTTP/1.0 and 1.1, 405 for a method other than GET and HEAD. keepAlive follows the version and
// the Connection header.
RequestHead ParseRequestHead(std::string_view head);

// The first line of head, without its line end: the request line as far as it arrived.
std::string_view FirstLine(std::string_view head);

} // namespace morvane

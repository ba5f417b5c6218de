#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace morvane {

class CancelToken;

// Longest request target (path and query) that HttpGet sends; a longer one sends nothing.
inline constexpr std::size_t kMaxRequestTargetLength = 2047;

// Largest reply body HttpGet reads (32 MiB); a larger one is refused. A recommendation reply is a few
// kilobytes, so only a broken or hostile server comes near it, and the bound keeps the memory that reading a
// reply takes in proportion to what a reply may be.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{32} << 20U;

// No time-out: wait as long as the server takes (or until cancelled).
inline constexpr std::chrono::milliseconds kNoTimeout{0};

// How HttpGet goes about one request.
struct HttpGetOptions {
    // When given, aborts the request from another thread within milliseconds.
    CancelToken* cancel = nullptr;
    // The longest the whole request may take, connection included; kNoTimeout for none.
    std::chrono::milliseconds timeout = kNoTimeout;
    // The largest body read; a larger one is refused.
    std::size_t maxBodyBytes = kMaxReplyBytes;
};

// What became of one request.
enum class HttpOutcome {
    Complete,      // the reply was read to its end
    NotSent,       // the url is not an http or https url HttpGet sends (unparsable, carrying credentials)
    TargetTooLong, // the request target is longer than kMaxRequestTargetLength
    NoReply,       // no status line arrived: no connection, the request failed to go out, or the server closed
    TimedOut,      // the time-out passed first; body holds what had arrived
    BrokenOff,     // the reply broke off after its status line; body holds what had arrived
    TooLarge,      // the body would pass maxBodyBytes; body is empty
    OutOfMemory,   // the body could not be held; body is empty
    Cancelled,     // cancelled through options.cancel; body is empty
};

// The result of HttpGet.
struct HttpGetResult {
    HttpOutcome outcome = HttpOutcome::NotSent;
    int status = 0;   // the status code of the reply; 0 when no status line arrived
    std::string body; // the body, whatever the status
};

// Performs one "GET <target> HTTP/1.0" for an http or https url, with the target sent unchanged and no header of
// its own beyond User-Agent and Accept, and returns the reply body, whatever the status, read to its end. No
// proxy, no redirect followed. A body that breaks off or times out returns what arrived. Blocks the calling
// thread until the reply is read, the request fails, the time-out passes or options.cancel is cancelled.
HttpGetResult HttpGet(const std::string& url, const HttpGetOptions& options = {});

} // namespace morvane

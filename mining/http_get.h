#pragma once

#include <cstddef>
#include <string>

namespace morvane {

class CancelToken;

// Longest request target (path and query) that HttpGet sends; a longer one sends nothing.
inline constexpr std::size_t kMaxRequestTargetLength = 2047;

// Performs one "GET <target> HTTP/1.0" for an http or https url, with the target sent unchanged and no header of
// its own beyond User-Agent and Accept, and returns the reply body, whatever the status, read to its end. No
// proxy, no redirect followed, no time-out. A body that breaks off returns what arrived; any failure before the
// body (unparsable url, a url carrying credentials, target over kMaxRequestTargetLength, no connection) returns
// empty bytes. Blocks the calling thread; cancel, when given, aborts the request from another thread within
// milliseconds, and the call then returns empty bytes. answered, when given, tells whether the server sent a
// reply at all (a status line, whatever the status), which an empty body alone cannot tell.
std::string HttpGet(const std::string& url, CancelToken* cancel = nullptr, bool* answered = nullptr);

} // namespace morvane

#pragma once

#include <cstddef>
#include <string>

namespace morvane {

class CancelToken;

// Longest request target (path and query) that HttpGet sends; a longer one sends nothing.
inline constexpr std::size_t kMaxRequestTargetLength = 2047;

// Performs one "GET <target> HTTP/1.0" for url and returns the reply body, whatever the status, read to its
// end. A body that breaks off returns what arrived; any failure before the body (unparsable url, target
// over kMaxRequestTargetLength, no connection) returns empty bytes. Blocks the calling thread; cancel, when
// given, aborts the request from another thread within milliseconds, and the call then returns empty bytes.
std::string HttpGet(const std::string& url, CancelToken* cancel = nullptr);

} // namespace morvane

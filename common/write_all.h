#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <sys/types.h>

namespace morvane {

// The write(2) that a writer calls; tests put in one that fails when they choose.
using WriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;

// How WriteAll goes about its writes besides the bytes.
struct WriteAllOptions {
    // Stands in for write(2) when given.
    WriteFunction write{};
    // Cuts the piece of rest that the next write hands over (all of rest when not given).
    std::function<std::string_view(std::string_view rest)> nextPiece{};
    // Called after a write that found no room (EAGAIN): true to try again, false to give up with errno telling why.
    // Without it, no room ends the writing.
    std::function<bool()> waitForRoom{};
};

// How far WriteAll got.
struct WriteAllResult {
    std::size_t written = 0; // the bytes that went out, in order from the first
    int error = 0;           // why the rest did not: the errno of the failed write (EIO for one that took nothing)
};

// Writes bytes to fd in order until all of them went out or a write fails, going on after a short write and after
// EINTR. Usage:
//
//     const WriteAllResult result = WriteAll(STDOUT_FILENO, text);
//     if (result.written < text.size()) { ... result.error ... }
WriteAllResult WriteAll(int fd, std::string_view bytes, const WriteAllOptions& options = {});

// The next piece of rest for a pipe, FIFO or terminal: at most PIPE_BUF bytes, which a pipe takes whole or not at
// all, ending after the last line feed within them when there is one, so that a writer stopped between pieces
// leaves whole lines.
std::string_view PipePiece(std::string_view rest);

} // namespace morvane

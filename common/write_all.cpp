#include "common/write_all.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace morvane {

WriteAllResult WriteAll(int fd, std::string_view bytes, const WriteAllOptions& options) {
    WriteAllResult result;
    while (result.written < bytes.size()) {
        const std::string_view rest = bytes.substr(result.written);
        const std::string_view piece = options.nextPiece ? options.nextPiece(rest) : rest;
        const ssize_t n =
            options.write ? options.write(fd, piece.data(), piece.size()) : ::write(fd, piece.data(), piece.size());
        if (n > 0) {
            result.written += static_cast<std::size_t>(n);
            continue;
        }
        const int error = n < 0 ? errno : EIO;
        if (error == EINTR) {
            continue;
        }
        if ((error == EAGAIN || error == EWOULDBLOCK) && options.waitForRoom) {
            if (options.waitForRoom()) {
                continue;
            }
            result.error = errno;
            break;
        }
        result.error = error;
        break;
    }
    return result;
}

std::string_view PipePiece(std::string_view rest) {
    if (rest.size() <= PIPE_BUF) {
        return rest;
    }
    const std::size_t lineEnd = rest.substr(0, PIPE_BUF).rfind('\n');
    return rest.substr(0, lineEnd == std::string_view::npos ? PIPE_BUF : lineEnd + 1);
}

} // namespace morvane

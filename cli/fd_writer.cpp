#include "cli/fd_writer.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {
namespace {

// The next piece of rest to hand to a descriptor that may block: at most PIPE_BUF bytes, ending after the last
// line feed within them when there is one.
std::string_view NextPiece(std::string_view rest) {
    if (rest.size() <= PIPE_BUF) {
        return rest;
    }
    const std::size_t lineEnd = rest.substr(0, PIPE_BUF).rfind('\n');
    return rest.substr(0, lineEnd == std::string_view::npos ? PIPE_BUF : lineEnd + 1);
}

} // namespace

FdWriter::FdWriter(int fd, CancelToken* stop, WriteFunction write)
    : m_fd(fd), m_stop(stop), m_write(write ? std::move(write) : WriteFunction(&::write)) {
    struct stat status {};
    m_regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

std::size_t FdWriter::Write(std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::string_view rest = bytes.substr(written);
        const std::string_view piece = m_regular ? rest : NextPiece(rest);
        if (!m_regular && !WaitForDescriptor(m_fd, POLLOUT, m_stop)) {
            m_error = errno;
            break;
        }
        const ssize_t n = m_write(m_fd, piece.data(), piece.size());
        if (n < 0) {
            // EAGAIN: a descriptor of our own, opened without blocking, had less room than poll said.
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            m_error = errno;
            break;
        }
        if (n == 0) {
            m_error = EIO;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    return written;
}

} // namespace morvane

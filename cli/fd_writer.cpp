#include "cli/fd_writer.h"

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

FdWriter::FdWriter(int fd, CancelToken* stop, WriteFunction write)
    : m_fd(fd), m_stop(stop), m_write(write ? std::move(write) : WriteFunction(&::write)) {
    struct stat status {};
    m_regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

std::size_t FdWriter::Write(std::string_view bytes) {
    WriteAllOptions options{.write = m_write};
    if (!m_regular) {
        // No write may block: each piece waits for room in poll first, where a stop reaches it.
        options.write = [this](int fd, const void* data, std::size_t size) -> ssize_t {
            return WaitForDescriptor(fd, POLLOUT, m_stop) ? m_write(fd, data, size) : -1;
        };
        options.nextPiece = PipePiece;
        // EAGAIN: a descriptor of our own, opened without blocking, had less room than poll said; the next piece
        // waits for room again.
        options.waitForRoom = [] { return true; };
    }
    const WriteAllResult result = WriteAll(m_fd, bytes, options);
    if (result.error != 0) {
        m_error = result.error;
    }
    return result.written;
}

} // namespace morvane

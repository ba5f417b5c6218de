#include "cli/stoppable_input.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <unistd.h>

namespace morvane {

StoppableInputBuffer::StoppableInputBuffer(int fd, CancelToken* stop) : m_fd(fd), m_stop(stop) {
    if (m_stop != nullptr && ::pipe2(m_wakePipe.data(), O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wake = m_stop->Subscribe([this] { (void)!::write(m_wakePipe[1], "x", 1); });
    }
}

StoppableInputBuffer::~StoppableInputBuffer() {
    // Unsubscribe first: the waker writes to the pipe.
    m_wake = CancelToken::Subscription();
    for (const int fd : m_wakePipe) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

StoppableInputBuffer::int_type StoppableInputBuffer::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    for (;;) {
        if (m_stop != nullptr && m_stop->IsCancelled()) {
            return traits_type::eof();
        }
        std::array<pollfd, 2> fds{pollfd{m_fd, POLLIN, 0}, pollfd{m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds.data(), m_wakePipe[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_readError = errno;
            throw std::system_error(m_readError, std::generic_category(), "poll");
        }
        if (fds[1].revents != 0) {
            return traits_type::eof();
        }
        const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            m_readError = errno;
            throw std::system_error(m_readError, std::generic_category(), "read");
        }
        if (n == 0) {
            return traits_type::eof();
        }
        setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + n);
        return traits_type::to_int_type(*gptr());
    }
}

} // namespace morvane

#include "cli/stoppable_input.h"

#include <cerrno>
#include <poll.h>
#include <system_error>
#include <unistd.h>

namespace morvane {

StoppableInputBuffer::StoppableInputBuffer(int fd, CancelToken* stop) : m_fd(fd), m_stop(stop) {}

StoppableInputBuffer::int_type StoppableInputBuffer::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    for (;;) {
        // Checked before every wait, so that input that never ends cannot keep a stopped run reading.
        if (m_stop.Stopped()) {
            return traits_type::eof();
        }
        if (!WaitForDescriptor(m_fd, POLLIN, m_stop)) {
            if (errno == ECANCELED) {
                return traits_type::eof();
            }
            m_readError = errno;
            throw std::system_error(m_readError, std::generic_category(), "poll");
        }
        const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (n < 0) {
            // EAGAIN: a descriptor opened without blocking (a FIFO, say) had nothing after all.
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

#include "cli/stop_pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace morvane {

StopPipe::StopPipe(CancelToken* stop) : m_stop(stop) {
    if (m_stop != nullptr && ::pipe2(m_fds.data(), O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wake = m_stop->Subscribe([this] { (void)!::write(m_fds[1], "x", 1); });
    }
}

StopPipe::~StopPipe() {
    // Unsubscribe first: the waker writes to the pipe.
    m_wake = CancelToken::Subscription();
    for (const int fd : m_fds) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool WaitForDescriptor(int fd, short events, const StopPipe& stop) {
    std::array<pollfd, 2> fds{pollfd{fd, events, 0}, pollfd{stop.ReadFd(), POLLIN, 0}};
    const nfds_t count = stop.ReadFd() >= 0 ? 2 : 1;
    for (;;) {
        fds[0].revents = 0;
        fds[1].revents = 0;
        if (::poll(fds.data(), count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        // A descriptor that is ready wins over a stop, so that what can still go out without waiting does.
        if (fds[0].revents != 0) {
            return true;
        }
        if (fds[1].revents != 0) {
            errno = ECANCELED;
            return false;
        }
    }
}

} // namespace morvane

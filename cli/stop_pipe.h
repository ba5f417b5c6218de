#pragma once

#include "mining/cancel_token.h"

#include <array>

namespace morvane {

// A pipe that becomes readable, and stays so, once stop is cancelled: a descriptor to poll beside the one a
// blocking read or write waits for, so that the wait ends at a stop however the two race. Without a token it
// never becomes readable, and without a pipe (none could be made) ReadFd() is -1.
class StopPipe {
public:
    explicit StopPipe(CancelToken* stop);
    ~StopPipe();
    StopPipe(const StopPipe&) = delete;
    StopPipe& operator=(const StopPipe&) = delete;
    StopPipe(StopPipe&&) = delete;
    StopPipe& operator=(StopPipe&&) = delete;

    // The end to poll for POLLIN; -1 when there is none.
    int ReadFd() const { return m_fds[0]; }

    // True once stop has been cancelled.
    bool Stopped() const { return m_stop != nullptr && m_stop->IsCancelled(); }

private:
    CancelToken* m_stop;
    std::array<int, 2> m_fds{-1, -1};
    CancelToken::Subscription m_wake;
};

// Waits until fd is ready for events (POLLIN or POLLOUT) or stop ends the wait. True when fd is ready (an error or
// hang-up counts as ready: the next read or write reports it); false when the stop came first and fd is not
// ready, or poll failed (errno then tells why; ECANCELED for a stop).
bool WaitForDescriptor(int fd, short events, const StopPipe& stop);

} // namespace morvane

#pragma once

#include "cli/stop_pipe.h"
#include "mining/cancel_token.h"

#include <array>
#include <streambuf>

namespace morvane {

// A read-only stream buffer over a file descriptor (standard input, a seed file, a pipe) whose reading ends as at
// the end of the input once stop is cancelled, so that a run still waiting for its seeds can be interrupted.
// A read error throws std::system_error from underflow, which an istream turns into badbit. The descriptor
// stays open; its owner closes it.
class StoppableInputBuffer final : public std::streambuf {
public:
    StoppableInputBuffer(int fd, CancelToken* stop);
    ~StoppableInputBuffer() override = default;
    StoppableInputBuffer(const StoppableInputBuffer&) = delete;
    StoppableInputBuffer& operator=(const StoppableInputBuffer&) = delete;

    // The errno of the read that failed, 0 when none did.
    int ReadError() const { return m_readError; }

protected:
    int_type underflow() override;

private:
    int m_fd;
    StopPipe m_stop;
    std::array<char, 65536> m_buffer{};
    int m_readError = 0;
};

} // namespace morvane

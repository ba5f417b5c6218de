#pragma once

#include "cli/fd_writer.h"

#include <array>
#include <streambuf>

namespace morvane {

class CancelToken;

// A write-only stream buffer over a file descriptor (standard error, standard output) whose writes never block
// past a stop: they go through an FdWriter. Once a write fails (the reader of a pipe went away: EPIPE with
// SIGPIPE ignored; a stop while the reader stalls) everything after it is dropped and the stream turns bad, so
// the run goes on without that stream. The descriptor stays open; its owner closes it.
class StoppableOutputBuffer final : public std::streambuf {
public:
    StoppableOutputBuffer(int fd, CancelToken* stop);
    ~StoppableOutputBuffer() override;
    StoppableOutputBuffer(const StoppableOutputBuffer&) = delete;
    StoppableOutputBuffer& operator=(const StoppableOutputBuffer&) = delete;

    // True once a write has failed.
    bool Failed() const { return m_failed; }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool FlushBuffer();

    FdWriter m_writer;
    std::array<char, 4096> m_buffer{};
    bool m_failed = false;
};

} // namespace morvane

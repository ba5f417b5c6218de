#pragma once

#include "cli/stop_pipe.h"
#include "common/write_all.h"

#include <cstddef>
#include <string_view>

namespace morvane {

class CancelToken;

// Writes to a descriptor it does not own. A pipe, FIFO or terminal can block a write for ever when its reader
// stalls, so for anything but a regular file the writer waits for room with poll beside a StopPipe and hands over
// at most PIPE_BUF bytes at a time, cut after a line feed where one falls in that span. A pipe takes such a piece
// whole or not at all, so a stop between pieces leaves whole lines, and no write blocks once room was reported.
// A regular file never blocks and is written directly. Usage:
//
//     FdWriter writer(STDOUT_FILENO, &stop);
//     if (writer.Write(lines) < lines.size()) { ... writer.Error() ... }
class FdWriter {
public:
    FdWriter(int fd, CancelToken* stop, WriteFunction write = {});

    // Writes bytes in order and returns how many went out: all of them, or fewer when a write failed (Error()
    // tells why) or a stop came while the descriptor had no room (Error() is ECANCELED).
    std::size_t Write(std::string_view bytes);

    // The errno of the last failure; 0 before any.
    int Error() const { return m_error; }

    int Fd() const { return m_fd; }

    // True when the descriptor is a regular file (which can be cut back after a failed write).
    bool IsRegularFile() const { return m_regular; }

private:
    int m_fd;
    bool m_regular = false;
    StopPipe m_stop;
    WriteFunction m_write;
    int m_error = 0;
};

} // namespace morvane

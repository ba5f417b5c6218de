#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace morvane {

// Queued log bytes beyond which further request lines are dropped (and counted) instead of queued.
inline constexpr std::size_t kDefaultLogQueueBytes = std::size_t{256} * 1024;

// How long Stop() goes on writing what is queued to a stream that does not take it.
inline constexpr std::chrono::milliseconds kDefaultLogStopGrace{1000};

// Writes log lines to a descriptor from a thread of its own, so that a stream nobody reads (a pipe whose reader
// is busy, a terminal paused with Ctrl-S) never holds up whoever logs, nor the stopping. The writing itself never
// blocks either: a pipe, FIFO or terminal is written through a non-blocking descriptor of its own (opened anew
// through /proc/self/fd, so the shared one keeps its flags), a socket with MSG_DONTWAIT; only a regular file is
// written with plain blocking writes. Lines are written whole, in order; when the queue holds its capacity,
// further request lines are dropped and counted, and once there is room again a line saying how many were
// dropped goes first. Usage:
//
//     LogWriter log(STDERR_FILENO, "morvane-recomd: ");
//     log.Message("serving ...");           // from any thread
//     log.Append("one line\nanother\n");    // from any thread, never blocks
//     log.Stop();                           // or let the destructor do it
class LogWriter {
public:
    // Starts the writing thread over fd, which stays open and owned by the caller until Stop() returns.
    // notePrefix begins the line that counts dropped lines. Throws std::system_error when no thread can start.
    LogWriter(int fd, std::string notePrefix, std::size_t capacity = kDefaultLogQueueBytes);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues "\n"-terminated lines, or drops them all when the queue is full or the stream is broken.
    void Append(std::string_view lines);

    // Queues notePrefix + text + "\n" whatever the queue holds (for the few lines of start-up, stop and
    // failure, which must not be lost to a burst of requests).
    void Message(std::string_view text);

    // Writes what is queued, waiting at most grace for a stream that does not take it, drops the rest and
    // joins the thread. Idempotent; Append and Message drop their lines afterwards.
    void Stop(std::chrono::milliseconds grace = kDefaultLogStopGrace);

    // Lines dropped so far: by Append on a full queue or a broken stream, and lines of any kind that a broken
    // stream refused or that were left unwritten at Stop().
    std::uint64_t DroppedLines() const;

private:
    enum class Mode { Blocking, Socket, NonBlocking, Polled, Broken };

    void Open(int fd);
    void Run();
    bool TakeQueue(std::string& pending);
    long WriteSome(std::string_view bytes) const;
    bool WaitUntilWritable();
    void DropPending(std::string_view rest);

    std::string m_notePrefix;
    std::size_t m_capacity;
    Mode m_mode = Mode::Broken;
    int m_out = -1;
    int m_ownFd = -1;
    int m_wakeFd = -1;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_queue;
    std::uint64_t m_droppedSinceNote = 0;
    std::uint64_t m_dropped = 0;
    bool m_broken = false;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_stopDeadline;
    std::mutex m_stopMutex;
    std::thread m_thread;
};

} // namespace morvane

#include "service/log_writer.h"

#include "common/write_all.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {
namespace {

std::uint64_t CountLines(std::string_view text) {
    return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

LogWriter::LogWriter(int fd, std::string notePrefix, std::size_t capacity)
    : m_notePrefix(std::move(notePrefix)), m_capacity(capacity) {
    Open(fd);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (...) {
        for (const int own : {m_ownFd, m_wakeFd}) {
            if (own >= 0) {
                close(own);
            }
        }
        throw;
    }
}

LogWriter::~LogWriter() {
    Stop();
}

void LogWriter::Open(int fd) {
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        m_mode = Mode::Broken;
        m_broken = true;
        return;
    }
    m_out = fd;
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) {
        m_mode = Mode::Blocking;
        return;
    }
    if (S_ISSOCK(info.st_mode)) {
        m_mode = Mode::Socket;
        return;
    }
    // O_NONBLOCK on fd itself would change the file description that the parent shell and every other process
    // on the same terminal or pipe share; a description of our own leaves theirs alone.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int own = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (own >= 0) {
        m_ownFd = own;
        m_out = own;
        m_mode = Mode::NonBlocking;
        return;
    }
    m_mode = Mode::Polled;
}

void LogWriter::Append(std::string_view lines) {
    if (lines.empty()) {
        return;
    }
    const std::uint64_t count = CountLines(lines);
    {
        const std::lock_guard lock(m_mutex);
        if (m_broken || m_stopping || m_queue.size() + lines.size() > m_capacity) {
            m_dropped += count;
            m_droppedSinceNote += count;
            return;
        }
        if (m_droppedSinceNote > 0) {
            m_queue += m_notePrefix + std::to_string(m_droppedSinceNote) +
                       " lines of the log were dropped: the stream did not take them in time\n";
            m_droppedSinceNote = 0;
        }
        m_queue.append(lines);
    }
    m_changed.notify_one();
}

void LogWriter::Message(std::string_view text) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_broken || m_stopping) {
            return;
        }
        m_queue += m_notePrefix;
        m_queue += text;
        m_queue += '\n';
    }
    m_changed.notify_one();
}

void LogWriter::Stop(std::chrono::milliseconds grace) {
    const std::lock_guard stopLock(m_stopMutex);
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        if (m_droppedSinceNote > 0 && !m_broken) {
            m_queue += m_notePrefix + std::to_string(m_droppedSinceNote) +
                       " lines of the log were dropped: the stream did not take them in time\n";
            m_droppedSinceNote = 0;
        }
        m_stopping = true;
        m_stopDeadline = std::chrono::steady_clock::now() + grace;
    }
    m_changed.notify_all();
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = write(m_wakeFd, &one, sizeof one);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    for (int* own : {&m_ownFd, &m_wakeFd}) {
        if (*own >= 0) {
            close(*own);
            *own = -1;
        }
    }
}

std::uint64_t LogWriter::DroppedLines() const {
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}

void LogWriter::Run() {
    // A pipe without a reader raises SIGPIPE in the writing thread; blocked here, it stays pending and is
    // taken below, so the writer works the same whether or not the process ignores the signal.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    WriteAllOptions options{
        .write = [this](int /*fd*/, const void* data, std::size_t size) -> ssize_t {
            return WriteSome(std::string_view(static_cast<const char*>(data), size));
        },
        .waitForRoom = [this] { return WaitUntilWritable(); },
    };
    if (m_mode != Mode::Blocking) {
        options.nextPiece = PipePiece;
    }
    std::string pending;
    while (TakeQueue(pending)) {
        const WriteAllResult result = WriteAll(m_out, pending, options);
        if (result.written < pending.size()) {
            if (result.error == EPIPE) {
                const timespec now{};
                sigtimedwait(&pipeSignal, nullptr, &now);
            }
            if (result.error == EPIPE || result.error == EBADF) {
                const std::lock_guard lock(m_mutex);
                m_broken = true;
            }
            DropPending(std::string_view(pending).substr(result.written));
        }
        pending.clear();
    }
}

// Swaps the queue into pending (empty) when there is something to write; false once stopping with nothing left.
bool LogWriter::TakeQueue(std::string& pending) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
    if (m_queue.empty()) {
        return false;
    }
    pending.swap(m_queue);
    return true;
}

long LogWriter::WriteSome(std::string_view bytes) const {
    switch (m_mode) {
    case Mode::Blocking:
    case Mode::NonBlocking:
        return write(m_out, bytes.data(), bytes.size());
    case Mode::Socket:
        return send(m_out, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    case Mode::Polled: {
        // No descriptor of our own: write only what poll says fits, at most PIPE_BUF bytes, which a pipe takes
        // without blocking.
        pollfd ready{m_out, POLLOUT, 0};
        if (poll(&ready, 1, 0) <= 0) {
            errno = EAGAIN;
            return -1;
        }
        return write(m_out, bytes.data(), bytes.size());
    }
    case Mode::Broken:
        break;
    }
    errno = EBADF;
    return -1;
}

// Waits until the stream takes bytes again; false when the stop's grace has run out first.
bool LogWriter::WaitUntilWritable() {
    for (;;) {
        int timeoutMs = -1;
        {
            const std::lock_guard lock(m_mutex);
            if (m_stopping) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(m_stopDeadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    return false;
                }
                timeoutMs = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
            }
        }
        if (m_wakeFd < 0) {
            // Without a wake-up descriptor, look at the stop flag every so often.
            timeoutMs = timeoutMs < 0 ? 100 : std::min(timeoutMs, 100);
        }
        std::array<pollfd, 2> fds{pollfd{m_out, POLLOUT, 0}, pollfd{m_wakeFd, POLLIN, 0}};
        const int ready = poll(fds.data(), m_wakeFd >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0 && fds[1].revents != 0) {
            std::uint64_t counter = 0;
            [[maybe_unused]] const ssize_t ignored = read(m_wakeFd, &counter, sizeof counter);
        }
        if (ready > 0 && fds[0].revents != 0) {
            return true; // writable, or an error that the next write reports
        }
    }
}

void LogWriter::DropPending(std::string_view rest) {
    const std::uint64_t count = CountLines(rest);
    const std::lock_guard lock(m_mutex);
    m_dropped += count;
}

} // namespace morvane

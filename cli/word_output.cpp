#include "cli/word_output.h"

#include "mining/cancel_token.h"

#include <cerrno>
#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace morvane {
namespace {

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// While a thread waits in a blocking open of a FIFO for writing, a stop opens the FIFO for reading itself, which
// ends the wait (or lets an open that has not begun yet succeed at once). The reader stays open until the opener
// is done with its open, and is closed with this object.
class FifoWaitReleaser {
public:
    FifoWaitReleaser(std::string path, CancelToken* stop) : m_path(std::move(path)) {
        if (stop != nullptr) {
            m_wake = stop->Subscribe([this] {
                if (m_readerFd < 0) {
                    m_readerFd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                }
            });
        }
    }
    ~FifoWaitReleaser() {
        m_wake = CancelToken::Subscription();
        if (m_readerFd >= 0) {
            ::close(m_readerFd);
        }
    }
    FifoWaitReleaser(const FifoWaitReleaser&) = delete;
    FifoWaitReleaser& operator=(const FifoWaitReleaser&) = delete;
    FifoWaitReleaser(FifoWaitReleaser&&) = delete;
    FifoWaitReleaser& operator=(FifoWaitReleaser&&) = delete;

private:
    std::string m_path;
    int m_readerFd = -1;
    CancelToken::Subscription m_wake; // last: it ends before the members its waker uses
};

// Creates or empties path and opens it for appending without blocking: O_NONBLOCK stays on, which a regular file
// ignores and which makes a FIFO's writes wait in poll rather than in write. A FIFO without a reader is waited
// for until one comes or stop is cancelled (errno ECANCELED). The descriptor, or -1 with errno set.
int OpenForAppending(const std::string& path, CancelToken* stop) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC;
    int fd = ::open(path.c_str(), kFlags | O_NONBLOCK, 0666);
    if (fd >= 0 || errno != ENXIO) {
        return fd;
    }
    {
        const FifoWaitReleaser releaser(path, stop);
        do {
            fd = ::open(path.c_str(), kFlags, 0666);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd >= 0 && stop != nullptr && stop->IsCancelled()) {
        ::close(fd);
        errno = ECANCELED;
        return -1;
    }
    if (fd >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) {
            (void)::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        }
    }
    return fd;
}

} // namespace

bool StreamWordOutput::WriteBlock(std::string_view bytes) {
    m_out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    m_out.flush();
    return !m_out.fail();
}

std::string StreamWordOutput::Error() const {
    return "write error";
}

bool FdWordOutput::WriteBlock(std::string_view bytes) {
    const std::size_t written = m_writer.Write(bytes);
    if (written == bytes.size()) {
        return true;
    }
    CutBackToWholeLines(bytes.substr(0, written));
    return false;
}

void FdWordOutput::CutBackToWholeLines(std::string_view written) {
    const std::size_t lineEnd = written.rfind('\n');
    const std::size_t partial = lineEnd == std::string_view::npos ? written.size() : written.size() - lineEnd - 1;
    if (partial == 0 || !m_writer.IsRegularFile()) {
        return;
    }
    // Only a file that ends where the write did is cut, so that nothing written after it by others is lost.
    const int fd = m_writer.Fd();
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    struct stat status {};
    if (end < static_cast<off_t>(partial) || ::fstat(fd, &status) != 0 || status.st_size != end) {
        return;
    }
    (void)::ftruncate(fd, end - static_cast<off_t>(partial));
}

std::string FdWordOutput::Error() const {
    return ErrorText(m_writer.Error());
}

bool FdWordOutput::Stopped() const {
    return m_writer.Error() == ECANCELED;
}

FileWordOutput::~FileWordOutput() {
    m_output.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool FileWordOutput::Open(const std::string& path, CancelToken* stop, WriteFunction write) {
    m_fd = OpenForAppending(path, stop);
    if (m_fd < 0) {
        m_openError = errno;
        return false;
    }
    m_output.emplace(m_fd, stop, std::move(write));
    return true;
}

bool FileWordOutput::WriteBlock(std::string_view bytes) {
    return m_output && m_output->WriteBlock(bytes);
}

std::string FileWordOutput::Error() const {
    return m_output ? m_output->Error() : ErrorText(m_openError);
}

bool FileWordOutput::Stopped() const {
    return m_output ? m_output->Stopped() : m_openError == ECANCELED;
}

} // namespace morvane

#include "cli/word_output.h"

#include <cerrno>
#include <fcntl.h>
#include <ostream>
#include <system_error>
#include <unistd.h>

namespace morvane {

bool StreamWordOutput::WriteBlock(std::string_view bytes) {
    m_out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    m_out.flush();
    return !m_out.fail();
}

std::string StreamWordOutput::Error() const {
    return "write error";
}

FileWordOutput::~FileWordOutput() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool FileWordOutput::Open(const std::string& path) {
    const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (created < 0) {
        m_errno = errno;
        return false;
    }
    ::close(created);
    // Append mode puts every block at the end even when another program writes to the file as well.
    m_fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (m_fd < 0) {
        m_errno = errno;
        return false;
    }
    return true;
}

bool FileWordOutput::WriteBlock(std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_errno = n < 0 ? errno : EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::string FileWordOutput::Error() const {
    return std::error_code(m_errno, std::generic_category()).message();
}

} // namespace morvane

#include "cli/stoppable_output.h"

#include <string_view>

namespace morvane {

StoppableOutputBuffer::StoppableOutputBuffer(int fd, CancelToken* stop) : m_writer(fd, stop) {
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
}

StoppableOutputBuffer::~StoppableOutputBuffer() {
    FlushBuffer();
}

bool StoppableOutputBuffer::FlushBuffer() {
    const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    if (!m_failed && !pending.empty() && m_writer.Write(pending) < pending.size()) {
        m_failed = true;
    }
    return !m_failed;
}

StoppableOutputBuffer::int_type StoppableOutputBuffer::overflow(int_type c) {
    if (!FlushBuffer()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int StoppableOutputBuffer::sync() {
    return FlushBuffer() ? 0 : -1;
}

} // namespace morvane

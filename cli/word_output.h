#pragma once

#include "cli/fd_writer.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

class CancelToken;

// Where morvane-mine's lines go. Every block handed over is whole lines and leaves every buffer at once, so an
// interrupted run never leaves half a line behind.
class WordOutput {
public:
    virtual ~WordOutput() = default;

    // Writes bytes whole and flushes them; false when they could not all be written.
    virtual bool WriteBlock(std::string_view bytes) = 0;

    // Why the last WriteBlock failed, for a message.
    virtual std::string Error() const = 0;
};

// Lines to a stream (a string stream in tests).
class StreamWordOutput final : public WordOutput {
public:
    explicit StreamWordOutput(std::ostream& out) : m_out(out) {}

    bool WriteBlock(std::string_view bytes) override;
    std::string Error() const override;

private:
    std::ostream& m_out;
};

// Lines to a descriptor it does not own (standard output), through an FdWriter, so a stalled reader never holds
// a stopped run. When a block goes out only in part (a full disk, the file-size limit) and the descriptor is a
// regular file that it writes at the end of, the file is cut back to the last whole line.
class FdWordOutput final : public WordOutput {
public:
    FdWordOutput(int fd, CancelToken* stop, WriteFunction write = {}) : m_writer(fd, stop, std::move(write)) {}

    bool WriteBlock(std::string_view bytes) override;
    std::string Error() const override;

    // True when the last failure came from a stop rather than from the descriptor.
    bool Stopped() const;

private:
    void CutBackToWholeLines(std::string_view written);

    FdWriter m_writer;
};

// Lines appended to a file that Open creates empty first, as the window's file output does.
class FileWordOutput final : public WordOutput {
public:
    FileWordOutput() = default;
    ~FileWordOutput() override;
    FileWordOutput(const FileWordOutput&) = delete;
    FileWordOutput& operator=(const FileWordOutput&) = delete;

    // Creates path empty (truncating what it held) and opens it for appending. A FIFO without a reader is waited
    // for, as a shell's redirection waits; stop ends that wait. False, with Error() set, when it cannot be
    // created or the wait was stopped (Stopped() then tells so). write stands in for write(2) in tests.
    bool Open(const std::string& path, CancelToken* stop = nullptr, WriteFunction write = {});

    bool WriteBlock(std::string_view bytes) override;
    std::string Error() const override;

    // True when Open or the last write ended because of a stop.
    bool Stopped() const;

private:
    int m_fd = -1;
    int m_openError = 0;
    std::optional<FdWordOutput> m_output;
};

} // namespace morvane

#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace morvane {

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

// Lines to a stream (standard output, or a string stream in tests).
class StreamWordOutput final : public WordOutput {
public:
    explicit StreamWordOutput(std::ostream& out) : m_out(out) {}

    bool WriteBlock(std::string_view bytes) override;
    std::string Error() const override;

private:
    std::ostream& m_out;
};

// Lines appended to a file that Open creates empty first, as the window's file output does.
class FileWordOutput final : public WordOutput {
public:
    FileWordOutput() = default;
    ~FileWordOutput() override;
    FileWordOutput(const FileWordOutput&) = delete;
    FileWordOutput& operator=(const FileWordOutput&) = delete;

    // Creates path empty (truncating what it held), then opens it for appending. False, with Error() set, when
    // it cannot be created.
    bool Open(const std::string& path);

    bool WriteBlock(std::string_view bytes) override;
    std::string Error() const override;

private:
    int m_fd = -1;
    int m_errno = 0;
};

} // namespace morvane

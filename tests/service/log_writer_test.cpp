#include "service/log_writer.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace morvane {
namespace {

constexpr int kLines = 4000;

// "line 0042 xxx...x\n", 100 bytes, so that a piece of one is easy to tell from a whole one.
std::string NumberedLine(int number) {
    std::array<char, 24> prefix{};
    std::snprintf(prefix.data(), prefix.size(), "line %04d ", number);
    std::string line = prefix.data();
    line.append(99 - line.size(), 'x');
    line += '\n';
    return line;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start)); // a piece of a line: never expected
    }
    return lines;
}

// Reads fd until its write ends are all closed.
std::string ReadToEnd(int fd) {
    std::string text;
    std::array<char, 65536> chunk{};
    for (;;) {
        const ssize_t got = read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
}

// The request lines of text, checked to be whole, numbered in ascending order, with the notes of dropped lines
// summed into dropped.
std::vector<std::string> CheckLines(const std::string& text, std::uint64_t& dropped) {
    std::vector<std::string> numbered;
    int previous = -1;
    for (const std::string& line : SplitLines(text)) {
        if (line.starts_with("note: ")) {
            EXPECT_TRUE(line.ends_with(" lines of the log were dropped: the stream did not take them in time\n"))
                << line;
            dropped += std::stoull(line.substr(6));
            continue;
        }
        EXPECT_EQ(line.size(), 100U) << line;
        EXPECT_TRUE(line.starts_with("line ")) << line;
        const int number = std::stoi(line.substr(5, 4));
        EXPECT_GT(number, previous);
        previous = number;
        numbered.push_back(line);
    }
    return numbered;
}

class Pipe {
public:
    Pipe() { EXPECT_EQ(pipe2(m_ends.data(), O_CLOEXEC), 0); }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int ReadEnd() const { return m_ends[0]; }
    int WriteEnd() const { return m_ends[1]; }
    void CloseRead() { CloseEnd(0); }
    void CloseWrite() { CloseEnd(1); }

private:
    void CloseEnd(std::size_t end) {
        if (m_ends.at(end) >= 0) {
            close(m_ends.at(end));
            m_ends.at(end) = -1;
        }
    }

    std::array<int, 2> m_ends{-1, -1};
};

TEST(LogWriterTest, aPipeNobodyReadsHoldsUpNoAppendAndTheDroppedLinesAreCounted) {
    Pipe pipe;
    LogWriter log(pipe.WriteEnd(), "note: ", std::size_t{64} * 1024);
    // 400 KB: far more than the pipe and the queue hold together. Were Append to wait for the stream, this
    // loop would never end.
    for (int i = 0; i < kLines; ++i) {
        log.Append(NumberedLine(i));
    }
    EXPECT_GT(log.DroppedLines(), 0U);

    std::string text;
    std::thread reader([&] { text = ReadToEnd(pipe.ReadEnd()); });
    log.Stop(std::chrono::seconds(30)); // the reader takes everything now: the grace is only a safety net
    pipe.CloseWrite();
    reader.join();

    std::uint64_t noted = 0;
    const std::vector<std::string> lines = CheckLines(text, noted);
    EXPECT_EQ(noted, log.DroppedLines());
    EXPECT_EQ(lines.size() + noted, static_cast<std::size_t>(kLines));
    EXPECT_EQ(lines.front(), NumberedLine(0));
}

TEST(LogWriterTest, theNoteOfDroppedLinesComesWhereTheyWereDropped) {
    Pipe pipe;
    LogWriter log(pipe.WriteEnd(), "note: ", 1000);
    int next = 0;
    while (log.DroppedLines() == 0) {
        log.Append(NumberedLine(next++));
    }
    std::string text;
    std::thread reader([&] { text = ReadToEnd(pipe.ReadEnd()); });
    // The reader drains the pipe, and the queue empties: the first line taken after that follows the note.
    int firstTaken = -1;
    while (firstTaken < 0) {
        const std::uint64_t dropped = log.DroppedLines();
        log.Append(NumberedLine(next));
        firstTaken = log.DroppedLines() == dropped ? next : -1;
        ++next;
    }
    log.Stop(std::chrono::seconds(30));
    pipe.CloseWrite();
    reader.join();

    const std::vector<std::string> lines = SplitLines(text);
    const auto taken = std::find(lines.begin(), lines.end(), NumberedLine(firstTaken));
    ASSERT_NE(taken, lines.end());
    ASSERT_NE(taken, lines.begin());
    EXPECT_EQ(*(taken - 1), "note: " + std::to_string(log.DroppedLines()) +
                                " lines of the log were dropped: the stream did not take them in time\n");
    std::uint64_t noted = 0;
    EXPECT_EQ(CheckLines(text, noted).size() + noted, static_cast<std::size_t>(next));
}

TEST(LogWriterTest, stopGivesUpOnAStreamNobodyReadsLeavingWholeLines) {
    Pipe pipe;
    LogWriter log(pipe.WriteEnd(), "note: ");
    for (int i = 0; i < kLines; ++i) {
        log.Append(NumberedLine(i));
    }
    log.Stop(std::chrono::milliseconds(50));
    log.Append(NumberedLine(kLines)); // dropped: the writer has stopped
    pipe.CloseWrite();

    std::uint64_t noted = 0;
    const std::vector<std::string> lines = CheckLines(ReadToEnd(pipe.ReadEnd()), noted);
    EXPECT_FALSE(lines.empty());
    EXPECT_LT(lines.size(), static_cast<std::size_t>(kLines));
    // Every line not written is counted (with the note of the dropped ones, which came too late to be written).
    EXPECT_GE(lines.size() + log.DroppedLines(), static_cast<std::size_t>(kLines) + 1);
}

TEST(LogWriterTest, aFileGetsEveryLineAndMessageInOrder) {
    const test::TempDir dir;
    const int fd = open((dir / "log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    std::string expected;
    {
        LogWriter log(fd, "note: ", std::size_t{64} << 20U);
        for (int i = 0; i < kLines; ++i) {
            log.Append(NumberedLine(i));
            expected += NumberedLine(i);
            if (i % 1000 == 0) {
                log.Message("at " + std::to_string(i));
                expected += "note: at " + std::to_string(i) + "\n";
            }
        }
    }
    close(fd);
    EXPECT_EQ(test::ReadFileBytes(dir / "log"), expected);
}

TEST(LogWriterTest, aPipeWithoutReaderDropsEverythingAndRaisesNoSignal) {
    // The default action of SIGPIPE ends the process: this test binary, were the writer to let it through.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    {
        Pipe pipe;
        pipe.CloseRead();
        LogWriter log(pipe.WriteEnd(), "note: ");
        for (int i = 0; i < 100; ++i) {
            log.Append(NumberedLine(i));
        }
        log.Stop();
        EXPECT_EQ(log.DroppedLines(), 100U);
    }
    std::signal(SIGPIPE, previous);
}

} // namespace
} // namespace morvane

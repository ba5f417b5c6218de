#include "mining/file_append.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr std::string_view kBlock = "ab\r\ncd\r\n";

// What another program does: appends a line through a descriptor of its own.
void AppendAsAnotherProgram(const std::filesystem::path& path, std::string_view line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ::close(fd);
}

class AppendToExistingFileTest : public testing::Test {
protected:
    AppendToExistingFileTest() { WriteFileBytes(path, "kept\r\n"); }

    TempDir dir;
    std::filesystem::path path = dir / "words.txt";
};

TEST_F(AppendToExistingFileTest, blockGoesAfterWhatTheFileHolds) {
    EXPECT_TRUE(AppendToExistingFile(path.string(), kBlock));
    EXPECT_EQ(ReadFileBytes(path), "kept\r\nab\r\ncd\r\n");
}

TEST_F(AppendToExistingFileTest, missingFileIsNotCreated) {
    EXPECT_FALSE(AppendToExistingFile((dir / "missing.txt").string(), kBlock));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.txt"));
}

// Cut short by a full disk or the file-size limit: whatever part went out is taken back.
TEST_F(AppendToExistingFileTest, blockCutShortLeavesNothingOfItself) {
    int calls = 0;
    const auto shortWrite = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls > 1) {
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, data, std::min<std::size_t>(size, 3));
    };

    EXPECT_FALSE(AppendToExistingFile(path.string(), kBlock, shortWrite));
    EXPECT_EQ(ReadFileBytes(path), "kept\r\n");
}

// Another program appends a line just before the block goes out, and the block is then cut short: that line stays
// whole, and nothing of the block is left.
TEST_F(AppendToExistingFileTest, lineAppendedByAnotherProgramBeforeTheBlockStays) {
    int calls = 0;
    const auto raceThenShortWrite = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls > 1) {
            errno = ENOSPC;
            return -1;
        }
        AppendAsAnotherProgram(path, "other\r\n");
        return ::write(fd, data, std::min<std::size_t>(size, 3));
    };

    EXPECT_FALSE(AppendToExistingFile(path.string(), kBlock, raceThenShortWrite));
    EXPECT_EQ(ReadFileBytes(path), "kept\r\nother\r\n");
}

// Another program appends a line right after the part of the block that went out: cutting the part back would cut
// that line, so both stay.
TEST_F(AppendToExistingFileTest, lineAppendedByAnotherProgramAfterAShortBlockStays) {
    int calls = 0;
    const auto shortWriteThenRace = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls > 1) {
            errno = ENOSPC;
            return -1;
        }
        const ssize_t written = ::write(fd, data, std::min<std::size_t>(size, 3));
        AppendAsAnotherProgram(path, "other\r\n");
        return written;
    };

    EXPECT_FALSE(AppendToExistingFile(path.string(), kBlock, shortWriteThenRace));
    EXPECT_EQ(ReadFileBytes(path), "kept\r\nab\rother\r\n");
}

// The real file-size limit, in a child process of its own: the write stops at the limit (EFBIG, with SIGXFSZ
// ignored as the programs ignore it) and the part of the block that went out is taken back.
TEST_F(AppendToExistingFileTest, fileSizeLimitLeavesWholeLines) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{.rlim_cur = 10, .rlim_max = 10};
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        ::_exit(limited && !AppendToExistingFile(path.string(), kBlock) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFileBytes(path), "kept\r\n");
}

} // namespace
} // namespace morvane

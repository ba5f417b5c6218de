// A block of lines that the output file takes only in part is cut back to the last whole line.
#include "cli/word_output.h"
#include "tests/support/case_name.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <limits>
#include <unistd.h>

namespace morvane {
namespace {

using test::TempDir;

struct ShortWriteCase {
    std::string name;
    std::size_t accepted; // bytes of the block the file takes before the write fails
    int error;            // errno of the failing write
    std::string kept;     // what of the block stays in the file

    friend void PrintTo(const ShortWriteCase& param, std::ostream* out) { *out << param.name; }
};

class ShortWriteTest : public testing::TestWithParam<ShortWriteCase> {};

TEST_P(ShortWriteTest, fileKeepsWholeLinesOnly) {
    const ShortWriteCase& c = GetParam();
    TempDir dir;
    const std::string path = (dir / "words.txt").string();
    const std::string block = "one\ntwo\nthree\n";
    // Stands for a disk that fills up: once room is set to c.accepted, the writes take that much and then fail.
    std::size_t left = std::numeric_limits<std::size_t>::max();
    const WriteFunction fillingDisk = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (left == 0) {
            errno = c.error;
            return -1;
        }
        const ssize_t n = ::write(fd, data, std::min(size, left));
        left -= static_cast<std::size_t>(n);
        return n;
    };
    FileWordOutput output;
    ASSERT_TRUE(output.Open(path, nullptr, fillingDisk));
    ASSERT_TRUE(output.WriteBlock("first\n"));
    left = c.accepted;

    EXPECT_FALSE(output.WriteBlock(block));

    EXPECT_EQ(test::ReadFileBytes(path), "first\n" + c.kept);
    EXPECT_EQ(output.Error(), std::error_code(c.error, std::generic_category()).message());
}

INSTANTIATE_TEST_SUITE_P(Writes, ShortWriteTest,
                         testing::Values(ShortWriteCase{"diskFullInTheFirstLine", 2, ENOSPC, ""},
                                         ShortWriteCase{"diskFullInTheThirdLine", 10, ENOSPC, "one\ntwo\n"},
                                         ShortWriteCase{"fileTooLargeAtALineEnd", 8, EFBIG, "one\ntwo\n"},
                                         ShortWriteCase{"nothingTaken", 0, EFBIG, ""}),
                         test::CaseName());

} // namespace
} // namespace morvane

// What the real morvane-mine binary does with unusual standard streams and files: closed descriptors, a reader
// of standard error that goes away, FIFOs, and the file-size limit.
#include "cli/run_mine.h"
#include "tests/cli/mine_process.h"
#include "tests/cli/mine_test_support.h"
#include "tests/support/case_name.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace morvane {
namespace {

using test::MineProcess;
using test::ProcessSetup;
using test::ScriptedServer;
using test::StandardStream;
using test::TempDir;

class StandardStreamsTest : public testing::Test {
protected:
    StandardStreamsTest() {
        server.SetHandler(test::DictionaryHandler({{"手机", {"手机壳", "手机支架"}}, {"旅游", {"旅游攻略"}}}));
        test::WriteFileBytes(dir / "seeds.txt", "手机\n旅游\n");
    }

    std::vector<std::string> Args(std::vector<std::string> more) const {
        std::vector<std::string> args{"--service", server.BaseUrl(), "--pause", "0"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    TempDir dir;
    ScriptedServer server;
};

// A closed standard descriptor must not be taken by a pipe or socket of the run: closed standard input reads as
// empty, closed standard output fails like any output that cannot be written, closed standard error only loses
// the progress.
TEST_F(StandardStreamsTest, closedStandardInputIsEmptyInput) {
    MineProcess process(Args({}), {.in = StandardStream::Close(), .err = StandardStream::ToFile(dir / "err")});

    EXPECT_EQ(process.Wait(), kExitSuccess);
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "停止挖！\n");
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(StandardStreamsTest, closedStandardOutputFailsTheRunAtTheFirstWords) {
    MineProcess process(Args({"--quiet", (dir / "seeds.txt").string()}),
                        {.out = StandardStream::Close(), .err = StandardStream::ToFile(dir / "err")});

    EXPECT_EQ(process.Wait(), kExitFailure);
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "morvane-mine: cannot write to standard output: Bad file descriptor\n");
    EXPECT_EQ(test::RequestedSeeds(server), std::vector<std::string>{"手机"});
}

TEST_F(StandardStreamsTest, closedStandardErrorLosesOnlyTheProgress) {
    MineProcess process(Args({(dir / "seeds.txt").string()}),
                        {.out = StandardStream::ToFile(dir / "out"), .err = StandardStream::Close()});

    EXPECT_EQ(process.Wait(), kExitSuccess);
    EXPECT_EQ(test::ReadFileBytes(dir / "out"), "手机壳\n手机支架\n旅游攻略\n");
}

// The progress reader going away must not end a run whose words go elsewhere.
TEST_F(StandardStreamsTest, readerOfStandardErrorGoingAwayLeavesTheRunGoing) {
    std::array<int, 2> pipe{};
    ASSERT_EQ(::pipe2(pipe.data(), O_CLOEXEC), 0);
    ::close(pipe[0]);
    MineProcess process(Args({"--output", (dir / "words.txt").string(), (dir / "seeds.txt").string()}),
                        {.err = StandardStream::Copy(pipe[1])});
    ::close(pipe[1]);

    EXPECT_EQ(process.Wait(), kExitSuccess);
    EXPECT_EQ(test::ReadFileBytes(dir / "words.txt"), "手机壳\n手机支架\n旅游攻略\n");
    EXPECT_EQ(server.Requests().size(), 2U);
}

struct SizeLimitCase {
    std::string name;
    bool toOutputOption; // --output FILE; otherwise standard output redirected to FILE

    friend void PrintTo(const SizeLimitCase& param, std::ostream* out) { *out << param.name; }
};

class FileSizeLimitTest : public StandardStreamsTest, public testing::WithParamInterface<SizeLimitCase> {};

// `ulimit -f`: the write that passes the limit fails with EFBIG, as on a full disk, and what it wrote in part is
// cut back, so the file ends with a whole line.
TEST_P(FileSizeLimitTest, writeOverTheLimitEndsTheRunWithWholeLines) {
    std::vector<std::string> words;
    std::string all;
    for (int i = 0; i < 40; ++i) {
        words.push_back("手机壳款式" + std::to_string(i));
        all += words.back() + "\n";
    }
    server.SetHandler(test::DictionaryHandler({{"手机", words}}));
    constexpr std::size_t kLimit = 300;
    ASSERT_GT(all.size(), kLimit);
    const std::filesystem::path file = dir / "words.txt";
    std::vector<std::string> args{"--quiet", (dir / "seeds.txt").string()};
    ProcessSetup setup{.err = StandardStream::ToFile(dir / "err"), .fileSizeLimit = kLimit};
    if (GetParam().toOutputOption) {
        args.insert(args.begin(), {"--output", file.string()});
    } else {
        setup.out = StandardStream::ToFile(file);
    }

    MineProcess process(Args(args), setup);

    EXPECT_EQ(process.Wait(), kExitFailure);
    const std::string name = GetParam().toOutputOption ? file.string() : "standard output";
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "morvane-mine: cannot write to " + name + ": File too large\n");
    const std::string written = test::ReadFileBytes(file);
    EXPECT_FALSE(written.empty());
    EXPECT_TRUE(written.ends_with("\n")) << written;
    EXPECT_TRUE(all.starts_with(written)) << written;
}

INSTANTIATE_TEST_SUITE_P(Outputs, FileSizeLimitTest,
                         testing::Values(SizeLimitCase{"outputOption", true}, SizeLimitCase{"standardOutput", false}),
                         test::CaseName());

// FIFOs work both ways once their other end comes: the run waits for it without blocking a stop.
TEST_F(StandardStreamsTest, outputFifoGetsTheWordsOnceItsReaderComes) {
    const std::string fifo = (dir / "words.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    MineProcess process(Args({"--quiet", "--output", fifo, (dir / "seeds.txt").string()}));

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::string received;
    std::array<char, 4096> buffer{};
    for (ssize_t n = 0; (n = ::read(reader, buffer.data(), buffer.size())) > 0;) {
        received.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(reader);

    EXPECT_EQ(process.Wait(), kExitSuccess);
    EXPECT_EQ(received, "手机壳\n手机支架\n旅游攻略\n");
}

TEST_F(StandardStreamsTest, seedFifoIsReadOnceItsWriterComes) {
    const std::string fifo = (dir / "seeds.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    MineProcess process(Args({"--quiet", fifo}), {.out = StandardStream::ToFile(dir / "out")});

    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string seeds = "手机\n旅游\n";
    EXPECT_EQ(::write(writer, seeds.data(), seeds.size()), static_cast<ssize_t>(seeds.size()));
    ::close(writer);

    EXPECT_EQ(process.Wait(), kExitSuccess);
    EXPECT_EQ(test::ReadFileBytes(dir / "out"), "手机壳\n手机支架\n旅游攻略\n");
}

} // namespace
} // namespace morvane

// SIGINT and SIGTERM against the real morvane-mine binary: while the service is silent, while the name of its host
// is being looked up, at start-up, and while the run waits for a FIFO or a pipe that nobody serves.
#include "cli/run_mine.h"
#include "tests/cli/mine_process.h"
#include "tests/cli/mine_test_support.h"
#include "tests/support/case_name.h"
#include "tests/support/hanging_lookup.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace morvane {
namespace {

using test::MineProcess;
using test::RecordedRequest;
using test::ScriptedReply;
using test::ScriptedServer;
using test::StandardStream;
using test::TempDir;

struct SignalCase {
    std::string name;
    int signal;

    friend void PrintTo(const SignalCase& param, std::ostream* out) { *out << param.name; }
};

class StopSignalTest : public testing::TestWithParam<SignalCase> {
protected:
    StopSignalTest() {
        test::WriteFileBytes(dir / "seeds.txt", "手机\n旅游\n咖啡\n");
        // The first seed is answered, every later one waits for ever.
        server.SetHandler([](const RecordedRequest& request) {
            return test::RequestedSeed(request) == "手机" ? test::WordsReply({"手机壳", "手机支架"})
                                                          : ScriptedReply{.kind = ScriptedReply::Kind::Silent};
        });
    }

    std::vector<std::string> Args() const {
        return {"--service",
                server.BaseUrl(),
                "--pause",
                "0",
                "--output",
                (dir / "words.txt").string(),
                (dir / "seeds.txt").string()};
    }

    TempDir dir;
    ScriptedServer server;
};

TEST_P(StopSignalTest, signalWhileTheServiceIsSilentEndsWith130AndWholeLines) {
    MineProcess process(Args(),
                        {.out = StandardStream::ToFile(dir / "out"), .err = StandardStream::ToFile(dir / "err")});
    ASSERT_TRUE(process.Spawned());
    ASSERT_TRUE(server.WaitForRequests(2));

    process.Signal(GetParam().signal);

    EXPECT_EQ(process.Wait(), kExitInterrupted);
    EXPECT_EQ(test::ReadFileBytes(dir / "words.txt"), "手机壳\n手机支架\n");
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "正在挖(33.33333333333%)...\n强制停止！\n");
    EXPECT_EQ(server.Requests().size(), 2U);
}

// The lookup of the service's host name hangs (held by the preloaded shim); the signal ends the run at once all the
// same, without waiting for the lookup.
TEST_P(StopSignalTest, signalWhileTheHostNameLookupHangsEndsWith130) {
    const std::string notice = (dir / "lookup-notice").string();
    ASSERT_EQ(::mkfifo(notice.c_str(), 0600), 0);
    const int noticeFd = ::open(notice.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(noticeFd, 0);
    MineProcess process({"--service", test::kHangingServiceBase, "--pause", "0", (dir / "seeds.txt").string()},
                        {.err = StandardStream::ToFile(dir / "err"),
                         .environment = {"LD_PRELOAD=" MORVANE_HANGING_LOOKUP_PRELOAD,
                                         std::string(test::kHangingLookupNoticeVariable) + "=" + notice}});
    ASSERT_TRUE(process.Spawned());
    pollfd hanging{noticeFd, POLLIN, 0};
    const bool lookupHangs = ::poll(&hanging, 1, 20'000) == 1;
    ::close(noticeFd);
    ASSERT_TRUE(lookupHangs);

    process.Signal(GetParam().signal);

    EXPECT_EQ(process.Wait(), kExitInterrupted);
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "强制停止！\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest,
                         testing::Values(SignalCase{"sigint", SIGINT}, SignalCase{"sigterm", SIGTERM}),
                         test::CaseName());

TEST(StopSignalWatcherTest, runToItsEndReleasesTheWatcherAndExitsZero) {
    TempDir dir;
    ScriptedServer server;
    server.SetHandler(test::DictionaryHandler({{"手机", {"手机壳"}}}));
    test::WriteFileBytes(dir / "seeds.txt", "手机\n");

    MineProcess process({"--service", server.BaseUrl(), "--pause", "0", (dir / "seeds.txt").string()},
                        {.out = StandardStream::ToFile(dir / "out"), .err = StandardStream::ToFile(dir / "err")});
    ASSERT_TRUE(process.Spawned());

    EXPECT_EQ(process.Wait(), kExitSuccess);
    EXPECT_EQ(test::ReadFileBytes(dir / "out"), "手机壳\n");
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "正在挖(100%)...\n停止挖！\n");
}

// A signal that comes while the shared libraries are initialised, before main, is held until the watcher takes
// it, rather than ending the process by its default action.
TEST(EarlySignalTest, signalBeforeMainEndsTheRunWith130) {
    TempDir dir;
    ScriptedServer server;
    server.AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    test::WriteFileBytes(dir / "seeds.txt", "手机\n");
    std::string asanOptions = "verify_asan_link_order=0";      // the preloaded library comes before AddressSanitizer's
    if (const char* inherited = std::getenv("ASAN_OPTIONS")) { // NOLINT(concurrency-mt-unsafe)
        asanOptions = std::string(inherited) + ":" + asanOptions;
    }

    MineProcess process({"--service", server.BaseUrl(), "--quiet", (dir / "seeds.txt").string()},
                        {.environment = {"LD_PRELOAD=" MORVANE_RAISE_SIGINT_PRELOAD, "ASAN_OPTIONS=" + asanOptions}});
    ASSERT_TRUE(process.Spawned());

    EXPECT_EQ(process.Wait(), kExitInterrupted);
}

// A pipe that the test never reads while the process runs.
class StalledPipe {
public:
    StalledPipe() { (void)::pipe2(m_fds.data(), O_CLOEXEC); }
    ~StalledPipe() {
        for (const int fd : m_fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    StalledPipe(const StalledPipe&) = delete;
    StalledPipe& operator=(const StalledPipe&) = delete;
    StalledPipe(StalledPipe&&) = delete;
    StalledPipe& operator=(StalledPipe&&) = delete;

    int WriteEnd() const { return m_fds[1]; }

    // Fills the pipe to the brim with 'f', so that the first write of the process blocks.
    void Fill() {
        // Filled without blocking, then made blocking again: the process gets it as a shell would hand it over.
        const int flags = ::fcntl(m_fds[1], F_GETFL);
        ::fcntl(m_fds[1], F_SETFL, flags | O_NONBLOCK);
        const std::string chunk(4096, 'f');
        for (const std::size_t size : {chunk.size(), std::size_t{1}}) {
            while (::write(m_fds[1], chunk.data(), size) > 0) {
            }
        }
        ::fcntl(m_fds[1], F_SETFL, flags);
    }

    // Waits until the pipe holds bytes and has no room left: a writer with more to write is held there.
    bool WaitUntilFull(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int held = 0;
            pollfd room{m_fds[1], POLLOUT, 0};
            if (::ioctl(m_fds[0], FIONREAD, &held) == 0 && held > 0 && ::poll(&room, 1, 0) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // Everything the pipe holds, less the filling, once every writer is gone.
    std::string Drain() {
        ::close(m_fds[1]);
        m_fds[1] = -1;
        std::string bytes;
        std::array<char, 65536> buffer{};
        for (ssize_t n = 0; (n = ::read(m_fds[0], buffer.data(), buffer.size())) > 0;) {
            bytes.append(buffer.data(), static_cast<std::size_t>(n));
        }
        return bytes.substr(std::min(bytes.size(), bytes.find_first_not_of('f')));
    }

private:
    std::array<int, 2> m_fds{-1, -1};
};

// The run waits where nothing but a signal can end the wait: a FIFO that nobody opens, a pipe that nobody reads.
class BlockedRunTest : public testing::Test {
protected:
    BlockedRunTest() {
        server.SetHandler(test::DictionaryHandler({{"手机", {"手机壳", "手机支架"}}}));
        test::WriteFileBytes(dir / "seeds.txt", "手机\n");
    }

    std::vector<std::string> Args(std::vector<std::string> more) const {
        std::vector<std::string> args{"--service", server.BaseUrl(), "--pause", "0"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    // Makes a FIFO at dir/name.
    std::string Fifo(const std::string& name) const {
        std::string path = (dir / name).string();
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        return path;
    }

    TempDir dir;
    ScriptedServer server;
};

TEST_F(BlockedRunTest, signalWhileOpeningAnOutputFifoWithoutReaderEndsWith130) {
    const std::string fifo = Fifo("words.fifo");
    MineProcess process(Args({"--output", fifo, (dir / "seeds.txt").string()}));
    ASSERT_TRUE(process.WaitUntilMainThreadSleeps());

    process.Signal(SIGINT);

    EXPECT_EQ(process.Wait(), kExitInterrupted);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(BlockedRunTest, signalWhileASeedFifoHasNoWriterEndsWith130) {
    const std::string fifo = Fifo("seeds.fifo");
    MineProcess process(Args({fifo}));
    ASSERT_TRUE(process.WaitUntilMainThreadSleeps());

    process.Signal(SIGTERM);

    EXPECT_EQ(process.Wait(), kExitInterrupted);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(BlockedRunTest, signalWhileStandardOutputIsFullEndsWith130AndWholeLines) {
    // More words than the pipe holds, so that the run is held with words still to write.
    std::vector<std::string> words;
    std::string all;
    for (int i = 0; i < 6000; ++i) {
        words.push_back("手机壳款式" + std::to_string(i));
        all += words.back() + "\n";
    }
    server.SetHandler(test::DictionaryHandler({{"手机", words}}));
    StalledPipe out;
    MineProcess process(Args({"--quiet", (dir / "seeds.txt").string()}), {.out = StandardStream::Copy(out.WriteEnd())});
    ASSERT_TRUE(out.WaitUntilFull());

    process.Signal(SIGINT);

    EXPECT_EQ(process.Wait(), kExitInterrupted);
    const std::string written = out.Drain();
    EXPECT_FALSE(written.empty());
    EXPECT_LT(written.size(), all.size());
    EXPECT_TRUE(all.starts_with(written) && written.ends_with("\n"));
}

TEST_F(BlockedRunTest, signalWhileStandardErrorIsFullEndsWith130) {
    StalledPipe err;
    err.Fill();
    MineProcess process(Args({"--output", (dir / "words.txt").string(), (dir / "seeds.txt").string()}),
                        {.err = StandardStream::Copy(err.WriteEnd())});
    ASSERT_TRUE(server.WaitForRequests(1)); // the progress comes next, into the full pipe

    process.Signal(SIGINT);

    EXPECT_EQ(process.Wait(), kExitInterrupted);
    const std::string words = test::ReadFileBytes(dir / "words.txt");
    EXPECT_TRUE(words.empty() || words == "手机壳\n手机支架\n") << words;
}

} // namespace
} // namespace morvane

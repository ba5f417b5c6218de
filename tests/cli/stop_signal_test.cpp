// SIGINT and SIGTERM against the real morvane-mine binary.
#include "cli/run_mine.h"
#include "tests/cli/mine_test_support.h"
#include "tests/support/case_name.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvane {
namespace {

using test::RecordedRequest;
using test::ScriptedReply;
using test::ScriptedServer;
using test::TempDir;

// A morvane-mine process with its standard output and error going to files; stdin reads /dev/null.
class MineProcess {
public:
    MineProcess(const std::vector<std::string>& args, const std::filesystem::path& out,
                const std::filesystem::path& err) {
        std::vector<std::string> argv{MORVANE_MINE_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        pointers.reserve(argv.size() + 1);
        for (std::string& arg : argv) {
            pointers.push_back(arg.data());
        }
        pointers.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // The child starts as a shell would start it: no signal blocked, none ignored.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        m_spawned = posix_spawn(&m_pid, argv[0].c_str(), &actions, &attributes, pointers.data(), environ) == 0;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }

    ~MineProcess() {
        if (m_spawned && !m_waited) {
            ::kill(m_pid, SIGKILL);
            (void)Wait();
        }
    }
    MineProcess(const MineProcess&) = delete;
    MineProcess& operator=(const MineProcess&) = delete;

    bool Spawned() const { return m_spawned; }
    void Signal(int signal) const { ::kill(m_pid, signal); }

    // Waits for the process to end; its exit status, or -1 when a signal ended it.
    int Wait() {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_waited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    bool m_spawned = false;
    bool m_waited = false;
};

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
    MineProcess process(Args(), dir / "out", dir / "err");
    ASSERT_TRUE(process.Spawned());
    ASSERT_TRUE(server.WaitForRequests(2));

    process.Signal(GetParam().signal);

    EXPECT_EQ(process.Wait(), kExitInterrupted);
    EXPECT_EQ(test::ReadFileBytes(dir / "words.txt"), "手机壳\n手机支架\n");
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "正在挖(33.33333333333%)...\n强制停止！\n");
    EXPECT_EQ(server.Requests().size(), 2U);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest,
                         testing::Values(SignalCase{"sigint", SIGINT}, SignalCase{"sigterm", SIGTERM}),
                         test::CaseName());

TEST(StopSignalWatcherTest, runToItsEndReleasesTheWatcherAndExitsZero) {
    TempDir dir;
    ScriptedServer server;
    server.SetHandler(test::DictionaryHandler({{"手机", {"手机壳"}}}));
    test::WriteFileBytes(dir / "seeds.txt", "手机\n");

    MineProcess process({"--service", server.BaseUrl(), "--pause", "0", (dir / "seeds.txt").string()}, dir / "out",
                        dir / "err");
    ASSERT_TRUE(process.Spawned());

    EXPECT_EQ(process.Wait(), kExitSuccess);
    EXPECT_EQ(test::ReadFileBytes(dir / "out"), "手机壳\n");
    EXPECT_EQ(test::ReadFileBytes(dir / "err"), "正在挖(100%)...\n停止挖！\n");
}

} // namespace
} // namespace morvane

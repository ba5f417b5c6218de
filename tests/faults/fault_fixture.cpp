#include "tests/faults/fault_fixture.h"

#include "cli/run_mine.h"
#include "mining/cancel_token.h"
#include "tests/cli/mine_test_support.h"

#include <fcntl.h>
#include <sstream>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace morvane::test {

std::size_t OpenDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

WithoutPermissionOverride::WithoutPermissionOverride() {
    __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
    if (syscall(SYS_capget, &header, m_saved.data()) != 0) {
        return;
    }
    std::array<__user_cap_data_struct, 2> lowered = m_saved;
    lowered[0].effective &= ~(1U << CAP_DAC_OVERRIDE);
    m_lowered = syscall(SYS_capset, &header, lowered.data()) == 0;
}

WithoutPermissionOverride::~WithoutPermissionOverride() {
    if (m_lowered) {
        __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
        (void)syscall(SYS_capset, &header, m_saved.data());
    }
}

bool CanWriteReadOnlyFiles(const std::filesystem::path& folder) {
    const std::filesystem::path probe = folder / "read-only probe";
    WriteFileBytes(probe, "");
    std::filesystem::permissions(probe, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                            std::filesystem::perms::others_read);
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
    }
    std::filesystem::remove(probe);
    return fd >= 0;
}

JobFaultTest::JobFaultTest() : m_descriptorsBefore(OpenDescriptorCount()) {
    server.emplace();
    server->SetHandler([this](const RecordedRequest& request) {
        const std::string seed = RequestedSeed(request);
        std::function<void()> action;
        std::optional<ScriptedReply> bad;
        {
            const std::lock_guard lock(m_mutex);
            if (const auto found = m_actions.find(seed); found != m_actions.end()) {
                action = found->second;
            }
            bad = m_badReply;
        }
        if (action) {
            action();
        }
        if (seed == "bad" && bad) {
            return *bad;
        }
        return WordsReply({seed + "-a", seed + "-b"});
    });
}

void JobFaultTest::TearDown() {
    server.reset();
    EXPECT_EQ(OpenDescriptorCount(), m_descriptorsBefore) << "the job left file descriptors open";
}

void JobFaultTest::AnswerBadSeedWith(const ScriptedReply& reply) {
    const std::lock_guard lock(m_mutex);
    m_badReply = reply;
}

void JobFaultTest::OnRequestFor(const std::string& seed, std::function<void()> action) {
    const std::lock_guard lock(m_mutex);
    m_actions[seed] = std::move(action);
}

WindowResult JobFaultTest::RunWindowJob(const Text& seeds, std::optional<std::size_t> stopAfterRequests) {
    FakeControls controls;
    controls.SetSeedText(seeds);
    WindowResult result;
    {
        MiningWorker worker(controls, output, RecommendationService(server->BaseUrl()), std::chrono::milliseconds(0));
        EXPECT_TRUE(worker.Start());
        if (stopAfterRequests) {
            EXPECT_TRUE(server->WaitForRequests(*stopAfterRequests));
            worker.EndMiningJob();
        }
        result.completed = worker.Wait();
    }
    result.resultText = controls.ResultText();
    result.statusTexts = controls.StatusTexts();
    for (const auto& [seed, report] : controls.Reports()) {
        result.outcomes.push_back(report.outcome);
    }
    result.startEnabled = controls.StartEnabledCount();
    return result;
}

MineResult JobFaultTest::RunMine(std::vector<std::string> args, const std::string& input,
                                 std::optional<std::size_t> stopAfterRequests) {
    args.insert(args.begin(), {"--service", server->BaseUrl(), "--pause", "0"});
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    CancelToken stop;
    MineResult result;
    std::thread run([&] { result.status = morvane::RunMine(args, in, out, err, RunSettings{.stop = &stop}); });
    if (stopAfterRequests) {
        EXPECT_TRUE(server->WaitForRequests(*stopAfterRequests));
        stop.Cancel();
    }
    run.join();
    result.out = out.str();
    result.err = err.str();
    return result;
}

std::string JobFaultTest::WordLines(const std::vector<std::string>& seeds, const std::string& lineEnd) {
    std::string lines;
    for (const std::string& seed : seeds) {
        for (const char* suffix : {"-a", "-b"}) {
            lines += seed;
            lines += suffix;
            lines += lineEnd;
        }
    }
    return lines;
}

} // namespace morvane::test

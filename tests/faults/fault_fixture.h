#pragma once

#include "mining/mining_job.h"
#include "tests/support/fake_controls.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <linux/capability.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace morvane::test {

// The number of file descriptors the process holds open.
std::size_t OpenDescriptorCount();

// While it lives, the calling thread (and every thread it starts) works without CAP_DAC_OVERRIDE in its effective
// capabilities, so that file permissions hold for it as they hold for an ordinary user even when the tests run
// as root. Threads started earlier keep theirs. Nothing changes for a process that has no such capability.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride();
    ~WithoutPermissionOverride();
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

private:
    std::array<__user_cap_data_struct, 2> m_saved{};
    bool m_lowered = false;
};

// True when the calling thread may open a file that nobody may write (mode 0444) for writing, as root may.
bool CanWriteReadOnlyFiles(const std::filesystem::path& folder);

// What one front end gave for a job.
struct WindowResult {
    bool completed = false;             // MiningWorker::Wait: the job ran to its end
    Text resultText;                    // the result box
    std::vector<Text> statusTexts;      // every status text, in order
    std::vector<QueryOutcome> outcomes; // what became of every request, in order
    int startEnabled = 0;
};

struct MineResult {
    int status = -1;
    std::string out;
    std::string err;
};

// A scripted service that answers every seed with "<seed>-a" and "<seed>-b", and the front ends to run a job
// against it. The service goes away before the test ends, so that the test can tell that a job left no
// descriptor open (the sanitizer builds tell about memory).
class JobFaultTest : public testing::Test {
protected:
    JobFaultTest();
    void TearDown() override;

    // Answers the seed "bad" with reply, every other seed as usual.
    void AnswerBadSeedWith(const ScriptedReply& reply);
    // Runs action on the service's thread when the request for seed arrives, before it is answered.
    void OnRequestFor(const std::string& seed, std::function<void()> action);

    // Runs the window's job over seeds (GBK, CR LF) through MiningWorker and the shared fake controls, with the
    // output target as it is set, to its end; or, when stopAfterRequests is given, ends it with EndMiningJob once
    // that many requests have arrived.
    WindowResult RunWindowJob(const Text& seeds, std::optional<std::size_t> stopAfterRequests = std::nullopt);

    // Runs morvane-mine in-process with args (after --service and --pause 0) over input; when stopAfterRequests
    // is given, stops it as SIGINT would once that many requests have arrived.
    MineResult RunMine(std::vector<std::string> args, const std::string& input,
                       std::optional<std::size_t> stopAfterRequests = std::nullopt);

    // The words the service gives for seeds, as whole lines ending with lineEnd.
    static std::string WordLines(const std::vector<std::string>& seeds, const std::string& lineEnd);

    std::optional<ScriptedServer> server;
    OutputTarget output;
    TempDir dir;

private:
    std::size_t m_descriptorsBefore = 0;
    std::mutex m_mutex;
    std::optional<ScriptedReply> m_badReply;
    std::map<std::string, std::function<void()>> m_actions;
};

} // namespace morvane::test

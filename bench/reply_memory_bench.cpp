// Peak memory of reading one reply, from the request to the words, for the replies that cost the most: the
// largest json-c tree of each kind of value that the tree limit lets through, a valid reply at that limit, and
// replies near and over the body limit. Each reply is read by a fresh child process (this program run again
// with --measure), which reports the growth of its peak resident set size (VmHWM) over what it held before the
// request, and then reads the same reply again with its address space capped at that budget (ulimit -v).
// Target: the peak stays under 64 MiB plus four times the size of the reply.
#include "mining/encoding.h"
#include "mining/gbk_json.h"
#include "mining/http_get.h"
#include "mining/recommendations.h"
#include "tests/support/scripted_server.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace morvane {
namespace {

using test::RecordedRequest;
using test::ScriptedReply;
using test::ScriptedServer;

constexpr std::size_t kMiB = std::size_t{1} << 20U;
constexpr std::size_t kFixedBudget = 64 * kMiB;

// A reply of count values made by unit(i), comma separated, inside the list of a reply that carries words.
std::string ListOf(std::size_t count, const std::function<std::string(std::size_t)>& unit) {
    std::string body = R"({"success":"1","data":{"list":[)";
    for (std::size_t i = 0; i < count; ++i) {
        body += i == 0 ? "" : ",";
        body += unit(i);
    }
    return body + "]}}";
}

// The same in an ignored member beside one word, so that only the tree costs.
std::string BesideOneWord(std::size_t count, const std::function<std::string(std::size_t)>& unit,
                          const char* open = "[", const char* close = "]") {
    std::string body = R"({"success":"1","data":{"list":[{"word":"w"}]},"x":)";
    body += open;
    for (std::size_t i = 0; i < count; ++i) {
        body += i == 0 ? "" : ",";
        body += unit(i);
    }
    return body + close + "}";
}

struct Shape {
    std::string name;
    std::function<std::string(std::size_t)> body; // the UTF-8 body with count values
};

// The largest count whose body the reading accepts (its tree estimate stays within kMaxJsonTreeBytes).
std::size_t LargestAccepted(const Shape& shape) {
    std::size_t low = 1;
    std::size_t high = 2;
    const auto accepted = [&](std::size_t count) {
        WordList words;
        return ExtractWords(ConvertEncoding(shape.body(count), "UTF-8", "GBK"), words) != ReplyReading::TooLarge;
    };
    while (accepted(high)) {
        low = high;
        high *= 2;
    }
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        (accepted(middle) ? low : high) = middle;
    }
    return low;
}

std::size_t StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.starts_with(prefix)) {
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return 0;
}

const char* OutcomeName(QueryOutcome outcome) {
    switch (outcome) {
    case QueryOutcome::Recommendation:
        return "words";
    case QueryOutcome::TooLarge:
        return "refused (too large)";
    case QueryOutcome::OutOfMemory:
        return "out of memory";
    default:
        return "other";
    }
}

// Child: reads the reply for seed from url twice, unlimited and then with its address space capped at the
// budget for a reply of replyBytes; prints "<outcome> <words> <peak growth KiB> <ms> <capped outcome> <words>".
int Measure(const std::string& url, const std::string& seed, std::size_t replyBytes) {
    const RecommendationService service(url);
    (void)service.FetchRecommendations("warmup", "0"); // libcurl, iconv and the GB18030 table set up
    std::ofstream("/proc/self/clear_refs") << "5";     // the peak starts again from what is resident now
    const std::size_t baseline = StatusKiB("VmRSS");
    QueryReport report;
    const auto start = std::chrono::steady_clock::now();
    std::size_t words = service.FetchRecommendations(seed, "0", nullptr, &report).size();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::size_t peak = StatusKiB("VmHWM");
    std::printf("%d %zu %zu %lld", static_cast<int>(report.outcome), words, peak - baseline,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));

    const rlimit cap{StatusKiB("VmSize") * 1024 + kFixedBudget + 4 * replyBytes, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &cap);
    QueryReport capped;
    words = service.FetchRecommendations(seed, "0", nullptr, &capped).size();
    std::printf(" %d %zu\n", static_cast<int>(capped.outcome), words);
    return 0;
}

struct Case {
    std::string name;
    std::string body;
};

int Run() {
    std::vector<Case> cases;
    const std::vector<Shape> shapes = {
        {"empty objects", [](std::size_t n) { return ListOf(n, [](std::size_t) { return "{}"; }); }},
        {"empty arrays", [](std::size_t n) { return BesideOneWord(n, [](std::size_t) { return "[]"; }); }},
        {"empty strings", [](std::size_t n) { return BesideOneWord(n, [](std::size_t) { return R"("")"; }); }},
        {"integers", [](std::size_t n) { return BesideOneWord(n, [](std::size_t) { return "1"; }); }},
        {"decimals", [](std::size_t n) { return BesideOneWord(n, [](std::size_t) { return "1.5"; }); }},
        {"literals true", [](std::size_t n) { return BesideOneWord(n, [](std::size_t) { return "true"; }); }},
        {"members of one object",
         [](std::size_t n) {
             return BesideOneWord(
                 n, [](std::size_t i) { return "\"" + std::to_string(i) + "\":1"; }, "{", "}");
         }},
        {"nested objects", [](std::size_t n) { return ListOf(n, [](std::size_t) { return R"({"a":{}})"; }); }},
        {"words 手机壳", [](std::size_t n) { return ListOf(n, [](std::size_t) { return R"({"word":"手机壳"})"; }); }},
    };
    for (const Shape& shape : shapes) {
        const std::size_t count = LargestAccepted(shape);
        cases.push_back(
            {shape.name + " (" + std::to_string(count) + ", the most the limit lets through)", shape.body(count)});
    }
    cases.push_back({"10 MB of empty objects in the list", ListOf(3'333'330, [](std::size_t) { return "{}"; })});
    cases.push_back({"a valid reply of 2,000,000 words", ListOf(2'000'000, [](std::size_t i) {
                         return R"({"word":"手机壳)" + std::to_string(i) + "\"}";
                     })});
    const std::string longWord(31 * kMiB, 'w');
    cases.push_back({"one word of 31 MiB", ListOf(1, [&](std::size_t) { return R"({"word":")" + longWord + "\"}"; })});
    std::string escapes;
    for (std::size_t i = 0; i < 31 * kMiB / 4; ++i) {
        escapes += i % 2 == 0 ? "\\u4e2d" : "\\t"; // 2 and 1 bytes once read
    }
    cases.push_back(
        {"one word of 31 MiB of escapes", ListOf(1, [&](std::size_t) { return R"({"word":")" + escapes + "\"}"; })});
    const std::string word32k(std::size_t{32} << 10U, 'w');
    cases.push_back(
        {"31 MiB of 32 KiB words (992)", ListOf(992, [&](std::size_t) { return R"({"word":")" + word32k + "\"}"; })});
    cases.push_back({"32 MiB, mostly white space", std::string(kMaxReplyBytes - 40, ' ') + R"({"success":"1"})"});

    ScriptedServer server;
    std::mutex mutex;
    const std::string* serving = nullptr;
    server.SetHandler([&](const RecordedRequest& request) {
        const std::lock_guard lock(mutex);
        if (serving == nullptr || request.target.find("word=case") == std::string::npos) {
            return test::WordsReply({"w"});
        }
        return ScriptedReply{.body = *serving};
    });

    std::printf("| reply | size | read as | words | peak growth | budget | peak / budget | time | under ulimit -v "
                "budget |\n|---|---|---|---|---|---|---|---|---|\n");
    for (const Case& c : cases) {
        {
            const std::lock_guard lock(mutex);
            serving = &c.body;
        }
        std::array<int, 2> pipe{};
        if (::pipe(pipe.data()) != 0) {
            return 1;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe[0]);
        std::string self = "/proc/self/exe";
        std::string flag = "--measure";
        std::string url = server.BaseUrl();
        std::string seed = "case";
        std::string size = std::to_string(c.body.size());
        std::array<char*, 6> argv{self.data(), flag.data(), url.data(), seed.data(), size.data(), nullptr};
        pid_t child = 0;
        const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        std::string result;
        std::array<char, 256> buffer{};
        for (ssize_t n = 0; (n = ::read(pipe[0], buffer.data(), buffer.size())) > 0;) {
            result.append(buffer.data(), static_cast<std::size_t>(n));
        }
        ::close(pipe[0]);
        if (spawned == 0) {
            int status = 0;
            waitpid(child, &status, 0);
        }
        int outcome = -1;
        int cappedOutcome = -1;
        std::size_t words = 0;
        std::size_t cappedWords = 0;
        std::size_t peakKiB = 0;
        long long ms = 0;
        if (std::sscanf(result.c_str(), "%d %zu %zu %lld %d %zu", &outcome, &words, &peakKiB, &ms, &cappedOutcome,
                        &cappedWords) != 6) {
            std::printf("| %s | measurement failed: %s |\n", c.name.c_str(), result.c_str());
            continue;
        }
        const double sizeMiB = static_cast<double>(c.body.size()) / kMiB;
        const double budgetMiB = 64.0 + 4.0 * sizeMiB;
        const double peakMiB = static_cast<double>(peakKiB) / 1024.0;
        std::printf("| %s | %.2f MiB | %s | %zu | %.1f MiB | %.1f MiB | %.2f | %lld ms | %s, %zu words |\n",
                    c.name.c_str(), sizeMiB, OutcomeName(static_cast<QueryOutcome>(outcome)), words, peakMiB, budgetMiB,
                    peakMiB / budgetMiB, ms, OutcomeName(static_cast<QueryOutcome>(cappedOutcome)), cappedWords);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace
} // namespace morvane

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--measure") {
        return morvane::Measure(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
    }
    return morvane::Run();
}

#include "mining/cancel_token.h"
#include "mining/http_get.h"
#include "tests/support/scripted_server.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace morvane {
namespace {

using Clock = std::chrono::steady_clock;

// Time from Cancel() to the return of an HttpGet that waits on a server that never answers.
void HttpGetAbortLatency(benchmark::State& state) {
    test::ScriptedServer server;
    server.AnswerAll(test::ScriptedReply{.kind = test::ScriptedReply::Kind::Silent});
    const std::string url = server.BaseUrl() + "/silent";
    std::size_t requests = 0;
    double slowest = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        CancelToken token;
        Clock::time_point returned;
        std::thread worker([&] {
            benchmark::DoNotOptimize(HttpGet(url, {.cancel = &token}));
            returned = Clock::now();
        });
        server.WaitForRequests(++requests);
        const Clock::time_point cancelled = Clock::now();
        token.Cancel();
        worker.join();
        const double seconds = std::chrono::duration<double>(returned - cancelled).count();
        slowest = std::max(slowest, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["max_ms"] = slowest * 1000;
}

BENCHMARK(HttpGetAbortLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

} // namespace
} // namespace morvane

BENCHMARK_MAIN();

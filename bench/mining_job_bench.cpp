// Whole-job figures: the pacing overhead over the fixed pause, the cost of growing the result box in
// result-list output, and how fast EndMiningJob ends a job that waits on a silent server.
#include "mining/mining_job.h"
#include "tests/support/scripted_server.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace morvane {
namespace {

using test::RecordedRequest;
using test::ScriptedReply;
using test::ScriptedServer;

// Controls that keep the result box as one growing text and discard everything else.
class BoxOnlyControls : public JobControls {
public:
    Text seedText;
    Text box;

    Text ReadSeedText() override { return seedText; }
    Text ReadResultText() override { return box; }
    void SetResultText(const Text& text) override { box = text; }
    void AppendResultText(const Text& text) override { box += text; }
    int ReadRegionSelection() override { return 0; }
    int ReadAreaId(int position) override { return position; }
    void SetKeywordTotal(const Text&) override {}
    void SetStatusText(const Text&) override {}
    void EnableStart() override {}
};

ScriptedReply TenWords(const RecordedRequest&) {
    std::string body = R"({"success":"1","data":{"list":[)";
    for (int i = 0; i < 10; ++i) {
        body += i == 0 ? R"({"word":"w)" : R"(,{"word":"w)";
        body += std::to_string(i);
        body += "\"}";
    }
    return ScriptedReply{.body = body + "]}}"};
}

// A 20-seed job with the real 300 ms pause against a server that answers at once. The pause is the floor:
// 20 x 0.3 s = 6 s.
void BM_PacingOverhead(benchmark::State& state) {
    ScriptedServer server;
    server.SetHandler(TenWords);
    const RecommendationService service(server.BaseUrl());
    OutputTarget output;
    output.SetOutputMode(OutputTarget::kResultList);
    for (auto _ : state) {
        BoxOnlyControls controls;
        for (int i = 0; i < 20; ++i) {
            controls.seedText += "seed";
            controls.seedText += std::to_string(i);
            controls.seedText += "\r\n";
        }
        CancelToken cancel;
        JobContext context{controls, output, service, kSeedPause, cancel};
        MiningJob(context);
        benchmark::DoNotOptimize(controls.box);
    }
    state.counters["floor_s"] = 20 * 0.3;
}
BENCHMARK(BM_PacingOverhead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Emits state.range(0) words, 100 per call, into the result box. Linear growth keeps the 200k time near
// twice the 100k time; a read and write of the whole box per word would make it four times.
void BM_ResultBoxGrowth(benchmark::State& state) {
    const auto wordCount = static_cast<std::size_t>(state.range(0));
    WordList batch;
    for (int i = 0; i < 100; ++i) {
        Text word = "\xd6\xd0\xce\xc4\xb9\xd8\xbc\xfc\xb4\xca"; // 中文关键词
        word += std::to_string(i);
        batch.push_back(word);
    }
    OutputTarget output;
    output.SetOutputMode(OutputTarget::kResultList);
    const RecommendationService service("http://127.0.0.1:1");
    for (auto _ : state) {
        BoxOnlyControls controls;
        CancelToken cancel;
        JobContext context{controls, output, service, std::chrono::milliseconds(0), cancel};
        for (std::size_t emitted = 0; emitted < wordCount; emitted += batch.size()) {
            EmitWords(batch, context);
        }
        benchmark::DoNotOptimize(controls.box);
    }
}
BENCHMARK(BM_ResultBoxGrowth)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

// EndMiningJob on a job whose request waits on a silent server, 100 times; reports the 50th and 99th
// percentile of its duration.
void BM_StopLatency(benchmark::State& state) {
    ScriptedServer server;
    server.AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    OutputTarget output;
    output.SetOutputMode(OutputTarget::kResultList);
    std::vector<double> millis;
    for (auto _ : state) {
        BoxOnlyControls controls;
        controls.seedText = "a";
        MiningWorker worker(controls, output, RecommendationService(server.BaseUrl()));
        const std::size_t before = server.Requests().size();
        worker.Start();
        server.WaitForRequests(before + 1);
        const auto start = std::chrono::steady_clock::now();
        worker.EndMiningJob();
        const auto end = std::chrono::steady_clock::now();
        millis.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        server.DropOpenConnections();
    }
    std::sort(millis.begin(), millis.end());
    state.counters["p50_ms"] = millis[millis.size() / 2];
    state.counters["p99_ms"] = millis[std::min(millis.size() - 1, millis.size() * 99 / 100)];
    state.counters["max_ms"] = millis.back();
}
BENCHMARK(BM_StopLatency)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(100);

} // namespace
} // namespace morvane

BENCHMARK_MAIN();

// Start-up and query cost of morvane-recomd's word index on jieba's dictionary (python3-jieba).
#include "service/recommendation_api.h"
#include "service/word_index.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace morvane {
namespace {

const CorpusLoad& JiebaCorpus() {
    static const CorpusLoad load = LoadCorpusFile(std::string(kJiebaDictionaryPath));
    return load;
}

const WordIndex* JiebaIndex() {
    static const std::unique_ptr<WordIndex> index =
        JiebaCorpus().error.empty() ? std::make_unique<WordIndex>(JiebaCorpus().words) : nullptr;
    return index.get();
}

void BM_LoadCorpus(benchmark::State& state) {
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        const CorpusLoad load = LoadCorpusFile(std::string(kJiebaDictionaryPath));
        if (!load.error.empty()) {
            state.SkipWithError(load.error.c_str());
            break;
        }
        benchmark::DoNotOptimize(load.words.data());
    }
}
BENCHMARK(BM_LoadCorpus)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BuildIndex(benchmark::State& state) {
    if (!JiebaCorpus().error.empty()) {
        state.SkipWithError(JiebaCorpus().error.c_str());
        return;
    }
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        state.PauseTiming();
        std::vector<CorpusWord> words = JiebaCorpus().words;
        state.ResumeTiming();
        const WordIndex index(std::move(words));
        benchmark::DoNotOptimize(index.Size());
    }
}
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->Iterations(5);

// One seed; the index's hardest cases are the commonest characters (一 and 不 are in over 5,000 words each)
// and seeds of three or more characters, whose matches must be checked word by word.
void BM_FindSeed(benchmark::State& state, const char* seed) {
    const WordIndex* index = JiebaIndex();
    if (index == nullptr) {
        state.SkipWithError("jieba's dictionary is not installed");
        return;
    }
    std::vector<std::string_view> found;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        found.clear();
        index->Find(seed, kDefaultReplyLimit, found);
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["words"] = static_cast<double>(found.size());
}
BENCHMARK_CAPTURE(BM_FindSeed, one_common_char, "一");
BENCHMARK_CAPTURE(BM_FindSeed, one_char_few_prefixes, "的");
BENCHMARK_CAPTURE(BM_FindSeed, two_chars, "中国");
BENCHMARK_CAPTURE(BM_FindSeed, two_chars_mostly_inside, "人民");
BENCHMARK_CAPTURE(BM_FindSeed, four_chars, "中华人民");
BENCHMARK_CAPTURE(BM_FindSeed, unknown, "\xF0\x9F\x98\x80");

// 2,000 corpus words cut to a random 1-2 character piece, as the whole-process benchmark asks; each iteration
// answers one full request: target parsing, the search and the JSON reply.
void BM_HandleRandomRequests(benchmark::State& state) {
    const WordIndex* index = JiebaIndex();
    const std::size_t wordCount = index == nullptr ? 0 : index->Size();
    if (wordCount == 0) {
        state.SkipWithError("jieba's dictionary is not installed");
        return;
    }
    std::mt19937 random(42);
    std::vector<std::string> targets;
    for (int i = 0; i < 2000; ++i) {
        const std::string_view word = index->Word(random() % wordCount);
        std::vector<std::size_t> starts;
        for (std::size_t b = 0; b < word.size(); ++b) {
            if ((static_cast<unsigned char>(word[b]) & 0xC0U) != 0x80U) {
                starts.push_back(b);
            }
        }
        starts.push_back(word.size());
        const std::size_t characters = starts.size() - 1;
        const std::size_t length = std::min<std::size_t>(characters, 1 + random() % 2);
        const std::size_t from = random() % (characters - length + 1);
        std::string target = "/recomword/recomWordCache_findRecomWord.htm?area_id=0&word=";
        for (std::size_t b = starts[from]; b < starts[from + length]; ++b) {
            static constexpr std::string_view kHex = "0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(word[b]);
            target += '%';
            target += kHex[byte >> 4U];
            target += kHex[byte & 0x0FU];
        }
        target += "&ie=utf-8";
        targets.push_back(std::move(target));
    }
    const RecommendationHandler handler(*index, kDefaultReplyLimit);
    std::size_t next = 0;
    std::size_t bytes = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        const HttpReply reply = handler.Handle(targets[next]);
        bytes += reply.body.size();
        next = (next + 1) % targets.size();
    }
    state.counters["reply_bytes"] = benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_HandleRandomRequests);

} // namespace
} // namespace morvane

BENCHMARK_MAIN();

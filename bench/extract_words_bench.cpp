// ExtractWords and the GBK JSON reading beneath it against json-c's own parse of the same reply: about 1 MB of
// GBK text holding 20,000 entries of Chinese words, most with other members beside the word.
#include "mining/gbk_json.h"
#include "mining/recommendations.h"

#include <benchmark/benchmark.h>
#include <json-c/json.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {
namespace {

constexpr int kEntries = 20000;

enum class WordForm {
    Gbk,                 // the words' GBK bytes as they are
    GbkWithTrailSlashes, // as Gbk, and one word in 16 also holds a character whose second byte is 0x5C
    Escaped,             // every Chinese character written as a \u escape
};

// A small deterministic generator, so every run reads the same reply.
class Lcg {
public:
    std::uint32_t Next() {
        m_state = m_state * 1664525U + 1013904223U;
        return m_state >> 8;
    }

private:
    std::uint32_t m_state = 12345;
};

// A GBK character from the level-one hanzi block (lead bytes B0..D7), with its code point for the escaped form.
void AppendHanzi(std::string& out, Lcg& random, WordForm form) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    const auto lead = static_cast<unsigned char>(0xB0 + random.Next() % 0x28);
    const auto trail = static_cast<unsigned char>(0xA1 + random.Next() % 0x5E);
    if (form != WordForm::Escaped) {
        out += static_cast<char>(lead);
        out += static_cast<char>(trail);
        return;
    }
    // The escaped form needs a code point; any CJK one serves, as json-c and the reading only see the escape.
    const unsigned code = 0x4E00 + (static_cast<unsigned>(lead - 0xB0) * 0x5E + (trail - 0xA1)) % 0x51A5;
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(code >> shift) & 0x0F];
    }
}

std::string MakeReply(WordForm form) {
    Lcg random;
    std::string reply = R"({"success":"1","message":"ok","data":{"total":20000,"list":[)";
    for (int i = 0; i < kEntries; ++i) {
        if (i > 0) {
            reply += ',';
        }
        reply += R"({"word":")";
        const std::uint32_t length = 2 + random.Next() % 7;
        for (std::uint32_t k = 0; k < length; ++k) {
            AppendHanzi(reply, random, form);
        }
        if (form == WordForm::GbkWithTrailSlashes && i % 16 == 0) {
            reply += "\x9c\x5c"; // 淺
        }
        reply += '"';
        if (i % 4 != 0) {
            reply += R"(,"pv":)" + std::to_string(random.Next() % 100000);
            reply += R"(,"kwc":"0.)" + std::to_string(10 + random.Next() % 90) + '"';
            reply += R"(,"rec":)" + std::to_string(random.Next() % 3);
        }
        reply += '}';
    }
    reply += "]}}";
    return reply;
}

const std::string& Reply(WordForm form) {
    static const std::string gbk = MakeReply(WordForm::Gbk);
    static const std::string slashes = MakeReply(WordForm::GbkWithTrailSlashes);
    static const std::string escaped = MakeReply(WordForm::Escaped);
    switch (form) {
    case WordForm::Gbk:
        return gbk;
    case WordForm::GbkWithTrailSlashes:
        return slashes;
    case WordForm::Escaped:
        break;
    }
    return escaped;
}

void SetCounters(benchmark::State& state, const std::string& reply) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(reply.size()));
    state.counters["reply_bytes"] = static_cast<double>(reply.size());
}

// json-c's own parse of the reply, as json_tokener_parse does it, and the release of the document.
void JsonCParse(benchmark::State& state, WordForm form) {
    const std::string& reply = Reply(form);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        json_tokener* tok = json_tokener_new();
        json_object* root = json_tokener_parse_ex(tok, reply.c_str(), static_cast<int>(reply.size() + 1));
        if (root == nullptr || json_tokener_get_error(tok) != json_tokener_success) {
            state.SkipWithError("json-c did not parse the reply");
        }
        benchmark::DoNotOptimize(root);
        json_object_put(root);
        json_tokener_free(tok);
    }
    SetCounters(state, reply);
}

// The same by the GBK reading rules.
void GbkParse(benchmark::State& state, WordForm form) {
    const std::string& reply = Reply(form);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        const JsonDocument document = ParseGbkJson(reply);
        if (!document.Parsed()) {
            state.SkipWithError("the reply did not parse");
        }
        benchmark::DoNotOptimize(document.Root());
    }
    SetCounters(state, reply);
}

// The whole reading of a reply: the parse, then copying out every word.
void Extract(benchmark::State& state, WordForm form) {
    const std::string& reply = Reply(form);
    WordList words;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        words.clear();
        ExtractWords(reply, words);
        if (words.size() != kEntries) {
            state.SkipWithError("not every word came out");
        }
        benchmark::DoNotOptimize(words.data());
    }
    SetCounters(state, reply);
}

// The fastest repetition is the least disturbed by whatever else the machine runs.
double Fastest(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

#define MORVANE_EXTRACT_BENCH(function, name, form)                                                                    \
    BENCHMARK_CAPTURE(function, name, form)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Fastest)

MORVANE_EXTRACT_BENCH(JsonCParse, gbk, WordForm::Gbk);
MORVANE_EXTRACT_BENCH(GbkParse, gbk, WordForm::Gbk);
MORVANE_EXTRACT_BENCH(Extract, gbk, WordForm::Gbk);
MORVANE_EXTRACT_BENCH(GbkParse, gbkWithTrailSlashes, WordForm::GbkWithTrailSlashes);
MORVANE_EXTRACT_BENCH(Extract, gbkWithTrailSlashes, WordForm::GbkWithTrailSlashes);
MORVANE_EXTRACT_BENCH(JsonCParse, escaped, WordForm::Escaped);
MORVANE_EXTRACT_BENCH(GbkParse, escaped, WordForm::Escaped);
MORVANE_EXTRACT_BENCH(Extract, escaped, WordForm::Escaped);

} // namespace
} // namespace morvane

BENCHMARK_MAIN();

// Feeds arbitrary bytes to morvane-mine's seed reading, in UTF-8 and in GBK mode (the first byte chooses), and
// checks what it gives against the rules for seed files: one entry per LF-ended line, a refusal only for text
// that is not UTF-8 and naming its first faulty line, every line either a seed that says what the line says or
// skipped with the right reason, and seeds that the mining job reads back line for line from the seed box text.
#include "cli/seed_input.h"
#include "fuzz/fuzz_check.h"
#include "mining/encoding.h"
#include "mining/text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using morvane::SkipReason;
using morvane::fuzz::Check;

// input cut at every LF, a CR right before it dropped; nothing after a final LF is no line.
std::vector<std::string_view> ExpectedLines(std::string_view input) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] != '\n') {
            continue;
        }
        std::string_view line = input.substr(start, i - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        start = i + 1;
    }
    if (start < input.size()) {
        lines.push_back(input.substr(start));
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool gbk = (data[0] & 1U) != 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const morvane::SeedInput result = morvane::DecodeSeedInput(input, gbk);

    std::string_view text = input;
    if (!gbk && text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const std::vector<std::string_view> lines = ExpectedLines(text);

    if (!result.error.empty()) {
        Check(!gbk && !morvane::IsValidUtf8(text), "only UTF-8 seed text that is not UTF-8 is refused");
        Check(result.lines.seeds.empty() && result.skipped.empty(), "a refused input gives no seeds");
        std::size_t firstFaulty = 0;
        while (firstFaulty < lines.size() && morvane::IsValidUtf8(lines[firstFaulty])) {
            ++firstFaulty;
        }
        Check(firstFaulty < lines.size(), "text that is not UTF-8 has a line that is not");
        Check(result.error.find("(line " + std::to_string(firstFaulty + 1) + ")") != std::string::npos,
              "the refusal names the first line that is not UTF-8");
        return 0;
    }
    Check(gbk || morvane::IsValidUtf8(text), "UTF-8 seed text that is not UTF-8 is refused");

    const morvane::WordList& seeds = result.lines.seeds;
    Check(seeds.size() == lines.size() && result.lines.shown.size() == lines.size(),
          "every line of the input gives one seed line, in order");
    std::size_t nextSkipped = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Check(result.lines.shown[i] == lines[i], "a seed line is shown as the input spells it");
        const bool skipped = nextSkipped < result.skipped.size() && result.skipped[nextSkipped].lineNumber == i + 1;
        if (skipped) {
            const SkipReason reason = result.skipped[nextSkipped++].reason;
            Check(seeds[i].empty(), "a skipped line leaves an empty seed, so that it still counts for progress");
            const std::string message = morvane::SkippedLineMessage(result.skipped[nextSkipped - 1]);
            Check(message.starts_with("line " + std::to_string(i + 1) + " "), "a skip message names its line");
            if (lines[i].find('\0') != std::string_view::npos) {
                Check(reason == SkipReason::NulByte, "a line holding NUL is skipped for it");
            } else if (gbk) {
                Check(reason == SkipReason::InvalidGbk && morvane::ConvertEncoding(lines[i], "GBK", "UTF-8").empty(),
                      "a GBK line is skipped only when it is not GBK");
            } else {
                Check(reason == SkipReason::NotInGbk && morvane::ConvertEncoding(lines[i], "UTF-8", "GBK").empty(),
                      "a UTF-8 line is skipped only when GBK cannot hold it");
            }
            continue;
        }
        Check(lines[i].find('\0') == std::string_view::npos, "no seed holds NUL");
        if (gbk) {
            Check(seeds[i] == lines[i], "a GBK seed is its line as it stands");
            Check(lines[i].empty() || !morvane::ConvertEncoding(lines[i], "GBK", "UTF-8").empty(),
                  "a GBK seed is GBK text");
        } else {
            Check(morvane::ConvertEncoding(seeds[i], "GBK", "UTF-8") == lines[i], "a UTF-8 seed is its line in GBK");
        }
    }
    Check(nextSkipped == result.skipped.size(), "skipped lines are listed once each, in order, within the input");

    // The mining job reads the seed box with SplitLines: it must find the same lines.
    Check(morvane::SplitLines(morvane::JoinSeedLines(seeds)) == seeds,
          "the seed box text built from the seeds splits into the same seeds");
    return 0;
}

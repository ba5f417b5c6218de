#include "cli/seed_input.h"

#include "mining/encoding.h"

#include <optional>

namespace morvane {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Cuts input at LF; a CR right before an LF belongs to the line break.
std::vector<std::string_view> CutAtLineFeeds(std::string_view input) {
    std::vector<std::string_view> lines;
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace

SeedInput DecodeSeedInput(std::string_view input, bool gbk) {
    SeedInput result;
    if (!gbk) {
        if (input.starts_with(kUtf8ByteOrderMark)) {
            input.remove_prefix(kUtf8ByteOrderMark.size());
        }
        if (!IsValidUtf8(input)) {
            std::size_t lineNumber = 1;
            for (const std::string_view line : CutAtLineFeeds(input)) {
                if (!IsValidUtf8(line)) {
                    break;
                }
                ++lineNumber;
            }
            result.error =
                "seed text is not valid UTF-8 (line " + std::to_string(lineNumber) + "); if it is GBK, try --gbk";
            return result;
        }
    }
    const std::vector<std::string_view> lines = CutAtLineFeeds(input);
    result.lines.seeds.reserve(lines.size());
    result.lines.shown.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        Text seed;
        std::optional<SkipReason> skip;
        if (line.find('\0') != std::string_view::npos) {
            skip = SkipReason::NulByte;
        } else if (gbk) {
            // GBK text must convert; a stray lead byte would also hide the line break from the job.
            if (!line.empty() && ConvertEncoding(line, "GBK", "UTF-8").empty()) {
                skip = SkipReason::InvalidGbk;
            } else {
                seed = line;
            }
        } else {
            seed = ConvertEncoding(line, "UTF-8", "GBK");
            if (!line.empty() && seed.empty()) {
                skip = SkipReason::NotInGbk;
            }
        }
        if (skip) {
            result.skipped.push_back({i + 1, *skip});
            seed.clear();
        }
        result.lines.seeds.push_back(std::move(seed));
        result.lines.shown.emplace_back(line);
    }
    return result;
}

Text JoinSeedLines(const WordList& lines) {
    Text text;
    for (const Text& line : lines) {
        text += line;
        text += kLineBreak;
    }
    return text;
}

std::string SkippedLineMessage(const SkippedLine& line) {
    const std::string where = "line " + std::to_string(line.lineNumber);
    switch (line.reason) {
    case SkipReason::NotInGbk:
        return where + " holds a character that GBK lacks; skipped";
    case SkipReason::InvalidGbk:
        return where + " is not valid GBK; skipped";
    case SkipReason::NulByte:
        return where + " holds a NUL byte; skipped";
    }
    return where + " skipped";
}

} // namespace morvane

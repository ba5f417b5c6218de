#include "service/corpus.h"

#include "mining/encoding.h"
#include "service/error_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>

namespace morvane {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The index addresses its text with 32-bit offsets; a corpus this large is surely a wrong file anyway.
constexpr std::size_t kMaxCorpusBytes = std::size_t{1} << 30U;

bool IsColumnSeparator(char c) {
    return c == ' ' || c == '\t';
}

bool HasControlCharacter(std::string_view word) {
    return std::any_of(word.begin(), word.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// Splits line into its columns; more than maxColumns gives maxColumns + 1 so the caller can reject the line.
std::vector<std::string_view> SplitColumns(std::string_view line, std::size_t maxColumns) {
    std::vector<std::string_view> columns;
    std::size_t i = 0;
    while (i < line.size() && columns.size() <= maxColumns) {
        while (i < line.size() && IsColumnSeparator(line[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !IsColumnSeparator(line[i])) {
            ++i;
        }
        if (i > start) {
            columns.push_back(line.substr(start, i - start));
        }
    }
    return columns;
}

// Whether a valid UTF-8 word converts to GBK, as the clients convert every reply.
bool GbkCanHold(std::string_view word) {
    const bool ascii =
        std::all_of(word.begin(), word.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii || !ConvertEncoding(word, "UTF-8", "GBK").empty();
}

std::string LineError(std::size_t lineNumber, std::string_view what) {
    std::string error = "line " + std::to_string(lineNumber) + ": ";
    error += what;
    return error;
}

} // namespace

CorpusLoad ParseCorpus(std::string_view text) {
    CorpusLoad load;
    if (text.size() > kMaxCorpusBytes) {
        load.error = "larger than 1 GiB";
        return load;
    }
    if (text.starts_with(kUtf8Bom)) {
        text.remove_prefix(kUtf8Bom.size());
    }
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::vector<std::string_view> columns = SplitColumns(line, 3);
        if (columns.empty()) {
            continue;
        }
        if (columns.size() < 2 || columns.size() > 3) {
            load.error = LineError(lineNumber, "expected \"word frequency\" with an optional tag");
            load.words.clear();
            return load;
        }
        const std::string_view word = columns[0];
        if (!IsValidUtf8(word) || HasControlCharacter(word)) {
            load.error = LineError(lineNumber, "the word is not valid UTF-8 text");
            load.words.clear();
            return load;
        }
        std::uint64_t frequency = 0;
        const std::string_view number = columns[1];
        const auto [rest, ec] = std::from_chars(number.data(), number.data() + number.size(), frequency);
        if (ec != std::errc() || rest != number.data() + number.size()) {
            load.error = LineError(lineNumber, "the frequency is not a decimal number");
            load.words.clear();
            return load;
        }
        if (!GbkCanHold(word)) {
            if (load.leftOut++ == 0) {
                load.firstLeftOutLine = lineNumber;
            }
            continue;
        }
        load.words.push_back(CorpusWord{std::string(word), frequency});
    }
    if (load.words.empty()) {
        load.error = load.leftOut == 0 ? "no words" : "no words that GBK can hold";
    }
    return load;
}

CorpusLoad LoadCorpusFile(const std::string& path) {
    CorpusLoad load;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        load.error = path + ": cannot open: " + ErrorText(errno);
        return load;
    }
    std::string text;
    std::array<char, 1 << 16> chunk{};
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        text.append(chunk.data(), got);
        if (got < chunk.size()) {
            break;
        }
    }
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    if (failed) {
        load.error = path + ": cannot read: " + ErrorText(readError);
        return load;
    }
    load = ParseCorpus(text);
    if (!load.error.empty()) {
        load.error = path + ": " + load.error;
    }
    return load;
}

} // namespace morvane

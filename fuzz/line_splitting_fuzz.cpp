// Feeds arbitrary bytes to SplitLines, CountLines and LineCounter and checks that they agree with each other and
// with a reading of the line rule from first principles: find where each GBK character starts, then cut at every
// CR LF that starts at one. LineCounter is fed the text in random pieces (the first byte seeds their sizes) and
// must give what CountLines gives for the text so far after every piece.
#include "fuzz/fuzz_check.h"
#include "mining/text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using morvane::fuzz::Check;

// The lines of text by the rule: a byte from 0x81 to 0xFE and the byte after it are one character, every other
// byte is one of its own; a CR LF whose CR starts a character separates lines; empty lines between separators
// count, and nothing after the last separator is no line. Also tells whether text ends with a separator.
std::vector<std::string> ReferenceLines(std::string_view text, bool& endsWithSeparator) {
    std::vector<bool> starts(text.size(), false);
    for (std::size_t i = 0; i < text.size();) {
        starts[i] = true;
        const auto byte = static_cast<unsigned char>(text[i]);
        i += byte >= 0x81 && byte <= 0xFE ? 2 : 1;
    }
    std::vector<std::string> lines;
    std::size_t lineStart = 0;
    endsWithSeparator = false;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (starts[i] && text[i] == '\r' && text[i + 1] == '\n') {
            lines.emplace_back(text.substr(lineStart, i - lineStart));
            lineStart = i + 2;
            endsWithSeparator = lineStart == text.size();
        }
    }
    if (lineStart < text.size()) {
        lines.emplace_back(text.substr(lineStart));
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    bool endsWithSeparator = false;
    const std::vector<std::string> expected = ReferenceLines(text, endsWithSeparator);
    const morvane::WordList lines = morvane::SplitLines(text);
    Check(lines == expected, "SplitLines cuts at every CR LF between characters and nowhere else");
    Check(morvane::CountLines(text) == lines.size(), "CountLines counts what SplitLines gives");

    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        joined += lines[i];
        if (i + 1 < lines.size() || endsWithSeparator) {
            joined += morvane::kLineBreak;
        }
    }
    Check(joined == text, "the lines joined with CR LF give the text back");

    std::minstd_rand random(data[0]);
    std::uniform_int_distribution<std::size_t> pieceSize(0, 9);
    morvane::LineCounter counter;
    Check(counter.Count() == 0, "a new LineCounter counts no line");
    for (std::size_t fed = 0; fed < text.size();) {
        const std::size_t piece = std::min(pieceSize(random), text.size() - fed);
        counter.Append(text.substr(fed, piece));
        fed += piece;
        Check(counter.Count() == morvane::CountLines(text.substr(0, fed)),
              "LineCounter fed in pieces counts what CountLines counts for the text so far");
    }
    counter.Reset();
    counter.Append(text);
    Check(counter.Count() == lines.size(), "LineCounter after Reset counts afresh");
    return 0;
}

#pragma once

#include "mining/text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// Why a seed line is left out of the run (it still counts for progress).
enum class SkipReason {
    NotInGbk,   // UTF-8 mode: a character that GBK lacks
    InvalidGbk, // GBK mode: bytes that are not GBK text
    NulByte,    // a NUL byte, which no seed text can hold
};

// A seed line that the run leaves out; lineNumber counts from 1.
struct SkippedLine {
    std::size_t lineNumber = 0;
    SkipReason reason = SkipReason::NotInGbk;
};

// The seed lines of one level: what the job reads, and how the csv output names each line.
struct SeedLines {
    WordList seeds;                 // GBK, one entry per line; a line left out is empty
    std::vector<std::string> shown; // each line in the output encoding (UTF-8, or GBK with --gbk)
};

// The seeds that morvane-mine read, or why it could not use them.
struct SeedInput {
    SeedLines lines;
    std::vector<SkippedLine> skipped;
    std::string error; // non-empty: the input is unusable (a one-line message)
};

// Cuts input into lines at LF, dropping a CR right before each LF; a final LF adds no empty line. With gbk the
// lines are GBK as they stand; otherwise input must be valid UTF-8 (a leading byte-order mark is dropped)
// and each line is converted to GBK. Lines that cannot become a seed are listed in skipped and left empty.
SeedInput DecodeSeedInput(std::string_view input, bool gbk);

// The text of the seed box for lines: each line followed by CR LF, so that SplitLines gives them back.
Text JoinSeedLines(const WordList& lines);

// The message for a skipped line, naming its number.
std::string SkippedLineMessage(const SkippedLine& line);

} // namespace morvane

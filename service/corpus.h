#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// One word of the recommendation corpus with its frequency.
struct CorpusWord {
    std::string word; // UTF-8, no white space
    std::uint64_t frequency = 0;
};

// A corpus read from text: its words, or why it could not be read (error is then non-empty).
struct CorpusLoad {
    std::vector<CorpusWord> words;
    std::string error;
    std::size_t leftOut = 0;          // words left out because GBK cannot hold them
    std::size_t firstLeftOutLine = 0; // the line of the first of them (1-based), 0 when none
};

// Where Debian's python3-jieba installs its dictionary (about 349,000 words, "word frequency tag" a line).
inline constexpr std::string_view kJiebaDictionaryPath = "/usr/lib/python3/dist-packages/jieba/dict.txt";

// Reads a corpus: one "word frequency" a line, with an optional third column (jieba's part-of-speech tag)
// that is ignored. Columns are separated by spaces or tabs; blank lines, a leading UTF-8 byte-order mark and
// CR LF line ends are accepted. A word that is not valid UTF-8 or holds a control character, a frequency that
// is not a decimal number, or a line of any other shape makes the whole load fail, naming the line; so does
// a text with no word. A word holding a character that GBK lacks is left out and counted: every Morvane client
// converts a whole reply to GBK, so one such word would make the reply unreadable. Duplicates are kept here;
// the index keeps the highest frequency of each word.
CorpusLoad ParseCorpus(std::string_view text);

// ParseCorpus over the content of the file at path; an unreadable file is an error naming it.
CorpusLoad LoadCorpusFile(const std::string& path);

// The small corpus compiled into the service (a few hundred everyday Chinese words with made-up
// frequencies), served when no other corpus is available.
std::string_view BundledCorpusText();

} // namespace morvane

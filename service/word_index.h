#pragma once

#include "service/corpus.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// An in-memory index over a word corpus that answers "which words contain this seed" without scanning the
// corpus. Words are numbered by rank (frequency descending, then fewer characters, then byte order), and
// for every character and every pair of adjacent characters the index keeps the numbers of the words that
// contain it, and of those that start with it, in rank order. A query walks the shortest such list in rank
// order and stops as soon as it has enough words. Immutable once built, so any number of threads may query
// it at once.
class WordIndex {
public:
    WordIndex() = default;

    // Builds the index over words. A word listed more than once counts once, with its highest frequency.
    explicit WordIndex(std::vector<CorpusWord> words);

    // Appends to out, at most limit of them, the words that contain seed (UTF-8, matched character by
    // character): first those that start with seed, then the others, each group in rank order. The seed itself
    // is never among them. A seed that is empty or not valid UTF-8 matches nothing. The views stay valid as long
    // as the index.
    void Find(std::string_view seed, std::size_t limit, std::vector<std::string_view>& out) const;

    // Find, giving the ranks of the words (see Word()) instead of the words.
    void FindRanks(std::string_view seed, std::size_t limit, std::vector<std::uint32_t>& out) const;

    // The number of distinct words.
    std::size_t Size() const { return m_wordStarts.empty() ? 0 : m_wordStarts.size() - 1; }

    // The word of the given rank (0 is the most frequent).
    std::string_view Word(std::size_t rank) const {
        return std::string_view(m_text).substr(m_wordStarts[rank], m_wordStarts[rank + 1] - m_wordStarts[rank]);
    }

    // The length in bytes of the word of the given rank.
    std::size_t WordBytes(std::size_t rank) const { return m_wordStarts[rank + 1] - m_wordStarts[rank]; }

    // Bytes held by the index's tables, for the start-up report.
    std::size_t MemoryBytes() const;

private:
    // The word numbers stored under key, in rank order; empty when none.
    std::pair<const std::uint32_t*, const std::uint32_t*> Postings(std::uint64_t key) const;

    std::string m_text;                      // every word, in rank order, back to back
    std::vector<std::uint32_t> m_wordStarts; // Size() + 1 offsets into m_text
    std::vector<std::uint64_t> m_keys;       // sorted, distinct
    std::vector<std::uint32_t> m_keyStarts;  // m_keys.size() + 1 offsets into m_postings
    std::vector<std::uint32_t> m_postings;   // word numbers, ascending within each key
};

} // namespace morvane

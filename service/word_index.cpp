#include "service/word_index.h"

#include "mining/encoding.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace morvane {
namespace {

// What a posting list is about: words that contain a character or a pair of adjacent characters, or that
// start with one.
enum class KeyKind : std::uint64_t { ContainsChar = 0, ContainsPair = 1, StartsChar = 2, StartsPair = 3 };

constexpr unsigned kCodePointBits = 21;

constexpr std::uint64_t MakeKey(KeyKind kind, char32_t first, char32_t second = 0) {
    return (static_cast<std::uint64_t>(kind) << (2 * kCodePointBits)) |
           (static_cast<std::uint64_t>(first) << kCodePointBits) | static_cast<std::uint64_t>(second);
}

// Decodes well-formed UTF-8 (checked by the caller) into code points.
void DecodeUtf8(std::string_view text, std::vector<char32_t>& codePoints) {
    codePoints.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t cp = lead;
        if (lead >= 0xF0) {
            length = 4;
            cp = lead & 0x07U;
        } else if (lead >= 0xE0) {
            length = 3;
            cp = lead & 0x0FU;
        } else if (lead >= 0xC0) {
            length = 2;
            cp = lead & 0x1FU;
        }
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            cp = (cp << 6U) | (static_cast<unsigned char>(text[i + k]) & 0x3FU);
        }
        codePoints.push_back(cp);
        i += length;
    }
}

std::size_t CountCharacters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

// The first eight bytes of word as a big-endian number: comparing these orders most words by their bytes
// without touching the strings.
std::uint64_t LeadingBytes(std::string_view word) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        value = (value << 8U) | (i < word.size() ? static_cast<unsigned char>(word[i]) : 0U);
    }
    return value;
}

constexpr std::uint32_t kNoWord = std::numeric_limits<std::uint32_t>::max();

std::uint64_t Fnv1a(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return hash;
}

struct KeyedWord {
    std::uint64_t key;
    std::uint32_t rank;
};

// Sorts entries by key, keeping the order of equal keys (so each word list stays in rank order): a least
// significant digit radix sort over the key bits that are in use, 11 bits a pass.
void SortByKey(std::vector<KeyedWord>& entries) {
    constexpr unsigned kDigitBits = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
    std::vector<KeyedWord> scratch(entries.size());
    for (unsigned shift = 0; shift < 2 * kCodePointBits + 2; shift += kDigitBits) {
        std::vector<std::size_t> counts(kBuckets + 1, 0);
        for (const KeyedWord& entry : entries) {
            ++counts[((entry.key >> shift) & (kBuckets - 1)) + 1];
        }
        if (std::any_of(counts.begin(), counts.end(), [&](std::size_t count) { return count == entries.size(); })) {
            continue; // every key has the same digit here
        }
        for (std::size_t i = 1; i <= kBuckets; ++i) {
            counts[i] += counts[i - 1];
        }
        for (const KeyedWord& entry : entries) {
            scratch[counts[(entry.key >> shift) & (kBuckets - 1)]++] = entry;
        }
        entries.swap(scratch);
    }
}

} // namespace

WordIndex::WordIndex(std::vector<CorpusWord> words) {
    struct Ranked {
        std::uint64_t frequency;
        std::uint64_t leadingBytes;
        std::uint32_t characters;
        std::uint32_t index;
    };
    std::vector<Ranked> ranked;
    ranked.reserve(words.size());
    for (std::size_t i = 0; i < words.size() && i < kNoWord; ++i) {
        ranked.push_back({words[i].frequency, LeadingBytes(words[i].word),
                          static_cast<std::uint32_t>(CountCharacters(words[i].word)), static_cast<std::uint32_t>(i)});
    }
    std::sort(ranked.begin(), ranked.end(), [&words](const Ranked& a, const Ranked& b) {
        if (a.frequency != b.frequency) {
            return a.frequency > b.frequency;
        }
        if (a.characters != b.characters) {
            return a.characters < b.characters;
        }
        if (a.leadingBytes != b.leadingBytes) {
            return a.leadingBytes < b.leadingBytes;
        }
        return words[a.index].word < words[b.index].word;
    });

    // In rank order the first copy of a word has its highest frequency; later copies are dropped. An open-addressing
    // table of word numbers finds them several times faster than a node-based set.
    std::size_t tableSize = 16;
    while (tableSize < 2 * ranked.size()) {
        tableSize *= 2;
    }
    std::vector<std::uint32_t> seen(tableSize, kNoWord);
    const auto firstCopy = [&](std::uint32_t index) {
        const std::string& word = words[index].word;
        for (std::size_t slot = Fnv1a(word) & (tableSize - 1);; slot = (slot + 1) & (tableSize - 1)) {
            if (seen[slot] == kNoWord) {
                seen[slot] = index;
                return true;
            }
            if (words[seen[slot]].word == word) {
                return false;
            }
        }
    };
    std::size_t textBytes = 0;
    std::size_t characters = 0;
    std::size_t kept = 0;
    for (const Ranked& entry : ranked) {
        const std::string& word = words[entry.index].word;
        // Offsets are 32-bit; a corpus beyond that is cut rather than indexed wrongly.
        if (textBytes + word.size() > std::numeric_limits<std::uint32_t>::max() || !firstCopy(entry.index)) {
            continue;
        }
        textBytes += word.size();
        characters += entry.characters;
        ranked[kept++] = entry;
    }
    ranked.resize(kept);
    seen = {};

    m_text.reserve(textBytes);
    m_wordStarts.reserve(ranked.size() + 1);
    for (const Ranked& entry : ranked) {
        m_wordStarts.push_back(static_cast<std::uint32_t>(m_text.size()));
        m_text += words[entry.index].word;
    }
    m_wordStarts.push_back(static_cast<std::uint32_t>(m_text.size()));
    words = {};

    // Every (key, word) pair, generated in rank order; a stable sort by key then gives each list in rank order.
    // A word adds at most one key per character, one per pair, and two for its start.
    std::vector<KeyedWord> entries;
    entries.reserve(2 * characters + 2 * Size());
    std::vector<char32_t> codePoints;
    std::vector<std::uint64_t> wordKeys;
    for (std::uint32_t rank = 0; rank < Size(); ++rank) {
        DecodeUtf8(Word(rank), codePoints);
        wordKeys.clear();
        for (std::size_t i = 0; i < codePoints.size(); ++i) {
            wordKeys.push_back(MakeKey(KeyKind::ContainsChar, codePoints[i]));
            if (i + 1 < codePoints.size()) {
                wordKeys.push_back(MakeKey(KeyKind::ContainsPair, codePoints[i], codePoints[i + 1]));
            }
        }
        if (!codePoints.empty()) {
            wordKeys.push_back(MakeKey(KeyKind::StartsChar, codePoints[0]));
        }
        if (codePoints.size() >= 2) {
            wordKeys.push_back(MakeKey(KeyKind::StartsPair, codePoints[0], codePoints[1]));
        }
        // A word that holds a character twice is listed under it once.
        std::sort(wordKeys.begin(), wordKeys.end());
        wordKeys.erase(std::unique(wordKeys.begin(), wordKeys.end()), wordKeys.end());
        for (const std::uint64_t key : wordKeys) {
            entries.push_back({key, rank});
        }
    }
    SortByKey(entries);

    m_postings.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i == 0 || entries[i].key != entries[i - 1].key) {
            m_keys.push_back(entries[i].key);
            m_keyStarts.push_back(static_cast<std::uint32_t>(i));
        }
        m_postings.push_back(entries[i].rank);
    }
    m_keyStarts.push_back(static_cast<std::uint32_t>(m_postings.size()));
    m_keys.shrink_to_fit();
    m_keyStarts.shrink_to_fit();
}

std::pair<const std::uint32_t*, const std::uint32_t*> WordIndex::Postings(std::uint64_t key) const {
    const auto it = std::lower_bound(m_keys.begin(), m_keys.end(), key);
    if (it == m_keys.end() || *it != key) {
        return {nullptr, nullptr};
    }
    const auto slot = static_cast<std::size_t>(it - m_keys.begin());
    return {m_postings.data() + m_keyStarts[slot], m_postings.data() + m_keyStarts[slot + 1]};
}

void WordIndex::Find(std::string_view seed, std::size_t limit, std::vector<std::string_view>& out) const {
    thread_local std::vector<std::uint32_t> ranks;
    ranks.clear();
    FindRanks(seed, limit, ranks);
    for (const std::uint32_t rank : ranks) {
        out.push_back(Word(rank));
    }
}

void WordIndex::FindRanks(std::string_view seed, std::size_t limit, std::vector<std::uint32_t>& out) const {
    if (limit == 0 || seed.empty() || !IsValidUtf8(seed)) {
        return;
    }
    thread_local std::vector<char32_t> codePoints;
    DecodeUtf8(seed, codePoints);
    const std::size_t length = codePoints.size();

    using Range = std::pair<const std::uint32_t*, const std::uint32_t*>;
    Range starts;
    Range contains;
    if (length == 1) {
        starts = Postings(MakeKey(KeyKind::StartsChar, codePoints[0]));
        contains = Postings(MakeKey(KeyKind::ContainsChar, codePoints[0]));
    } else {
        // Any pair of the seed narrows the search; the rarest one leaves the fewest words to check.
        for (std::size_t i = 0; i + 1 < length; ++i) {
            const Range pair = Postings(MakeKey(KeyKind::ContainsPair, codePoints[i], codePoints[i + 1]));
            if (pair.first == pair.second) {
                return;
            }
            if (i == 0 || pair.second - pair.first < contains.second - contains.first) {
                contains = pair;
            }
        }
        starts = Postings(MakeKey(KeyKind::StartsPair, codePoints[0], codePoints[1]));
    }

    std::size_t added = 0;
    if (length <= 2) {
        // The keys prove the matches: the "starts" list holds exactly the words that start with the seed, and the
        // "contains" list those that contain it. Both are in rank order, so walking them side by side leaves out
        // the prefixes from the second pass without reading a single word.
        for (const std::uint32_t* p = starts.first; p != starts.second; ++p) {
            if (WordBytes(*p) == seed.size()) {
                continue; // the seed itself
            }
            out.push_back(*p);
            if (++added == limit) {
                return;
            }
        }
        const std::uint32_t* prefix = starts.first;
        for (const std::uint32_t* p = contains.first; p != contains.second; ++p) {
            while (prefix != starts.second && *prefix < *p) {
                ++prefix;
            }
            if (prefix != starts.second && *prefix == *p) {
                continue;
            }
            out.push_back(*p);
            if (++added == limit) {
                return;
            }
        }
        return;
    }
    for (const std::uint32_t* p = starts.first; p != starts.second; ++p) {
        const std::string_view word = Word(*p);
        if (word.size() == seed.size() || !word.starts_with(seed)) {
            continue;
        }
        out.push_back(*p);
        if (++added == limit) {
            return;
        }
    }
    for (const std::uint32_t* p = contains.first; p != contains.second; ++p) {
        const std::string_view word = Word(*p);
        // Words that start with the seed were taken (or, being the seed, left out) above.
        if (word.starts_with(seed) || word.find(seed) == std::string_view::npos) {
            continue;
        }
        out.push_back(*p);
        if (++added == limit) {
            return;
        }
    }
}

std::size_t WordIndex::MemoryBytes() const {
    return m_text.capacity() + (m_wordStarts.capacity() + m_keyStarts.capacity() + m_postings.capacity()) * 4 +
           m_keys.capacity() * 8;
}

} // namespace morvane

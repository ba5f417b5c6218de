#pragma once

#include "cli/mine_options.h"
#include "cli/word_filter.h"
#include "cli/word_output.h"
#include "mining/text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

namespace morvane {

// How the words are written.
struct WriterSettings {
    WordFormat format = WordFormat::Txt;
    bool gbk = false;    // GBK with CR LF, byte for byte; otherwise UTF-8 with LF
    bool unique = false; // each word once per run
    WordFilter filter;   // compares in the output encoding
};

// Turns the words a job brings (GBK) into output lines: filters them, drops repeats with unique, converts them,
// lays them out as txt or csv and hands each seed's lines to the output as one block. It also gathers the
// words it wrote as Import results would take them, for the next level's seeds.
class WordWriter {
public:
    WordWriter(WordOutput& output, WriterSettings settings) : m_output(output), m_settings(std::move(settings)) {}

    // Writes what comes before the words: nothing for txt; for csv a byte-order mark in UTF-8 and the header
    // row. False when the output fails.
    bool WriteHeader();

    // Takes one word of the seed shownSeed (in the output encoding) of level; its line waits for FlushSeed.
    void AddWord(int level, std::string_view shownSeed, const Text& word);

    // Hands the lines of the current seed to the output as one block. False when the output fails.
    bool FlushSeed();

    // The words written since the last call, each followed by CR LF: the result box that Import results would
    // copy into the seed box.
    Text TakeImportText();

    // The number of words written in this run.
    std::size_t WordsWritten() const { return m_wordsWritten; }

    // The number of words dropped because they are not GB18030 (or GBK) text (UTF-8 mode only).
    std::size_t UnconvertibleWords() const { return m_unconvertible; }

    // Why the output failed.
    std::string OutputError() const { return m_output.Error(); }

    // A word in the output encoding: as it stands with gbk, else converted to UTF-8; empty when it cannot be.
    static std::string ShownWord(const Text& word, bool gbk);

private:
    std::string_view LineEnd() const { return m_settings.gbk ? kLineBreak : std::string_view("\n"); }

    WordOutput& m_output;
    WriterSettings m_settings;
    std::string m_pending;
    Text m_importText;
    std::unordered_set<Text> m_written;
    std::size_t m_wordsWritten = 0;
    std::size_t m_unconvertible = 0;
};

// field as one RFC 4180 field: quoted, with quotes doubled, when it holds a comma, a quote, CR or LF.
std::string CsvField(std::string_view field);

} // namespace morvane

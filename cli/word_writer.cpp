#include "cli/word_writer.h"

#include "mining/encoding.h"

namespace morvane {

std::string CsvField(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(field);
    }
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string WordWriter::ShownWord(const Text& word, bool gbk) {
    if (gbk) {
        return word;
    }
    // GB18030 also reads the four-byte forms that escapes of characters outside GBK give; GBK is tried next for
    // its single-byte euro sign, which GB18030 lacks.
    std::string shown = ConvertEncoding(word, "GB18030", "UTF-8");
    if (shown.empty()) {
        shown = ConvertEncoding(word, "GBK", "UTF-8");
    }
    return shown;
}

bool WordWriter::WriteHeader() {
    if (m_settings.format != WordFormat::Csv) {
        return true;
    }
    std::string header = m_settings.gbk ? "" : "\xEF\xBB\xBF";
    header += "level,seed,word";
    header += LineEnd();
    return m_output.WriteBlock(header);
}

void WordWriter::AddWord(int level, std::string_view shownSeed, const Text& word) {
    const std::string shown = ShownWord(word, m_settings.gbk);
    if (shown.empty()) {
        ++m_unconvertible;
        return;
    }
    if (!m_settings.filter.Keeps(shown)) {
        return;
    }
    if (m_settings.unique && !m_written.insert(word).second) {
        return;
    }
    if (m_settings.format == WordFormat::Csv) {
        m_pending += std::to_string(level);
        m_pending += ',';
        m_pending += CsvField(shownSeed);
        m_pending += ',';
        m_pending += CsvField(shown);
    } else {
        m_pending += shown;
    }
    m_pending += LineEnd();
    m_importText += word;
    m_importText += kLineBreak;
    ++m_wordsWritten;
}

bool WordWriter::FlushSeed() {
    if (m_pending.empty()) {
        return true;
    }
    const bool written = m_output.WriteBlock(m_pending);
    m_pending.clear();
    return written;
}

Text WordWriter::TakeImportText() {
    Text text;
    text.swap(m_importText);
    return text;
}

} // namespace morvane

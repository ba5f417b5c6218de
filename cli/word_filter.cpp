#include "cli/word_filter.h"

#include "mining/text.h"

#include <algorithm>

namespace morvane {
namespace {

// The length of the GBK or GB18030 character that starts at text[i]: a byte that is no lead byte stands alone; a
// lead byte followed by a digit starts a four-byte form; other lead bytes take one trail byte.
std::size_t GbkCharacterLength(std::string_view text, std::size_t i) {
    if (!IsGbkLeadByte(static_cast<unsigned char>(text[i]))) {
        return 1;
    }
    if (i + 1 < text.size() && IsGb18030FourByteSecond(static_cast<unsigned char>(text[i + 1]))) {
        return 4;
    }
    return 2;
}

} // namespace

bool ContainsWord(std::string_view text, std::string_view part, bool gbk) {
    if (!gbk) {
        return text.find(part) != std::string_view::npos;
    }
    if (part.empty()) {
        return true;
    }
    for (std::size_t i = 0; i + part.size() <= text.size(); i += GbkCharacterLength(text, i)) {
        if (text.compare(i, part.size(), part) == 0) {
            return true;
        }
    }
    return false;
}

bool WordFilter::Keeps(std::string_view word) const {
    const auto contains = [&](const std::string& part) { return ContainsWord(word, part, m_gbk); };
    if (!m_includes.empty() && std::none_of(m_includes.begin(), m_includes.end(), contains)) {
        return false;
    }
    return std::none_of(m_excludes.begin(), m_excludes.end(), contains);
}

} // namespace morvane

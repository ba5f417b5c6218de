#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// True when part occurs in text at a character boundary. With gbk both are GBK (or GB18030) bytes and a match
// may not begin inside a double-byte or four-byte character; otherwise both are UTF-8, whose characters
// cannot be matched from the middle. An empty part occurs everywhere.
bool ContainsWord(std::string_view text, std::string_view part, bool gbk);

// --include and --exclude: keeps a word when it contains any of the includes (or none are given) and none of
// the excludes. Words and filter words are compared in the same encoding.
class WordFilter {
public:
    WordFilter() = default;
    WordFilter(std::vector<std::string> includes, std::vector<std::string> excludes, bool gbk)
        : m_includes(std::move(includes)), m_excludes(std::move(excludes)), m_gbk(gbk) {}

    // True when word is to be written.
    bool Keeps(std::string_view word) const;

private:
    std::vector<std::string> m_includes;
    std::vector<std::string> m_excludes;
    bool m_gbk = false;
};

} // namespace morvane

#include "common/command_line.h"

#include <algorithm>

namespace morvane {

std::optional<CommandLineItem> CommandLineScanner::Next() {
    if (m_next < m_args.size() && !m_optionsEnded && m_args[m_next] == "--") {
        m_optionsEnded = true;
        ++m_next;
    }
    if (m_next >= m_args.size()) {
        return std::nullopt;
    }
    const std::string_view arg = m_args[m_next++];
    CommandLineItem item;
    if (m_optionsEnded || arg == "-" || !arg.starts_with('-')) {
        item.value = arg;
        return item;
    }
    const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
    const std::string_view name = arg.substr(0, equals);
    const auto known = std::find_if(m_options.begin(), m_options.end(),
                                    [&](const KnownOption& candidate) { return candidate.name == name; });
    if (known == m_options.end()) {
        item.kind = CommandLineItem::Kind::UnknownOption;
        item.error = "unknown option '" + std::string(name) + "'";
        return item;
    }
    item.kind = CommandLineItem::Kind::Option;
    item.option = &*known;
    if (!known->takesValue) {
        if (equals != std::string_view::npos) {
            item.kind = CommandLineItem::Kind::BadOption;
            item.error = "option " + std::string(name) + " takes no value";
        }
        return item;
    }
    if (equals != std::string_view::npos) {
        item.value = arg.substr(equals + 1);
    } else if (m_next < m_args.size()) {
        item.value = m_args[m_next++];
    } else {
        item.kind = CommandLineItem::Kind::BadOption;
        item.error = "option " + std::string(name) + " needs a value";
    }
    return item;
}

} // namespace morvane

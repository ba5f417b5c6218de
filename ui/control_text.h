#pragma once

#include "mining/text.h"

#include <QString>
#include <string_view>

namespace morvane::ui {

// The text a control shows for a core text: GBK (with the four-byte forms of GB18030 that a reply's \u escapes
// can give) decoded to Unicode, CR LF line breaks as '\n'. Bytes that do not decode show as U+FFFD.
QString ToControlText(std::string_view text);

// The core's text for what a control holds: Unicode encoded to GBK, '\n' line breaks as CR LF. A character that
// GBK lacks becomes '?', as an ANSI edit box would show it; the rest of the text is kept.
Text FromControlText(const QString& text);

} // namespace morvane::ui

#include "ui/control_text.h"

#include "mining/encoding.h"

namespace morvane::ui {

QString ToControlText(std::string_view text) {
    // The text is GBK but for the four-byte GB18030 characters of \u escapes, which GBK lacks. Those are decoded
    // one by one as GB18030, the runs between them as GBK: GB18030 lacks GBK's one-byte euro sign 0x80.
    static constexpr std::string_view kReplacement = "\xef\xbf\xbd"; // U+FFFD
    std::string utf8;
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!IsGbkLeadByte(static_cast<unsigned char>(text[i])) || i + 1 >= text.size()) {
            ++i;
        } else if (IsGb18030FourByteSecond(static_cast<unsigned char>(text[i + 1])) && i + 3 < text.size()) {
            utf8 += ConvertEncodingReplacing(text.substr(run, i - run), "GBK", "UTF-8", kReplacement);
            utf8 += ConvertEncodingReplacing(text.substr(i, 4), "GB18030", "UTF-8", kReplacement);
            i += 4;
            run = i;
        } else {
            i += 2;
        }
    }
    utf8 += ConvertEncodingReplacing(text.substr(run), "GBK", "UTF-8", kReplacement);
    QString shown = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

Text FromControlText(const QString& text) {
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const QByteArray utf8 = lines.toUtf8();
    return ConvertEncodingReplacing(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), "UTF-8",
                                    "GBK", "?");
}

} // namespace morvane::ui

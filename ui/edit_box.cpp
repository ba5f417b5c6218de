#include "ui/edit_box.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace morvane::ui {
namespace {

// Line and paragraph separators would break a line on screen without being a line break of the text.
QString WithPlainLineBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

EditBox::EditBox(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // The selection shows only while the box has the focus.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight, colours.color(QPalette::Inactive, QPalette::Base));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText, colours.color(QPalette::Inactive, QPalette::Text));
    setPalette(colours);
}

QString EditBox::Text() const {
    const QTextDocument* doc = document();
    QString text;
    text.reserve(doc->characterCount());
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block != doc->begin()) {
            text += QLatin1Char('\n');
        }
        text += block.text();
    }
    return text;
}

void EditBox::SetText(const QString& text) {
    setPlainText(WithPlainLineBreaks(text));
}

void EditBox::Append(const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    // A job may append thousands of words a second. Drawing the box after each would cost more than the words
    // themselves, so while words come in the box is drawn again at most every kAppendRepaintInterval.
    if (updatesEnabled()) {
        setUpdatesEnabled(false);
        QTimer::singleShot(kAppendRepaintInterval, this, [this] { setUpdatesEnabled(true); });
    }
    QTextDocument* doc = document();
    // Text the program adds is not the user's typing: like a text that is set, it leaves nothing to undo. Keeping
    // it would also make every appended word cost memory in the undo history.
    doc->setUndoRedoEnabled(false);
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    end.insertText(WithPlainLineBreaks(text));
    doc->setUndoRedoEnabled(true);
}

std::size_t EditBox::LineCount() const {
    const QTextDocument* doc = document();
    const auto blocks = static_cast<std::size_t>(doc->blockCount());
    // A block's length counts its separator, so an empty last block (an empty text, or one that ends with a line
    // break) has length 1 and is no line.
    return doc->lastBlock().length() <= 1 ? blocks - 1 : blocks;
}

void EditBox::keyPressEvent(QKeyEvent* event) {
    // Shift+Enter would insert a line separator inside the line; in these boxes it starts a new line as Enter
    // does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers().testFlag(Qt::ShiftModifier)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier, event->text(),
                        event->isAutoRepeat(), static_cast<quint16>(event->count()));
        QPlainTextEdit::keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void EditBox::insertFromMimeData(const QMimeData* source) {
    if (source != nullptr && source->hasText()) {
        insertPlainText(WithPlainLineBreaks(source->text()));
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

} // namespace morvane::ui

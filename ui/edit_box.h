#pragma once

#include <QPlainTextEdit>
#include <chrono>
#include <cstddef>

namespace morvane::ui {

// A multi-line edit box of the window: wraps long lines at its right edge, scrolls vertically, lets Tab move
// the focus on, and holds plain lines only, so that the text it gives back has exactly the line breaks the
// user or the program put in.
class EditBox : public QPlainTextEdit {
public:
    // While text is being appended the box is drawn again at most this often.
    static constexpr std::chrono::milliseconds kAppendRepaintInterval{40};

    explicit EditBox(QWidget* parent = nullptr);

    // The whole text, lines separated by '\n', every character as stored.
    QString Text() const;

    // Replaces the whole text, also when the box is disabled; the caret goes to the start and the undo history
    // is cleared, as with any text the program sets.
    void SetText(const QString& text);

    // Appends text at the end, at a cost in proportion to text; the view and the user's caret stay where they
    // are.
    void Append(const QString& text);

    // The number of lines the text has when it is cut at its line breaks: an empty text has none, and a final
    // line break adds no empty last line.
    std::size_t LineCount() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
};

} // namespace morvane::ui

#include "mining/text.h"
#include "ui/control_text.h"
#include "ui/edit_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <array>

namespace morvane::ui {
namespace {

// The box's line count must agree with the core's line splitting of the text read from it.
TEST(EditBoxTest, lineCountAgreesWithTheCoresLineSplitting) {
    const auto texts =
        std::to_array<const char*>({"", "a", "a\n", "a\nb", "a\nb\n", "\n", "\n\n", "\na", "a\n\nb\n", " ", "手机\n"});
    EditBox box;
    for (const char* text : texts) {
        box.SetText(QString::fromUtf8(text));
        EXPECT_EQ(box.Text(), QString::fromUtf8(text));
        EXPECT_EQ(box.LineCount(), CountLines(FromControlText(box.Text()))) << '"' << text << '"';
    }
}

TEST(EditBoxTest, appendsAtTheEndWhateverTheBoxHolds) {
    struct Case {
        const char* before;
        const char* appended;
        const char* after;
        std::size_t lines;
    };
    const auto cases = std::to_array<Case>({
        {"", "x\n", "x\n", 1},
        {"x\n", "y\n", "x\ny\n", 2},
        {"typed", "x\n", "typedx\n", 1}, // no line break of its own, as appending to the text would give
        {"\n", "x\n", "\nx\n", 2},
    });
    EditBox box;
    for (const Case& c : cases) {
        box.SetText(QString::fromUtf8(c.before));
        box.Append(QString::fromUtf8(c.appended));
        EXPECT_EQ(box.Text(), QString::fromUtf8(c.after)) << c.before << " + " << c.appended;
        EXPECT_EQ(box.LineCount(), c.lines) << c.before << " + " << c.appended;
    }
}

TEST(EditBoxTest, appendingLeavesNothingToUndo) {
    EditBox box;
    box.Append(QStringLiteral("x\n"));
    box.Append(QStringLiteral("y\n"));
    EXPECT_FALSE(box.document()->isUndoAvailable());
    box.undo();
    EXPECT_EQ(box.Text(), QStringLiteral("x\ny\n"));
}

TEST(EditBoxTest, appendingKeepsTheDisabledBoxFilling) {
    EditBox box;
    box.setEnabled(false);
    box.Append(QStringLiteral("x\n"));
    EXPECT_EQ(box.Text(), QStringLiteral("x\n"));
}

// Shift+Enter and pasted separators must make real line breaks, or the text read back would hold fewer lines
// than the box shows.
TEST(EditBoxTest, everyWayToBreakALineGivesALineBreak) {
    EditBox box;
    box.show();
    box.setFocus();
    QTest::keyClicks(&box, QStringLiteral("a"));
    QTest::keyClick(&box, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(&box, QStringLiteral("b"));
    QTest::keyClick(&box, Qt::Key_Return);
    auto* pasted = new QMimeData; // the clipboard takes it over
    pasted->setText(QStringLiteral("c\r\nd\u2028e\rf"));
    QApplication::clipboard()->setMimeData(pasted);
    box.paste();
    EXPECT_EQ(box.Text(), QStringLiteral("a\nb\nc\nd\ne\nf"));
    EXPECT_EQ(box.LineCount(), 6U);
}

TEST(EditBoxTest, wideLineWrapsOnScreenButStaysOneLine) {
    EditBox box;
    box.resize(200, 287);
    box.show();
    const QString wide(200, QLatin1Char('w'));
    box.SetText(wide);
    QApplication::processEvents();
    EXPECT_EQ(box.LineCount(), 1U);
    EXPECT_EQ(FromControlText(box.Text()), wide.toStdString());
    EXPECT_GT(box.document()->firstBlock().layout()->lineCount(), 1); // wrapped on screen
    EXPECT_FALSE(box.horizontalScrollBar()->isVisible());
}

TEST(EditBoxTest, tabLeavesTheBox) {
    QWidget window;
    auto* box = new EditBox(&window);
    auto* next = new EditBox(&window);
    window.show();
    box->setFocus();
    QApplication::setActiveWindow(&window);
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_TRUE(box->Text().isEmpty());
    EXPECT_TRUE(next->hasFocus());
}

} // namespace
} // namespace morvane::ui

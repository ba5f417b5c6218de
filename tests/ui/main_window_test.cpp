#include "tests/ui/window_fixture.h"
#include "ui/main_window.h"
#include "ui/themed_style.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <vector>

namespace morvane::ui {
namespace {

using test::WindowFixture;

class MainWindowTest : public testing::Test {
protected:
    WindowFixture fixture;
    MainWindow& window = fixture.Window();

    // Makes the window active, as the user's first look at it does, so that keys reach the focused control.
    void Activate() {
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

struct ControlPlace {
    const char* name;
    const char* className;
    QRect rect;
    const char* caption; // nullptr: none to check
    bool takesFocus;
};

TEST_F(MainWindowTest, everyControlStandsAtItsPlaceWithItsInitialContent) {
    const auto places = std::to_array<ControlPlace>({
        {"标签1", "QLabel", {16, 12, 40, 24}, "地区：", false},
        {"地区_组合框", "QComboBox", {56, 13, 160, 20}, nullptr, true},
        {"选择框1", "QCheckBox", {266, 13, 184, 19}, "获取结果直接保存到本地文件", true},
        {"标签2", "QLabel", {16, 35, 176, 24}, "母词列表（一行一个）：", false},
        {"标签4", "QLabel", {266, 34, 109, 24}, "已获得长尾词列表：", false},
        {"关键词总数_标签", "QLabel", {375, 33, 96, 24}, "0", false},
        {"母词列表_编辑框", "QPlainTextEdit", {16, 59, 200, 287}, "", true},
        {"标签3", "QLabel", {222, 187, 40, 24}, ">>>", false},
        {"长尾词列表_编辑框", "QPlainTextEdit", {266, 59, 200, 287}, "", true},
        {"清空_按钮", "QPushButton", {16, 355, 80, 32}, "清空", true},
        {"导入到左边_按钮", "QPushButton", {266, 355, 80, 32}, "<<导入到左边", true},
        {"复制结果_按钮", "QPushButton", {386, 355, 80, 32}, "复制结果", true},
        {"开始获取_按钮", "QPushButton", {16, 403, 80, 32}, "开始获取", true},
        {"停止_按钮", "QPushButton", {112, 403, 80, 32}, "停止", true},
        {"标签5", "QLabel", {264, 406, 208, 24}, nullptr, false},
    });
    for (const ControlPlace& place : places) {
        const QString name = QString::fromUtf8(place.name);
        auto* control = window.findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << place.name;
        EXPECT_EQ(control->parentWidget(), &window) << place.name;
        EXPECT_TRUE(control->inherits(place.className)) << place.name << " is no " << place.className;
        EXPECT_EQ(control->geometry(), place.rect) << place.name;
        EXPECT_TRUE(control->isVisible() && control->isEnabled()) << place.name;
        EXPECT_EQ(control->focusPolicy() != Qt::NoFocus, place.takesFocus) << place.name;
        if (place.caption != nullptr) {
            QString caption = control->property("text").toString();
            if (auto* box = dynamic_cast<EditBox*>(control); box != nullptr) {
                caption = box->Text();
            }
            EXPECT_EQ(caption, QString::fromUtf8(place.caption)) << place.name;
        }
    }
}

TEST_F(MainWindowTest, windowHasItsTitleFixedSizeAndNoMaximiseButton) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Morvane：V1.0"));
    EXPECT_EQ(window.size(), MainWindow::kClientSize);
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainWindowTest, windowIsCentredOnTheScreenByItsOuterSize) {
    window.CentreOnScreen();
    const QRect screen = window.screen()->geometry();
    EXPECT_EQ(window.pos(), QPoint(screen.x() + (screen.width() - 490) / 2, screen.y() + (screen.height() - 485) / 2));
}

TEST_F(MainWindowTest, statusBarIsDockedAlongTheBottomEdgeEmptyWithAGrip) {
    QStatusBar* bar = window.状态条1;
    EXPECT_EQ(bar->geometry(), QRect(0, MainWindow::kClientSize.height() - MainWindow::kStatusBarHeight,
                                     MainWindow::kClientSize.width(), MainWindow::kStatusBarHeight));
    EXPECT_TRUE(bar->isSizeGripEnabled());
    EXPECT_TRUE(window.StatusText().isEmpty());
    // Every other control stands above it.
    for (QWidget* control : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (control != bar && control->isVisible()) {
            EXPECT_LE(control->geometry().bottom(), bar->geometry().top()) << control->objectName().toStdString();
        }
    }
}

TEST_F(MainWindowTest, regionListHoldsTheRegionsWithTheirAreaIds) {
    RegionComboBox& regions = *window.地区_组合框;
    ASSERT_EQ(regions.count(), 31);
    EXPECT_FALSE(regions.isEditable());
    EXPECT_EQ(regions.currentIndex(), 0);
    EXPECT_EQ(regions.currentText(), QStringLiteral("不限"));
    struct Pick {
        const char* name;
        int areaId;
    };
    const auto picks = std::to_array<Pick>({{"北京", 1}, {"内蒙古", 17}, {"台湾", 30}});
    for (const auto& pick : picks) {
        const int position = regions.findText(QString::fromUtf8(pick.name));
        regions.setCurrentIndex(position);
        EXPECT_EQ(window.ReadAreaId(window.ReadRegionSelection()), pick.areaId) << pick.name;
    }
    EXPECT_EQ(window.ReadAreaId(31), -1);
    EXPECT_EQ(window.ReadAreaId(-1), -1);
}

TEST_F(MainWindowTest, openedRegionListIsOneHundredAndSixtyHighAndDropsBelow) {
    RegionComboBox& regions = *window.地区_组合框;
    regions.showPopup();
    QWidget* list = regions.view()->window();
    ASSERT_TRUE(test::WaitUntil([&] { return list->isVisible(); }));
    const QPoint boxTop = regions.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(list->geometry().top(), boxTop.y() + regions.height());
    EXPECT_EQ(regions.height() + list->height(), RegionComboBox::kOpenHeight);
    EXPECT_EQ(regions.view()->sizeHintForRow(0), regions.fontMetrics().height() + 1);
    regions.hidePopup();
}

TEST_F(MainWindowTest, fontsAndColoursOfTheCaptions) {
    struct Look {
        QWidget* control;
        int pixelSize; // 0: the GUI font
        bool bold;
        QColor text;
    };
    const std::vector<Look> looks{
        {window.关键词总数_标签, 14, true, QColor(0, 128, 0)},
        {window.标签5, 16, true, QColor(128, 0, 0)},
        {window.开始获取_按钮, 12, true, QColor()},
        {window.停止_按钮, 12, true, QColor()},
        {window.标签1, 0, false, QColor(0, 0, 0)},
        {window.标签2, 0, false, QColor(0, 0, 0)},
        {window.标签3, 0, false, QColor(0, 0, 0)},
        {window.标签4, 0, false, QColor(0, 0, 0)},
    };
    for (const auto& look : looks) {
        const QString name = look.control->objectName();
        if (look.pixelSize != 0) {
            EXPECT_EQ(look.control->font().pixelSize(), look.pixelSize) << name.toStdString();
        } else {
            EXPECT_EQ(look.control->font(), QApplication::font()) << name.toStdString();
        }
        EXPECT_EQ(look.control->font().bold(), look.bold) << name.toStdString();
        if (look.text.isValid()) {
            EXPECT_EQ(look.control->palette().color(QPalette::WindowText), look.text) << name.toStdString();
        }
    }
    EXPECT_TRUE(window.标签5->font().families().contains(QStringLiteral("黑体")));
    EXPECT_TRUE(window.开始获取_按钮->font().families().contains(QStringLiteral("宋体")));
    EXPECT_TRUE(window.关键词总数_标签->font().families().contains(QStringLiteral("Tahoma")));
    EXPECT_EQ(window.标签3->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    EXPECT_EQ(window.标签1->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
}

TEST_F(MainWindowTest, editBoxesWearTheThemedFrameAndItsDisabledColours) {
    EditBox& box = *window.长尾词列表_编辑框;
    const auto frameColours = [&box] {
        const QImage image = box.grab().toImage();
        const int middle = image.height() / 2;
        return std::pair{QColor(image.pixel(0, middle)), QColor(image.pixel(1, middle))};
    };
    EXPECT_EQ(box.frameWidth(), 2);
    EXPECT_EQ(frameColours(), std::pair(ThemedStyle::kFrameColour, QColor(255, 255, 255)));

    box.setEnabled(false);
    const QColor face = box.palette().color(QPalette::Window);
    const QColor darker(std::max(face.red() - 32, 0), std::max(face.green() - 32, 0), std::max(face.blue() - 32, 0));
    EXPECT_EQ(frameColours(), std::pair(darker, face));
}

TEST_F(MainWindowTest, focusStartsOnTheRegionListAndTabGoesRoundInOrder) {
    Activate();
    EXPECT_EQ(QApplication::focusWidget(), window.地区_组合框);
    const std::vector<QWidget*> order{
        window.地区_组合框, window.选择框1,   window.母词列表_编辑框, window.长尾词列表_编辑框, window.开始获取_按钮,
        window.停止_按钮,   window.清空_按钮, window.复制结果_按钮,   window.导入到左边_按钮,   window.地区_组合框};
    for (std::size_t i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), order[i]) << "Tab " << i;
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), window.导入到左边_按钮);
}

TEST_F(MainWindowTest, focusComesBackToItsControlWhenTheWindowIsActivatedAgain) {
    Activate();
    window.母词列表_编辑框->setFocus();
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Activate();
    EXPECT_EQ(QApplication::focusWidget(), window.母词列表_编辑框);
}

TEST_F(MainWindowTest, tabSkipsDisabledControls) {
    Activate();
    window.开始获取_按钮->setEnabled(false);
    window.长尾词列表_编辑框->setFocus();
    QTest::keyClick(window.长尾词列表_编辑框, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window.停止_按钮);

    window.长尾词列表_编辑框->setEnabled(false);
    window.母词列表_编辑框->setFocus();
    QTest::keyClick(window.母词列表_编辑框, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window.停止_按钮);
}

TEST_F(MainWindowTest, escapeFromAnyControlClosesTheWindow) {
    for (QWidget* control : {static_cast<QWidget*>(window.母词列表_编辑框), static_cast<QWidget*>(window.地区_组合框),
                             static_cast<QWidget*>(window.开始获取_按钮), static_cast<QWidget*>(window.选择框1)}) {
        window.show();
        Activate();
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Escape);
        EXPECT_FALSE(window.isVisible()) << control->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, enterBreaksALineInAnEditBoxAndClicksNoButton) {
    Activate();
    window.母词列表_编辑框->setFocus();
    QTest::keyClicks(window.母词列表_编辑框, QStringLiteral("a"));
    QTest::keyClick(window.母词列表_编辑框, Qt::Key_Return);
    QTest::keyClicks(window.母词列表_编辑框, QStringLiteral("b"));
    EXPECT_EQ(window.ReadSeedText(), "a\r\nb");

    for (QPushButton* button : {window.开始获取_按钮, window.停止_按钮, window.复制结果_按钮}) {
        QSignalSpy clicks(button, &QPushButton::clicked);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Enter);
        EXPECT_EQ(clicks.count(), 0) << button->objectName().toStdString();
        EXPECT_EQ(QApplication::focusWidget(), button);
    }
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, spaceOnTheCheckBoxTogglesItAndClicksIt) {
    Activate();
    QSignalSpy clicks(window.选择框1, &QCheckBox::clicked);
    window.选择框1->setFocus();
    QTest::keyClick(window.选择框1, Qt::Key_Space);
    EXPECT_TRUE(window.ReadOutputToFile());
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(MainWindowTest, labelsNameTheirControlsForScreenReaders) {
    EXPECT_EQ(window.标签1->buddy(), window.地区_组合框);
    EXPECT_EQ(window.标签2->buddy(), window.母词列表_编辑框);
    EXPECT_EQ(window.标签4->buddy(), window.长尾词列表_编辑框);
    EXPECT_EQ(window.母词列表_编辑框->accessibleName(), QStringLiteral("母词列表（一行一个）："));
    // What a screen reader is told: the status text is held by a label, not painted, and every control has
    // its name.
    window.SetStatusText(QStringLiteral("正在挖(50%)..."));
    auto* part = window.状态条1->findChild<QLabel*>();
    ASSERT_NE(part, nullptr);
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(part);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("正在挖(50%)..."));
    window.SetKeywordTotal(QStringLiteral("155"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.关键词总数_标签)->text(QAccessible::Name),
              QStringLiteral("155"));
    for (QWidget* control :
         {static_cast<QWidget*>(window.开始获取_按钮), static_cast<QWidget*>(window.选择框1),
          static_cast<QWidget*>(window.母词列表_编辑框), static_cast<QWidget*>(window.地区_组合框)}) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << control->objectName().toStdString();
    }
}

} // namespace
} // namespace morvane::ui

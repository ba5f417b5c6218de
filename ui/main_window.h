#pragma once

#include "mining/text.h"
#include "ui/edit_box.h"
#include "ui/region_combo_box.h"
#include "ui/save_file_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>
#include <cstddef>

namespace morvane::ui {

// The program's only window: the seed list and the result list side by side, the region list, the output
// choice, five command buttons, the keyword total, an informational line, the status bar and the save-file
// dialog. The controls stand at fixed places in the client area; no layout manager moves them. The window holds
// no behaviour of its own beyond Esc: the commands connect to its controls' signals.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    // Title of the window.
    static constexpr const char* kTitle = "Morvane：V1.0";
    // The outer size, frame and title bar included, that the window's place on the screen is reckoned with.
    static constexpr QSize kOuterSize{490, 485};
    // The client area. A usual frame (3 pixels a side) and title bar (26 pixels) make it the outer 490 × 485.
    static constexpr QSize kClientSize{484, 456};
    // Height of the status bar docked along the bottom edge.
    static constexpr int kStatusBarHeight = 20;

    explicit MainWindow(QWidget* parent = nullptr);

    // The controls. Each also carries its name as its Qt object name.
    QLabel* 标签1 = nullptr;
    RegionComboBox* 地区_组合框 = nullptr;
    QCheckBox* 选择框1 = nullptr;
    QLabel* 标签2 = nullptr;
    QLabel* 标签4 = nullptr;
    QLabel* 关键词总数_标签 = nullptr;
    EditBox* 母词列表_编辑框 = nullptr;
    QLabel* 标签3 = nullptr;
    EditBox* 长尾词列表_编辑框 = nullptr;
    QPushButton* 清空_按钮 = nullptr;
    QPushButton* 导入到左边_按钮 = nullptr;
    QPushButton* 复制结果_按钮 = nullptr;
    QPushButton* 开始获取_按钮 = nullptr;
    QPushButton* 停止_按钮 = nullptr;
    QLabel* 标签5 = nullptr;
    QStatusBar* 状态条1 = nullptr;
    SaveFileDialog* 通用对话框1 = nullptr;

    // The control operations, with the core's texts (GBK, CR LF) at this boundary.

    // The whole text of the seed box.
    Text ReadSeedText() const;
    // Replaces the whole text of the seed box.
    void SetSeedText(const Text& text);
    // The whole text of the result box.
    Text ReadResultText() const;
    // Replaces the whole text of the result box, also when it is disabled.
    void SetResultText(const Text& text);
    // The position, 0 to 30, of the selected region.
    int ReadRegionSelection() const;
    // The area id stored with the region entry at position; -1 for a position outside the list.
    int ReadAreaId(int position) const;
    // True when the results are to go to a file.
    bool ReadOutputToFile() const;
    // Replaces the caption of the keyword total.
    void SetKeywordTotal(const QString& caption);
    // Replaces the status bar's text.
    void SetStatusText(const QString& text);
    // The status bar's text.
    QString StatusText() const;

    // Places the window centred on the screen it is on, reckoned with its outer size.
    void CentreOnScreen();

Q_SIGNALS:
    // The status bar's text was set (also to the text it already had).
    void StatusTextSet(const QString& text);

private:
    void CreateControls();
    void PlaceControls();
    void SetFontsAndColours();
    void SetFocusOrder();
    void WireKeys();

    QLabel* m_statusText = nullptr; // the status bar's one part
};

} // namespace morvane::ui

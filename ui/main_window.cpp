#include "ui/main_window.h"

#include "mining/region_table.h"
#include "ui/control_text.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <array>

namespace morvane::ui {
namespace {

// Colours of the captions.
constexpr QColor kBlack{0, 0, 0};
constexpr QColor kDarkGreen{0, 128, 0};
constexpr QColor kDarkRed{128, 0, 0};
constexpr QColor kWhite{255, 255, 255};

// The informational line under the result list.
constexpr const char* kInfoLine = "可将结果导入左边继续深挖";

// A font asked for by face name, with the faces Debian's fonts-noto-cjk and fonts-dejavu offer in its place.
QFont NamedFont(const QStringList& families, int characterHeight, bool bold) {
    QFont font;
    font.setFamilies(families);
    // The character height without internal leading is the em size, which Qt's pixel size is.
    font.setPixelSize(characterHeight);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QFont SongFont() {
    return NamedFont({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")},
                     12, true);
}

QFont HeiFont() {
    return NamedFont({QStringLiteral("黑体"), QStringLiteral("SimHei"), QStringLiteral("Noto Sans CJK SC")}, 16, true);
}

QFont TahomaFont() {
    return NamedFont({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC")}, 14,
                     true);
}

// A label: the face colour under a one-line caption, centred vertically.
QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption, Qt::Alignment horizontal) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setAutoFillBackground(true);
    label->setFrameShape(QFrame::NoFrame);
    label->setWordWrap(false);
    label->setAlignment(horizontal | Qt::AlignVCenter);
    label->setFocusPolicy(Qt::NoFocus);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromUtf8(name));
    // No default button: Enter clicks none of them.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

EditBox* NewEditBox(QWidget* parent, const char* name) {
    auto* box = new EditBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    return box;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, colour);
    colours.setColor(QPalette::Text, colour);
    widget->setPalette(colours);
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setFixedSize(kClientSize);
    CreateControls();
    PlaceControls();
    SetFontsAndColours();
    SetFocusOrder();
    WireKeys();
}

void MainWindow::CreateControls() {
    标签1 = NewLabel(this, "标签1", QStringLiteral("地区："), Qt::AlignLeft);
    地区_组合框 = new RegionComboBox(this);
    地区_组合框->setObjectName(QStringLiteral("地区_组合框"));
    for (std::size_t position = 0; position < RegionTable.size(); ++position) {
        const std::string_view name = RegionTable[position];
        地区_组合框->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
                             AreaIdAt(static_cast<int>(position)));
    }
    地区_组合框->setCurrentIndex(0);
    选择框1 = new QCheckBox(QStringLiteral("获取结果直接保存到本地文件"), this);
    选择框1->setObjectName(QStringLiteral("选择框1"));
    选择框1->setChecked(false);
    标签2 = NewLabel(this, "标签2", QStringLiteral("母词列表（一行一个）："), Qt::AlignLeft);
    标签4 = NewLabel(this, "标签4", QStringLiteral("已获得长尾词列表："), Qt::AlignLeft);
    关键词总数_标签 = NewLabel(this, "关键词总数_标签", QStringLiteral("0"), Qt::AlignLeft);
    母词列表_编辑框 = NewEditBox(this, "母词列表_编辑框");
    标签3 = NewLabel(this, "标签3", QStringLiteral(">>>"), Qt::AlignHCenter);
    长尾词列表_编辑框 = NewEditBox(this, "长尾词列表_编辑框");
    清空_按钮 = NewButton(this, "清空_按钮", QStringLiteral("清空"));
    导入到左边_按钮 = NewButton(this, "导入到左边_按钮", QStringLiteral("<<导入到左边"));
    复制结果_按钮 = NewButton(this, "复制结果_按钮", QStringLiteral("复制结果"));
    开始获取_按钮 = NewButton(this, "开始获取_按钮", QStringLiteral("开始获取"));
    停止_按钮 = NewButton(this, "停止_按钮", QStringLiteral("停止"));
    标签5 = NewLabel(this, "标签5", QString::fromUtf8(kInfoLine), Qt::AlignLeft);

    状态条1 = new QStatusBar(this);
    状态条1->setObjectName(QStringLiteral("状态条1"));
    状态条1->setSizeGripEnabled(true);
    // The one part is a label, so that screen readers read the status text like any caption.
    m_statusText = new QLabel(状态条1);
    m_statusText->setObjectName(QStringLiteral("状态条1_文本"));
    m_statusText->setTextFormat(Qt::PlainText);
    m_statusText->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_statusText->setAccessibleDescription(QStringLiteral("状态"));
    状态条1->addWidget(m_statusText, 1);

    通用对话框1 = new SaveFileDialog(this);
    通用对话框1->setObjectName(QStringLiteral("通用对话框1"));

    // The labels name the controls beside them, for screen readers and for their accelerator-free captions.
    标签1->setBuddy(地区_组合框);
    标签2->setBuddy(母词列表_编辑框);
    标签4->setBuddy(长尾词列表_编辑框);
    地区_组合框->setAccessibleName(标签1->text());
    母词列表_编辑框->setAccessibleName(标签2->text());
    长尾词列表_编辑框->setAccessibleName(标签4->text());
    关键词总数_标签->setAccessibleDescription(QStringLiteral("关键词总数"));
}

void MainWindow::PlaceControls() {
    struct Place {
        QWidget* control;
        QRect rect;
    };
    const auto places = std::to_array<Place>({
        {标签1, {16, 12, 40, 24}},
        {地区_组合框, {56, 13, 160, 20}},
        {选择框1, {266, 13, 184, 19}},
        {标签2, {16, 35, 176, 24}},
        {标签4, {266, 34, 109, 24}},
        {关键词总数_标签, {375, 33, 96, 24}},
        {母词列表_编辑框, {16, 59, 200, 287}},
        {标签3, {222, 187, 40, 24}},
        {长尾词列表_编辑框, {266, 59, 200, 287}},
        {清空_按钮, {16, 355, 80, 32}},
        {导入到左边_按钮, {266, 355, 80, 32}},
        {复制结果_按钮, {386, 355, 80, 32}},
        {开始获取_按钮, {16, 403, 80, 32}},
        {停止_按钮, {112, 403, 80, 32}},
        {标签5, {264, 406, 208, 24}},
    });
    for (const Place& place : places) {
        place.control->setGeometry(place.rect);
    }
    // Docked along the bottom edge across the whole width, below every other control.
    状态条1->setGeometry(0, kClientSize.height() - kStatusBarHeight, kClientSize.width(), kStatusBarHeight);
}

void MainWindow::SetFontsAndColours() {
    for (QLabel* label : {标签1, 标签2, 标签3, 标签4}) {
        SetTextColour(label, kBlack);
    }
    关键词总数_标签->setFont(TahomaFont());
    SetTextColour(关键词总数_标签, kDarkGreen);
    标签5->setFont(HeiFont());
    SetTextColour(标签5, kDarkRed);
    for (QWidget* control : std::initializer_list<QWidget*>{母词列表_编辑框, 长尾词列表_编辑框, 地区_组合框}) {
        QPalette colours = control->palette();
        colours.setColor(QPalette::Text, kBlack);
        colours.setColor(QPalette::Base, kWhite);
        control->setPalette(colours);
    }
    SetTextColour(选择框1, kBlack);
    开始获取_按钮->setFont(SongFont());
    停止_按钮->setFont(SongFont());
}

void MainWindow::SetFocusOrder() {
    const std::array<QWidget*, 9> order{地区_组合框, 选择框1,   母词列表_编辑框, 长尾词列表_编辑框, 开始获取_按钮,
                                        停止_按钮,   清空_按钮, 复制结果_按钮,   导入到左边_按钮};
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
    地区_组合框->setFocus(Qt::OtherFocusReason);
}

void MainWindow::WireKeys() {
    // Esc asks to close the window from whichever control has the focus, as the close button does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

Text MainWindow::ReadSeedText() const {
    return FromControlText(母词列表_编辑框->Text());
}

void MainWindow::SetSeedText(const Text& text) {
    母词列表_编辑框->SetText(ToControlText(text));
}

Text MainWindow::ReadResultText() const {
    return FromControlText(长尾词列表_编辑框->Text());
}

void MainWindow::SetResultText(const Text& text) {
    长尾词列表_编辑框->SetText(ToControlText(text));
}

int MainWindow::ReadRegionSelection() const {
    return 地区_组合框->currentIndex();
}

int MainWindow::ReadAreaId(int position) const {
    if (position < 0 || position >= 地区_组合框->count()) {
        return -1;
    }
    return 地区_组合框->itemData(position).toInt();
}

bool MainWindow::ReadOutputToFile() const {
    return 选择框1->isChecked();
}

void MainWindow::SetKeywordTotal(const QString& caption) {
    关键词总数_标签->setText(caption);
}

void MainWindow::SetStatusText(const QString& text) {
    m_statusText->setText(text);
    Q_EMIT StatusTextSet(text);
}

QString MainWindow::StatusText() const {
    return m_statusText->text();
}

void MainWindow::CentreOnScreen() {
    const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->geometry();
    // Halvings round toward zero, as integer division does.
    move(area.x() + (area.width() - kOuterSize.width()) / 2, area.y() + (area.height() - kOuterSize.height()) / 2);
}

} // namespace morvane::ui

#include "ui/region_combo_box.h"

#include <QAbstractItemView>
#include <QListView>
#include <QStyledItemDelegate>
#include <algorithm>

namespace morvane::ui {
namespace {

class RowDelegate : public QStyledItemDelegate {
public:
    RowDelegate(const RegionComboBox& box, QObject* parent) : QStyledItemDelegate(parent), m_box(box) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(m_box.RowHeight());
        return size;
    }

private:
    const RegionComboBox& m_box;
};

} // namespace

RegionComboBox::RegionComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    auto* list = new QListView(this);
    list->setUniformItemSizes(true);
    setView(list);
    setItemDelegate(new RowDelegate(*this, this));
}

int RegionComboBox::RowHeight() const {
    return fontMetrics().height() + 1;
}

void RegionComboBox::showPopup() {
    const int listHeight = kOpenHeight - height();
    setMaxVisibleItems(std::max(1, listHeight / RowHeight()));
    QComboBox::showPopup();
    // The list fills the rest of the opened height and scrolls the entries that do not fit. It drops below the
    // box, or opens above it where the screen has no room below.
    QWidget* popup = view()->window();
    QRect geometry = popup->geometry();
    const int boxTop = mapToGlobal(QPoint(0, 0)).y();
    if (geometry.top() < boxTop) {
        geometry.setTop(geometry.bottom() + 1 - listHeight);
    } else {
        geometry.moveTop(boxTop + height());
        geometry.setHeight(listHeight);
    }
    popup->setGeometry(geometry);
}

} // namespace morvane::ui

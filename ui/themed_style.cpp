#include "ui/themed_style.h"

#include <QAbstractScrollArea>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStatusBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <array>

namespace morvane::ui {
namespace {

constexpr int kEditFrameWidth = 2;
constexpr int kDisabledDarkening = 32;
constexpr QColor kHotColour{248, 179, 48};      // the orange line of a control under the mouse
constexpr QColor kCheckMarkColour{33, 161, 33}; // the green tick of a check box
constexpr QColor kButtonTop{255, 255, 255};
constexpr QColor kButtonBottom{214, 208, 197};

// The frame of a multi-line or single-line edit box; labels and the status bar keep their own frames.
bool IsEditFrame(const QWidget* widget) {
    if (widget == nullptr) {
        return false;
    }
    if (qobject_cast<const QLabel*>(widget) != nullptr || qobject_cast<const QStatusBar*>(widget) != nullptr) {
        return false;
    }
    return qobject_cast<const QAbstractScrollArea*>(widget) != nullptr ||
           qobject_cast<const QLineEdit*>(widget) != nullptr;
}

QColor Darker(const QColor& colour, int amount) {
    return {std::max(colour.red() - amount, 0), std::max(colour.green() - amount, 0),
            std::max(colour.blue() - amount, 0)};
}

// Two one-pixel rectangles, outer and inner, inside rect.
void DrawTwoLineFrame(QPainter* painter, const QRect& rect, const QColor& outer, const QColor& inner) {
    painter->save();
    painter->setBrush(Qt::NoBrush);
    painter->setPen(outer);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->setPen(inner);
    painter->drawRect(rect.adjusted(1, 1, -2, -2));
    painter->restore();
}

void DrawButtonPanel(QPainter* painter, const QStyleOption* option) {
    const QRect rect = option->rect.adjusted(0, 0, -1, -1);
    const bool enabled = option->state.testFlag(QStyle::State_Enabled);
    const bool sunken = option->state.testFlag(QStyle::State_Sunken) || option->state.testFlag(QStyle::State_On);
    const bool hot = enabled && option->state.testFlag(QStyle::State_MouseOver);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient face(rect.topLeft(), rect.bottomLeft());
    face.setColorAt(0, sunken ? kButtonBottom : kButtonTop);
    face.setColorAt(1, sunken ? kButtonTop : kButtonBottom);
    painter->setBrush(enabled ? QBrush(face) : option->palette.brush(QPalette::Button));
    painter->setPen(enabled ? ThemedStyle::kFrameColour.darker(150) : option->palette.color(QPalette::Mid));
    painter->drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    if (hot) {
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(kHotColour, 2));
        painter->drawRoundedRect(QRectF(rect).adjusted(2, 2, -2, -2), 2, 2);
    }
    painter->restore();
}

void DrawCheckBoxIndicator(QPainter* painter, const QStyleOption* option) {
    const QRect box = option->rect.adjusted(0, 0, -1, -1);
    const bool enabled = option->state.testFlag(QStyle::State_Enabled);
    painter->save();
    QLinearGradient face(box.topLeft(), box.bottomRight());
    face.setColorAt(0, QColor(220, 220, 215));
    face.setColorAt(1, Qt::white);
    painter->setBrush(enabled ? QBrush(face) : option->palette.brush(QPalette::Window));
    painter->setPen(enabled ? ThemedStyle::kFrameColour.darker(150) : option->palette.color(QPalette::Mid));
    painter->drawRect(box);
    if (enabled && option->state.testFlag(QStyle::State_MouseOver)) {
        painter->setPen(kHotColour);
        painter->drawRect(box.adjusted(1, 1, -1, -1));
    }
    if (option->state.testFlag(QStyle::State_On)) {
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(enabled ? kCheckMarkColour : option->palette.color(QPalette::Mid), 2));
        const QRectF r = QRectF(box).adjusted(3, 3, -3, -3);
        const std::array<QPointF, 3> tick{QPointF(r.left(), r.center().y()),
                                          QPointF(r.left() + r.width() * 0.4, r.bottom()), QPointF(r.right(), r.top())};
        painter->drawPolyline(tick.data(), static_cast<int>(tick.size()));
    }
    painter->restore();
}

} // namespace

ThemedStyle::ThemedStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QColor ThemedStyle::EditFrameOuter(const QPalette& palette, bool enabled) {
    return enabled ? kFrameColour : Darker(palette.color(QPalette::Window), kDisabledDarkening);
}

QColor ThemedStyle::EditFrameInner(const QPalette& palette, bool enabled) {
    return enabled ? palette.color(QPalette::Active, QPalette::Base) : palette.color(QPalette::Window);
}

int ThemedStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    if (metric == PM_DefaultFrameWidth && IsEditFrame(widget)) {
        return kEditFrameWidth;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int ThemedStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                           QStyleHintReturn* returnData) const {
    if (hint == SH_ComboBox_Popup) {
        return 0; // the list drops below the box instead of covering it
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void ThemedStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
    switch (element) {
    case PE_Frame:
    case PE_FrameLineEdit:
        if (IsEditFrame(widget)) {
            const bool enabled = option->state.testFlag(State_Enabled);
            DrawTwoLineFrame(painter, option->rect, EditFrameOuter(option->palette, enabled),
                             EditFrameInner(option->palette, enabled));
            return;
        }
        break;
    case PE_PanelButtonCommand:
        DrawButtonPanel(painter, option);
        return;
    case PE_IndicatorCheckBox:
        DrawCheckBoxIndicator(painter, option);
        return;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

} // namespace morvane::ui

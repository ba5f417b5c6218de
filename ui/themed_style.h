#pragma once

#include <QColor>
#include <QProxyStyle>

namespace morvane::ui {

// The program's themed look, in the manner of the classic blue scheme: edit boxes get a two-pixel frame (the
// scheme's frame colour outside, the window background inside; when disabled, the face colour darkened by 32
// outside and the face colour inside), and buttons, check boxes and drop-down lists are drawn in the scheme's
// colours. Labels and the status bar keep their own look. Set on the application, it applies to every control
// of the GUI thread, the save-file dialog's among them.
class ThemedStyle : public QProxyStyle {
public:
    // The scheme's frame colour.
    static constexpr QColor kFrameColour{123, 158, 189};

    ThemedStyle();

    // The outer line of an edit box's frame for a face colour: the face colour darkened by 32 when disabled.
    static QColor EditFrameOuter(const QPalette& palette, bool enabled);
    // The inner line of an edit box's frame: the window background, or the face colour when disabled.
    static QColor EditFrameInner(const QPalette& palette, bool enabled);

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

} // namespace morvane::ui

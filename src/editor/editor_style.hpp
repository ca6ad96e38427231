#pragma once

// Colours of the trim window's painted views.

#include <QColor>
#include <QPalette>

namespace yux {

struct EditorStyle {
    static QColor accent(qreal opacity = 1.0) {
        QColor colour = QColor::fromRgbF(0.039f, 0.518f, 1.0f);
        colour.setAlphaF(opacity);
        return colour;
    }
    // Palette text at 50 %, times `opacity`.
    static QColor secondary(const QPalette& palette, qreal opacity = 1.0) {
        QColor colour = palette.color(QPalette::Active, QPalette::WindowText);
        colour.setAlphaF(0.5 * opacity);
        return colour;
    }
    static QColor controlBackground(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Base); }
    static QColor withOpacity(QColor colour, qreal opacity) {
        colour.setAlphaF(opacity);
        return colour;
    }
    static bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }
};

}  // namespace yux

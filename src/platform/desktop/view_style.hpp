#pragma once

// Colours and fonts Yux's painted views share. Sizes are logical pixels; the accent is the
// palette's Highlight.

#include <QColor>
#include <QFont>
#include <QPalette>

namespace yux::platform {

// Text that steps back: the window text at 60 %, times `opacity`.
inline QColor secondaryColour(const QPalette& palette, qreal opacity = 1.0) {
    QColor colour = palette.color(QPalette::Active, QPalette::WindowText);
    colour.setAlphaF(0.6 * opacity);
    return colour;
}

// Signal colours, the same on every theme.
inline QColor systemGreen() { return QColor(52, 199, 89); }
inline QColor systemOrange() { return QColor(255, 149, 0); }
inline QColor systemRed() { return QColor(215, 0, 21); }

// The application's font at a size in logical pixels.
inline QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal) {
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

}  // namespace yux::platform

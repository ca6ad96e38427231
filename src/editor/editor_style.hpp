#pragma once

// Colours, fonts and shapes of the trim window's painted views.

#include <QColor>
#include <QFont>
#include <QPalette>

class QPainter;
class QWidget;

namespace yux {

struct EditorStyle {
    // The caption size: small notes and the letters beside the crop fields.
    static constexpr int kCaptionPixels = 10;
    // The window's tint: the colour of its own painted accents and, through `applyTint`, of the
    // stock controls too. The same in light and dark.
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
    // The faintest text style: hairlines and the chips' faces.
    static QColor quaternary(const QPalette& palette, qreal opacity = 1.0) {
        QColor colour = palette.color(QPalette::Active, QPalette::WindowText);
        colour.setAlphaF(0.18 * opacity);
        return colour;
    }
    static QColor controlBackground(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Base); }
    static QColor withOpacity(QColor colour, qreal opacity) {
        colour.setAlphaF(opacity);
        return colour;
    }
    static bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

    // Behind the window's content.
    static QColor windowBackground(bool dark) {
        return dark ? QColor::fromRgbF(0.145f, 0.145f, 0.153f) : QColor::fromRgbF(0.965f, 0.965f, 0.965f);
    }
    // The sidebar and the face of ordinary buttons.
    static QColor panel(bool dark) { return dark ? QColor::fromRgbF(0.173f, 0.173f, 0.18f) : QColor(Qt::white); }
    // Dividers, outlines of buttons and strips, the result strip's background.
    static QColor line(bool dark) {
        return dark ? QColor::fromRgbF(0.227f, 0.227f, 0.235f) : QColor::fromRgbF(0.839f, 0.839f, 0.839f);
    }
    static QColor previewBackdrop() { return QColor::fromRgbF(0.06f, 0.065f, 0.08f); }

    // Makes the tint the highlight of `root` and every widget below it that does not set its own,
    // with white text on it; disabled controls keep the desktop's grey.
    static void applyTint(QWidget& root);

    // The system's fixed-width font: digits that change keep their place.
    static QFont monospaced(int pixels, QFont::Weight weight = QFont::Normal);
    // Clips `painter`, which paints `widget`, to the rounded rectangle of `frame` (the widget
    // itself or one of its ancestors), so children are cut at their frame's rounded corners.
    static void clipToRoundedFrame(QPainter& painter, const QWidget* widget, const QWidget* frame, qreal radius);
};

}  // namespace yux

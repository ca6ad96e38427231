#pragma once

#include <string>
#include <vector>

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QRectF>
#include <QRegion>

#include "model/geometry.hpp"

namespace yux {

QRectF toQRect(const Rect& rect);

// How an overlay can show what lies beneath it: translucent with a compositing manager,
// otherwise only opaque pixels, so dims paint over a frozen picture and other overlays are
// masked to what they draw.
enum class OverlayPaintMode { translucent, opaque };

struct OverlayColours {
    static QColor white(double opacity) { return QColor::fromRgbF(1, 1, 1, static_cast<float>(opacity)); }
    static QColor black(double opacity) { return QColor::fromRgbF(0, 0, 0, static_cast<float>(opacity)); }
    static QColor rgb(double r, double g, double b, double opacity = 1) {
        return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                                static_cast<float>(opacity));
    }
    static QColor record() { return rgb(0.19, 0.82, 0.35); }
    static QColor recordInk() { return rgb(0.02, 0.17, 0.06); }
    static QColor stop() { return rgb(1.0, 0.23, 0.19); }
    static QColor hover() { return rgb(0.39, 0.82, 1.0); }
    static QColor accent() { return rgb(0.04, 0.52, 1.0); }
};

// Light text on the dark panels, for the standard widgets placed on them.
QPalette darkPanelPalette(QPalette base);

// Starts a paint: transparent with translucency, else black (what shows through without it).
void clearOverlay(QPainter& painter, const QRect& rect, OverlayPaintMode mode);

// A rounded button label: semibold 13, 28 high, 11 points of padding each side.
struct PillButton {
    std::string text;
    QColor color;
    QColor ink;
    bool pressed = false;
    bool enabled = true;
    // Drawn before the text: a 9 × 9 white rounded square (Stop).
    bool stopSquare = false;
    // A key cap after the text ("esc", "↩").
    std::string keyCap;
};
double pillWidth(const PillButton& button);
void paintPill(QPainter& painter, const QRectF& frame, const PillButton& button);

// The dark panel behind the control bar and the tray.
void paintTraySurface(QPainter& painter, const QRectF& frame);
QPainterPath continuousRoundedRect(const QRectF& rect, double radius);

}  // namespace yux

#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QRectF>
#include <QRegion>
#include <QWidget>

#include "model/geometry.hpp"
#include "platform/x11/compositing_manager.hpp"

namespace yux {

QRectF toQRect(const Rect& rect);

// How an overlay can show what lies beneath it: translucent with a compositing manager,
// otherwise only opaque pixels, so dims paint over a frozen picture and other overlays are
// masked to what they draw.
enum class OverlayPaintMode { translucent, opaque };

// How every overlay paints now, decided here alone: translucent only while a compositing
// manager blends windows. Overlay windows have an alpha channel in both modes, so a switch
// needs no new window: without a compositor the server shows their colours as painted.
OverlayPaintMode overlayPaintMode(const platform::CompositingManager& compositor);

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

// Without translucency only `painted` is part of the window, so the live desktop shows
// everywhere else; with it the whole window is.
void maskOverlay(QWidget& window, OverlayPaintMode mode, const QRegion& painted);
// The pixels that `paint` covers at all, on a canvas of `size`.
QRegion paintedRegion(QSize size, const std::function<void(QPainter&)>& paint);

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

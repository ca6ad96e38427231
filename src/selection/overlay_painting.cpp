#include "selection/overlay_painting.hpp"

#include <algorithm>

#include <QBitmap>
#include <QFontMetricsF>
#include <QImage>

#include "platform/desktop/view_style.hpp"

namespace yux {

namespace {

QFont pillFont() { return platform::pixelFont(13, QFont::DemiBold); }
QFont keyCapFont() { return platform::pixelFont(10); }

constexpr double kPillPadding = 11;
constexpr double kPillSpacing = 6;
constexpr double kStopSquare = 9;

double keyCapWidth(const std::string& text) {
    return QFontMetricsF(keyCapFont()).horizontalAdvance(QString::fromStdString(text)) + 10;
}

}  // namespace

OverlayPaintMode overlayPaintMode(const platform::CompositingManager& compositor) {
    return compositor.running() ? OverlayPaintMode::translucent : OverlayPaintMode::opaque;
}

QRectF toQRect(const Rect& r) { return QRectF(r.minX(), r.minY(), std::abs(r.width), std::abs(r.height)); }

QPainterPath continuousRoundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPalette darkPanelPalette(QPalette palette) {
    const QColor ink = QColor::fromRgbF(0.96f, 0.96f, 0.96f);
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text, QPalette::BrightText}) {
        palette.setColor(QPalette::Active, role, ink);
        palette.setColor(QPalette::Inactive, role, ink);
    }
    palette.setColor(QPalette::Window, OverlayColours::rgb(0.11, 0.11, 0.125));
    palette.setColor(QPalette::Button, OverlayColours::rgb(0.2, 0.2, 0.22));
    palette.setColor(QPalette::Base, OverlayColours::rgb(0.16, 0.16, 0.18));
    return palette;
}

void clearOverlay(QPainter& painter, const QRect& rect, OverlayPaintMode mode) {
    if (mode == OverlayPaintMode::opaque) {
        painter.fillRect(rect, Qt::black);
        return;
    }
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect, Qt::transparent);
    painter.restore();
}

void maskOverlay(QWidget& window, OverlayPaintMode mode, const QRegion& painted) {
    if (mode == OverlayPaintMode::translucent) {
        window.clearMask();
        return;
    }
    // An empty mask would mean no mask at all: the whole black window.
    window.setMask(painted.isEmpty() ? QRegion(0, 0, 1, 1) : painted);
}

QRegion paintedRegion(QSize size, const std::function<void(QPainter&)>& paint) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        paint(painter);
    }
    return QRegion(QBitmap::fromImage(image.createAlphaMask()));
}

double pillWidth(const PillButton& b) {
    double width = 2 * kPillPadding + QFontMetricsF(pillFont()).horizontalAdvance(QString::fromStdString(b.text));
    if (b.stopSquare) width += kStopSquare + kPillSpacing;
    if (!b.keyCap.empty()) width += kPillSpacing + keyCapWidth(b.keyCap);
    return width;
}

void paintPill(QPainter& painter, const QRectF& frame, const PillButton& b) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * (b.enabled ? 1.0 : 0.4));
    QColor fill = b.color;
    fill.setAlphaF(fill.alphaF() * (b.pressed ? 0.7f : 1.0f));
    painter.fillPath(continuousRoundedRect(frame, 8), fill);
    const QString text = QString::fromStdString(b.text);
    const QFontMetricsF metrics(pillFont());
    double content = metrics.horizontalAdvance(text);
    if (b.stopSquare) content += kStopSquare + kPillSpacing;
    if (!b.keyCap.empty()) content += kPillSpacing + keyCapWidth(b.keyCap);
    double x = frame.center().x() - content / 2;
    if (b.stopSquare) {
        painter.fillPath(continuousRoundedRect(QRectF(x, frame.center().y() - kStopSquare / 2, kStopSquare, kStopSquare), 2),
                         Qt::white);
        x += kStopSquare + kPillSpacing;
    }
    painter.setFont(pillFont());
    painter.setPen(b.ink);
    const double textWidth = metrics.horizontalAdvance(text);
    painter.drawText(QRectF(x, frame.top(), textWidth + 1, frame.height()), Qt::AlignVCenter | Qt::AlignLeft, text);
    x += textWidth;
    if (!b.keyCap.empty()) {
        x += kPillSpacing;
        const double w = keyCapWidth(b.keyCap);
        const QFontMetricsF capMetrics(keyCapFont());
        const QRectF cap(x, frame.center().y() - (capMetrics.height() + 2) / 2, w, capMetrics.height() + 2);
        painter.fillPath(continuousRoundedRect(cap, 6), OverlayColours::white(0.18));
        painter.setFont(keyCapFont());
        painter.drawText(cap, Qt::AlignCenter, QString::fromStdString(b.keyCap));
    }
    painter.restore();
}

void paintTraySurface(QPainter& painter, const QRectF& frame) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = continuousRoundedRect(frame, 12);
    painter.fillPath(shape, OverlayColours::rgb(0.11, 0.11, 0.125, 0.82));
    // The border lies inside the shape.
    painter.strokePath(continuousRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 11.5),
                       QPen(OverlayColours::white(0.14), 1));
    painter.restore();
}

}  // namespace yux

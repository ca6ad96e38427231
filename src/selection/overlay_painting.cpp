#include "selection/overlay_painting.hpp"

#include <algorithm>

#include <QFontMetricsF>

#include "platform/desktop/view_style.hpp"

namespace yux {

namespace {

// The frame lies this far outside the target, the handles' lines a little further.
constexpr double kFrameOutset = 2;
constexpr double kFrameInset = 1;
constexpr double kHandleOutset = 3;
constexpr double kHandleInset = 6;
constexpr double kHandleDiameter = 10;
constexpr double kBracketArm = 16;

QFont pillFont() { return platform::pixelFont(13, QFont::DemiBold); }
QFont keyCapFont() { return platform::pixelFont(10); }

constexpr double kPillPadding = 11;
constexpr double kPillSpacing = 6;
constexpr double kStopSquare = 9;

double keyCapWidth(const std::string& text) {
    return QFontMetricsF(keyCapFont()).horizontalAdvance(QString::fromStdString(text)) + 10;
}

struct OutlineFrame {
    QRectF frame;
    double radius;
    double hx0, hx1, hy0, hy1, mx, my;
};

OutlineFrame outlineFrame(const TargetOutline& o) {
    const Rect l = o.rect.offsetBy(-o.displayBounds.minX(), -o.displayBounds.minY());
    const Rect& d = o.displayBounds;
    const double x0 = std::max(l.minX() - kFrameOutset, kFrameInset);
    const double y0 = std::max(l.minY() - kFrameOutset, kFrameInset);
    const double x1 = std::min(l.maxX() + kFrameOutset, d.width - kFrameInset);
    const double y1 = std::min(l.maxY() + kFrameOutset, d.height - kFrameInset);
    return {QRectF(x0, y0, x1 - x0, y1 - y0),
            o.application ? 12.0 : 2.0,
            std::max(l.minX() - kHandleOutset, kHandleInset),
            std::min(l.maxX() + kHandleOutset, d.width - kHandleInset),
            std::max(l.minY() - kHandleOutset, kHandleInset),
            std::min(l.maxY() + kHandleOutset, d.height - kHandleInset),
            l.midX(),
            l.midY()};
}

std::vector<QPointF> handlePoints(const OutlineFrame& f) {
    return {{f.hx0, f.hy0}, {f.mx, f.hy0}, {f.hx1, f.hy0}, {f.hx1, f.my},
            {f.hx1, f.hy1}, {f.mx, f.hy1}, {f.hx0, f.hy1}, {f.hx0, f.my}};
}

}  // namespace

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

void paintOutsideDim(QPainter& painter, const std::vector<Rect>& rects, const Rect& displayBounds, double opacity) {
    QPainterPath dim;
    dim.addRect(QRectF(0, 0, displayBounds.width, displayBounds.height));
    QPainterPath clear;
    clear.setFillRule(Qt::WindingFill);
    for (const auto& rect : rects) clear.addRect(toQRect(rect.offsetBy(-displayBounds.minX(), -displayBounds.minY())));
    // Subtracting a union keeps overlapping rectangles clear, as clearing twice would.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(dim.subtracted(clear.simplified()), OverlayColours::black(opacity));
    painter.restore();
}

void paintTargetOutline(QPainter& painter, const TargetOutline& o) {
    const OutlineFrame f = outlineFrame(o);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const QPainterPath shape = continuousRoundedRect(f.frame, f.radius);
    painter.strokePath(shape, QPen(OverlayColours::black(0.45), 4));
    QPen line(o.color, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    line.setMiterLimit(10);
    if (o.selecting) line.setDashPattern({6.0 / 2, 4.0 / 2});  // Qt dashes are in pen widths
    painter.strokePath(shape, line);
    if (!o.application) {
        const double x0 = f.frame.left(), y0 = f.frame.top(), x1 = f.frame.right(), y1 = f.frame.bottom();
        const double a = kBracketArm;
        QPainterPath brackets;
        brackets.moveTo(x0, y0 + a); brackets.lineTo(x0, y0); brackets.lineTo(x0 + a, y0);
        brackets.moveTo(x1, y0 + a); brackets.lineTo(x1, y0); brackets.lineTo(x1 - a, y0);
        brackets.moveTo(x0, y1 - a); brackets.lineTo(x0, y1); brackets.lineTo(x0 + a, y1);
        brackets.moveTo(x1, y1 - a); brackets.lineTo(x1, y1); brackets.lineTo(x1 - a, y1);
        painter.strokePath(brackets, QPen(o.color, 4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    }
    if (o.selecting && o.editable) {
        for (const QPointF& p : handlePoints(f)) {
            const QRectF circle(p.x() - kHandleDiameter / 2, p.y() - kHandleDiameter / 2, kHandleDiameter,
                                kHandleDiameter);
            painter.setBrush(Qt::white);
            painter.setPen(QPen(OverlayColours::black(0.4), 1));
            painter.drawEllipse(circle);
        }
    }
    painter.restore();
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

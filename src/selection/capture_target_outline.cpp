#include "selection/capture_target_outline.hpp"

#include <algorithm>

#include <QPainterPath>

#include "selection/overlay_painting.hpp"

namespace yux {

namespace {

// The frame lies this far outside the target, the handles' lines a little further.
constexpr double kFrameOutset = 2;
constexpr double kFrameInset = 1;
constexpr double kHandleOutset = 3;
constexpr double kHandleInset = 6;
constexpr double kHandleDiameter = 10;
constexpr double kBracketArm = 16;

struct OutlineFrame {
    QRectF frame;
    double radius;
    double hx0, hx1, hy0, hy1, mx, my;
};

OutlineFrame outlineFrame(const CaptureTargetOutline& o) {
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

void paintTargetOutline(QPainter& painter, const CaptureTargetOutline& o) {
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

}  // namespace yux

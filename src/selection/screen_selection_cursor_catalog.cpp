#include "selection/screen_selection_cursor_catalog.hpp"

#include <cmath>
#include <numbers>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace yux {

namespace {

using Edges = ScreenSelectionGeometry::ResizeEdges;

// Points are written y-up, as the glyphs are laid out, and flipped to the y-down pixmap here:
// y' = size − y.
QPointF up(double size, double x, double y) { return {x, size - y}; }

QCursor outlined(int size, const QPainterPath& path) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A black glyph with a white rim reads on any background.
    painter.strokePath(path, QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(path, QPen(Qt::black, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.end();
    return QCursor(pixmap, size / 2, size / 2);
}

void stroke(QPainterPath& path, QPointF from, double angle, double length) {
    path.moveTo(from);
    // Angles are y-up; flip the y step.
    path.lineTo(from.x() + length * std::cos(angle), from.y() - length * std::sin(angle));
}

// A two-headed arrow of the 24-point cursors, from A to B in y-up coordinates.
QCursor twoHeaded(double ax, double ay, double bx, double by) {
    constexpr int kSize = 24;
    constexpr double kHead = 3;
    const double theta = std::atan2(by - ay, bx - ax);
    const double pi = std::numbers::pi;
    const QPointF a = up(kSize, ax, ay);
    const QPointF b = up(kSize, bx, by);
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    stroke(path, b, theta + pi - pi / 4, kHead);
    stroke(path, b, theta + pi + pi / 4, kHead);
    stroke(path, a, theta - pi / 4, kHead);
    stroke(path, a, theta + pi / 4, kHead);
    return outlined(kSize, path);
}

QCursor moveCursor() {
    constexpr int kSize = 28;
    constexpr double c = 14;
    QPainterPath path;
    path.addRect(QRectF(c - 3.5, c - 3.5, 7, 7));
    // Up, down, right, left, each arm from 6 to 12 points off the centre.
    const double dirs[4][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};
    for (const auto& d : dirs) {
        const QPointF inner = up(kSize, c + d[0] * 6, c + d[1] * 6);
        const QPointF tip = up(kSize, c + d[0] * 12, c + d[1] * 12);
        path.moveTo(inner);
        path.lineTo(tip);
        const double bx = c + d[0] * 9;
        const double by = c + d[1] * 9;
        path.moveTo(tip);
        path.lineTo(up(kSize, bx + d[1] * 3, by + d[0] * 3));
        path.moveTo(tip);
        path.lineTo(up(kSize, bx - d[1] * 3, by - d[0] * 3));
    }
    return outlined(kSize, path);
}

QCursor drawn(OverlayCursor shape) {
    const double d = 7 / std::numbers::sqrt2;
    switch (shape) {
        case OverlayCursor::plainVertical: return twoHeaded(12, 5, 12, 19);
        case OverlayCursor::plainHorizontal: return twoHeaded(5, 12, 19, 12);
        case OverlayCursor::diagonalNWSE: return twoHeaded(12 - d, 12 + d, 12 + d, 12 - d);
        case OverlayCursor::diagonalNESW: return twoHeaded(12 - d, 12 - d, 12 + d, 12 + d);
        default: return moveCursor();
    }
}

}  // namespace

OverlayCursor ScreenSelectionCursorCatalog::shape(const ScreenSelectionGeometry::DragMode& mode) {
    using Kind = ScreenSelectionGeometry::DragMode::Kind;
    if (mode.kind == Kind::create) return OverlayCursor::crosshair;
    if (mode.kind == Kind::move) return OverlayCursor::move;
    const Edges e = mode.edges;
    if (e.contains(Edges::left | Edges::bottom) || e.contains(Edges::right | Edges::top))
        return OverlayCursor::diagonalNWSE;
    if (e.contains(Edges::left | Edges::top) || e.contains(Edges::right | Edges::bottom))
        return OverlayCursor::diagonalNESW;
    if (e.contains(Edges::top) || e.contains(Edges::bottom)) return OverlayCursor::plainVertical;
    return OverlayCursor::plainHorizontal;
}

QCursor ScreenSelectionCursorCatalog::cursor(OverlayCursor shape) {
    switch (shape) {
        case OverlayCursor::arrow: return Qt::ArrowCursor;
        case OverlayCursor::crosshair: return Qt::CrossCursor;
        case OverlayCursor::pointingHand: return Qt::PointingHandCursor;
        case OverlayCursor::openHand: return Qt::OpenHandCursor;
        case OverlayCursor::closedHand: return Qt::ClosedHandCursor;
        default: {
            // The five drawn cursors, made together on first use and kept for the process.
            static const QCursor made[] = {drawn(OverlayCursor::plainVertical), drawn(OverlayCursor::plainHorizontal),
                                           drawn(OverlayCursor::diagonalNWSE), drawn(OverlayCursor::diagonalNESW),
                                           drawn(OverlayCursor::move)};
            return made[static_cast<int>(shape) - static_cast<int>(OverlayCursor::plainVertical)];
        }
    }
    return Qt::ArrowCursor;
}

}  // namespace yux

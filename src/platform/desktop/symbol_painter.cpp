#include "platform/desktop/symbol_painter.hpp"

#include <QPainter>
#include <QPainterPathStroker>
#include <QPixmap>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <initializer_list>

namespace yux::platform {

namespace {

// Symbols are drawn on a square of this many units and scaled to the box they are asked for.
constexpr qreal kGrid = 100.0;

QPainterPath polyline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    bool first = true;
    for (const auto& point : points) {
        if (first) path.moveTo(point);
        else path.lineTo(point);
        first = false;
    }
    return path;
}

// The area a pen of `width` with round ends covers along `path`.
QPainterPath stroked(const QPainterPath& path, qreal width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path).simplified();
}

QPainterPath roundedRect(qreal left, qreal top, qreal right, qreal bottom, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(left, top), QPointF(right, bottom)), radius, radius);
    return path;
}

QPainterPath disc(QPointF centre, qreal radius) {
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

// A filled polygon whose corners are rounded by `radius`.
QPainterPath roundedPolygon(std::initializer_list<QPointF> points, qreal radius) {
    QPainterPath outline;
    outline.addPolygon(QPolygonF(QList<QPointF>(points)));
    outline.closeSubpath();
    return outline.united(stroked(outline, radius * 2)).simplified();
}

QPainterPath tick(QPointF start, QPointF corner, QPointF end, qreal width) {
    return stroked(polyline({start, corner, end}), width);
}

QPainterPath checkmark() { return tick({18, 52}, {40, 74}, {82, 28}, 12); }

QPainterPath checkmarkCircleFill() {
    return disc({50, 50}, 46).subtracted(tick({29, 51}, {44, 66}, {71, 36}, 9));
}

QPainterPath checkmarkShieldFill() {
    QPainterPath shield;
    shield.moveTo(50, 4);
    shield.quadTo(68, 14, 88, 17);
    shield.lineTo(88, 46);
    shield.cubicTo(88, 72, 70, 88, 50, 96);
    shield.cubicTo(30, 88, 12, 72, 12, 46);
    shield.lineTo(12, 17);
    shield.quadTo(32, 14, 50, 4);
    shield.closeSubpath();
    return shield.subtracted(tick({33, 50}, {45, 62}, {67, 37}, 9));
}

QPainterPath xmark() {
    QPainterPath cross = polyline({{22, 22}, {78, 78}});
    cross.addPath(polyline({{78, 22}, {22, 78}}));
    return stroked(cross, 11);
}

QPainterPath handTapFill() {
    QPainterPath hand = roundedRect(35, 18, 49, 64, 7);      // the pointing finger
    hand = hand.united(roundedRect(48, 42, 61, 66, 6.5));    // folded fingers
    hand = hand.united(roundedRect(60, 46, 72, 68, 6));
    hand = hand.united(roundedRect(71, 51, 82, 71, 5.5));
    hand = hand.united(roundedRect(35, 56, 82, 96, 13));     // palm
    QPainterPath thumb = roundedRect(18, 56, 42, 68, 6);
    hand = hand.united(QTransform().translate(38, 66).rotate(38).translate(-38, -66).map(thumb));
    // Rays around the finger tip: the tap.
    QPainterPath rays = polyline({{29, 17}, {23, 11}});
    rays.addPath(polyline({{42, 11}, {42, 4}}));
    rays.addPath(polyline({{55, 17}, {61, 11}}));
    return hand.united(stroked(rays, 5)).simplified();
}

QPainterPath micFill() {
    QPainterPath mic = roundedRect(36, 4, 64, 62, 14);
    QPainterPath stand;
    const QRectF bowl(22, 18, 56, 52);
    stand.arcMoveTo(bowl, 180);
    stand.arcTo(bowl, 180, 180);
    stand.moveTo(50, 70);
    stand.lineTo(50, 88);
    stand.moveTo(35, 90);
    stand.lineTo(65, 90);
    return mic.united(stroked(stand, 7)).simplified();
}

QPainterPath videoFill() {
    QPainterPath body = roundedRect(4, 24, 66, 76, 11);
    return body.united(roundedPolygon({{71, 44}, {93, 30}, {93, 70}, {71, 56}}, 4)).simplified();
}

QPainterPath exclamationmarkTriangleFill() {
    QPainterPath triangle = roundedPolygon({{50, 9}, {93, 86}, {7, 86}}, 6);
    QPainterPath mark = roundedRect(45, 32, 55, 63, 5).united(disc({50, 74}, 5.5));
    return triangle.subtracted(mark);
}

QPainterPath chevronDown() { return stroked(polyline({{22, 36}, {50, 64}, {78, 36}}), 11); }

QPainterPath playFill() {
    QPainterPath path;
    path.addPolygon(QPolygonF{QPointF(24, 14), QPointF(82, 50), QPointF(24, 86), QPointF(24, 14)});
    return path;
}

QPainterPath pauseFill() {
    QPainterPath path;
    path.addRoundedRect(QRectF(24, 16, 18, 68), 4, 4);
    path.addRoundedRect(QRectF(58, 16, 18, 68), 4, 4);
    return path;
}

QPainterPath designed(Symbol symbol) {
    switch (symbol) {
        case Symbol::checkmark: return checkmark();
        case Symbol::checkmarkCircleFill: return checkmarkCircleFill();
        case Symbol::checkmarkShieldFill: return checkmarkShieldFill();
        case Symbol::xmark: return xmark();
        case Symbol::handTapFill: return handTapFill();
        case Symbol::micFill: return micFill();
        case Symbol::videoFill: return videoFill();
        case Symbol::exclamationmarkTriangleFill: return exclamationmarkTriangleFill();
        case Symbol::chevronDown: return chevronDown();
        case Symbol::playFill: return playFill();
        case Symbol::pauseFill: return pauseFill();
    }
    return {};
}

}  // namespace

QPainterPath SymbolPainter::path(Symbol symbol, const QRectF& box) {
    const qreal side = std::min(box.width(), box.height());
    QTransform fit;
    fit.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    fit.scale(side / kGrid, side / kGrid);
    QPainterPath result = fit.map(designed(symbol));
    return result;
}

void SymbolPainter::paint(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& colour) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(path(symbol, box));
    painter.restore();
}

QIcon SymbolPainter::icon(Symbol symbol, const QColor& colour, int size) {
    QIcon icon;
    for (qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(QSize(size, size) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(painter, symbol, QRectF(0, 0, size, size), colour);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace yux::platform

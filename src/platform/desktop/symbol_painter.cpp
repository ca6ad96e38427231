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

// The bowl, post and foot a microphone stands on.
QPainterPath micStand() {
    QPainterPath stand;
    const QRectF bowl(22, 18, 56, 52);
    stand.arcMoveTo(bowl, 180);
    stand.arcTo(bowl, 180, 180);
    stand.moveTo(50, 70);
    stand.lineTo(50, 88);
    stand.moveTo(35, 90);
    stand.lineTo(65, 90);
    return stroked(stand, 7);
}

QPainterPath micFill() { return roundedRect(36, 4, 64, 62, 14).united(micStand()).simplified(); }

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

QPainterPath chevronLeft() { return stroked(polyline({{64, 22}, {36, 50}, {64, 78}}), 11); }
QPainterPath chevronRight() { return stroked(polyline({{36, 22}, {64, 50}, {36, 78}}), 11); }

QPainterPath ring(QPointF centre, qreal outer, qreal inner) {
    return disc(centre, outer).subtracted(disc(centre, inner));
}

QPainterPath exclamationmarkTriangle() {
    QPainterPath outline = roundedPolygon({{50, 9}, {93, 86}, {7, 86}}, 6);
    QPainterPath inside = roundedPolygon({{50, 25}, {81, 79}, {19, 79}}, 2);
    QPainterPath mark = roundedRect(46, 36, 54, 62, 4).united(disc({50, 70}, 4.5));
    return outline.subtracted(inside).united(mark).simplified();
}

QPainterPath infoCircle() {
    QPainterPath letter = roundedRect(45, 42, 55, 74, 4).united(disc({50, 29}, 6));
    return ring({50, 50}, 46, 38).united(letter).simplified();
}

QPainterPath command() {
    // Four loops joined by a square in the middle.
    QPainterPath shape;
    shape.addRect(QRectF(QPointF(36, 36), QPointF(64, 64)));
    const QRectF loops[] = {{14, 14, 22, 22}, {64, 14, 22, 22}, {14, 64, 22, 22}, {64, 64, 22, 22}};
    for (const auto& loop : loops) shape.addEllipse(loop);
    return stroked(shape, 7);
}

QPainterPath recordCircle() { return ring({50, 50}, 46, 38).united(disc({50, 50}, 26)).simplified(); }

QPainterPath circleFill() { return disc({50, 50}, 44); }
QPainterPath stopFill() { return roundedRect(14, 14, 86, 86, 12); }

QPainterPath ellipsis() {
    QPainterPath dots = disc({16, 50}, 12);
    dots.addPath(disc({50, 50}, 12));
    dots.addPath(disc({84, 50}, 12));
    return dots;
}

QPainterPath folderShape() {
    QPainterPath shape = roundedRect(6, 26, 94, 84, 8);
    return shape.united(roundedPolygon({{8, 18}, {38, 18}, {46, 28}, {8, 28}}, 4)).simplified();
}

QPainterPath folder() {
    QPainterPath outline = folderShape();
    return outline.subtracted(roundedRect(14, 36, 86, 76, 4)).simplified();
}

QPainterPath folderBadgePlus() {
    QPainterPath plus = polyline({{50, 42}, {50, 70}});
    plus.addPath(polyline({{36, 56}, {64, 56}}));
    return folderShape().subtracted(stroked(plus, 8));
}

QPainterPath filmStrip(qreal left, qreal top, qreal right, qreal bottom) {
    QPainterPath strip = roundedRect(left, top, right, bottom, 6);
    // Perforations down both edges and the frame in the middle.
    const qreal step = (bottom - top) / 4;
    for (int i = 0; i < 4; ++i) {
        const qreal y = top + step * i + step / 2;
        strip = strip.subtracted(roundedRect(left + 4, y - 4, left + 12, y + 4, 1.5));
        strip = strip.subtracted(roundedRect(right - 12, y - 4, right - 4, y + 4, 1.5));
    }
    return strip.subtracted(roundedRect(left + 17, top + 6, right - 17, bottom - 6, 2));
}

QPainterPath film() { return filmStrip(18, 8, 82, 92); }

QPainterPath filmStack() {
    QPainterPath behind = roundedRect(30, 6, 90, 82, 6).subtracted(roundedRect(22, 14, 82, 92, 8));
    return filmStrip(10, 18, 74, 94).united(behind).simplified();
}

QPainterPath arrowRightCircle() {
    QPainterPath arrow = polyline({{28, 50}, {70, 50}});
    arrow.addPath(polyline({{52, 32}, {70, 50}, {52, 68}}));
    return ring({50, 50}, 46, 38).united(stroked(arrow, 9)).simplified();
}

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

QPainterPath circle() { return ring({50, 50}, 46, 38); }

QPainterPath checkmarkCircle() {
    return ring({50, 50}, 46, 38).united(tick({31, 51}, {44, 64}, {69, 37}, 9)).simplified();
}

QPainterPath arrowUpCircle() {
    QPainterPath arrow = polyline({{50, 72}, {50, 30}});
    arrow.addPath(polyline({{32, 48}, {50, 30}, {68, 48}}));
    return ring({50, 50}, 46, 38).united(stroked(arrow, 9)).simplified();
}

QPainterPath arrowClockwise() {
    // Three quarters of a ring, open at the top right, with the arrow head at its end.
    QPainterPath arc;
    arc.arcMoveTo(QRectF(12, 12, 76, 76), 60);
    arc.arcTo(QRectF(12, 12, 76, 76), 60, 300);
    QPainterPath head = roundedPolygon({{58, 4}, {80, 22}, {54, 30}}, 2);
    return stroked(arc, 9).united(head).simplified();
}

QPainterPath bell() {
    QPainterPath body;
    body.moveTo(50, 10);
    body.cubicTo(28, 10, 24, 30, 24, 46);
    body.lineTo(24, 64);
    body.lineTo(12, 76);
    body.lineTo(88, 76);
    body.lineTo(76, 64);
    body.lineTo(76, 46);
    body.cubicTo(76, 30, 72, 10, 50, 10);
    body.closeSubpath();
    QPainterPath clapper;
    clapper.addEllipse(QPointF(50, 84), 10, 8);
    return stroked(body, 4).united(body).united(clapper).simplified();
}

QPainterPath clock() {
    return ring({50, 50}, 46, 38).united(stroked(polyline({{50, 24}, {50, 50}, {68, 62}}), 8)).simplified();
}

QPainterPath display() {
    QPainterPath screen = roundedRect(6, 14, 94, 72, 8).subtracted(roundedRect(14, 22, 86, 64, 3));
    QPainterPath stand = roundedRect(44, 72, 56, 84, 1);
    stand.addPath(roundedRect(28, 82, 72, 90, 4));
    return screen.united(stand).simplified();
}

QPainterPath camera() {
    QPainterPath body = roundedRect(6, 28, 94, 84, 10).united(roundedPolygon({{34, 30}, {40, 18}, {60, 18}, {66, 30}}, 3));
    return body.subtracted(ring({50, 56}, 19, 11)).simplified();
}

QPainterPath mic() {
    QPainterPath capsule = roundedRect(35, 4, 65, 62, 15).subtracted(roundedRect(43, 12, 57, 54, 7));
    return capsule.united(micStand()).simplified();
}

QPainterPath speaker() { return roundedPolygon({{8, 36}, {24, 36}, {46, 16}, {46, 84}, {24, 64}, {8, 64}}, 3); }

QPainterPath speakerWave2() {
    QPainterPath waves;
    const QRectF inner(38, 30, 28, 40);
    waves.arcMoveTo(inner, -50);
    waves.arcTo(inner, -50, 100);
    const QRectF outer(36, 14, 50, 72);
    waves.arcMoveTo(outer, -52);
    waves.arcTo(outer, -52, 104);
    return speaker().united(stroked(waves, 7)).simplified();
}

QPainterPath speakerSlash() {
    QPainterPath slash = polyline({{14, 10}, {86, 90}});
    // A gap either side of the stroke keeps the speaker and the slash apart.
    return speaker().subtracted(stroked(slash, 17)).united(stroked(slash, 7)).simplified();
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
        case Symbol::chevronLeft: return chevronLeft();
        case Symbol::chevronRight: return chevronRight();
        case Symbol::exclamationmarkTriangle: return exclamationmarkTriangle();
        case Symbol::infoCircle: return infoCircle();
        case Symbol::command: return command();
        case Symbol::recordCircle: return recordCircle();
        case Symbol::circleFill: return circleFill();
        case Symbol::stopFill: return stopFill();
        case Symbol::ellipsis: return ellipsis();
        case Symbol::folder: return folder();
        case Symbol::folderBadgePlus: return folderBadgePlus();
        case Symbol::film: return film();
        case Symbol::filmStack: return filmStack();
        case Symbol::arrowRightCircle: return arrowRightCircle();
        case Symbol::playFill: return playFill();
        case Symbol::pauseFill: return pauseFill();
        case Symbol::circle: return circle();
        case Symbol::checkmarkCircle: return checkmarkCircle();
        case Symbol::arrowUpCircle: return arrowUpCircle();
        case Symbol::arrowClockwise: return arrowClockwise();
        case Symbol::bell: return bell();
        case Symbol::clock: return clock();
        case Symbol::display: return display();
        case Symbol::camera: return camera();
        case Symbol::mic: return mic();
        case Symbol::speakerWave2: return speakerWave2();
        case Symbol::speakerSlash: return speakerSlash();
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

SymbolView::SymbolView(Symbol symbol, int side, QColor colour, QWidget* parent)
    : QWidget(parent), symbol_(symbol), colour_(std::move(colour)) {
    setFixedSize(side, side);
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    SymbolPainter::paint(painter, symbol_, QRectF(rect()), colour_);
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

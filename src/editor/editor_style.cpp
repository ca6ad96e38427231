#include "editor/editor_style.hpp"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace yux {

QFont EditorStyle::monospaced(int pixels, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

void EditorStyle::applyTint(QWidget& root) {
    // Only these roles are marked as set, so the rest keeps following the desktop's palette.
    QPalette palette = root.palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight, accent());
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
        palette.setColor(group, QPalette::Accent, accent());
#endif
    }
    root.setPalette(palette);
}

void EditorStyle::clipToRoundedFrame(QPainter& painter, const QWidget* widget, const QWidget* frame, qreal radius) {
    if (widget == nullptr || frame == nullptr || (frame != widget && !frame->isAncestorOf(widget))) return;
    QRectF area(widget->mapTo(frame, QPoint(0, 0)) * -1, QSizeF(frame->size()));
    QPainterPath shape;
    shape.addRoundedRect(area, radius, radius);
    painter.setClipPath(shape, Qt::IntersectClip);
}

}  // namespace yux

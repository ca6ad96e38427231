#include "editor/editor_style.hpp"

#include <cmath>

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

void EditorStyle::clipToRoundedFrame(QPainter& painter, const QWidget* widget, const QWidget* frame, qreal radius) {
    if (widget == nullptr || frame == nullptr || (frame != widget && !frame->isAncestorOf(widget))) return;
    QRectF area(widget->mapTo(frame, QPoint(0, 0)) * -1, QSizeF(frame->size()));
    QPainterPath shape;
    shape.addRoundedRect(area, radius, radius);
    painter.setClipPath(shape, Qt::IntersectClip);
}

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

double digitCell(const QFontMetricsF& metrics) {
    double cell = 0;
    for (char16_t d = u'0'; d <= u'9'; ++d) cell = std::max(cell, metrics.horizontalAdvance(QChar(d)));
    return cell;
}

double digitsWidth(const QFontMetricsF& metrics, const QString& text) {
    const double cell = digitCell(metrics);
    double width = 0;
    for (QChar c : text) width += isDigit(c) ? cell : metrics.horizontalAdvance(c);
    return width;
}

}  // namespace

QSize EditorDigitsLabel::sizeHint() const {
    QFontMetricsF metrics(font());
    return {static_cast<int>(std::ceil(digitsWidth(metrics, text()))), static_cast<int>(std::ceil(metrics.height()))};
}

void EditorDigitsLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    // Dimmed with the label when it is disabled, as a label's own text is.
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    QFontMetricsF metrics(font());
    const double cell = digitCell(metrics);
    const double width = digitsWidth(metrics, text());
    double x = alignment() & Qt::AlignRight ? this->width() - width
               : alignment() & Qt::AlignHCenter ? (this->width() - width) / 2
                                                : 0;
    for (QChar c : text()) {
        const bool digit = isDigit(c);
        const double w = digit ? cell : metrics.horizontalAdvance(c);
        painter.drawText(QRectF(x, 0, w, height()),
                         Qt::AlignVCenter | (digit ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::TextDontClip, QString(c));
        x += w;
    }
}

}  // namespace yux

#include "platform/desktop/tabular_digits_label.hpp"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>

namespace yux::platform {

namespace {

bool isCellDigit(QChar c) { return c >= u'0' && c <= u'9'; }

double digitCell(const QFontMetricsF& metrics) {
    double cell = 0;
    for (char16_t digit = u'0'; digit <= u'9'; ++digit) cell = std::max(cell, metrics.horizontalAdvance(QChar(digit)));
    return cell;
}

// Calls `run` with each digit alone and each stretch of other characters, in order, and the
// width each takes. A stretch is measured and drawn whole, so its kerning and its characters
// of more than one code unit stay intact.
template <typename Run>
void forEachTabularRun(const QFontMetricsF& metrics, const QString& text, Run run) {
    const double cell = digitCell(metrics);
    for (qsizetype i = 0; i < text.size();) {
        if (isCellDigit(text[i])) {
            run(text.mid(i, 1), true, cell);
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && !isCellDigit(text[end])) ++end;
        const QString stretch = text.mid(i, end - i);
        run(stretch, false, metrics.horizontalAdvance(stretch));
        i = end;
    }
}

}  // namespace

double tabularDigitsWidth(const QFont& font, const QString& text) {
    double width = 0;
    forEachTabularRun(QFontMetricsF(font), text, [&](const QString&, bool, double w) { width += w; });
    return width;
}

void drawTabularDigits(QPainter& painter, const QRectF& frame, Qt::Alignment alignment, const QString& text) {
    const QFontMetricsF metrics(painter.font());
    const double width = tabularDigitsWidth(painter.font(), text);
    double x = frame.left();
    if (alignment & Qt::AlignHCenter) x = frame.center().x() - width / 2;
    else if (alignment & Qt::AlignRight) x = frame.right() - width;
    forEachTabularRun(metrics, text, [&](const QString& run, bool digit, double w) {
        const Qt::Alignment place = Qt::AlignVCenter | (digit ? Qt::AlignHCenter : Qt::AlignLeft);
        painter.drawText(QRectF(x, frame.top(), w, frame.height()), static_cast<int>(place) | Qt::TextDontClip, run);
        x += w;
    });
}

QSize TabularDigitsLabel::sizeHint() const {
    // The text, and around it the frame, the contents margins and the label's margin.
    const QSize text(static_cast<int>(std::ceil(tabularDigitsWidth(font(), this->text()))),
                     static_cast<int>(std::ceil(QFontMetricsF(font()).height())));
    return text + (size() - contentsRect().size()) + QSize(2 * margin(), 2 * margin());
}

void TabularDigitsLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(font());
    // The colour a plain label takes: dimmed while disabled, from a style sheet's colour too.
    painter.setPen(palette().color(foregroundRole()));
    const int inset = margin();
    drawTabularDigits(painter, QRectF(contentsRect().adjusted(inset, inset, -inset, -inset)), alignment(), text());
}

}  // namespace yux::platform

#pragma once

// Numbers that change while shown (a size being dragged, a percentage, the elapsed time) keep
// their width: each digit sits centred in a cell as wide as the font's widest digit, and the
// text between digits keeps its own spacing. Qt 6.4 has no call for a font's own tabular figures.

#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QRectF>
#include <QString>

namespace yux::platform {

double tabularDigitsWidth(const QFont& font, const QString& text);
// Draws `text` so, in the painter's font, vertically centred in `frame` and placed
// horizontally by the alignment's horizontal part.
void drawTabularDigits(QPainter& painter, const QRectF& frame, Qt::Alignment alignment, const QString& text);

// A one-line label that sets its text so; its size hint is that text's size.
class TabularDigitsLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace yux::platform

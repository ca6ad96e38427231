#pragma once

// What the tray panel's views share: fonts sized in logical pixels, text colours, dividers and
// the borderless accent buttons.

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include "platform/desktop/view_style.hpp"

namespace yux::panel_style {

// Sizes in the panel's layouts are logical pixels; Qt's point sizes assume 72 per 96 pixels.
inline QFont font(qreal pixels, QFont::Weight weight = QFont::Normal) {
    QFont result;
    result.setPointSizeF(pixels * 72.0 / 96.0);
    result.setWeight(weight);
    return result;
}

// One line of text cut in the middle when it does not fit; text() stays whole. It is drawn
// where alignment() says.
class MiddleElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {20, QLabel::minimumSizeHint().height()}; }
    // What shows at the current width.
    QString shownText() const {
        return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(contentsRect(), static_cast<int>(alignment()), shownText());
    }
};

inline void setTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

inline QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    setTextColour(*line, platform::secondaryColour(parent->palette(), 0.4));
    return line;
}

// A borderless button in the accent colour; disabled, it keeps the theme's greyed text.
inline QPushButton* accentButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0 2px; }"));
    QPalette palette = button->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::ButtonText, palette.color(QPalette::Active, QPalette::Highlight));
    }
    button->setPalette(palette);
    return button;
}

}  // namespace yux::panel_style

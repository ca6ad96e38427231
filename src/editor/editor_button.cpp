#include "editor/editor_button.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include "editor/editor_style.hpp"

namespace yux {

namespace {

constexpr int kLabelMarginX = 10;
constexpr int kLabelMarginY = 4;
constexpr qreal kButtonRadius = 6;
constexpr int kIconTextGap = 4;

}  // namespace

EditorButton::EditorButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFocusPolicy(Qt::TabFocus);
    setIconSize(QSize(14, 14));
}

QSize EditorButton::sizeHint() const {
    QFontMetrics metrics(font());
    int width = 0;
    int height = metrics.height();
    if (!icon().isNull()) {
        width += iconSize().width();
        height = std::max(height, iconSize().height());
    }
    if (!text().isEmpty()) width += (width > 0 ? kIconTextGap : 0) + metrics.horizontalAdvance(text());
    return {width + 2 * kLabelMarginX, height + 2 * kLabelMarginY};
}

void EditorButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(kDisabledOpacity);
    bool dark = EditorStyle::isDark(palette());
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kButtonRadius, kButtonRadius);
    QColor face = EditorStyle::panel(dark);
    if (isDown()) face.setAlphaF(kPressedFaceOpacity);
    painter.fillPath(shape, face);
    painter.setPen(QPen(EditorStyle::line(dark), 1));
    painter.drawPath(shape);

    // The label keeps its full strength; only the whole button's opacity dims it.
    QFontMetrics metrics(font());
    int iconWidth = icon().isNull() ? 0 : iconSize().width();
    int textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    int labelWidth = iconWidth + textWidth + (iconWidth > 0 && textWidth > 0 ? kIconTextGap : 0);
    int x = (width() - labelWidth) / 2;
    if (iconWidth > 0) {
        QPixmap pixmap = icon().pixmap(iconSize(), devicePixelRatio());
        painter.drawPixmap(QPoint(x, (height() - iconSize().height()) / 2), pixmap);
        x += iconWidth + kIconTextGap;
    }
    if (textWidth > 0) {
        painter.setPen(palette().color(QPalette::Active, QPalette::ButtonText));
        painter.drawText(QRect(x, 0, textWidth, height()), Qt::AlignCenter | Qt::TextDontClip, text());
    }
}

EditorSegmentButton::EditorSegmentButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize EditorSegmentButton::sizeHint() const {
    QFontMetrics metrics(font());
    // 6 on either side and 5 above and below the label; strips that share their width stretch it.
    return {metrics.horizontalAdvance(text()) + 12, metrics.height() + 10};
}

void EditorSegmentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(EditorButton::kDisabledOpacity);
    if (auto* strip = qobject_cast<EditorSegmentStrip*>(parentWidget()))
        EditorStyle::clipToRoundedFrame(painter, this, strip, EditorSegmentStrip::kRadius);
    if (isChecked()) painter.fillRect(rect(), EditorStyle::accent());
    QColor text = isChecked() ? QColor(Qt::white) : palette().color(QPalette::Active, QPalette::WindowText);
    if (isDown()) text.setAlphaF(EditorButton::kPressedFaceOpacity);
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextDontClip, this->text());
}

EditorSegmentStrip::EditorSegmentStrip(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);
}

void EditorSegmentStrip::add(QAbstractButton* button, int stretch) {
    static_cast<QHBoxLayout*>(layout())->addWidget(button, stretch);
}

void EditorSegmentStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(EditorButton::kDisabledOpacity);
    painter.setPen(QPen(EditorStyle::line(EditorStyle::isDark(palette())), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
}

}  // namespace yux

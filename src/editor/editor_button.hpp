#pragma once

#include <QAbstractButton>
#include <QPushButton>
#include <QWidget>

namespace yux {

// The trim window's ordinary button: the panel-coloured face (60 % while pressed) in a rounded
// outline; a disabled button is dimmed whole, label and outline included, to 40 %.
class EditorButton : public QPushButton {
    Q_OBJECT

public:
    static constexpr qreal kDisabledOpacity = 0.4;
    static constexpr qreal kPressedFaceOpacity = 0.6;

    explicit EditorButton(const QString& text = {}, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One button of a segmented strip: the accent colour behind a white label when checked.
class EditorSegmentButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit EditorSegmentButton(const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Segment buttons side by side without gaps, cut to one rounded outline.
class EditorSegmentStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr qreal kRadius = 6;

    explicit EditorSegmentStrip(QWidget* parent = nullptr);
    void add(QAbstractButton* button, int stretch = 1);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace yux

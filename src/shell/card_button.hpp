#pragma once

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLayout>

namespace yux {

// A button without chrome whose face is the card inside it.
class CardButton : public QAbstractButton {
public:
    CardButton(QWidget* card, QWidget* parent) : QAbstractButton(parent) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(card);
        card->setAttribute(Qt::WA_TransparentForMouseEvents);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    }
    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {}
};

// Empties a view that is rebuilt whole. Old pieces go on a later turn: the button being
// clicked may be among them.
inline void clearRebuiltLayout(QLayout& layout) {
    while (QLayoutItem* item = layout.takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

}  // namespace yux

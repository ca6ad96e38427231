#include "platform/desktop/activity_spinner.hpp"

#include <QPainter>
#include <QVariantAnimation>

#include <cmath>

namespace yux::platform {

namespace {

constexpr int kSpokes = 8;
// One turn of the bright spoke.
constexpr int kTurnMilliseconds = 800;

}  // namespace

ActivitySpinner::ActivitySpinner(int diameter, QWidget* parent) : QWidget(parent), turn_(new QVariantAnimation(this)) {
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    turn_->setStartValue(0);
    turn_->setEndValue(kSpokes);
    turn_->setDuration(kTurnMilliseconds);
    turn_->setLoopCount(-1);
    connect(turn_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        int step = value.toInt() % kSpokes;
        if (step != step_) {
            step_ = step;
            update();
        }
    });
}

bool ActivitySpinner::isSpinning() const { return turn_->state() == QAbstractAnimation::Running; }

void ActivitySpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    turn_->start();
}

void ActivitySpinner::hideEvent(QHideEvent* event) {
    turn_->stop();
    QWidget::hideEvent(event);
}

void ActivitySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const qreal outer = side / 2;
    const qreal inner = outer * 0.45;
    QPen pen(palette().color(QPalette::WindowText));
    pen.setWidthF(std::max(1.5, side / 10));
    pen.setCapStyle(Qt::RoundCap);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The bright spoke leads; the ones behind it fade.
        int behind = (step_ - i + kSpokes) % kSpokes;
        QColor colour = pen.color();
        colour.setAlphaF(1.0 - 0.8 * behind / kSpokes);
        pen.setColor(colour);
        painter.setPen(pen);
        const qreal angle = 2 * M_PI * i / kSpokes - M_PI / 2;
        const qreal edge = outer - pen.widthF() / 2;
        painter.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                         QPointF(std::cos(angle) * edge, std::sin(angle) * edge));
    }
}

}  // namespace yux::platform

#include "selection/interactive_tray_overlay_view.hpp"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "capture/capture_input_controls.hpp"
#include "platform/desktop/activity_spinner.hpp"
#include "platform/desktop/tabular_digits_label.hpp"
#include "platform/desktop/view_style.hpp"

namespace yux {

namespace {

constexpr double kSurfacePadding = 6;
constexpr double kRowSpacing = 12;
constexpr double kStackSpacing = 4;
constexpr double kDot = 9;
constexpr double kPillHeight = 28;
// The one-row tray is exactly this high.
constexpr double kOneRowHeight = 40;

QFont trayFont(bool semibold) { return platform::pixelFont(12, semibold ? QFont::DemiBold : QFont::Normal); }

PillButton stopButton(bool pressed) {
    return PillButton{"Stop", OverlayColours::stop(), Qt::white, pressed, true, true, {}};
}

QColor trayInk() { return QColor::fromRgbF(0.96f, 0.96f, 0.96f); }

}  // namespace

InteractiveTrayOverlayView::InteractiveTrayOverlayView(SelectionOverlayViewModel* model,
                                                       std::chrono::steady_clock::time_point startedAt, Size size,
                                                       bool stopping, std::function<void()> onStopRecording,
                                                       OverlayPaintMode paintMode, Clock now, QWidget* parent)
    : QWidget(parent),
      model_(model),
      startedAt_(startedAt),
      size_(size),
      stopping_(stopping),
      onStopRecording_(std::move(onStopRecording)),
      paintMode_(paintMode),
      now_(std::move(now)),
      inputsSlot_(model && model->inputs() && !stopping
                      ? static_cast<QWidget*>(new CaptureInputControls(*model->inputs(), true, this))
                      : new QWidget(this)),
      spinner_(stopping ? new platform::ActivitySpinner(16, this) : nullptr) {
    resize(static_cast<int>(size.width), static_cast<int>(size.height));
    if (qobject_cast<CaptureInputControls*>(inputsSlot_)) {
        inputsSlot_->setPalette(darkPanelPalette(inputsSlot_->palette()));
        inputsSlot_->adjustSize();
    }
    else inputsSlot_->resize(0, 0);
    setAttribute(Qt::WA_TranslucentBackground);
    setPaintMode(paintMode_);
    const TrayLayout placed = layout();
    placeInputs();
    inputsSlot_->setVisible(!stopping_);
    inputsSlot_->installEventFilter(this);
    if (spinner_) {
        // Light on the dark panel, whatever the desktop's own scheme.
        spinner_->setPalette(darkPanelPalette(spinner_->palette()));
        spinner_->move(placed.spinner.topLeft().toPoint());
    }
    // A new label or a wider time moves the centred row, the input controls with it.
    if (model_) connect(model_, &SelectionOverlayViewModel::changed, this, [this] {
        placeInputs();
        update();
    });
    // The elapsed time is redrawn as each whole second since the start comes round: a timer of
    // its own second would run a little off it and now and then show one second twice.
    ticker_.setSingleShot(true);
    ticker_.setTimerType(Qt::PreciseTimer);
    connect(&ticker_, &QTimer::timeout, this, [this] {
        placeInputs();
        update();
        scheduleTick();
    });
    if (!stopping_) scheduleTick();
}

void InteractiveTrayOverlayView::scheduleTick() {
    using namespace std::chrono;
    const auto elapsed = duration_cast<microseconds>(now_() - startedAt_).count();
    // Before the start, the first tick is the start itself.
    const auto untilNext = elapsed < 0 ? -elapsed : 1'000'000 - elapsed % 1'000'000;
    // A few milliseconds late, so that a timer on another clock never lands just before the second.
    constexpr int kTickLateMs = 5;
    ticker_.start(static_cast<int>((untilNext + 999) / 1000) + kTickLateMs);
}

void InteractiveTrayOverlayView::setPaintMode(OverlayPaintMode mode) {
    paintMode_ = mode;
    const QRegion shape(continuousRoundedRect(QRectF(rect()), 12).toFillPolygon().toPolygon());
    maskOverlay(*this, mode, QRegion(rect()).intersected(shape));
    update();
}

void InteractiveTrayOverlayView::placeInputs() {
    const QRectF slot = layout().inputs;
    inputsSlot_->move(static_cast<int>(std::lround(slot.left())),
                      static_cast<int>(std::lround(slot.center().y() - inputsSlot_->height() / 2.0)));
}

bool InteractiveTrayOverlayView::eventFilter(QObject* watched, QEvent* event) {
    // The input controls grow and shrink with their state; the label and Stop make room.
    if (watched == inputsSlot_ && event->type() == QEvent::Resize) {
        placeInputs();
        update();
    }
    return false;
}

QString InteractiveTrayOverlayView::elapsedText() const {
    const double seconds = std::chrono::duration<double>(now_() - startedAt_).count();
    return QString::fromStdString(elapsedTimeText(seconds));
}

TrayLayout InteractiveTrayOverlayView::layout() const {
    TrayLayout l;
    const QRectF content(kSurfacePadding, 0, size_.width - 2 * kSurfacePadding, size_.height);
    if (stopping_) {
        const QFontMetricsF metrics(trayFont(true));
        const double textWidth = metrics.horizontalAdvance(QStringLiteral("Finishing\u2026"));
        const double spinner = 16;
        if (size_.height <= kOneRowHeight) {
            const double total = spinner + kRowSpacing + textWidth;
            const double x = content.center().x() - total / 2;
            l.spinner = QRectF(x, content.center().y() - spinner / 2, spinner, spinner);
            l.finishing = QRectF(x + spinner + kRowSpacing, 0, textWidth + 2, size_.height);
            return l;
        }
        // Taller: the spinner over the text, both centred.
        const double textHeight = metrics.height();
        const double top = content.center().y() - (spinner + kStackSpacing + textHeight) / 2;
        l.spinner = QRectF(content.center().x() - spinner / 2, top, spinner, spinner);
        l.finishing = QRectF(content.center().x() - (textWidth + 2) / 2, top + spinner + kStackSpacing, textWidth + 2,
                             textHeight);
        return l;
    }
    const double timeWidth = platform::tabularDigitsWidth(trayFont(false), elapsedText());
    const double stopWidth = pillWidth(stopButton(false));
    const double inputsWidth = inputsSlot_->width();
    const bool oneRow = size_.height <= kOneRowHeight;
    const double group1 = kDot + kRowSpacing + timeWidth;
    const double inputsSpace = inputsWidth + (inputsWidth > 0 ? kRowSpacing : 0);
    // The label takes its own width, or what is left when that is too little; each row is
    // centred as a whole.
    const double labelWidth = model_ ? std::ceil(QFontMetricsF(trayFont(true))
                                                     .horizontalAdvance(QString::fromStdString(model_->targetLabel())))
                                     : 0.0;
    const auto fitted = [&](double others) { return std::clamp(labelWidth, 0.0, std::max(0.0, content.width() - others)); };
    if (oneRow) {
        const double cy = size_.height / 2;
        const bool separated = size_.height == kOneRowHeight;
        const double others = group1 + kRowSpacing + (separated ? 1 + kRowSpacing : 0) + inputsSpace + kRowSpacing + stopWidth;
        const double label = fitted(others);
        double x = std::max(content.left(), content.center().x() - (others + label) / 2);
        l.dot = QRectF(x, cy - kDot / 2, kDot, kDot);
        l.time = QRectF(x + kDot + kRowSpacing, 0, timeWidth, size_.height);
        x += group1 + kRowSpacing;
        if (separated) {
            l.separator = QRectF(x, cy - 10, 1, 20);
            x += 1 + kRowSpacing;
        }
        l.inputs = QRectF(x, cy - kPillHeight / 2, inputsWidth, kPillHeight);
        x += inputsSpace;
        l.label = QRectF(x, 0, label, size_.height);
        x += label + kRowSpacing;
        l.stop = QRectF(x, cy - kPillHeight / 2, stopWidth, kPillHeight);
        return l;
    }
    // Two groups stacked, each centred; the first as high as the time's text.
    const double rowHeight = kPillHeight;
    const double timeRow = std::max(kDot, QFontMetricsF(trayFont(false)).height());
    const double total = timeRow + kStackSpacing + rowHeight;
    const double top = (size_.height - total) / 2;
    const double cy1 = top + timeRow / 2;
    double x1 = content.center().x() - group1 / 2;
    l.dot = QRectF(x1, cy1 - kDot / 2, kDot, kDot);
    l.time = QRectF(x1 + kDot + kRowSpacing, top, timeWidth, timeRow);
    const double cy2 = top + timeRow + kStackSpacing + rowHeight / 2;
    const double others = inputsSpace + kRowSpacing + stopWidth;
    const double label = fitted(others);
    const double x2 = std::max(content.left(), content.center().x() - (others + label) / 2);
    l.inputs = QRectF(x2, cy2 - kPillHeight / 2, inputsWidth, kPillHeight);
    l.label = QRectF(x2 + inputsSpace, cy2 - rowHeight / 2, label, rowHeight);
    l.stop = QRectF(l.label.right() + kRowSpacing, cy2 - kPillHeight / 2, stopWidth, kPillHeight);
    return l;
}

void InteractiveTrayOverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    clearOverlay(painter, rect(), paintMode_);
    paintTraySurface(painter, QRectF(0, 0, size_.width, size_.height));
    const TrayLayout l = layout();
    painter.setPen(trayInk());
    if (stopping_) {
        painter.setFont(trayFont(true));
        painter.drawText(l.finishing, Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Finishing\u2026"));
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(OverlayColours::stop());
    painter.drawEllipse(l.dot);
    painter.setPen(trayInk());
    painter.setFont(trayFont(false));
    platform::drawTabularDigits(painter, l.time, Qt::AlignLeft, elapsedText());
    if (!l.separator.isEmpty()) painter.fillRect(l.separator, OverlayColours::white(0.14));
    if (model_) {
        painter.setFont(trayFont(true));
        const QString label = QFontMetricsF(painter.font())
                                  .elidedText(QString::fromStdString(model_->targetLabel()), Qt::ElideRight,
                                              l.label.width());
        painter.drawText(l.label, Qt::AlignCenter, label);
    }
    paintPill(painter, l.stop, stopButton(stopPressed_));
}

void InteractiveTrayOverlayView::mousePressEvent(QMouseEvent* event) {
    if (!stopping_ && layout().stop.contains(event->position())) {
        stopHeld_ = true;
        stopPressed_ = true;
        update();
    }
}

void InteractiveTrayOverlayView::mouseMoveEvent(QMouseEvent* event) {
    // Held, Stop looks pressed only while the pointer is over it: a release there stops.
    if (!stopHeld_) return;
    const bool inside = layout().stop.contains(event->position());
    if (stopPressed_ == inside) return;
    stopPressed_ = inside;
    update();
}

void InteractiveTrayOverlayView::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasHeld = stopHeld_;
    stopHeld_ = false;
    stopPressed_ = false;
    update();
    if (wasHeld && layout().stop.contains(event->position()) && onStopRecording_) onStopRecording_();
}

}  // namespace yux

#include "selection/interactive_tray_overlay_view.hpp"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "capture/capture_input_controls.hpp"
#include "platform/desktop/activity_spinner.hpp"
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
                                                       std::chrono::system_clock::time_point startedAt, Size size,
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
    if (model_) connect(model_, &SelectionOverlayViewModel::changed, this, qOverload<>(&QWidget::update));
    // The elapsed time is redrawn as each whole second since the start comes round: a timer of
    // its own second would run a little off it and now and then show one second twice.
    ticker_.setSingleShot(true);
    ticker_.setTimerType(Qt::PreciseTimer);
    connect(&ticker_, &QTimer::timeout, this, [this] {
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
    const double timeWidth = tabularDigitsWidth(trayFont(false), elapsedText());
    const double stopWidth = pillWidth(stopButton(false));
    const double inputsWidth = inputsSlot_->width();
    const bool oneRow = size_.height <= kOneRowHeight;
    const double group1 = kDot + kRowSpacing + timeWidth;
    if (oneRow) {
        const double cy = size_.height / 2;
        double x = content.left();
        l.dot = QRectF(x, cy - kDot / 2, kDot, kDot);
        l.time = QRectF(x + kDot + kRowSpacing, 0, timeWidth, size_.height);
        x += group1 + kRowSpacing;
        if (size_.height == kOneRowHeight) {
            l.separator = QRectF(x, cy - 10, 1, 20);
            x += 1 + kRowSpacing;
        }
        l.inputs = QRectF(x, cy - kPillHeight / 2, inputsWidth, kPillHeight);
        x += inputsWidth + (inputsWidth > 0 ? kRowSpacing : 0);
        const double labelRight = content.right() - stopWidth - kRowSpacing;
        l.label = QRectF(x, 0, std::max(0.0, labelRight - x), size_.height);
        l.stop = QRectF(content.right() - stopWidth, cy - kPillHeight / 2, stopWidth, kPillHeight);
        return l;
    }
    // Two groups stacked, each centred.
    const double rowHeight = kPillHeight;
    const double total = 20 + kStackSpacing + rowHeight;
    const double top = (size_.height - total) / 2;
    const double cy1 = top + 10;
    double x1 = content.center().x() - group1 / 2;
    l.dot = QRectF(x1, cy1 - kDot / 2, kDot, kDot);
    l.time = QRectF(x1 + kDot + kRowSpacing, cy1 - 10, timeWidth, 20);
    const double cy2 = top + 20 + kStackSpacing + rowHeight / 2;
    const double inputsSpace = inputsWidth + (inputsWidth > 0 ? kRowSpacing : 0);
    const double labelWidth = std::max(0.0, content.width() - stopWidth - kRowSpacing - inputsSpace);
    l.inputs = QRectF(content.left(), cy2 - kPillHeight / 2, inputsWidth, kPillHeight);
    l.label = QRectF(content.left() + inputsSpace, cy2 - rowHeight / 2, labelWidth, rowHeight);
    l.stop = QRectF(content.right() - stopWidth, cy2 - kPillHeight / 2, stopWidth, kPillHeight);
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
    drawTabularDigits(painter, l.time, Qt::AlignLeft, elapsedText());
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
        stopPressed_ = true;
        update();
    }
}

void InteractiveTrayOverlayView::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = stopPressed_;
    stopPressed_ = false;
    update();
    if (wasPressed && layout().stop.contains(event->position()) && onStopRecording_) onStopRecording_();
}

}  // namespace yux

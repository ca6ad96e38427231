#pragma once

#include <chrono>
#include <functional>

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "selection/overlay_painting.hpp"
#include "selection/selection_overlay_view_model.hpp"

namespace yux {

// Where the parts of the recording tray go, in the tray's own coordinates.
struct TrayLayout {
    QRectF dot;
    QRectF time;
    QRectF separator;  // empty unless the tray is one row
    QRectF inputs;     // the compact input controls' slot
    QRectF label;
    QRectF stop;
    QRectF spinner;    // while stopping
    QRectF finishing;  // while stopping
};

// The recording tray: red dot, elapsed time, input controls, target label and Stop; a spinner
// and "Finishing…" while stopping. One row at height 40, two groups stacked when taller.
class InteractiveTrayOverlayView : public QWidget {
    Q_OBJECT

public:
    // A steady clock: the elapsed time keeps counting when the wall clock is set back or on.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    InteractiveTrayOverlayView(SelectionOverlayViewModel* model, std::chrono::steady_clock::time_point startedAt,
                               Size size, bool stopping, std::function<void()> onStopRecording,
                               OverlayPaintMode paintMode, Clock now = std::chrono::steady_clock::now,
                               QWidget* parent = nullptr);

    TrayLayout layout() const;
    QString elapsedText() const;
    bool stopping() const { return stopping_; }
    void setPaintMode(OverlayPaintMode mode);
    // Where a caller may place the compact input controls.
    QWidget* inputsSlot() const { return inputsSlot_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void placeInputs();
    // Starts the timer for the next whole second since `startedAt_`.
    void scheduleTick();

    QPointer<SelectionOverlayViewModel> model_;
    std::chrono::steady_clock::time_point startedAt_;
    Size size_;
    bool stopping_;
    std::function<void()> onStopRecording_;
    OverlayPaintMode paintMode_;
    Clock now_;
    bool stopHeld_ = false;
    bool stopPressed_ = false;
    QTimer ticker_{this};
    QWidget* inputsSlot_;
    QWidget* spinner_;
};

}  // namespace yux

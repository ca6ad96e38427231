#pragma once

#include <functional>
#include <optional>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "platform/desktop/system_log.hpp"
#include "selection/overlay_painting.hpp"
#include "selection/screen_selection_geometry.hpp"
#include "selection/selection_overlay_view_model.hpp"

#include "selection/camera_overlay_presenter.hpp"

class QToolButton;
class QMenu;

namespace yux {

// The three-way Area / App / Screen picker of the control bar.
class CaptureModePicker : public QWidget {
    Q_OBJECT

public:
    CaptureModePicker(std::function<void(CaptureMode)> onSelect, QWidget* parent);
    void setSelectedMode(CaptureMode mode);
    CaptureMode selectedMode() const { return selected_; }
    QRectF buttonRect(CaptureMode mode) const;
    // What a click on that mode's button does.
    void choose(CaptureMode mode);

protected:
    void paintEvent(QPaintEvent* event) override;
    // Every press, move and release stays here: none may reach the overlay beneath.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::optional<CaptureMode> modeAt(QPointF point) const;

    std::function<void(CaptureMode)> onSelect_;
    CaptureMode selected_ = CaptureMode::area;
    // The button a press began on; a release there selects it.
    std::optional<CaptureMode> pressed_;
};

// A pill-shaped button painted like the overlay's Cancel, Record and Stop.
class PillButtonWidget : public QWidget {
    Q_OBJECT

public:
    PillButtonWidget(PillButton look, std::function<void()> onClick, QWidget* parent);
    void setEnabledLook(bool enabled);
    const PillButton& look() const { return look_; }
    void click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    PillButton look_;
    bool held_ = false;
    std::function<void()> onClick_;
};

// The floating control bar: Cancel, mode picker, ratio or application menu, target label,
// input controls and Record.
class SelectionControlBar : public QWidget {
    Q_OBJECT

public:
    SelectionControlBar(SelectionOverlayViewModel* model, std::function<void()> onRecord,
                        std::function<void()> onCancel, QWidget* parent);
    static constexpr double kPreferredWidth = 640;
    void refresh(Size size);
    PillButtonWidget* recordButton() const { return record_; }
    PillButtonWidget* cancelButton() const { return cancel_; }
    CaptureModePicker* modePicker() const { return picker_; }
    QToolButton* menuButton() const { return menuButton_; }
    // Where the compact input controls go.
    QWidget* inputsSlot() const { return inputsSlot_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // The bar's background, its label and the gaps between its controls take every press,
    // move and release, so none reaches the overlay beneath.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildMenu();
    void fitMenuLabel(const QString& label);

    QPointer<SelectionOverlayViewModel> model_;
    PillButtonWidget* cancel_;
    CaptureModePicker* picker_;
    QToolButton* menuButton_;
    QMenu* menu_;
    QWidget* inputsSlot_;
    PillButtonWidget* record_;
    QRectF labelRect_;
    Size size_;
};

// The selection window's content: covers one display, dims it outside the target, outlines the
// target, follows hover, clicks and drags, and carries the control bar.
class SelectionOverlayView : public QWidget {
    Q_OBJECT

public:
    SelectionOverlayView(ScreenSelectionGeometry geometry, SelectionOverlayViewModel* model,
                         CameraOverlayPresenter* cameraOverlay, std::function<void()> onRecord,
                         std::function<void()> onCancel, OverlayPaintMode paintMode,
                         platform::SystemLog log = platform::SystemLog::create_null());

    // The still picture painted under the dim without translucency.
    void setFrozenBackground(QImage picture);
    // Translucent drops the still picture.
    void setPaintMode(OverlayPaintMode mode);
    OverlayPaintMode paintMode() const { return paintMode_; }
    SelectionControlBar* controlBar() const { return bar_; }
    Size controlsSize() const;
    QRectF targetLabelRect() const;
    // Pointer input in display-local coordinates, as mouse events give it.
    void hover(QPointF local);
    void leave();
    void dragChanged(QPointF start, QPointF current);
    void dragEnded();
    void tap(QPointF local);
    QCursor currentCursor() const { return cursor(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Point global(QPointF local) const;
    void relayout();

    ScreenSelectionGeometry geometry_;
    QPointer<SelectionOverlayViewModel> model_;
    QPointer<CameraOverlayPresenter> cameraOverlay_;
    OverlayPaintMode paintMode_;
    platform::SystemLog log_;
    QImage frozen_;
    SelectionControlBar* bar_;
    std::optional<Point> dragStart_;
    std::optional<ScreenSelectionGeometry::DragMode> dragMode_;
    std::optional<Rect> startRect_;
    std::optional<QPointF> pressPoint_;
    bool dragging_ = false;
};

}  // namespace yux

#pragma once

#include <functional>
#include <optional>
#include <utility>

#include <QWidget>

#include "model/capture_input_preferences.hpp"
#include "selection/camera_overlay_presenter.hpp"

namespace yux {

// The bubble: the camera picture cropped, shaped and mirrored by the recorder's own routine.
class CameraBubbleWindow : public QWidget {
public:
    CameraBubbleWindow(CameraOverlayPresenter& presenter, OverlayPaintMode paintMode);
    // The bubble's frame in points; the window covers it.
    void place(const Rect& frame, const CameraPlacement& placement);
    void setPaintMode(OverlayPaintMode mode);
    // Where the whole camera picture lies in the window as the bubble draws it: scaled and moved
    // so that its crop fills the bubble, flipped about the bubble when mirrored.
    QRectF pictureFrame() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void applyMask();

    CameraOverlayPresenter& presenter_;
    OverlayPaintMode paintMode_;
    Rect frame_;
    CameraPlacement placement_;
};

// The whole camera picture at half strength while framing, lying so that its part under the
// bubble is what the bubble shows.
class CameraGhostWindow : public QWidget {
public:
    CameraGhostWindow(CameraOverlayPresenter& presenter, OverlayPaintMode paintMode);
    void place(const QRectF& frame, bool mirrored);
    // The still desktop at `origin` (root coordinates), painted behind the picture.
    void setBackground(QImage background, QPointF origin);
    // Translucent drops the still desktop.
    void setPaintMode(OverlayPaintMode mode);
    OverlayPaintMode paintMode() const { return paintMode_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CameraOverlayPresenter& presenter_;
    OverlayPaintMode paintMode_;
    bool mirrored_ = false;
    QImage background_;
    QPointF backgroundOrigin_;
};

// Snap guides, the bubble's outline and handles, and the distance pins.
class CameraGuidesWindow : public QWidget {
public:
    explicit CameraGuidesWindow(OverlayPaintMode paintMode);
    void setState(const CameraGuidesState& state);
    const CameraGuidesState& state() const { return state_; }
    void setPaintMode(OverlayPaintMode mode);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void applyMask();

    OverlayPaintMode paintMode_;
    CameraGuidesState state_;
};

void paintCameraGuides(QPainter& painter, const CameraGuidesState& state);
QPainterPath cameraShapePath(CameraShape shape, const QRectF& frame, double roundedRadius);

}  // namespace yux

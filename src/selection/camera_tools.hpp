#pragma once

#include <functional>
#include <optional>
#include <utility>

#include <QLabel>
#include <QSlider>
#include <QToolButton>
#include <QWidget>

#include "model/capture_input_preferences.hpp"
#include "selection/overlay_painting.hpp"

namespace yux {

// The tool strip: shape, zoom, mirror, framing and reset.
class CameraTools : public QWidget {
public:
    struct Callbacks {
        std::function<const CameraPlacement&()> placement;
        std::function<void(const CameraPlacement&)> change;
        std::function<void()> toggleCrop;
    };
    CameraTools(Callbacks callbacks, OverlayPaintMode paintMode);
    void refresh(bool cropping);
    void setPaintMode(OverlayPaintMode mode);
    QToolButton* shapeButton(CameraShape shape) const;
    QToolButton* mirrorButton() const { return mirror_; }
    QToolButton* cropButton() const { return crop_; }
    QToolButton* resetButton() const { return reset_; }
    QSlider* zoomSlider() const { return zoom_; }
    QLabel* zoomText() const { return zoomText_; }
    QLabel* zoomIcon() const { return zoomIcon_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void applyMask();

    Callbacks callbacks_;
    OverlayPaintMode paintMode_;
    QToolButton* shapes_[3];
    QSlider* zoom_;
    QLabel* zoomText_;
    QLabel* zoomIcon_;
    QToolButton* mirror_;
    QToolButton* crop_;
    QToolButton* reset_;
    bool refreshing_ = false;
    // What the controls show now.
    std::optional<std::pair<CameraPlacement, bool>> shown_;
};

}  // namespace yux

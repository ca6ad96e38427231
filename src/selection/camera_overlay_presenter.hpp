#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "model/camera_overlay_geometry.hpp"
#include "model/capture_target.hpp"
#include "platform/desktop/system_log.hpp"
#include "platform/x11/outside_click_monitor.hpp"
#include "selection/overlay_painting.hpp"
#include "selection/screen_selection_cursor_catalog.hpp"

class QWidget;

namespace yux {

class CameraBubbleWindow;
class CameraGhostWindow;
class CameraGuidesWindow;
class CameraTools;

// What the guides window draws, in its own coordinates (the area grown by 8, origin top-left).
struct CameraGuidesState {
    Rect frame;
    Rect area;
    CameraPlacement placement;
    bool handles = false;
    bool cropping = false;
    bool pins = false;
    std::optional<double> guideX;
    std::optional<double> guideY;
    bool operator==(const CameraGuidesState&) const = default;
};

// The floating camera bubble over the capture area: moved, resized, framed, zoomed and
// mirrored by the user, every change written into the camera placement that the recorder's
// camera renderer reads, so the recording shows what the bubble shows. Main thread only.
class CameraOverlayPresenter : public QObject {
    Q_OBJECT

public:
    struct Services {
        // Whether a compositing manager blends windows now, and when one starts or stops.
        std::shared_ptr<platform::CompositingManager> compositor = platform::CompositingManager::create_null();
        // A still picture of the desktop under a root rectangle, our windows left out; empty
        // when none can be taken. Used behind the ghost without translucency.
        std::function<QImage(const Rect&)> freeze;
        std::function<std::unique_ptr<platform::OutsideClickMonitor>()> outsideClicks;
        platform::SystemLog log = platform::SystemLog::create_null();
        std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
        // The primary display as the desktop names it; nothing when it names none. Without it the
        // main display is the one at the desktop's origin, else the first listed.
        std::function<std::optional<DisplayID>()> mainDisplayID;

        // The compositing manager watched; outside clicks through XInput2.
        static Services live();
    };

    // Corners in y-down order: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right.
    struct Drag {
        Point point;
        Rect frame;
        CameraPlacement placement;
        std::optional<int> corner;
    };

    static constexpr const char* kLogCategory = "CameraOverlay";

    CameraOverlayPresenter(CaptureInputsController* inputs, std::shared_ptr<CaptureDeviceRuntime> runtime,
                           Services services);
    ~CameraOverlayPresenter() override;

    void update(const Rect& area, std::vector<Rect> controlRegions);
    void hide();
    void render();
    bool cropping() const { return cropping_; }
    void setCropping(bool cropping) { cropping_ = cropping; }
    bool selected() const { return selected_; }
    bool dragging() const { return drag_.has_value(); }
    std::optional<OverlayCursor> cursor(Point point) const;
    bool finishEditing();
    // Whether a press that selects the bubble gives the tools window the keyboard: only while the
    // user chooses a target. While a take records, the keyboard stays with the program being
    // recorded, whose typing would otherwise stop reaching it. Turned off, the keyboard the tools
    // window took goes back.
    void setTakesKeyboard(bool takes);
    // Shows the bubble over a scripted recording's target, without tools, and describes it as
    // placed: the camera's state, the bubble window, its picture and the preview feeding it.
    std::string showForAutomation(const CaptureTarget& target, const std::vector<DisplayBounds>& displays);

    // Pointer input in root coordinates; true when the bubble took it.
    bool pointerPressed(Point point, int clickCount);
    bool pointerDragged(Point point, bool shift);
    bool pointerReleased(Point point);
    // `factor` multiplies the zoom (wheel and pinch alike).
    bool zoomed(Point point, double factor);

    Rect frame() const;
    Rect area() const { return area_; }
    double sourceAspect() const;
    QWidget* imageWindow() const;
    QWidget* toolsWindow() const;
    QWidget* guidesWindow() const;
    QWidget* ghostWindow() const;
    CameraGuidesState guidesState() const;
    std::optional<int> corner(Point point, const Rect& frame) const;
    platform::OutsideClickMonitor* outsideMonitor() const { return outsideMonitor_.get(); }
    // The newest camera picture; null when none.
    QImage picture() const;
    OverlayPaintMode paintMode() const { return overlayPaintMode(*services_.compositor); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show();
    // Repaints every window for a compositing manager that started or stopped.
    void applyPaintMode();
    void writePlacement(const CameraPlacement& placement);
    // The tools window takes the keyboard from the window that has it, and gives it back to that
    // window when the bubble is let go, so its keys (Tab) work again.
    void takeKeyboard();
    void returnKeyboard();
    void save();
    const CameraPlacement& placement() const;

    QPointer<CaptureInputsController> inputs_;
    std::shared_ptr<CaptureDeviceRuntime> runtime_;
    Services services_;
    CameraOverlayGeometry geometry_;
    std::unique_ptr<CameraBubbleWindow> image_;
    std::unique_ptr<CameraTools> tools_;
    std::unique_ptr<CameraGhostWindow> ghost_;
    std::unique_ptr<CameraGuidesWindow> guides_;
    std::unique_ptr<platform::OutsideClickMonitor> outsideMonitor_;
    bool eventFilterInstalled_ = false;
    std::optional<double> guideX_;
    std::optional<double> guideY_;
    std::chrono::steady_clock::time_point lastAreaChange_{};
    Rect area_;
    std::vector<Rect> controlRegions_;
    bool selected_ = false;
    bool cropping_ = false;
    std::optional<Drag> drag_;
    bool takesKeyboard_ = false;
    bool keyboardTaken_ = false;
    QPointer<QWidget> keyboardBefore_;
    QTimer repaint_;
    const void* shownPicture_ = nullptr;
    // Held while the bubble shows, so a still picture stays possible.
    std::shared_ptr<void> contentsHold_;
};

}  // namespace yux

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

#include "capture/capture_inputs_controller.hpp"
#include "model/global_hot_key.hpp"
#include "platform/desktop/system_log.hpp"
#include "selection/async_channel.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/overlay_painting.hpp"
#include "selection/interactive_tray_overlay_view.hpp"
#include "selection/passthrough_highlight_overlay_view.hpp"
#include "selection/screen_selection_geometry.hpp"
#include "selection/selection_overlay_view.hpp"
#include "selection/selection_overlay_view_model.hpp"
#include "session/screen_selection_boundary.hpp"

namespace yux {

// What the overlay needs from the desktop; the live ones come from SelectionOverlayServices::live().
struct SelectionOverlayServices {
    // Whether a compositing manager blends windows now, and when one starts or stops.
    std::shared_ptr<platform::CompositingManager> compositor = platform::CompositingManager::create_null();
    std::function<DesktopApplicationCatalog()> catalog = [] { return DesktopApplicationCatalog::create_null({}); };
    // The top inset of the desktop's work area on that display, at least 24.
    std::function<double(const DisplayBounds&)> menuBarHeight = [](const DisplayBounds&) { return 24.0; };
    // A still picture of the display, our windows left out, for dimming without translucency.
    std::function<QImage(const Rect&)> freeze;
    platform::SystemLog log = platform::SystemLog::create_null();
    // Where the recording tray counts its elapsed time from: steady, so that a wall clock set
    // back (a time sync after a resume) does not stop it.
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
    // How often windows, the bubble and the tray follow the desktop.
    std::chrono::milliseconds pollInterval{300};

    static SelectionOverlayServices live();
};

// The menu-bar height rule: the work area's top inset on the display, at least 24; 24 when no
// work area is known for it.
double menuBarHeightFor(const DisplayBounds& display, const std::optional<Rect>& workArea);

// Runs one selection and the recording controls that follow it. Main thread only.
class SelectionOverlayPresenter : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kLogCategory = "SelectionOverlay";

    SelectionOverlayPresenter(ScreenSelectionGeometry geometry, GlobalHotKey* escapeKey,
                              CaptureInputsController* inputs, CameraOverlayPresenter* cameraOverlay,
                              SelectionOverlayServices services);
    // Ends a pending selection as cancelled and finishes the action stream, so no reader waits.
    ~SelectionOverlayPresenter() override;

    QCoro::Task<ScreenSelectionOutcome> runSelection(std::vector<DisplayBounds> displays,
                                                     CapturePreference initialPreference);
    void showRecordingControls();
    void showPassthroughHighlightWindow(PassthroughHighlightOverlayMode mode);
    void showInteractiveTrayWindow(bool stopping);
    void finishSelection(const ScreenSelectionOutcome& outcome, bool closeWindow);
    void close();
    void markClosed() { closed_ = true; }
    // Takes a hot key of its own for Escape, used instead of the one given at construction.
    void ownEscapeKey(std::unique_ptr<GlobalHotKey> key) {
        ownedEscapeKey_ = std::move(key);
        escapeKey_ = ownedEscapeKey_.get();
    }

    AsyncChannel<RecordingOverlayAction>& overlayActions() { return actions_; }
    SelectionOverlayViewModel* viewModel() const { return model_.get(); }
    SelectionOverlayView* selectionWindow() const { return selectionWindow_; }
    PassthroughHighlightOverlayView* highlightWindow() const { return highlight_; }
    InteractiveTrayOverlayView* trayWindow() const { return tray_; }
    bool pending() const { return pending_; }
    bool closed() const { return closed_; }
    OverlayPaintMode paintMode() const { return overlayPaintMode(*services_.compositor); }

    // The handlers, callable directly by tests.
    void escapePressed();
    // True when the key was consumed.
    bool keyPressed(int key, QObject* target);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void presentSelectionWindow();
    void confirmSelection();
    void installKeyMonitor();
    void removeKeyMonitor();
    void updateCameraOverlay();
    Rect recordingTrayFrame(Size size) const;
    void poll();
    // Repaints every window of the overlay for a compositing manager that started or stopped.
    void applyPaintMode();
    CapturePreference currentPreference() const;

    ScreenSelectionGeometry geometry_;
    std::unique_ptr<GlobalHotKey> ownedEscapeKey_;
    GlobalHotKey* escapeKey_;
    QPointer<CaptureInputsController> inputs_;
    QPointer<CameraOverlayPresenter> cameraOverlay_;
    SelectionOverlayServices services_;
    AsyncChannel<ScreenSelectionOutcome> outcome_;
    bool pending_ = false;
    AsyncChannel<RecordingOverlayAction> actions_;
    bool keyMonitor_ = false;
    bool closed_ = false;
    QPointer<SelectionOverlayView> selectionWindow_;
    std::unique_ptr<SelectionOverlayViewModel> model_;
    QPointer<PassthroughHighlightOverlayView> highlight_;
    QPointer<InteractiveTrayOverlayView> tray_;
    QTimer polling_;
    // Taken when the recording controls show; every tray built after counts from it.
    std::optional<std::chrono::steady_clock::time_point> recordingStartedAt_;
    // Held while any window of the overlay shows, so a still picture stays possible.
    std::shared_ptr<void> contentsHold_;
};

}  // namespace yux

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include "capture/capture_inputs_controller.hpp"
#include "model/capture_target.hpp"
#include "model/geometry.hpp"
#include "selection/desktop_application_catalog.hpp"
#include "selection/screen_selection_geometry.hpp"
#include "session/screen_selection_boundary.hpp"

namespace yux {

Rect rectOf(const CaptureRect& r);
Rect frameOf(const DisplayBounds& display);

struct SelectionDisplayResolver {
    // The last area's display when it is still attached, else the main display.
    static DisplayBounds areaDisplay(const std::vector<DisplayBounds>& displays, const CapturePreference& preference,
                                     const DisplayBounds& mainDisplay);
};

// The state of one selection overlay: mode, display, area, other applications' windows and the
// preference as edited. All rectangles are root coordinates. Main thread only; `changed` follows
// every change the views show.
class SelectionOverlayViewModel : public QObject {
    Q_OBJECT

public:
    // `displays` must not be empty.
    SelectionOverlayViewModel(std::vector<DisplayBounds> displays, CapturePreference initialPreference,
                              DesktopApplicationCatalog catalog = DesktopApplicationCatalog::create());

    const DisplayBounds& display() const { return display_; }
    double menuBarHeight() const { return menuBarHeight_; }
    void setMenuBarHeight(double height);
    CaptureMode mode() const { return mode_; }
    const std::vector<DesktopApplicationWindow>& windows() const { return windows_; }
    const std::optional<std::string>& hoveredApplication() const { return hoveredApplication_; }
    void setHoveredApplication(std::optional<std::string> bundleIdentifier);
    const std::optional<Rect>& rect() const { return rect_; }
    void setRect(std::optional<Rect> rect);
    CaptureInputsController* inputs() const { return inputs_; }
    void setInputs(CaptureInputsController* inputs);
    const CapturePreference& capturePreference() const { return capturePreference_; }
    const DisplayBounds& mainDisplay() const { return mainDisplay_; }
    const DisplayBounds& areaDisplay() const { return areaDisplay_; }

    Rect displayFrame() const { return frameOf(display_); }
    std::optional<Rect> previewRect() const;
    std::vector<DesktopApplicationWindow> selectedWindows() const;
    std::vector<Rect> captureRects() const;
    std::string targetLabel() const;
    // The stored ratio of the input controller; free without one.
    CaptureRatio ratio() const;
    // Whether confirming now would record something.
    bool canConfirm() const;

    void setMode(CaptureMode mode);
    void chooseRatio(CaptureRatio ratio);
    void refreshWindows();
    void selectApplication(const std::string& bundleIdentifier);
    ScreenSelectionOutcome confirmOutcome() const;
    void updateLastArea();

    std::function<void()> onCaptureAreaChanged;
    std::function<void(const DisplayBounds&)> onDisplayChanged;

signals:
    void changed();

private:
    DesktopApplicationCatalog catalog_;
    DisplayBounds mainDisplay_;
    DisplayBounds areaDisplay_;
    DisplayBounds display_;
    double menuBarHeight_ = 24;
    CaptureMode mode_;
    std::vector<DesktopApplicationWindow> windows_;
    std::optional<std::string> hoveredApplication_;
    std::optional<Rect> rect_;
    QPointer<CaptureInputsController> inputs_;
    QMetaObject::Connection inputObservation_;
    CapturePreference capturePreference_;
    ScreenSelectionGeometry geometry_;
};

}  // namespace yux

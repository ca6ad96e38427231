#include "selection/selection_overlay_view_model.hpp"

#include <algorithm>
#include <cmath>

#include <QCoroTask>

namespace yux {

namespace {

// Whole pixels, made even: odd sizes upset the encoder's 4:2:0 chroma.
long long evenPixels(double value) {
    auto whole = static_cast<long long>(std::llround(value));
    return whole - (whole % 2);
}

std::string sizeText(long long width, long long height) {
    return std::to_string(width) + " \u00d7 " + std::to_string(height);
}

QCoro::Task<void> storeRatio(QPointer<CaptureInputsController> inputs, CaptureRatio ratio) {
    if (inputs) co_await inputs->setRatio(ratio);
}

}  // namespace

Rect rectOf(const CaptureRect& r) { return {r.x, r.y, r.width, r.height}; }
Rect frameOf(const DisplayBounds& d) { return {d.x, d.y, d.width, d.height}; }

DisplayBounds SelectionDisplayResolver::areaDisplay(const std::vector<DisplayBounds>& displays,
                                                    const CapturePreference& preference,
                                                    const DisplayBounds& mainDisplay) {
    if (preference.lastArea) {
        for (const auto& display : displays)
            if (display.displayID == preference.lastArea->displayID) return display;
    }
    return mainDisplay;
}

SelectionOverlayViewModel::SelectionOverlayViewModel(std::vector<DisplayBounds> displays,
                                                     CapturePreference initialPreference,
                                                     DesktopApplicationCatalog catalog)
    : catalog_(std::move(catalog)),
      mainDisplay_(displays.at(0)),
      areaDisplay_(SelectionDisplayResolver::areaDisplay(displays, initialPreference, mainDisplay_)),
      display_(initialPreference.mode == CaptureMode::area ? areaDisplay_ : mainDisplay_),
      mode_(initialPreference.mode),
      capturePreference_(std::move(initialPreference)) {
    if (capturePreference_.lastArea) rect_ = rectOf(capturePreference_.lastArea->rect);
    updateLastArea();
}

void SelectionOverlayViewModel::setMenuBarHeight(double height) {
    if (menuBarHeight_ == height) return;
    menuBarHeight_ = height;
    emit changed();
}

void SelectionOverlayViewModel::setHoveredApplication(std::optional<std::string> bundleIdentifier) {
    if (hoveredApplication_ == bundleIdentifier) return;
    hoveredApplication_ = std::move(bundleIdentifier);
    emit changed();
}

void SelectionOverlayViewModel::updateLastArea() {
    if (!rect_) return;
    capturePreference_.mode = mode_;
    capturePreference_.lastArea =
        SelectedCaptureArea{areaDisplay_.displayID, CaptureRect{rect_->minX(), rect_->minY(), rect_->width, rect_->height}};
}

void SelectionOverlayViewModel::setRect(std::optional<Rect> rect) {
    rect_ = rect;
    updateLastArea();
    emit changed();
    if (onCaptureAreaChanged) onCaptureAreaChanged();
}

void SelectionOverlayViewModel::setInputs(CaptureInputsController* inputs) {
    QObject::disconnect(inputObservation_);
    inputs_ = inputs;
    if (inputs) {
        auto relay = [this] { emit changed(); };
        inputObservation_ = connect(inputs, &CaptureInputsController::preferencesChanged, this, relay);
        connect(inputs, &CaptureInputsController::busyChanged, this, relay);
    }
    emit changed();
}

std::optional<Rect> SelectionOverlayViewModel::previewRect() const {
    switch (mode_) {
        case CaptureMode::area: return rect_;
        case CaptureMode::screen: return displayFrame();
        case CaptureMode::app: {
            std::optional<Rect> united;
            for (const auto& window : selectedWindows()) {
                const Rect frame = rectOf(window.frame);
                united = united ? united->united(frame) : frame;
            }
            return united;
        }
    }
    return std::nullopt;
}

std::vector<DesktopApplicationWindow> SelectionOverlayViewModel::selectedWindows() const {
    std::vector<DesktopApplicationWindow> selected;
    if (!capturePreference_.lastApplication) return selected;
    for (const auto& window : windows_)
        if (window.bundleIdentifier == *capturePreference_.lastApplication) selected.push_back(window);
    return selected;
}

std::vector<Rect> SelectionOverlayViewModel::captureRects() const {
    std::vector<Rect> rects;
    if (mode_ == CaptureMode::app) {
        for (const auto& window : selectedWindows()) rects.push_back(rectOf(window.frame));
    } else if (auto preview = previewRect()) {
        rects.push_back(*preview);
    }
    return rects;
}

std::string SelectionOverlayViewModel::targetLabel() const {
    switch (mode_) {
        case CaptureMode::area:
            if (!rect_) return "Drag an area";
            return sizeText(evenPixels(rect_->width * display_.pixelWidth / display_.width),
                            evenPixels(rect_->height * display_.pixelHeight / display_.height));
        case CaptureMode::app: {
            const auto selected = selectedWindows();
            if (selected.empty()) return "Choose an app";
            const auto count = selected.size();
            return selected.front().applicationName + " \u00b7 " + std::to_string(count) + " window" +
                   (count == 1 ? "" : "s");
        }
        case CaptureMode::screen: {
            // Whole pixels first, then even, as the recorder sizes the screen.
            const auto whole = [](double v) { return static_cast<long long>(v); };
            const auto even = [](long long v) { return v - v % 2; };
            return sizeText(even(whole(display_.pixelWidth)), even(whole(display_.pixelHeight)));
        }
    }
    return {};
}

CaptureRatio SelectionOverlayViewModel::ratio() const {
    return inputs_ ? inputs_->preferences().ratio : CaptureRatio::free;
}

bool SelectionOverlayViewModel::canConfirm() const {
    switch (mode_) {
        case CaptureMode::screen: return true;
        case CaptureMode::app: return !selectedWindows().empty();
        case CaptureMode::area: return capturePreference_.lastArea.has_value();
    }
    return false;
}

void SelectionOverlayViewModel::setMode(CaptureMode mode) {
    mode_ = mode;
    capturePreference_.mode = mode;
    const DisplayBounds& target = mode == CaptureMode::area ? areaDisplay_ : mainDisplay_;
    const bool moved = !(target == display_);
    if (moved) display_ = target;
    emit changed();
    if (moved && onDisplayChanged) onDisplayChanged(display_);
}

void SelectionOverlayViewModel::chooseRatio(CaptureRatio ratio) {
    if (mode_ == CaptureMode::app) return;
    const bool fromScreen = mode_ == CaptureMode::screen;
    if (fromScreen) setMode(CaptureMode::area);
    const Rect bounds = displayFrame().standardized();
    // A ratio chosen over the whole screen makes the largest area of that ratio; "Free" goes
    // back to the stored area, as elsewhere.
    const bool largest = fromScreen && ratio != CaptureRatio::free;
    const Rect current = largest ? bounds : rect_.value_or(bounds);
    rect_ = geometry_.reshaped(current, ratio, bounds, largest);
    setRect(rect_);
    storeRatio(inputs_, ratio);
}

void SelectionOverlayViewModel::refreshWindows() {
    std::vector<DesktopApplicationWindow> kept;
    const Rect frame = displayFrame();
    for (auto& window : catalog_.windows())
        if (rectOf(window.frame).intersects(frame)) kept.push_back(std::move(window));
    if (kept == windows_) return;
    windows_ = std::move(kept);
    emit changed();
}

void SelectionOverlayViewModel::selectApplication(const std::string& bundleIdentifier) {
    capturePreference_.mode = mode_;
    capturePreference_.lastApplication = bundleIdentifier;
    emit changed();
}

ScreenSelectionOutcome SelectionOverlayViewModel::confirmOutcome() const {
    const CapturePreference& p = capturePreference_;
    switch (mode_) {
        case CaptureMode::area:
            if (!p.lastArea) return ScreenSelectionOutcome::cancelled(p);
            return ScreenSelectionOutcome::confirmed({CaptureTarget::area(*p.lastArea), p});
        case CaptureMode::app:
            if (selectedWindows().empty() || !p.lastApplication) return ScreenSelectionOutcome::cancelled(p);
            return ScreenSelectionOutcome::confirmed(
                {CaptureTarget::application(*p.lastApplication, display_.displayID), p});
        case CaptureMode::screen:
            return ScreenSelectionOutcome::confirmed({CaptureTarget::fullMainDisplay(), p});
    }
    return ScreenSelectionOutcome::cancelled(p);
}

}  // namespace yux

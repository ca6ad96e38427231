#include "selection/camera_overlay_presenter.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

#include <QApplication>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>

#include "capture/camera_preview_layer.hpp"
#include "model/app_error.hpp"
#include "platform/desktop/overlay_window.hpp"
#include "selection/camera_overlay_windows.hpp"
#include "selection/camera_tools.hpp"
#include "selection/selection_overlay_view_model.hpp"

namespace yux {

namespace {

// A press this far outside the bubble still takes it; a corner needs both distances below it.
constexpr double kReach = CameraOverlayGeometry::handleReach;
constexpr double kMinimumSide = 60;
constexpr double kGuidesMargin = 8;
// The distance pins stay this long after the capture area moved.
constexpr std::chrono::milliseconds kPinsAfterAreaChange{400};
// How often the bubble repaints the newest camera picture.
constexpr int kRepaintIntervalMs = 33;
// A wheel notch (120 units) zooms like 10 points of pixel scrolling.
constexpr double kPointsPerNotch = 10.0 / 120.0;

std::string text(const Rect& r) {
    std::ostringstream out;
    // Adding zero turns a negative zero into "0".
    out << "(" << r.x + 0.0 << ", " << r.y + 0.0 << ", " << r.width + 0.0 << ", " << r.height + 0.0 << ")";
    return out.str();
}

std::string text(const QRectF& r) { return text(Rect{r.x(), r.y(), r.width(), r.height()}); }

// The main display among those listed: the one the desktop calls primary, else the one at
// the desktop's origin, else the first. Never the first merely for being listed first.
std::string mainDisplayID(const std::function<std::optional<DisplayID>()>& primary,
                          const std::vector<DisplayBounds>& displays) {
    if (primary)
        if (const auto named = primary()) return named->rawValue;
    for (const auto& display : displays)
        if (display.x == 0 && display.y == 0) return display.displayID.rawValue;
    return displays.empty() ? std::string() : displays.front().displayID.rawValue;
}

std::string text(Point p) {
    std::ostringstream out;
    out << "(" << p.x << ", " << p.y << ")";
    return out.str();
}

std::optional<Point> globalPoint(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove: {
            const QPointF p = static_cast<QMouseEvent*>(event)->globalPosition();
            return Point{p.x(), p.y()};
        }
        case QEvent::Wheel: {
            const QPointF p = static_cast<QWheelEvent*>(event)->globalPosition();
            return Point{p.x(), p.y()};
        }
        case QEvent::NativeGesture: {
            const QPointF p = static_cast<QNativeGestureEvent*>(event)->globalPosition();
            return Point{p.x(), p.y()};
        }
        default: return std::nullopt;
    }
}

}  // namespace

CameraOverlayPresenter::CameraOverlayPresenter(CaptureInputsController* inputs,
                                               std::shared_ptr<CaptureDeviceRuntime> runtime, Services services)
    : inputs_(inputs), runtime_(std::move(runtime)), services_(std::move(services)) {
    if (!services_.outsideClicks) services_.outsideClicks = [] { return platform::OutsideClickMonitor::create_null(); };
    repaint_.setInterval(kRepaintIntervalMs);
    connect(&repaint_, &QTimer::timeout, this, [this] {
        // Only a new picture is worth a repaint.
        const QImage now = picture();
        const void* bits = now.isNull() ? nullptr : now.constBits();
        if (bits == shownPicture_) return;
        shownPicture_ = bits;
        if (image_) image_->update();
        if (ghost_ && ghost_->isVisible()) ghost_->update();
    });
    connect(services_.compositor.get(), &platform::CompositingManager::changed, this, [this] { applyPaintMode(); });
}

CameraOverlayPresenter::~CameraOverlayPresenter() { hide(); }

const CameraPlacement& CameraOverlayPresenter::placement() const {
    static const CameraPlacement kDefault;
    return inputs_ ? inputs_->preferences().camera : kDefault;
}

double CameraOverlayPresenter::sourceAspect() const {
    const double aspect = runtime_ ? runtime_->sourceAspect() : 0;
    if (aspect > 0) return aspect;
    const QImage image = picture();
    return image.isNull() ? 16.0 / 9.0 : static_cast<double>(image.width()) / image.height();
}

QImage CameraOverlayPresenter::picture() const {
    if (!runtime_ || !runtime_->previewLayer()) return {};
    const auto& picture = runtime_->previewLayer()->picture();
    if (!picture || !picture->isValid()) return {};
    return QImage(picture->data(), picture->width(), picture->height(), static_cast<qsizetype>(picture->stride()),
                  QImage::Format_RGB32);
}

Rect CameraOverlayPresenter::frame() const { return geometry_.frame(placement(), area_); }
QWidget* CameraOverlayPresenter::imageWindow() const { return image_.get(); }
QWidget* CameraOverlayPresenter::toolsWindow() const { return tools_.get(); }
QWidget* CameraOverlayPresenter::guidesWindow() const { return guides_.get(); }
QWidget* CameraOverlayPresenter::ghostWindow() const { return ghost_.get(); }

void CameraOverlayPresenter::update(const Rect& area, std::vector<Rect> controlRegions) {
    controlRegions_ = std::move(controlRegions);
    if (!(area == area_)) lastAreaChange_ = services_.now();
    area_ = area;
    const bool shows = inputs_ && inputs_->preferences().cameraEnabled && !inputs_->cameraMessage() && runtime_ &&
                       runtime_->previewLayer() && area.width > 0 && area.height > 0;
    if (!shows) {
        hide();
        return;
    }
    if (!image_) show();
    render();
}

void CameraOverlayPresenter::show() {
    selected_ = true;
    cropping_ = false;
    contentsHold_ = services_.compositor->holdWindowContents();
    image_ = std::make_unique<CameraBubbleWindow>(*this, paintMode());
    tools_ = std::make_unique<CameraTools>(
        CameraTools::Callbacks{[this]() -> const CameraPlacement& { return placement(); },
                                     [this](const CameraPlacement& next) {
                                         writePlacement(next);
                                         render();
                                         save();
                                     },
                                     [this] {
                                         cropping_ = !cropping_;
                                         render();
                                     }},
        paintMode());
    ghost_ = std::make_unique<CameraGhostWindow>(*this, paintMode());
    guides_ = std::make_unique<CameraGuidesWindow>(paintMode());
    outsideMonitor_ = services_.outsideClicks();
    QPointer<CameraOverlayPresenter> self(this);
    outsideMonitor_->start([self] {
        if (!self) return;
        // The click gave the keyboard to the program clicked; it stays there.
        self->keyboardTaken_ = false;
        self->keyboardBefore_ = nullptr;
        self->selected_ = false;
        self->cropping_ = false;
        self->render();
    });
    qApp->installEventFilter(this);
    eventFilterInstalled_ = true;
    repaint_.start();
}

void CameraOverlayPresenter::hide() {
    returnKeyboard();
    selected_ = false;
    cropping_ = false;
    drag_.reset();
    guideX_.reset();
    guideY_.reset();
    if (eventFilterInstalled_ && qApp) qApp->removeEventFilter(this);
    eventFilterInstalled_ = false;
    outsideMonitor_.reset();
    repaint_.stop();
    guides_.reset();
    ghost_.reset();
    tools_.reset();
    image_.reset();
    contentsHold_.reset();
    if (inputs_) inputs_->setCameraWindowID(std::nullopt);
}

void CameraOverlayPresenter::applyPaintMode() {
    if (!image_) return;
    const OverlayPaintMode mode = paintMode();
    image_->setPaintMode(mode);
    tools_->setPaintMode(mode);
    guides_->setPaintMode(mode);
    ghost_->setPaintMode(mode);
    if (mode == OverlayPaintMode::opaque && ghost_->isVisible() && services_.freeze) {
        const QRect g = ghost_->geometry();
        ghost_->setBackground(services_.freeze(Rect{static_cast<double>(g.x()), static_cast<double>(g.y()),
                                                    static_cast<double>(g.width()), static_cast<double>(g.height())}),
                              QPointF(g.topLeft()));
    }
}

void CameraOverlayPresenter::setTakesKeyboard(bool takes) {
    takesKeyboard_ = takes;
    if (!takes) returnKeyboard();
}

void CameraOverlayPresenter::takeKeyboard() {
    if (!takesKeyboard_ || keyboardTaken_ || !tools_ || !tools_->isVisible()) return;
    keyboardBefore_ = QApplication::activeWindow();
    keyboardTaken_ = true;
    tools_->activateWindow();
}

void CameraOverlayPresenter::returnKeyboard() {
    if (!keyboardTaken_) return;
    keyboardTaken_ = false;
    if (keyboardBefore_ && keyboardBefore_->isVisible()) keyboardBefore_->activateWindow();
    keyboardBefore_ = nullptr;
}

void CameraOverlayPresenter::writePlacement(const CameraPlacement& next) {
    if (inputs_) inputs_->setCameraPlacement(next);
}

void CameraOverlayPresenter::save() {
    if (!inputs_) return;
    inputs_->savePlacement();
}

CameraGuidesState CameraOverlayPresenter::guidesState() const {
    const Rect f = frame();
    const double dx = kGuidesMargin - area_.minX();
    const double dy = kGuidesMargin - area_.minY();
    CameraGuidesState state;
    state.frame = f.offsetBy(dx, dy);
    state.area = Rect{kGuidesMargin, kGuidesMargin, area_.width, area_.height};
    state.placement = placement();
    state.handles = selected_ && !cropping_;
    state.cropping = cropping_;
    state.pins = drag_.has_value() || services_.now() - lastAreaChange_ < kPinsAfterAreaChange;
    if (guideX_) state.guideX = *guideX_ + dx;
    if (guideY_) state.guideY = *guideY_ + dy;
    return state;
}

void CameraOverlayPresenter::render() {
    if (!image_ || !runtime_ || !runtime_->previewLayer()) return;
    const CameraPlacement& p = placement();
    const Rect f = frame();
    bool shown = false;
    const auto showIfHidden = [&shown](QWidget& window) {
        if (window.isVisible()) return;
        window.show();
        shown = true;
    };
    const auto place = [](QWidget& window, const QRect& geometry) {
        if (window.geometry() != geometry) window.setGeometry(geometry);
    };
    image_->place(f, p);
    showIfHidden(*image_);
    if (inputs_) inputs_->setCameraWindowID(static_cast<std::uint32_t>(image_->winId()));

    if (selected_) {
        tools_->refresh(cropping_);
        const QSize size = tools_->sizeHint().expandedTo(tools_->size());
        const Rect strip = geometry_.toolbarFrame(
            Size{static_cast<double>(size.width()), static_cast<double>(size.height())}, f, area_);
        place(*tools_, toQRect(strip).toAlignedRect());
    } else if (tools_->isVisible()) {
        tools_->hide();
    }

    if (cropping_) {
        const Rect c = geometry_.crop(p, f, sourceAspect());
        const double width = f.width / c.width;
        const double height = f.height / c.height;
        // Mirrored, the bubble shows its crop flipped about its own centre, so the whole
        // flipped picture lies with the crop's right edge at the bubble's left.
        const double x = p.isMirrored() ? f.minX() - (1 - c.maxX()) * width : f.minX() - c.minX() * width;
        const double y = f.minY() - c.minY() * height;
        const QRectF ghostFrame(x, y, width, height);
        // The frozen desktop behind the ghost is taken once, when framing begins.
        if (!ghost_->isVisible() && paintMode() == OverlayPaintMode::opaque && services_.freeze)
            ghost_->setBackground(services_.freeze(Rect{x, y, width, height}), ghostFrame.topLeft());
        ghost_->place(ghostFrame, p.isMirrored());
        showIfHidden(*ghost_);
    } else if (ghost_->isVisible()) {
        ghost_->hide();
    }

    place(*guides_, toQRect(area_.outset(kGuidesMargin)).toAlignedRect());
    guides_->setState(guidesState());
    if (selected_) {
        showIfHidden(*guides_);
        showIfHidden(*tools_);
    } else if (guides_->isVisible()) {
        guides_->hide();
    }
    if (shown) platform::restackOverlays();
}

std::optional<int> CameraOverlayPresenter::corner(Point point, const Rect& f) const {
    const Point corners[] = {{f.minX(), f.minY()}, {f.maxX(), f.minY()}, {f.minX(), f.maxY()}, {f.maxX(), f.maxY()}};
    for (int i = 0; i < 4; ++i) {
        if (std::fabs(point.x - corners[i].x) < kReach && std::fabs(point.y - corners[i].y) < kReach) return i;
    }
    return std::nullopt;
}

std::optional<OverlayCursor> CameraOverlayPresenter::cursor(Point point) const {
    if (!image_ || !image_->isVisible()) return std::nullopt;
    const Rect f = frame();
    if (!drag_ && !f.outset(kReach).contains(point)) return std::nullopt;
    if (cropping_) return drag_ ? OverlayCursor::closedHand : OverlayCursor::openHand;
    const std::optional<int> grabbed = drag_ ? drag_->corner : corner(point, f);
    if (!grabbed) return OverlayCursor::move;
    return (*grabbed == 0 || *grabbed == 3) ? OverlayCursor::diagonalNWSE : OverlayCursor::diagonalNESW;
}

bool CameraOverlayPresenter::pointerPressed(Point point, int clickCount) {
    if (!image_) return false;
    const Rect f = frame();
    if (f.outset(kReach).contains(point)) {
        selected_ = true;
        if (clickCount == 2) cropping_ = !cropping_;
        const std::optional<int> grabbed = cropping_ ? std::nullopt : corner(point, f);
        services_.log.info(kLogCategory, "camera_gesture_start point=" + text(point) + " frame=" + text(f) +
                                             " corner=" + (grabbed ? std::to_string(*grabbed) : "nil"));
        drag_ = Drag{point, f, placement(), grabbed};
        render();
        takeKeyboard();
        return true;
    }
    for (const Rect& region : controlRegions_)
        if (region.contains(point)) return false;
    if (tools_ && tools_->isVisible() && tools_->geometry().contains(QPoint(static_cast<int>(point.x), static_cast<int>(point.y))))
        return false;
    returnKeyboard();
    selected_ = false;
    cropping_ = false;
    render();
    return false;
}

bool CameraOverlayPresenter::pointerDragged(Point point, bool shift) {
    if (!drag_) return false;
    const Drag& d = *drag_;
    const double dx = point.x - d.point.x;
    const double dy = point.y - d.point.y;
    const Rect f = frame();
    CameraPlacement next = d.placement;
    if (cropping_) {
        // Mirrored, the picture moves against x, so it still follows the pointer.
        const double sx = d.placement.isMirrored() ? -dx : dx;
        const double aspect = sourceAspect();
        const Rect c0 = geometry_.crop(d.placement, f, aspect);
        next.centreX = d.placement.centreX - (sx / f.width) * c0.width;
        next.centreY = d.placement.centreY - (dy / f.height) * c0.height;
        const Rect c1 = geometry_.crop(next, f, aspect);
        next.centreX = c1.midX();
        next.centreY = c1.midY();
    } else if (d.corner) {
        const int c = *d.corner;
        const bool right = c % 2 == 1;
        const bool bottom = c >= 2;
        const double w0 = d.frame.width;
        const double h0 = d.frame.height;
        double w = std::max(kMinimumSide, right ? w0 + dx : w0 - dx);
        double h = 0;
        if (d.placement.shape == CameraShape::rectangle && shift) h = std::max(kMinimumSide, bottom ? h0 + dy : h0 - dy);
        else h = w * h0 / w0;
        const double s = std::min(area_.width / w, area_.height / h);
        if (s < 1) {
            w *= s;
            h *= s;
        }
        const Rect resized{right ? d.frame.minX() : d.frame.maxX() - w, bottom ? d.frame.minY() : d.frame.maxY() - h,
                           w, h};
        if (area_.width > 0 && area_.height > 0)
            next = geometry_.placement(geometry_.clamped(resized, area_), area_, d.placement, false);
    } else {
        const auto snap = geometry_.snapped(d.frame.offsetBy(dx, dy), area_);
        guideX_ = snap.x;
        guideY_ = snap.y;
        next = geometry_.placement(snap.frame, area_, d.placement, true);
    }
    writePlacement(next);
    render();
    return true;
}

bool CameraOverlayPresenter::pointerReleased(Point) {
    if (!drag_) return false;
    drag_.reset();
    guideX_.reset();
    guideY_.reset();
    render();
    save();
    return true;
}

bool CameraOverlayPresenter::zoomed(Point point, double factor) {
    if (!image_) return false;
    const Rect f = frame();
    if (!f.contains(point)) return false;
    const CameraPlacement& p = placement();
    double z = std::min(factor * p.zoom, 4.0);
    if (!(z > 1)) z = 1;
    double rx = (point.x - f.minX()) / f.width;
    const double ry = (point.y - f.minY()) / f.height;
    // Mirrored, the pointer's side of the bubble shows the other side of the crop.
    if (p.isMirrored()) rx = 1 - rx;
    const double aspect = sourceAspect();
    const Rect c0 = geometry_.crop(p, f, aspect);
    CameraPlacement next = p;
    next.zoom = z;
    const Rect c1 = geometry_.crop(next, f, aspect);
    next.centreX = c0.minX() + rx * c0.width + (0.5 - rx) * c1.width;
    next.centreY = c0.minY() + ry * c0.height + (0.5 - ry) * c1.height;
    const Rect c2 = geometry_.crop(next, f, aspect);
    next.centreX = c2.midX();
    next.centreY = c2.midY();
    writePlacement(next);
    render();
    save();
    return true;
}

bool CameraOverlayPresenter::finishEditing() {
    if (!selected_) return false;
    services_.log.info(kLogCategory, std::string("camera_editing_accepted cropping=") + (cropping_ ? "1" : "0"));
    returnKeyboard();
    selected_ = false;
    cropping_ = false;
    drag_.reset();
    guideX_.reset();
    guideY_.reset();
    render();
    return true;
}

bool CameraOverlayPresenter::eventFilter(QObject* watched, QEvent* event) {
    // Each event is seen once, at the window it was sent to, not again as it propagates.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !widget->isWindow()) return false;
    const auto point = globalPoint(event);
    if (!point) return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            // Presses on the tool strip belong to its buttons.
            if (tools_ && widget == tools_.get()) return false;
            // A press the bubble takes (its rim lies partly over the window beneath) is its
            // own: the selection overlay must not also pick the window under it.
            return pointerPressed(*point, event->type() == QEvent::MouseButtonDblClick ? 2 : 1);
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            bool taken = false;
            if (drag_ && (mouse->buttons() & Qt::LeftButton))
                taken = pointerDragged(*point, mouse->modifiers() & Qt::ShiftModifier);
            if (auto shape = cursor(*point); shape && widget == image_.get())
                widget->setCursor(ScreenSelectionCursorCatalog::cursor(*shape));
            return taken;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            return pointerReleased(*point);
        case QEvent::Wheel: {
            auto* wheel = static_cast<QWheelEvent*>(event);
            const double points =
                wheel->pixelDelta().isNull() ? wheel->angleDelta().y() * kPointsPerNotch : wheel->pixelDelta().y();
            return zoomed(*point, std::exp(points * 0.01));
        }
        case QEvent::NativeGesture: {
            auto* gesture = static_cast<QNativeGestureEvent*>(event);
            if (gesture->gestureType() != Qt::ZoomNativeGesture) return false;
            return zoomed(*point, 1 + gesture->value());
        }
        default: return false;
    }
}

std::string CameraOverlayPresenter::showForAutomation(const CaptureTarget& target,
                                                      const std::vector<DisplayBounds>& displays) {
    std::string displayID;
    Rect rect;
    if (const auto* area = target.asArea()) {
        displayID = area->displayID.rawValue;
        rect = rectOf(area->rect);
    } else {
        if (const auto* application = target.asApplication()) {
            displayID = application->displayID.rawValue;
            const bool digits = !displayID.empty() && displayID.size() <= 10 &&
                                std::all_of(displayID.begin(), displayID.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits || std::stoull(displayID) > 0xffffffffull)
                throw AppError::screenSelectionFailed("Invalid display ID");
        } else {
            displayID = mainDisplayID(services_.mainDisplayID, displays);
        }
        for (const auto& display : displays)
            if (display.displayID.rawValue == displayID) rect = frameOf(display);
    }
    const DisplayBounds* found = nullptr;
    for (const auto& display : displays)
        if (display.displayID.rawValue == displayID) {
            found = &display;
            break;
        }
    if (found == nullptr || !(rect.width > 0 && rect.height > 0) || !frameOf(*found).contains(rect))
        throw AppError::screenSelectionFailed("Capture area must be inside an available display");
    update(rect, {});
    selected_ = false;
    cropping_ = false;
    render();
    // Read from what the overlay has now: the bubble window holds the picture, which the
    // runtime's preview layer supplies while the camera feeding it runs.
    const auto yes = [](bool value) { return value ? std::string("true") : std::string("false"); };
    const bool running = runtime_ && runtime_->isRunning(CaptureInputKind::camera);
    const bool layer = runtime_ && runtime_->previewLayer() != nullptr;
    std::string result = "enabled=" + yes(inputs_ && inputs_->preferences().cameraEnabled) + " running=" +
                         yes(running) + " connection_active=" + yes(running && layer);
    result += " window=" + (image_ ? text(QRectF(image_->geometry())) : std::string("none"));
    result += " host=" + (image_ ? text(QRectF(image_->rect())) : std::string("none"));
    result += " layer=" + (image_ && layer ? text(image_->pictureFrame()) : std::string("none"));
    return result;
}

}  // namespace yux

#include "selection/selection_overlay_presenter.hpp"

#include <sstream>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

#include "model/app_error.hpp"
#include "platform/desktop/overlay_window.hpp"
#include "selection/camera_overlay_presenter.hpp"

namespace yux {

namespace {

// The control bar's and the tray's preferred widths.
constexpr double kControlBarWidth = 640;
constexpr double kTrayWidth = 400;
constexpr double kStoppingTrayWidth = 150;
constexpr double kLeastMenuBarHeight = 24;

std::string modeText(CaptureMode mode) { return std::string(textOf(mode)); }

}  // namespace

double menuBarHeightFor(const DisplayBounds& display, const std::optional<Rect>& workArea) {
    if (!workArea) return kLeastMenuBarHeight;
    const Rect d = frameOf(display);
    const Rect visible = workArea->intersected(d);
    if (visible.isEmpty()) return kLeastMenuBarHeight;
    return std::max(kLeastMenuBarHeight, visible.minY() - d.minY());
}

SelectionOverlayPresenter::SelectionOverlayPresenter(ScreenSelectionGeometry geometry, GlobalHotKey* escapeKey,
                                                     CaptureInputsController* inputs,
                                                     CameraOverlayPresenter* cameraOverlay,
                                                     SelectionOverlayServices services)
    : geometry_(geometry),
      escapeKey_(escapeKey),
      inputs_(inputs),
      cameraOverlay_(cameraOverlay),
      services_(std::move(services)) {
    polling_.setInterval(services_.pollInterval);
    connect(&polling_, &QTimer::timeout, this, [this] { poll(); });
    connect(services_.compositor.get(), &platform::CompositingManager::changed, this, [this] { applyPaintMode(); });
}

SelectionOverlayPresenter::~SelectionOverlayPresenter() {
    if (cameraOverlay_) cameraOverlay_->setTakesKeyboard(false);
    removeKeyMonitor();
    if (escapeKey_) escapeKey_->close();
    if (pending_) {
        pending_ = false;
        outcome_.yield(ScreenSelectionOutcome::cancelled(currentPreference()));
    }
    outcome_.finish();
    actions_.finish();
    delete selectionWindow_;
    delete highlight_;
    delete tray_;
}

CapturePreference SelectionOverlayPresenter::currentPreference() const {
    return model_ ? model_->capturePreference() : CapturePreference::initial();
}

QCoro::Task<ScreenSelectionOutcome> SelectionOverlayPresenter::runSelection(std::vector<DisplayBounds> displays,
                                                                            CapturePreference initialPreference) {
    if (closed_ || displays.empty()) co_return ScreenSelectionOutcome::cancelled(initialPreference);
    model_ = std::make_unique<SelectionOverlayViewModel>(displays, initialPreference, services_.catalog());
    model_->setInputs(inputs_);
    model_->onCaptureAreaChanged = [self = QPointer(this)] {
        if (self) self->updateCameraOverlay();
    };
    // A change of mode or of the chosen application moves the target too; the bubble follows at
    // once rather than at the next poll.
    connect(model_.get(), &SelectionOverlayViewModel::changed, this, [this] { updateCameraOverlay(); });
    if (model_->mode() == CaptureMode::area && inputs_ && inputs_->preferences().ratio != CaptureRatio::free)
        model_->chooseRatio(inputs_->preferences().ratio);
    model_->setMenuBarHeight(services_.menuBarHeight(model_->display()));
    model_->refreshWindows();
    polling_.start();
    contentsHold_ = services_.compositor->holdWindowContents();
    pending_ = true;
    // The channel keeps its state alive even if this presenter is dropped meanwhile.
    auto outcome = outcome_;
    presentSelectionWindow();
    auto result = co_await outcome.next();
    co_return result.value_or(ScreenSelectionOutcome::cancelled(initialPreference));
}

void SelectionOverlayPresenter::presentSelectionWindow() {
    const QPointer self(this);
    model_->onDisplayChanged = [self](const DisplayBounds& display) {
        if (!self || !self->selectionWindow_) return;
        const Rect frame = frameOf(display);
        self->selectionWindow_->setGeometry(toQRect(frame).toAlignedRect());
        if (self->paintMode() == OverlayPaintMode::opaque && self->services_.freeze)
            self->selectionWindow_->setFrozenBackground(self->services_.freeze(frame));
        self->selectionWindow_->raise();
        self->selectionWindow_->activateWindow();
        if (self->model_) self->model_->setMenuBarHeight(self->services_.menuBarHeight(display));
    };
    auto* view = new SelectionOverlayView(
        geometry_, model_.get(), cameraOverlay_,
        [self] {
            if (self) self->confirmSelection();
        },
        [self] {
            if (self) self->finishSelection(ScreenSelectionOutcome::cancelled(self->currentPreference()), true);
        },
        paintMode(), services_.log);
    platform::makeOverlayWindow(*view, platform::OverlayLevel::selection, false, true);
    const Rect frame = model_->displayFrame();
    view->setGeometry(toQRect(frame).toAlignedRect());
    if (paintMode() == OverlayPaintMode::opaque && services_.freeze)
        view->setFrozenBackground(services_.freeze(frame));
    selectionWindow_ = view;
    view->show();
    view->raise();
    view->activateWindow();
    platform::restackOverlays();
    services_.log.info(kLogCategory, "capture_selection_presented key=" +
                                         std::to_string(view->isActiveWindow() ? 1 : 0) +
                                         " can_become_key=1 mode=" + modeText(model_->mode()));
    removeKeyMonitor();
    installKeyMonitor();
    if (cameraOverlay_) cameraOverlay_->setTakesKeyboard(true);
    updateCameraOverlay();
    try {
        if (escapeKey_ == nullptr) throw AppError::keyboardShortcutUnavailable("Escape registration failed.");
        escapeKey_->start(GlobalHotKey::kEscapeKeyCode, 0, [self] {
            if (self) self->escapePressed();
        });
    } catch (const std::exception& error) {
        services_.log.error(kLogCategory, std::string("Yux escape_registration_failed ") + error.what());
        const auto* appError = dynamic_cast<const AppError*>(&error);
        finishSelection(ScreenSelectionOutcome::failed(
                            appError ? *appError : AppError::keyboardShortcutUnavailable("Escape registration failed.")),
                        true);
    }
}

void SelectionOverlayPresenter::escapePressed() {
    if (cameraOverlay_ && cameraOverlay_->cropping()) {
        cameraOverlay_->setCropping(false);
        cameraOverlay_->render();
        return;
    }
    closed_ = true;
    finishSelection(ScreenSelectionOutcome::cancelled(currentPreference()), true);
}

void SelectionOverlayPresenter::installKeyMonitor() {
    qApp->installEventFilter(this);
    keyMonitor_ = true;
}

void SelectionOverlayPresenter::removeKeyMonitor() {
    if (!keyMonitor_) return;
    if (qApp) qApp->removeEventFilter(this);
    keyMonitor_ = false;
}

bool SelectionOverlayPresenter::keyPressed(int key, QObject* target) {
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (enter) {
        services_.log.info(kLogCategory, std::string("capture_selection_enter selecting=") + (pending_ ? "1" : "0"));
        if (cameraOverlay_ && cameraOverlay_->finishEditing()) return true;
    }
    if (key == Qt::Key_Escape && cameraOverlay_ && cameraOverlay_->cropping()) {
        cameraOverlay_->setCropping(false);
        cameraOverlay_->render();
        return true;
    }
    if (!pending_) return false;
    if (enter && model_ && model_->canConfirm()) {
        confirmSelection();
        return true;
    }
    QWidget* window = nullptr;
    if (auto* widget = qobject_cast<QWidget*>(target)) window = widget->window();
    // Shift+Tab arrives as Backtab; it is still the Tab key and moves the mode on the same way.
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && window == selectionWindow_.data()) {
        if (model_) {
            const CaptureMode next = model_->mode() == CaptureMode::area  ? CaptureMode::app
                                     : model_->mode() == CaptureMode::app ? CaptureMode::screen
                                                                           : CaptureMode::area;
            model_->setMode(next);
        }
        return true;
    }
    return false;
}

bool SelectionOverlayPresenter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
        // Seen once, at the window, before it reaches the view or a control of its bar.
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && selectionWindow_ && selectionWindow_->windowHandle() &&
            watched == selectionWindow_->windowHandle()) {
            const QPointF p = mouse->position();
            std::ostringstream point;
            point << "(" << p.x() << ", " << p.y() << ")";
            services_.log.info(kLogCategory, std::string("capture_selection_pointer type=") +
                                                 (event->type() == QEvent::MouseButtonPress ? "leftMouseDown" : "leftMouseUp") +
                                                 " point=" + point.str());
        }
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    if (event->type() == QEvent::KeyPress) {
        // Seen once: at the widget that has the keyboard, not again as it propagates.
        QWidget* focus = QApplication::focusWidget();
        if (focus ? widget != focus : !widget->isWindow()) return false;
        return keyPressed(static_cast<QKeyEvent*>(event)->key(), watched);
    }
    return false;
}

void SelectionOverlayPresenter::confirmSelection() {
    // A selection ends once: Record after Return (or the reverse) does nothing more.
    if (!pending_) return;
    services_.log.info(kLogCategory, "capture_selection_confirm requested");
    if (!model_) {
        finishSelection(ScreenSelectionOutcome::cancelled(CapturePreference::initial()), true);
        return;
    }
    if (inputs_ && inputs_->busy()) return;
    finishSelection(model_->confirmOutcome(), true);
}

void SelectionOverlayPresenter::finishSelection(const ScreenSelectionOutcome& outcome, bool closeWindow) {
    // The keyboard goes back to the selection window before it closes, so it leaves as it came;
    // from here a press on the bubble leaves the keyboard where it is.
    if (cameraOverlay_) cameraOverlay_->setTakesKeyboard(false);
    if (closeWindow && selectionWindow_) {
        selectionWindow_->hide();
        selectionWindow_->deleteLater();
        selectionWindow_ = nullptr;
        QApplication::restoreOverrideCursor();
    }
    if (escapeKey_) escapeKey_->close();
    if (!std::holds_alternative<ScreenSelectionOutcome::Confirmed>(outcome.value)) {
        removeKeyMonitor();
        if (cameraOverlay_) cameraOverlay_->hide();
        model_.reset();
        polling_.stop();
        contentsHold_.reset();
    }
    if (pending_) {
        pending_ = false;
        outcome_.yield(outcome);
    }
}

void SelectionOverlayPresenter::poll() {
    if (!model_) return;
    if (!recordingStartedAt_) model_->refreshWindows();
    updateCameraOverlay();
    if (tray_) tray_->move(toQRect(recordingTrayFrame(Size{static_cast<double>(tray_->width()),
                                                           static_cast<double>(tray_->height())}))
                               .toAlignedRect()
                               .topLeft());
    platform::restackOverlays();
}

void SelectionOverlayPresenter::updateCameraOverlay() {
    if (!cameraOverlay_ || !model_) return;
    const auto preview = model_->previewRect();
    if (!preview) {
        cameraOverlay_->hide();
        return;
    }
    const Rect d = model_->displayFrame();
    const Size size = OverlayTrayLayout::controlSize(recordingStartedAt_ ? kTrayWidth : kControlBarWidth, d, preview,
                                                     model_->menuBarHeight());
    const Rect region = OverlayTrayLayout::placement(preview, d, size, model_->menuBarHeight()).offsetBy(d.minX(), d.minY());
    cameraOverlay_->update(*preview, {region});
}

void SelectionOverlayPresenter::showRecordingControls() {
    if (cameraOverlay_ && cameraOverlay_->cropping()) {
        cameraOverlay_->setCropping(false);
        cameraOverlay_->render();
    }
    recordingStartedAt_ = services_.now();
    showPassthroughHighlightWindow(PassthroughHighlightOverlayMode::recording);
    showInteractiveTrayWindow(false);
}

void SelectionOverlayPresenter::showPassthroughHighlightWindow(PassthroughHighlightOverlayMode mode) {
    if (!model_) return;
    const Rect frame = model_->displayFrame();
    if (highlight_) {
        highlight_->setGeometry(toQRect(frame).toAlignedRect());
        highlight_->setMode(mode);
    } else {
        auto* view = new PassthroughHighlightOverlayView(model_.get(), mode, paintMode());
        platform::makeOverlayWindow(*view, platform::OverlayLevel::selection, true);
        view->setGeometry(toQRect(frame).toAlignedRect());
        highlight_ = view;
    }
    highlight_->show();
    platform::restackOverlays();
}

void SelectionOverlayPresenter::showInteractiveTrayWindow(bool stopping) {
    if (!model_ || !model_->previewRect() || !recordingStartedAt_) return;
    // The model keeps the display's menu-bar height, read when the display was last chosen.
    const Size size = OverlayTrayLayout::controlSize(stopping ? kStoppingTrayWidth : kTrayWidth, model_->displayFrame(),
                                                     model_->previewRect(), model_->menuBarHeight());
    const Rect frame = recordingTrayFrame(size);
    delete tray_;
    const QPointer self(this);
    auto* view = new InteractiveTrayOverlayView(
        model_.get(), *recordingStartedAt_, size, stopping,
        [self] {
            if (self) self->actions_.yield(RecordingOverlayAction::stopRequested);
        },
        paintMode(), services_.now);
    platform::makeOverlayWindow(*view, platform::OverlayLevel::recordingTray, false);
    view->setGeometry(toQRect(frame).toAlignedRect());
    tray_ = view;
    view->show();
    platform::restackOverlays();
}

void SelectionOverlayPresenter::applyPaintMode() {
    const OverlayPaintMode mode = paintMode();
    services_.log.info(kLogCategory, std::string("capture_overlay_paint_mode mode=") +
                                         (mode == OverlayPaintMode::translucent ? "translucent" : "opaque"));
    if (selectionWindow_ && model_) {
        QImage frozen;
        if (mode == OverlayPaintMode::opaque && services_.freeze) frozen = services_.freeze(model_->displayFrame());
        selectionWindow_->setPaintMode(mode);
        if (!frozen.isNull()) selectionWindow_->setFrozenBackground(std::move(frozen));
    }
    if (highlight_) highlight_->setPaintMode(mode);
    if (tray_) tray_->setPaintMode(mode);
}

Rect SelectionOverlayPresenter::recordingTrayFrame(Size size) const {
    if (!model_ || !model_->previewRect()) return {};
    const Rect d = model_->displayFrame();
    return OverlayTrayLayout::placement(model_->previewRect(), d, size, model_->menuBarHeight())
        .offsetBy(d.minX(), d.minY());
}

void SelectionOverlayPresenter::close() {
    closed_ = true;
    if (cameraOverlay_) cameraOverlay_->hide();
    polling_.stop();
    finishSelection(ScreenSelectionOutcome::cancelled(currentPreference()), true);
    delete highlight_;
    delete tray_;
    contentsHold_.reset();
    if (!actions_.finished()) {
        actions_.yield(RecordingOverlayAction::closed);
        actions_.finish();
    }
}

}  // namespace yux

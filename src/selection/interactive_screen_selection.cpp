#include "selection/interactive_screen_selection.hpp"

#include <QCoreApplication>
#include <QTimer>

namespace yux {

namespace {

// Resumes on the next turn of the event loop, as a hop to the main thread would.
struct NextTurn {
    bool await_ready() const { return false; }
    void await_suspend(std::coroutine_handle<> handle) const {
        QTimer::singleShot(0, QCoreApplication::instance(), [handle] { handle.resume(); });
    }
    void await_resume() const {}
};

}  // namespace

InteractiveScreenSelection::InteractiveScreenSelection(ScreenSelectionGeometry geometry,
                                                       std::unique_ptr<GlobalHotKey> escapeKey,
                                                       CaptureInputsController* inputs,
                                                       CameraOverlayPresenter* cameraOverlay,
                                                       SelectionOverlayServices services)
    : geometry_(geometry),
      suppliedEscapeKey_(std::move(escapeKey)),
      inputs_(inputs),
      cameraOverlay_(cameraOverlay),
      services_(std::move(services)) {}

InteractiveScreenSelection::~InteractiveScreenSelection() {
    // The presenter uses the escape key, so it goes first.
    activePresenter_.reset();
}

QCoro::Task<ScreenSelectionOutcome> InteractiveScreenSelection::startSelection(CapturePreference initialPreference,
                                                                                std::vector<DisplayBounds> displays) {
    if (displays.empty()) co_return ScreenSelectionOutcome::cancelled(initialPreference);
    const QUuid request = QUuid::createUuid();
    requestID_ = request;
    co_await NextTurn{};
    auto presenter = std::make_unique<SelectionOverlayPresenter>(geometry_, suppliedEscapeKey_.get(), inputs_,
                                                                 cameraOverlay_, services_);
    if (!suppliedEscapeKey_) presenter->ownEscapeKey(GlobalHotKey::create());
    if (requestID_ != request) co_return ScreenSelectionOutcome::cancelled(initialPreference);
    activePresenter_ = std::move(presenter);
    QPointer<SelectionOverlayPresenter> running(activePresenter_.get());
    auto task = running->runSelection(std::move(displays), initialPreference);
    ScreenSelectionOutcome outcome = co_await std::move(task);
    const bool confirmed = std::holds_alternative<ScreenSelectionOutcome::Confirmed>(outcome.value);
    // Only the presenter of this request is dropped; a newer one stays.
    if (!confirmed && running && activePresenter_.get() == running.data()) activePresenter_.reset();
    co_return outcome;
}

QCoro::Task<void> InteractiveScreenSelection::cancelSelection() {
    requestID_.reset();
    if (activePresenter_) {
        activePresenter_->markClosed();
        const auto* model = activePresenter_->viewModel();
        activePresenter_->finishSelection(
            ScreenSelectionOutcome::cancelled(model ? model->capturePreference() : CapturePreference::initial()), true);
    }
    activePresenter_.reset();
    co_return;
}

QCoro::Task<void> InteractiveScreenSelection::showRecordingControls() {
    if (activePresenter_) activePresenter_->showRecordingControls();
    co_return;
}

QCoro::Task<void> InteractiveScreenSelection::showStoppingControls() {
    if (activePresenter_) {
        activePresenter_->showPassthroughHighlightWindow(PassthroughHighlightOverlayMode::stopping);
        activePresenter_->showInteractiveTrayWindow(true);
    }
    co_return;
}

QCoro::Task<void> InteractiveScreenSelection::hideOverlay() {
    if (activePresenter_) activePresenter_->close();
    activePresenter_.reset();
    co_return;
}

QCoro::Task<RecordingOverlayAction> InteractiveScreenSelection::nextRecordingOverlayAction() {
    if (!activePresenter_) co_return RecordingOverlayAction::closed;
    // A copy of the stream: it outlives the presenter, whose end finishes it.
    auto actions = activePresenter_->overlayActions();
    auto next = co_await actions.next();
    co_return next.value_or(RecordingOverlayAction::closed);
}

}  // namespace yux

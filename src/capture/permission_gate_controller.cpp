#include "capture/permission_gate_controller.hpp"

#include <exception>

namespace yux {

using Policy = platform::ApplicationActivation::Policy;

void PermissionGateViewState::setGranted(bool value) {
    if (std::exchange(isGranted_, value) != value) emit isGrantedChanged();
}

void PermissionGateViewState::setSettingsUnavailable(bool value) {
    if (std::exchange(settingsUnavailable_, value) != value) emit settingsUnavailableChanged();
}

void PermissionGateViewState::setPreparing(bool value) {
    if (std::exchange(isPreparing_, value) != value) emit isPreparingChanged();
}

namespace {

// Records instead of showing.
class RecordedGateWindow : public PermissionGateSurface {
public:
    explicit RecordedGateWindow(std::shared_ptr<PermissionGateWindowRecord> record) : record_(std::move(record)) {}
    ~RecordedGateWindow() override { record_->showing = false; }
    void present() override {
        ++record_->presentations;
        record_->showing = true;
    }
    void dismiss() override { record_->showing = false; }

private:
    std::shared_ptr<PermissionGateWindowRecord> record_;
};

}  // namespace

PermissionGateController::Platform PermissionGateController::Platform::create_null(
    platform::ApplicationActivation activation) {
    auto record = std::make_shared<PermissionGateWindowRecord>();
    WindowMaker maker = [record](const PermissionGateContent&, PermissionGateViewState&, PermissionGateActions actions) {
        ++record->made;
        record->actions = std::move(actions);
        return std::make_unique<RecordedGateWindow>(record);
    };
    return {std::move(activation), platform::TimerSource::create_null(), std::move(maker), record};
}

PermissionGateController::PermissionGateController(Options options, Platform platform, QObject* parent)
    : QObject(parent), options_(std::move(options)), platform_(std::move(platform)) {}

PermissionGateController::~PermissionGateController() {
    if (requestToken_) requestToken_->cancel();
    // The window goes with the gate; the application must not stay regular for a window that
    // is gone.
    if (isPresenting_) platform_.activation.setPolicy(restingPolicy_);
}

void PermissionGateController::start() {
    if (pollTimer_) return;
    restingPolicy_ = platform_.activation.policy();
    QPointer<PermissionGateController> self(this);
    pollTimer_ = platform_.timers.repeating(options_.pollInterval, [self] {
        if (self) self->check();
    });
    check();
}

void PermissionGateController::stop() {
    if (requestToken_) requestToken_->cancel();
    requestToken_.reset();
    requesting_ = false;
    // A request cut short never returns to clear this, and a later start would show the
    // request as still on its way.
    viewState_.setPreparing(false);
    pollTimer_.reset();
    dismissGate();
}

void PermissionGateController::openSettings() {
    viewState_.setSettingsUnavailable(!options_.settings.open(options_.settingsURL));
}

bool PermissionGateController::granted() const {
    try {
        return options_.isGranted();
    } catch (const std::exception&) {
        return false;  // an answer that cannot be had is no grant
    }
}

void PermissionGateController::check() {
    if (requesting_) return;
    if (granted()) handleGranted();
    else presentGate();
}

void PermissionGateController::presentGate() {
    if (isShowingGranted_) {
        grantedTimer_.reset();
        isShowingGranted_ = false;
        viewState_.setGranted(false);
    }
    if (isPresenting_) return;
    isPresenting_ = true;
    viewState_.setGranted(false);
    viewState_.setSettingsUnavailable(false);
    if (!window_) {
        QPointer<PermissionGateController> self(this);
        PermissionGateActions actions;
        actions.openSettings = [self] {
            if (self) self->openSettings();
        };
        if (options_.requestAccess) {
            actions.requestAccess = [self] {
                if (self) self->handleRequestAccess();
            };
        }
        if (options_.onSkip) {
            actions.skip = [self] {
                if (self) self->skip();
            };
        }
        actions.quit = [activation = platform_.activation]() mutable { activation.terminate(); };
        window_ = platform_.makeWindow(options_.content, viewState_, std::move(actions));
    }
    if (platform_.activation.policy() != Policy::regular) platform_.activation.setPolicy(Policy::regular);
    platform_.activation.activate();
    window_->present();
}

void PermissionGateController::handleGranted() {
    if (requesting_) return;
    if (!isPresenting_) {
        // The confirmation is only for a window the user saw.
        if (options_.onGranted) stopAndCall(options_.onGranted);
        else dismissGate();
        return;
    }
    if (isShowingGranted_) return;
    isShowingGranted_ = true;
    viewState_.setGranted(true);
    viewState_.setSettingsUnavailable(false);
    QPointer<PermissionGateController> self(this);
    grantedTimer_ = platform_.timers.oneShot(options_.grantedDisplayDuration, [self] {
        if (self) self->grantedTimerFired();
    });
}

void PermissionGateController::grantedTimerFired() {
    grantedTimer_.reset();
    if (!granted()) {
        presentGate();
        return;
    }
    if (options_.onGranted) stopAndCall(options_.onGranted);
    else dismissGate();
}

void PermissionGateController::handleRequestAccess() {
    if (requesting_) return;
    if (options_.openSettingsOnActivation) openSettings();
    if (granted()) {
        check();
        return;
    }
    if (!options_.requestAccess) return;
    requesting_ = true;
    viewState_.setPreparing(true);
    platform::CancelToken token;
    requestToken_ = token;
    runRequest(QPointer<PermissionGateController>(this), options_.requestAccess, token);
}

QCoro::Task<void> PermissionGateController::runRequest(QPointer<PermissionGateController> self,
                                                       std::function<QCoro::Task<bool>()> request,
                                                       platform::CancelToken token) {
    try {
        co_await request();
    } catch (...) {
        // Refused: the check below decides what shows.
    }
    if (token.isCancelled() || !self) co_return;
    self->requestReturned();
}

void PermissionGateController::requestReturned() {
    requesting_ = false;
    viewState_.setPreparing(false);
    requestToken_.reset();
    if (!granted() && options_.openSettingsOnDenied && !options_.openSettingsOnActivation) openSettings();
    check();
}

void PermissionGateController::dismissGate() {
    grantedTimer_.reset();
    isShowingGranted_ = false;
    if (!isPresenting_) return;
    isPresenting_ = false;
    window_->dismiss();
    viewState_.setGranted(false);
    platform_.activation.setPolicy(restingPolicy_);
}

void PermissionGateController::skip() { stopAndCall(options_.onSkip); }

void PermissionGateController::stopAndCall(const std::function<void()>& callback) {
    auto call = callback;  // the owner may release the gate from inside it
    stop();
    if (call) call();
}

}  // namespace yux

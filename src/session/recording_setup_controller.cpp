#include "session/recording_setup_controller.hpp"

#include <coroutine>
#include <utility>

namespace yux {

struct RecordingSetupController::Answer {
    std::optional<bool> granted;
    std::coroutine_handle<> waiter;
};

namespace {

// Waits for an answer; copies share it (the coroutine machinery may copy the awaiter).
struct AnswerAwaiter {
    std::shared_ptr<RecordingSetupController::Answer> answer;
    bool await_ready() const noexcept { return answer->granted.has_value(); }
    void await_suspend(std::coroutine_handle<> handle) { answer->waiter = handle; }
    bool await_resume() const noexcept { return *answer->granted; }
};

}  // namespace

namespace {

CaptureInputKind kindOf(RecordingSetupController::Step step) {
    return step == RecordingSetupController::Step::camera ? CaptureInputKind::camera : CaptureInputKind::microphone;
}

std::string permissionName(RecordingSetupController::Step step) {
    return step == RecordingSetupController::Step::camera ? "Camera" : "Microphone";
}

}  // namespace

RecordingSetupController::RecordingSetupController(std::shared_ptr<CaptureInputsController> inputs,
                                                   std::shared_ptr<CaptureDeviceRuntime> devices,
                                                   platform::SystemSettingsOpener settings, GateFactory makeGate)
    : inputs_(std::move(inputs)),
      devices_(std::move(devices)),
      settings_(std::move(settings)),
      makeGate_(std::move(makeGate)) {}

RecordingSetupController::~RecordingSetupController() { stop(); }

PermissionGateContent RecordingSetupController::content(Step step, std::optional<std::string> progress) {
    const std::string name = permissionName(step);
    const std::string explanation =
        step == Step::camera
            ? "Add a camera overlay to recordings. No camera connected? Skip this and connect one later."
            : "Add your voice to recordings. You can skip this and enable the microphone whenever you need it.";
    const std::string instructions = CaptureInputsController::accessInstructions(
        step == Step::camera ? CaptureInputKind::camera : CaptureInputKind::microphone);
    return PermissionGateContent(kAppName, name, explanation, instructions, name + " access is ready.",
                                 name + " \u2014 optional", std::move(progress));
}

std::string RecordingSetupController::settingsAddress(Step step) {
    return step == Step::camera ? platform::SystemSettingsOpener::kCameraPane
                                : platform::SystemSettingsOpener::kMicrophonePane;
}

QCoro::Task<bool> RecordingSetupController::start() {
    if (subscription_) co_return true;
    QPointer<RecordingSetupController> self(this);
    subscription_ = connect(inputs_.get(), &CaptureInputsController::permissionRequestChanged, this, [self] {
        if (!self) return;
        if (const auto& request = self->inputs_->permissionRequest()) self->resume(*request);
    });
    auto inputs = inputs_;
    co_await inputs->start();
    if (!self) co_return true;
    if (inputs->preferences().setupCompleted.value_or(false)) co_return true;
    platform::CancelToken token;
    onboarding_ = token;
    onboard(self, token);  // runs on by itself
    co_return true;
}

QCoro::Task<void> RecordingSetupController::onboard(QPointer<RecordingSetupController> self,
                                                    platform::CancelToken token) {
    const Step steps[] = {Step::microphone, Step::camera};
    for (int i = 0; i < 2; ++i) {
        if (!self || token.isCancelled()) co_return;
        // A skipped step and a granted one both go on.
        co_await self->ask(steps[i], "Step " + std::to_string(i + 1) + " of 2", false, token);
    }
    if (!self || token.isCancelled()) co_return;
    auto inputs = self->inputs_;
    co_await inputs->finishSetup();
}

QCoro::Task<bool> RecordingSetupController::ask(Step step, std::optional<std::string> progress, bool openSettings,
                                                platform::CancelToken token) {
    if (token.isCancelled()) co_return false;
    auto answer = std::make_shared<Answer>();
    result_ = answer;
    const auto kind = kindOf(step);
    PermissionGateController::Options options{content(step, std::move(progress)),
                                              [devices = devices_, kind] { return devices->hasAccess(kind, std::nullopt); },
                                              settings_, settingsAddress(step)};
    // Access is never "not determined" here: asking means looking again.
    options.requestAccess = [devices = devices_, kind]() -> QCoro::Task<bool> {
        co_return devices->hasAccess(kind, std::nullopt);
    };
    QPointer<RecordingSetupController> self(this);
    options.onGranted = [self] {
        if (self) self->complete(true);
    };
    options.onSkip = [self] {
        if (self) self->complete(false);
    };
    options.openSettingsOnDenied = true;
    options.openSettingsOnActivation = false;
    options.pollInterval = kPollInterval;
    options.grantedDisplayDuration = kGrantedDisplayDuration;
    gate_ = makeGate_(std::move(options));
    // A gate that sees access at once answers from inside start().
    gate_->start();
    if (openSettings && gate_ && result_ == answer) gate_->openSettings();
    AnswerAwaiter awaiter{answer};  // named: g++ 12 destroys await temporaries too early
    co_return co_await awaiter;
}

void RecordingSetupController::complete(bool granted) {
    if (auto gate = std::move(gate_)) {
        gate_.reset();
        gate->stop();
    }
    auto answer = std::move(result_);
    result_.reset();
    if (!answer || answer->granted) return;
    answer->granted = granted;
    if (auto waiter = std::exchange(answer->waiter, nullptr)) waiter.resume();
}

void RecordingSetupController::resume(CaptureInputsController::PermissionRequest request) {
    if (onboarding_) onboarding_->cancel();
    onboarding_.reset();
    if (recovery_) recovery_->cancel();
    complete(false);
    platform::CancelToken token;
    recovery_ = token;
    recover(QPointer<RecordingSetupController>(this), std::move(request), token);
}

QCoro::Task<void> RecordingSetupController::recover(QPointer<RecordingSetupController> self,
                                                    CaptureInputsController::PermissionRequest request,
                                                    platform::CancelToken token) {
    const Step step = request.kind == CaptureInputKind::camera ? Step::camera : Step::microphone;
    const bool granted = co_await self->ask(step, std::nullopt, true, token);
    if (!granted || !self || token.isCancelled()) co_return;
    auto inputs = self->inputs_;
    co_await inputs->select(request.kind, request.deviceID);
}

void RecordingSetupController::stop() {
    if (onboarding_) onboarding_->cancel();
    onboarding_.reset();
    if (recovery_) recovery_->cancel();
    recovery_.reset();
    if (subscription_) disconnect(*subscription_);
    subscription_.reset();
    complete(false);
}

}  // namespace yux

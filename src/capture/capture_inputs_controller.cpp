#include "capture/capture_inputs_controller.hpp"

#include <algorithm>

#include <QScopeGuard>

#include "model/user_facing_error_message_policy.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/sleep.hpp"

namespace yux {

namespace {

constexpr const char* kDisconnected = "Disconnected · choose another";
constexpr const char* kInputStopped = "Input stopped · choose the device to retry";
constexpr const char* kAccessNeeded = "Access needed · Enable to continue setup";
constexpr const char* kNoAccess = "No access · Open Settings";

std::string kindText(CaptureInputKind kind) { return std::string(textOf(kind)); }
const char* boolText(bool value) { return value ? "true" : "false"; }


std::string errorText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const AppError& appError) {
        return UserFacingErrorMessagePolicy().message(appError);
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "Unknown error";
    }
}

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace

CaptureInputsController::CaptureInputsController(std::shared_ptr<PreferencesFileSettingsStore> settings,
                                                 std::shared_ptr<CaptureDeviceRuntime> runtime,
                                                 platform::SystemSettingsOpener settingsOpener, platform::SystemLog log,
                                                 Sleep sleep)
    : log_(std::move(log)),
      runtime_(std::move(runtime)),
      settingsOpener_(std::move(settingsOpener)),
      settings_(std::move(settings)),
      sleep_(sleep ? std::move(sleep) : Sleep(&platform::sleepFor)) {}

CaptureInputsController::~CaptureInputsController() {
    if (observation_) observation_->cancel();
}

// MARK: start, stop, monitor

QCoro::Task<void> CaptureInputsController::start() {
    // A caller that comes while the first start still waits for the devices (a command file
    // taken at launch) waits for it too, instead of finding the inputs busy.
    if (!starting_) starting_.emplace(load());
    auto starting = *starting_;
    co_await starting.get();
}

QCoro::Task<void> CaptureInputsController::load() {
    if (loaded_) co_return;
    runtime_->startDiscovery();
    loaded_ = true;
    setBusy(true);
    auto clearBusy = qScopeGuard([this] { setBusy(false); });
    auto runtime = runtime_;
    co_await runtime->waitForDevices();
    std::optional<CaptureInputPreferences> loaded;
    try {
        loaded = settings_->loadCaptureInputs();
    } catch (const std::exception& error) {
        // The defaults apply; the stored value stays until the user next changes a choice, and
        // is kept in the log before that, so nothing is lost.
        std::string stored;
        try {
            stored = settings_->loadCaptureInputsText().value_or("");
        } catch (const std::exception& unreadable) {
            stored = std::string("(unreadable: ") + unreadable.what() + ")";
        }
        log_.error(kLogCategory,
                   std::string("input_preferences_unreadable error=") + error.what() + " value=" + stored);
        setMessage(CaptureInputKind::microphone, "Unable to load input preferences");
    }
    if (loaded) setPreferences(*loaded);
    refreshDevices();
    auto waiting = waitForStoredPhones(loading_.emplace());
    if (!co_await waiting) co_return;
    loading_.reset();
    for (auto kind : kAllCaptureInputKinds) {
        if (!enabled(kind)) continue;
        auto id = selectedID(kind);
        if (runtime_->hasAccess(kind, id)) {
            co_await activate(kind, id);
        } else {
            setEnabled(kind, false);
            setMessage(kind, kAccessNeeded);
            co_await persist();
        }
    }
    if (loaded_ && !observation_) {
        platform::CancelToken token;
        observation_ = token;
        monitor(QPointer<CaptureInputsController>(this), token, sleep_);
    }
}

QCoro::Task<bool> CaptureInputsController::waitForStoredPhones(platform::CancelToken token) {
    auto missing = [this] {
        return std::ranges::any_of(kAllCaptureInputKinds, [this](CaptureInputKind kind) {
            const auto& id = selectedID(kind);
            return enabled(kind) && id && isPhoneIdentifier(*id) && !listed(kind, id);
        });
    };
    for (auto waited = std::chrono::milliseconds(0); missing() && waited < kStoredPhoneWait;
         waited += kMonitorInterval) {
        try {
            co_await sleep_(kMonitorInterval, token);
        } catch (const platform::CancelledError&) {
            co_return false;
        }
        refreshDevices();
    }
    co_return true;
}

QCoro::Task<void> CaptureInputsController::monitor(QPointer<CaptureInputsController> controller,
                                                   platform::CancelToken token, Sleep sleep) {
    for (;;) {
        if (token.isCancelled() || !controller) co_return;
        controller->refreshDevices();
        double level = controller->runtime_->microphoneLevel();
        if (level != controller->level_) {
            controller->level_ = level;
            emit controller->levelChanged();
        }
        try {
            co_await sleep(kMonitorInterval, token);
        } catch (const platform::CancelledError&) {
        }
    }
}

QCoro::Task<void> CaptureInputsController::stop() {
    if (loading_) {
        loading_->cancel();
        loading_.reset();
    }
    if (observation_) {
        observation_->cancel();
        observation_.reset();
    }
    auto runtime = runtime_;
    co_await runtime->stop(CaptureInputKind::camera);
    co_await runtime->stop(CaptureInputKind::microphone);
    runtime->stopDiscovery();
    loaded_ = false;
    starting_.reset();
}

void CaptureInputsController::refreshDevices() {
    if (!locked_ && runtime_->isPhoneCamera() && runtime_->isRunning(CaptureInputKind::camera)) {
        double aspect = runtime_->sourceAspect();
        if (!phoneAspect_ || *phoneAspect_ != aspect) {
            phoneAspect_ = aspect;
            auto next = preferences_;
            next.camera.aspect = aspect;
            setPreferences(next);
        }
    }
    auto microphones = runtime_->devices(CaptureInputKind::microphone);
    if (microphones != microphones_) {
        microphones_ = std::move(microphones);
        emit microphonesChanged();
    }
    auto cameras = runtime_->devices(CaptureInputKind::camera);
    if (cameras != cameras_) {
        cameras_ = std::move(cameras);
        emit camerasChanged();
    }
    for (auto kind : kAllCaptureInputKinds) {
        if (!enabled(kind)) continue;
        if (listed(kind, selectedID(kind))) {
            if (!busy_ && !runtime_->isRunning(kind)) setMessage(kind, kInputStopped);
        } else {
            setMessage(kind, kDisconnected);
        }
    }
}

// MARK: queries

const std::vector<CaptureDevice>& CaptureInputsController::devices(CaptureInputKind kind) const {
    return kind == CaptureInputKind::microphone ? microphones_ : cameras_;
}

bool CaptureInputsController::hasAccess(CaptureInputKind kind) const { return runtime_->hasAccess(kind, std::nullopt); }

bool CaptureInputsController::enabled(CaptureInputKind kind) const {
    return kind == CaptureInputKind::microphone ? preferences_.microphoneEnabled : preferences_.cameraEnabled;
}

const std::optional<std::string>& CaptureInputsController::message(CaptureInputKind kind) const {
    return kind == CaptureInputKind::microphone ? microphoneMessage_ : cameraMessage_;
}

const std::optional<std::string>& CaptureInputsController::selectedID(CaptureInputKind kind) const {
    return kind == CaptureInputKind::microphone ? preferences_.microphoneDeviceID : preferences_.cameraDeviceID;
}

bool CaptureInputsController::listed(CaptureInputKind kind, const std::optional<std::string>& id) const {
    if (!id) return false;
    return std::ranges::any_of(devices(kind), [&](const CaptureDevice& device) { return device.id == *id; });
}

void CaptureInputsController::openSettings(CaptureInputKind kind) {
    auto pane = kind == CaptureInputKind::microphone ? platform::SystemSettingsOpener::kMicrophonePane
                                                     : platform::SystemSettingsOpener::kCameraPane;
    if (settingsOpener_.open(pane)) return;
    if (kind == CaptureInputKind::camera) setSettingsHelp(kind, accessInstructions(kind));
    else setMessage(kind, "Unable to open Settings");
}

std::string CaptureInputsController::accessInstructions(CaptureInputKind kind) {
    // This desktop has no per-application privacy list: access comes from the sound service and
    // from the camera device's group.
    return kind == CaptureInputKind::camera
               ? "Give your user access to the camera (the video group), then return here. This step continues when "
                 "access is available."
               : "Make sure your desktop's sound service is running, then return here. This step continues when access "
                 "is available.";
}

const std::optional<std::string>& CaptureInputsController::settingsHelp(CaptureInputKind kind) const {
    return kind == CaptureInputKind::microphone ? microphoneSettingsHelp_ : cameraSettingsHelp_;
}

// MARK: helpers

void CaptureInputsController::setPreferences(CaptureInputPreferences preferences) {
    preferences_ = std::move(preferences);
    emit preferencesChanged();
}

void CaptureInputsController::setEnabled(CaptureInputKind kind, bool value) {
    auto next = preferences_;
    (kind == CaptureInputKind::microphone ? next.microphoneEnabled : next.cameraEnabled) = value;
    setPreferences(std::move(next));
}

void CaptureInputsController::setSelectedID(CaptureInputKind kind, std::string id) {
    auto next = preferences_;
    (kind == CaptureInputKind::microphone ? next.microphoneDeviceID : next.cameraDeviceID) = std::move(id);
    setPreferences(std::move(next));
}

void CaptureInputsController::setSettingsHelp(CaptureInputKind kind, std::optional<std::string> help) {
    auto& field = kind == CaptureInputKind::microphone ? microphoneSettingsHelp_ : cameraSettingsHelp_;
    if (field == help) return;
    field = std::move(help);
    emit settingsHelpChanged();
}

void CaptureInputsController::setMessage(CaptureInputKind kind, std::optional<std::string> text) {
    // The help explains the message it was shown under.
    if (text != message(kind)) setSettingsHelp(kind, std::nullopt);
    if (kind == CaptureInputKind::microphone) {
        microphoneMessage_ = std::move(text);
        emit microphoneMessageChanged();
    } else {
        cameraMessage_ = std::move(text);
        emit cameraMessageChanged();
    }
}

void CaptureInputsController::setBusy(bool value) {
    if (busy_ == value) return;
    busy_ = value;
    emit busyChanged();
}

void CaptureInputsController::setLocked(bool value) {
    if (locked_ == value) return;
    locked_ = value;
    emit lockedChanged();
}

void CaptureInputsController::setPermissionRequest(std::optional<PermissionRequest> request) {
    if (permissionRequest_ == request) return;
    permissionRequest_ = std::move(request);
    emit permissionRequestChanged();
}

QCoro::Task<void> CaptureInputsController::persist() {
    try {
        settings_->persistCaptureInputs(preferences_);
    } catch (const std::exception& error) {
        log_.error(kLogCategory, std::string("input_preferences_unsaved error=") + error.what());
        setMessage(CaptureInputKind::microphone, "Unable to save input preferences");
    }
    co_return;
}

// MARK: toggling, choice, activation

QCoro::Task<void> CaptureInputsController::toggle(CaptureInputKind kind) {
    logInfo("input_toggle kind=" + kindText(kind) + " enabled=" + boolText(enabled(kind)) +
            " devices=" + std::to_string(devices(kind).size()));
    if (enabled(kind)) {
        co_await select(kind, std::nullopt);
        co_return;
    }
    auto id = selectedID(kind);
    if (!id) {
        if (devices(kind).empty()) {
            setMessage(kind, "No device connected");
            co_return;
        }
        id = devices(kind).front().id;
    }
    co_await select(kind, id);
}

QCoro::Task<void> CaptureInputsController::select(CaptureInputKind kind, std::optional<std::string> id) {
    logInfo("input_selection kind=" + kindText(kind) + " enable=" + boolText(id.has_value()) +
            " locked=" + boolText(locked_) + " busy=" + boolText(busy_));
    if (locked_ || busy_) co_return;
    setBusy(true);
    auto clearBusy = qScopeGuard([this] { setBusy(false); });
    if (!id) {
        co_await runtime_->stop(kind);
        setEnabled(kind, false);
        setMessage(kind, std::nullopt);
        co_await persist();
    } else {
        co_await activate(kind, id);
    }
}

QCoro::Task<void> CaptureInputsController::activate(CaptureInputKind kind, std::optional<std::string> id) {
    setPermissionRequest(std::nullopt);
    if (!listed(kind, id)) {
        setMessage(kind, kDisconnected);
        co_return;
    }
    auto runtime = runtime_;
    bool granted = co_await runtime->requestAccess(kind, id);
    if (!granted) {
        logInfo("input_access_denied kind=" + kindText(kind));
        co_await runtime->stop(kind);
        setEnabled(kind, false);
        setMessage(kind, kNoAccess);
        co_await persist();
        setPermissionRequest(PermissionRequest{kind, *id});
        co_return;
    }
    std::exception_ptr failure;
    try {
        co_await runtime->start(kind, *id);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        log_.error(kLogCategory, "input_start_failed kind=" + kindText(kind) + " error=" + describe(failure));
        setEnabled(kind, false);
        setMessage(kind, errorText(failure));
        co_await persist();
        co_return;
    }
    if (kind == CaptureInputKind::camera) {
        if (!runtime->isPhoneCamera()) {
            phoneAspect_.reset();
        } else {
            auto next = preferences_;
            next.camera.aspect = runtime->sourceAspect();
            phoneAspect_ = next.camera.aspect;
            setPreferences(next);
            if (selectedID(kind) != id) {
                // A different phone: its picture framing starts afresh.
                next = preferences_;
                next.camera.zoom = 1.0;
                next.camera.centreX = 0.5;
                next.camera.centreY = 0.5;
                next.camera.mirrored = false;
                setPreferences(next);
            }
        }
    }
    setSelectedID(kind, *id);
    setEnabled(kind, true);
    setMessage(kind, std::nullopt);
    logInfo("input_started kind=" + kindText(kind));
    co_await persist();
}

// MARK: recording hand-off, automation, placement

CaptureInputsController::RecordingInputs CaptureInputsController::recordingInputs() const {
    if (!locked_) throw AppError::recordingSessionNotActive();
    return {preferences_.microphoneEnabled ? preferences_.microphoneDeviceID : std::nullopt,
            preferences_.cameraEnabled};
}

void CaptureInputsController::beginRecording() {
    if (busy_) throw AppError::microphoneFailed("Input is still starting");
    refreshDevices();
    for (auto kind : kAllCaptureInputKinds) {
        if (!enabled(kind)) continue;
        const auto& id = selectedID(kind);
        bool usable = id && listed(kind, id) && runtime_->hasAccess(kind, id) && runtime_->isRunning(kind) &&
                      !message(kind);
        if (!usable) throw inputFailure(kind, message(kind).value_or("Selected input unavailable"));
    }
    if (preferences_.cameraEnabled && !cameraWindowID_) throw AppError::cameraFailed("Camera preview is not ready");
    setLocked(true);
    runtime_->setRecording(true);
}

void CaptureInputsController::endRecording() {
    setLocked(false);
    runtime_->setRecording(false);
}

void CaptureInputsController::setCameraWindowID(std::optional<std::uint32_t> id) { cameraWindowID_ = id; }

QCoro::Task<void> CaptureInputsController::configureForAutomation(std::optional<std::string> microphoneID,
                                                                  std::optional<std::string> cameraID,
                                                                  std::optional<CameraPlacement> placement) {
    if (locked_ || busy_) throw AppError::recordingSessionAlreadyActive();
    refreshDevices();
    const std::pair<CaptureInputKind, std::optional<std::string>> pairs[] = {
        {CaptureInputKind::microphone, microphoneID}, {CaptureInputKind::camera, cameraID}};
    for (const auto& [kind, id] : pairs) {
        if (!id) continue;
        if (!listed(kind, id)) throw inputFailure(kind, "Selected device is disconnected");
        if (!runtime_->hasAccess(kind, id)) throw inputFailure(kind, "Grant access to Yux in Settings first");
    }
    setBusy(true);
    auto clearBusy = qScopeGuard([this] { setBusy(false); });
    auto runtime = runtime_;
    for (const auto& [kind, id] : pairs) {
        if (!id) {
            co_await runtime->stop(kind);
            setEnabled(kind, false);
            setMessage(kind, std::nullopt);
            continue;
        }
        co_await activate(kind, id);
        if (!enabled(kind) || message(kind)) {
            throw inputFailure(kind, message(kind).value_or("Input did not start"));
        }
    }
    if (placement) {
        auto next = preferences_;
        next.camera = *placement;
        setPreferences(next);
    }
    settings_->persistCaptureInputs(preferences_);
}

QCoro::Task<void> CaptureInputsController::setRatio(CaptureRatio ratio) {
    if (locked_) co_return;
    auto next = preferences_;
    next.ratio = ratio;
    setPreferences(next);
    co_await persist();
}

void CaptureInputsController::setCameraPlacement(const CameraPlacement& placement) {
    auto next = preferences_;
    next.camera = placement;
    setPreferences(next);
}

QCoro::Task<void> CaptureInputsController::savePlacement() { co_await persist(); }

QCoro::Task<void> CaptureInputsController::finishSetup() {
    auto next = preferences_;
    next.setupCompleted = true;
    setPreferences(next);
    co_await persist();
}

}  // namespace yux

#include "session/recording_session_orchestrator.hpp"

#include <exception>
#include <utility>

#include "capture/recording_output_delegate.hpp"
#include "model/log_text.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "platform/async/errors.hpp"

namespace yux {

namespace {

// The error as an AppError; anything else becomes outputFinalizationFailed with `fallback`, or
// with the error's own sentence when no fallback is given.
AppError asAppError(const std::exception_ptr& error, const char* fallback = nullptr) {
    try {
        std::rethrow_exception(error);
    } catch (const AppError& appError) {
        return appError;
    } catch (const std::exception& other) {
        return AppError::outputFinalizationFailed(fallback != nullptr ? fallback : other.what());
    } catch (...) {
        return AppError::outputFinalizationFailed(fallback != nullptr ? fallback : "unknown error");
    }
}

// The same error with another detail; errors without a detail stay as they are.
AppError withDetail(const AppError& error, const std::string& detail) {
    using Case = AppError::Case;
    switch (error.kind()) {
        case Case::displayDiscoveryFailed: return AppError::displayDiscoveryFailed(detail);
        case Case::screenSelectionFailed: return AppError::screenSelectionFailed(detail);
        case Case::systemPlaybackAudioFailed: return AppError::systemPlaybackAudioFailed(detail);
        case Case::microphoneFailed: return AppError::microphoneFailed(detail);
        case Case::cameraFailed: return AppError::cameraFailed(detail);
        case Case::keyboardShortcutUnavailable: return AppError::keyboardShortcutUnavailable(detail);
        case Case::saveFolderUnusable: return AppError::saveFolderUnusable(detail);
        case Case::settingsLoadFailed: return AppError::settingsLoadFailed(detail);
        case Case::settingsPersistFailed: return AppError::settingsPersistFailed(detail);
        case Case::recentRecordingLoadFailed: return AppError::recentRecordingLoadFailed(detail);
        case Case::recentRecordingPersistFailed: return AppError::recentRecordingPersistFailed(detail);
        case Case::outputFinalizationFailed: return AppError::outputFinalizationFailed(detail);
        default: return error;
    }
}

// A failure that leaves the take on disk says where: the writer's own words for a kept take
// gain the place, any other cause is followed by it.
AppError namingKeptTake(const AppError& error, const std::string& path) {
    std::string detail = error.detail();
    if (detail.ends_with(RecordingOutputDelegate::kKeptEnding)) {
        detail.pop_back();
        return withDetail(error, detail + " in " + path + ".");
    }
    if (!detail.empty() && detail.back() != '.') detail += '.';
    return withDetail(error, detail + " What was recorded up to then is kept in " + path + ".");
}

template <class T>
struct Attempt {
    std::optional<T> value;
    std::exception_ptr error;
};

// Runs a step and hands back what it threw, so the caller can await its clean-up afterwards
// (no await may sit in a catch block).
template <class T>
QCoro::Task<Attempt<T>> attempt(QCoro::Task<T> step) {
    Attempt<T> result;
    try {
        result.value.emplace(co_await std::move(step));
    } catch (...) {
        result.error = std::current_exception();
    }
    co_return result;
}

QCoro::Task<RecordingSessionOrchestrator::Failure> attempt(QCoro::Task<void> step) {
    RecordingSessionOrchestrator::Failure failure;
    try {
        co_await std::move(step);
    } catch (...) {
        failure.error = std::current_exception();
    }
    co_return failure;
}

}  // namespace

RecordingSessionOrchestrator::RecordingSessionOrchestrator(Collaborators collaborators)
    : c_(std::move(collaborators)) {}

QCoro::Task<void> RecordingSessionOrchestrator::log(std::string line) {
    co_await c_.debugLog->append(std::move(line));
}

QCoro::Task<void> RecordingSessionOrchestrator::keepTake(std::string scratchPath, Date createdAt) {
    if (c_.pendingRecordings) co_await c_.pendingRecordings->keep(std::move(scratchPath), createdAt);
}

QCoro::Task<void> RecordingSessionOrchestrator::releaseTake(std::string scratchPath) {
    if (c_.pendingRecordings) co_await c_.pendingRecordings->release(std::move(scratchPath));
}

QCoro::Task<bool> RecordingSessionOrchestrator::takeRemains(std::string scratchPath) {
    if (co_await c_.scratchStorage->scratchFileExists(scratchPath)) co_return true;
    // No movie, nothing to offer at the next start (a capture without a single picture removes its own).
    co_await releaseTake(std::move(scratchPath));
    co_return false;
}

RecordingSessionState RecordingSessionOrchestrator::state() const {
    if ((sessionState_.isSelecting() || sessionState_.recordingInfo() != nullptr) && endRequest_) {
        return RecordingSessionState::stopping();
    }
    return sessionState_;
}

bool RecordingSessionOrchestrator::canStart() const {
    return !capture_ && !pendingExport_ && !startupTask_ &&
           (sessionState_.isIdle() || sessionState_.failure() != nullptr);
}

bool RecordingSessionOrchestrator::contains(const SelectedCaptureArea& selection,
                                            const std::vector<DisplayBounds>& displays) {
    for (const auto& display : displays) {
        if (display.displayID != selection.displayID) continue;
        const auto& rect = selection.rect;
        return rect.width > 0 && rect.height > 0 && display.x <= rect.x && display.y <= rect.y &&
               rect.x + rect.width <= display.x + display.width && rect.y + rect.height <= display.y + display.height;
    }
    return false;
}

// ---- start side ----

QCoro::Task<void> RecordingSessionOrchestrator::start() {
    co_await log("session_start_requested state=" + sessionState_.diagnosticText());
    if (sessionState_.recordingInfo() != nullptr) {
        co_await announce(co_await finalizeCapture());
        co_return;
    }
    if (sessionState_.isSelecting()) {
        co_await cancel();
        co_return;
    }
    if (!co_await releaseFailedCapture()) co_return;
    if (!canStart()) co_return;
    const QUuid requestID = QUuid::createUuid();
    beginStartup(requestID);
    co_await runStartup(selectAndStart(requestID));
}

QCoro::Task<std::optional<ActiveSessionInfo>> RecordingSessionOrchestrator::startAutomation(CaptureTarget target,
                                                                                           Prepare prepare) {
    // A failed capture that cannot be released keeps the session busy, and says so.
    co_await releaseFailedCapture();
    if (!canStart()) {
        co_await log("session_automation_rejected_busy state=" + sessionState_.diagnosticText());
        co_return std::nullopt;
    }
    const QUuid requestID = QUuid::createUuid();
    beginStartup(requestID);
    co_await runStartup(prepareAutomation(std::move(target), requestID, std::move(prepare)));
    if (const auto* info = sessionState_.recordingInfo()) co_return *info;
    co_return std::nullopt;
}

void RecordingSessionOrchestrator::beginStartup(QUuid requestID) {
    setState(RecordingSessionState::selecting());
    endRequest_.reset();
    selectionRequestID_ = requestID;
}

QCoro::Task<void> RecordingSessionOrchestrator::runStartup(QCoro::Task<void> startup) {
    platform::SharedTask<void> task(std::move(startup));
    // A start-up that ended without waiting has already cleared its fields.
    if (!task.isDone()) startupTask_ = task;
    co_await task.get();
}

void RecordingSessionOrchestrator::endStartup() {
    startupTask_.reset();
    selectionRequestID_.reset();
}

QCoro::Task<bool> RecordingSessionOrchestrator::selectionIsCurrent(QUuid requestID) {
    if (selectionRequestID_ != requestID) co_return false;
    if (endRequest_ == EndRequest::cancel) {
        co_await finishSelectionCancellation();
        co_return false;
    }
    co_return true;
}

QCoro::Task<void> RecordingSessionOrchestrator::finishSelectionCancellation() {
    setState(RecordingSessionState::stopping());
    co_await c_.screenSelection->hideOverlay();
    setState(RecordingSessionState::idle());
    co_await log("session_selection_cancelled");
}

QCoro::Task<void> RecordingSessionOrchestrator::selectAndStart(QUuid requestID) {
    if (auto failure = co_await selectAndRecord(requestID)) co_await failStart(failure.error);
    endStartup();
}

QCoro::Task<RecordingSessionOrchestrator::Failure> RecordingSessionOrchestrator::selectAndRecord(QUuid requestID) {
    const Failure stale;
    auto displays = co_await attempt(c_.displayBoundary->availableDisplays());
    if (displays.error) co_return Failure{displays.error};
    if (!co_await selectionIsCurrent(requestID)) co_return stale;
    auto stored = co_await attempt(c_.settings->loadCapturePreference());
    if (stored.error) co_return Failure{stored.error};
    if (!co_await selectionIsCurrent(requestID)) co_return stale;
    // Not used, but a selection is shown only over settings that load.
    auto settings = co_await attempt(c_.settings->loadSettings());
    if (settings.error) co_return Failure{settings.error};
    if (!co_await selectionIsCurrent(requestID)) co_return stale;

    CapturePreference initial;
    initial.mode = stored.value->mode;
    const auto& lastArea = stored.value->lastArea;
    if (lastArea && contains(*lastArea, *displays.value)) initial.lastArea = lastArea;
    const auto outcome = co_await c_.screenSelection->startSelection(initial, *displays.value);
    if (selectionRequestID_ != requestID) co_return stale;
    if (const auto* failed = std::get_if<ScreenSelectionOutcome::Failed>(&outcome.value)) {
        co_return Failure{std::make_exception_ptr(failed->error)};
    }
    if (const auto* cancelled = std::get_if<ScreenSelectionOutcome::Cancelled>(&outcome.value)) {
        if (auto failure = co_await attempt(c_.settings->persistCapturePreference(cancelled->preference))) {
            co_return failure;
        }
        co_await finishSelectionCancellation();
        co_return stale;
    }
    const auto& confirmed = std::get<ScreenSelectionOutcome::Confirmed>(outcome.value).selection;
    if (!co_await selectionIsCurrent(requestID)) co_return stale;
    if (auto failure = co_await attempt(c_.settings->persistCapturePreference(confirmed.updatedPreference))) {
        co_return failure;
    }
    if (!co_await selectionIsCurrent(requestID)) co_return stale;
    co_await startRecording(confirmed.target);
    co_return stale;
}

QCoro::Task<void> RecordingSessionOrchestrator::prepareAutomation(CaptureTarget target, QUuid requestID,
                                                                  Prepare prepare) {
    if (auto failure = co_await prepareAndRecord(std::move(target), requestID, std::move(prepare))) {
        co_await failStart(failure.error);
    }
    endStartup();
}

QCoro::Task<RecordingSessionOrchestrator::Failure> RecordingSessionOrchestrator::prepareAndRecord(CaptureTarget target, QUuid requestID,
                                                                               Prepare prepare) {
    const Failure stale;
    auto settings = co_await attempt(c_.settings->loadSettings());
    if (settings.error) co_return Failure{settings.error};
    if (!co_await selectionIsCurrent(requestID)) co_return stale;
    // Only an area is compared with the displays.
    if (const auto* area = target.asArea()) {
        auto displays = co_await attempt(c_.displayBoundary->availableDisplays());
        if (displays.error) co_return Failure{displays.error};
        if (!co_await selectionIsCurrent(requestID)) co_return stale;
        if (!contains(*area, *displays.value)) {
            co_return Failure{std::make_exception_ptr(
                AppError::screenSelectionFailed("Capture area must be inside an available display"))};
        }
    }
    if (prepare) {
        if (auto failure = co_await attempt(prepare())) co_return failure;
    }
    if (!co_await selectionIsCurrent(requestID)) co_return stale;
    co_await startRecording(std::move(target));
    co_return stale;
}

QCoro::Task<void> RecordingSessionOrchestrator::startRecording(CaptureTarget target) {
    if (auto failure = co_await attempt(c_.videoCapture->ensureAccess())) co_return co_await failStart(failure.error);
    if (endRequest_ == EndRequest::cancel) co_return co_await finishSelectionCancellation();

    const QUuid sessionID = QUuid::createUuid();
    auto reservation = co_await attempt(c_.scratchStorage->reserveScratchDestination(sessionID));
    if (reservation.error) co_return co_await failStart(reservation.error);
    const std::string path = reservation.value->filePath;

    const ActiveSessionInfo info{sessionID, path};
    capture_ = CaptureResources{info};
    // Noted before anything is recorded: a take cut by a crash or a kill is offered at the next
    // start like any kept take. The discard paths remove the note with the movie.
    co_await keepTake(path, c_.clock->now());
    if (c_.captureInputs) {
        try {
            c_.captureInputs->beginRecording();
        } catch (...) {
            reservation.error = std::current_exception();
        }
        if (reservation.error) co_return co_await failStart(reservation.error);
    }
    setState(RecordingSessionState::recording(info));
    startOverlayControlLoop();
    co_await c_.screenSelection->showRecordingControls();
    if (endRequest_ == EndRequest::cancel) co_return co_await discardCapture();

    if (capture_) capture_->video = true;
    c_.videoCapture->setFailureHandler(
        [session = weak_from_this()](QUuid failed) { stopAfterCaptureFailure(session, failed); });
    if (auto failure = co_await attempt(c_.videoCapture->startCapture(sessionID, std::move(target), path))) {
        co_return co_await failStart(failure.error);
    }
    if (endRequest_ == EndRequest::cancel) co_return co_await discardCapture();

    co_await log("session_recording_started session_id=" + canonicalText(sessionID) +
                 " capture_quality=full_fidelity");
    if (endRequest_ == EndRequest::cancel) co_await discardCapture();
}

QCoro::Task<void> RecordingSessionOrchestrator::failStart(std::exception_ptr error) {
    setState(RecordingSessionState::stopping());
    const auto cleanup = co_await releaseCapture();
    co_await c_.screenSelection->hideOverlay();
    if (auto loop = takeOverlayControlLoop()) loop->cancel();
    if (endRequest_ == EndRequest::cancel) {
        setState(cleanup ? RecordingSessionState::failed(*cleanup) : RecordingSessionState::idle());
    } else {
        setState(RecordingSessionState::failed(cleanup ? *cleanup : asAppError(error)));
    }
    co_await log("session_start_failed state=" + sessionState_.diagnosticText());
}

// ---- stop side ----

QCoro::Task<void> RecordingSessionOrchestrator::announce(std::optional<PendingRecordingArtifact> artifact) {
    if (artifact) co_await c_.pendingTrimEventHandler->handlePendingTrim(std::move(*artifact));
}

QCoro::Task<void> RecordingSessionOrchestrator::stop() {
    co_await announce(co_await finalizeCapture());
}

QCoro::Task<std::optional<PendingRecordingArtifact>> RecordingSessionOrchestrator::stopForAutomation(QUuid sessionID) {
    const auto* info = sessionState_.recordingInfo();
    if (info == nullptr || info->sessionID != sessionID) co_return std::nullopt;
    co_return co_await finalizeCapture();
}

QCoro::Task<std::optional<PendingRecordingArtifact>> RecordingSessionOrchestrator::finalizeCapture() {
    if (sessionState_.isSelecting()) {
        co_await cancel();
        co_return std::nullopt;
    }
    if (startupTask_) {
        if (endRequest_ != EndRequest::cancel) endRequest_ = EndRequest::stop;
        auto startup = *startupTask_;
        co_await startup.get();
    }
    if (endRequest_ == EndRequest::cancel) co_return std::nullopt;
    if (sessionState_.recordingInfo() == nullptr || !capture_) co_return std::nullopt;

    setState(RecordingSessionState::stopping());
    auto loop = takeOverlayControlLoop();
    const ActiveSessionInfo info = capture_->info;
    co_await c_.screenSelection->showStoppingControls();

    std::optional<AppError> failure = co_await stopCaptureResources();
    std::shared_ptr<RecordingExportSession> opened;
    if (!failure) {
        auto opening = co_await attempt(c_.exports->open(info.scratchFilePath, c_.clock->now()));
        if (opening.error) failure = asAppError(opening.error, "stop failed");
        if (opening.value) opened = *opening.value;
    }
    if (failure) {
        const bool kept = co_await takeRemains(info.scratchFilePath);
        if (capture_) capture_->keep = kept;
        // Offered at the next start like any pending take, whatever happens to this process.
        if (kept) co_await keepTake(info.scratchFilePath, c_.clock->now());
        co_await c_.screenSelection->hideOverlay();
        // A take that stays on disk (a writer that failed keeps what it wrote) is named.
        setState(RecordingSessionState::failed(kept ? namingKeptTake(*failure, info.scratchFilePath) : *failure));
        co_await log("session_stop_failed state=" + sessionState_.diagnosticText());
        if (loop) loop->cancel();
        co_return std::nullopt;
    }
    pendingExport_ = opened;
    capture_.reset();
    co_await c_.screenSelection->hideOverlay();
    const PendingRecordingArtifact artifact = opened->artifact();
    setState(RecordingSessionState::pendingTrim(artifact));
    co_await log("session_pending_trim_ready session_id=" + canonicalText(info.sessionID) +
                 " scratch=" + artifact.scratchPath());
    co_await keepTake(artifact.scratchPath(), artifact.createdAt());
    if (loop) loop->cancel();
    co_return artifact;
}

QCoro::Task<std::optional<AppError>> RecordingSessionOrchestrator::stopCaptureResources() {
    if (!capture_) co_return std::nullopt;
    std::optional<AppError> failure;
    if (capture_->video) {
        const QUuid sessionID = capture_->info.sessionID;
        if (auto stopped = co_await attempt(c_.videoCapture->stopCapture(sessionID))) {
            failure = asAppError(stopped.error, "video stop failed");
            co_await log("session_cleanup_failed session_id=" + canonicalText(sessionID) +
                         " error=" + appErrorText(*failure));
        }
    }
    if (capture_ && !failure) capture_->video = false;
    // The inputs are free (and the phone told it no longer records) even when the capture would
    // not stop: the failed stop keeps the take, not the devices.
    if (capture_ && capture_->inputsLocked) {
        capture_->inputsLocked = false;
        if (c_.captureInputs) c_.captureInputs->endRecording();
    }
    co_return failure;
}

QCoro::Task<std::optional<AppError>> RecordingSessionOrchestrator::releaseCapture() {
    auto failure = co_await stopCaptureResources();
    if (!capture_ || failure) co_return failure;
    const std::string path = capture_->info.scratchFilePath;
    if (auto deleted = co_await attempt(c_.scratchStorage->deleteScratchFile(path))) {
        co_return asAppError(deleted.error, "scratch delete failed");
    }
    capture_.reset();
    co_await releaseTake(path);
    co_return std::nullopt;
}

QCoro::Task<bool> RecordingSessionOrchestrator::releaseFailedCapture() {
    // Only what a failed stop or a failed start's clean-up left behind.
    if (!capture_ || startupTask_ || sessionState_.failure() == nullptr) co_return true;
    std::optional<AppError> failure;
    const CaptureResources held = *capture_;
    if (held.keep) {
        // Ask the engine again (a session it no longer holds stops at once) and end the inputs;
        // the take itself stays where the failed state says.
        capture_->video = true;
        failure = co_await stopCaptureResources();
        if (!failure && capture_ && capture_->info == held.info) {
            capture_.reset();
            co_await log("session_failed_capture_released session_id=" + canonicalText(held.info.sessionID) +
                         " kept=" + held.info.scratchFilePath);
        }
        // Failing again, it still says where the take is, while there is one.
        if (failure && co_await takeRemains(held.info.scratchFilePath)) {
            failure = namingKeptTake(*failure, held.info.scratchFilePath);
        }
    } else {
        failure = co_await releaseCapture();
    }
    if (failure) setState(RecordingSessionState::failed(*failure));
    co_return !capture_;
}

QCoro::Task<void> RecordingSessionOrchestrator::discardCapture() {
    if (!capture_) co_return;
    setState(RecordingSessionState::stopping());
    auto loop = takeOverlayControlLoop();
    const auto failure = co_await releaseCapture();
    co_await c_.screenSelection->hideOverlay();
    if (loop) loop->cancel();
    setState(failure ? RecordingSessionState::failed(*failure) : RecordingSessionState::idle());
    co_await log("session_capture_cancelled state=" + sessionState_.diagnosticText());
}

QCoro::Task<void> RecordingSessionOrchestrator::cancel() {
    if (!sessionState_.isSelecting() && sessionState_.recordingInfo() == nullptr) co_return;
    endRequest_ = EndRequest::cancel;
    if (!startupTask_) setState(RecordingSessionState::stopping());
    co_await log("session_cancel_requested state=" + sessionState_.diagnosticText());
    if (sessionState_.isSelecting()) co_await c_.screenSelection->cancelSelection();
    if (startupTask_) {
        auto startup = *startupTask_;
        co_await startup.get();
    } else {
        co_await discardCapture();
    }
}

// ---- tray ----

void RecordingSessionOrchestrator::startOverlayControlLoop() {
    platform::CancelToken token;
    overlayControlTask_ = token;
    // Runs detached: QCoro keeps the frame until the loop ends.
    overlayControlLoop(weak_from_this(), c_.screenSelection, token);
}

std::optional<platform::CancelToken> RecordingSessionOrchestrator::takeOverlayControlLoop() {
    auto loop = std::move(overlayControlTask_);
    overlayControlTask_.reset();
    return loop;
}

QCoro::Task<void> RecordingSessionOrchestrator::overlayControlLoop(std::weak_ptr<RecordingSessionOrchestrator> session,
                                                                   std::shared_ptr<ScreenSelectionBoundary> screenSelection,
                                                                   platform::CancelToken token) {
    while (!token.isCancelled()) {
        const auto action = co_await screenSelection->nextRecordingOverlayAction();
        if (action == RecordingOverlayAction::closed || token.isCancelled()) co_return;
        if (session.expired()) co_return;
        stopFromTray(session);
    }
}

QCoro::Task<void> RecordingSessionOrchestrator::stopFromTray(std::weak_ptr<RecordingSessionOrchestrator> session) {
    auto self = session.lock();
    if (!self) co_return;
    co_await self->stop();
}

QCoro::Task<void> RecordingSessionOrchestrator::stopAfterCaptureFailure(std::weak_ptr<RecordingSessionOrchestrator> session,
                                                                        QUuid sessionID) {
    auto self = session.lock();
    if (!self) co_return;
    // A failure during the start fails the start; one just after it is seen once the start has ended.
    if (self->startupTask_) {
        auto startup = *self->startupTask_;
        co_await startup.get();
    }
    const auto* recording = self->sessionState_.recordingInfo();
    if (recording == nullptr || recording->sessionID != sessionID || self->endRequest_) co_return;
    co_await self->log("session_capture_failed session_id=" + canonicalText(sessionID));
    // The take ends now, as a stop that failed: kept, offered again, and the failure shown.
    co_await self->stop();
}

// ---- pending trim ----

QCoro::Task<RecordingExportResult> RecordingSessionOrchestrator::publishPendingTrim(TrimSelection selection,
                                                                                    RecordingPreset profile,
                                                                                    ProgressHandler progress,
                                                                                    platform::CancelToken cancel) {
    auto exportSession = pendingExport_;
    if (sessionState_.pendingArtifact() == nullptr || !exportSession) {
        throw AppError::outputFinalizationFailed("pending recording unavailable");
    }
    // A second save while one runs is refused; nothing has failed.
    if (exportSession->isExporting()) throw AppError::outputFinalizationFailed("An export is already running");
    std::exception_ptr failure;
    std::optional<RecordingExportResult> result;
    try {
        result = co_await exportSession->saveTrimPreview(std::move(selection), std::move(profile), std::move(progress),
                                                         std::move(cancel));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) co_return *result;
    try {
        std::rethrow_exception(failure);
    } catch (const platform::CancelledError&) {
        throw;
    } catch (...) {
        const AppError error = asAppError(failure, "publish failed");
        setState(RecordingSessionState::failed(error));
        throw error;
    }
}

QCoro::Task<TrimPreviewOutcome> RecordingSessionOrchestrator::presentPendingTrim(TrimPreviewBoundary* trimPreview,
                                                                                TrimPreviewSaveHandling* saveHandler) {
    auto exportSession = pendingExport_;
    if (!exportSession) {
        co_return TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("pending recording unavailable"));
    }
    auto outcome = co_await exportSession->presentPreview(trimPreview, saveHandler);
    if (const auto* failed = std::get_if<TrimPreviewOutcome::Failed>(&outcome.value)) {
        setState(RecordingSessionState::failed(failed->error));
    } else if (pendingExport_ == exportSession) {
        pendingExport_.reset();
        setState(RecordingSessionState::idle());
        co_await releaseTake(exportSession->artifact().scratchPath());
    }
    co_return outcome;
}

QCoro::Task<void> RecordingSessionOrchestrator::finishPendingTrim() {
    co_await discardRecording();
}

QCoro::Task<void> RecordingSessionOrchestrator::reopenPendingTrimIfRecoverable() {
    if (sessionState_.failure() == nullptr || !pendingExport_) co_return;
    const auto artifact = pendingExport_->artifact();
    setState(RecordingSessionState::pendingTrim(artifact));
    co_await log("session_pending_trim_reopened scratch=" + artifact.scratchPath());
}

QCoro::Task<bool> RecordingSessionOrchestrator::adoptPendingRecording(std::string scratchPath, Date createdAt) {
    if (!canStart()) co_return false;
    auto opened = co_await c_.exports->open(scratchPath, createdAt);
    // Something may have started while the export opened: the later start wins, the take stays on disk.
    if (!canStart()) co_return false;
    pendingExport_ = opened;
    const PendingRecordingArtifact artifact = opened->artifact();
    setState(RecordingSessionState::pendingTrim(artifact));
    co_await log("session_pending_trim_adopted scratch=" + artifact.scratchPath());
    co_await keepTake(artifact.scratchPath(), artifact.createdAt());
    co_return true;
}

QCoro::Task<bool> RecordingSessionOrchestrator::keepPendingRecording(std::string scratchPath) {
    auto exportSession = pendingExport_;
    if (!exportSession || exportSession->artifact().scratchPath() != scratchPath) co_return false;
    if (exportSession->isExporting()) {
        co_await log("session_pending_keep_refused scratch=" + scratchPath + " reason=export_running");
        co_return false;
    }
    // Dropped without finish(): the movie stays on disk.
    pendingExport_.reset();
    setState(RecordingSessionState::idle());
    // Written again in case the earlier note failed.
    co_await keepTake(scratchPath, exportSession->artifact().createdAt());
    co_await log("session_pending_kept scratch=" + scratchPath);
    co_return true;
}

QCoro::Task<void> RecordingSessionOrchestrator::discardRecording() {
    if (!co_await releaseFailedCapture()) co_return;
    auto exportSession = pendingExport_;
    if (!exportSession) co_return;
    const std::string path = exportSession->artifact().scratchPath();
    if (exportSession->isExporting()) {
        // Refused like a second save: the running export goes on and nothing has failed.
        co_await log("session_trim_discard_refused scratch=" + path + " reason=export_running");
        co_return;
    }
    const auto failure = (co_await attempt(exportSession->finish())).error;
    if (!failure) {
        if (pendingExport_ == exportSession) pendingExport_.reset();
        setState(RecordingSessionState::idle());
        co_await log("session_trim_discarded scratch=" + path);
        co_await releaseTake(path);
        co_return;
    }
    std::string errorText = "outputFinalizationFailed(discard failed)";
    AppError error = asAppError(failure, "discard failed");
    try {
        std::rethrow_exception(failure);
    } catch (const AppError&) {
        errorText = appErrorText(error);
    } catch (...) {
    }
    setState(RecordingSessionState::failed(error));
    co_await log("session_trim_discard_failed scratch=" + path + " error=" + errorText);
}

QCoro::Task<void> RecordingSessionOrchestrator::failPendingTrim(std::string message) {
    if (sessionState_.pendingArtifact() == nullptr) co_return;
    setState(RecordingSessionState::failed(AppError::outputFinalizationFailed(message)));
    co_await log("session_trim_failed message=" + message);
}

}  // namespace yux

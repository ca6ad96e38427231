#include "automation/recording_job.hpp"

#include <QCoreApplication>
#include <QMetaObject>

#include "model/app_error.hpp"
#include "model/log_text.hpp"
#include "platform/async/errors.hpp"

namespace yux::automation {

namespace {
using Phase = RecordingAutomationResponse::Phase;

// An answer's error that also says where the take is kept.
std::string sayingWhereKept(std::string error, const std::string& path) {
    if (!error.ends_with('.')) error += '.';
    return error + " The recording is kept in " + path + ".";
}
}  // namespace

std::string microphoneKind(const std::optional<std::string>& microphoneID) {
    if (!microphoneID) return "off";
    return microphoneID->rfind("yux-usb:", 0) == 0 ? "usb" : "native";
}

RecordingJob::RecordingJob(RecordingAutomation& runner, std::shared_ptr<AutomationSessionBoundary> session,
                           std::shared_ptr<RecordingJobServices> services, std::shared_ptr<DebugLogBoundary> debugLog,
                           RecordingAutomation::Sleep sleep, Now now)
    : runner_(runner), session_(std::move(session)), services_(std::move(services)), debugLog_(std::move(debugLog)),
      sleep_(std::move(sleep)), now_(std::move(now)) {}

RecordingAutomation::RecordJob RecordingJob::asRecordJob() {
    return [this](RecordingAutomationRequest command, platform::CancelToken token) {
        return record(std::move(command), std::move(token));
    };
}

QCoro::Task<void> RecordingJob::log(std::string line) {
    if (debugLog_) co_await debugLog_->append(std::move(line));
}

void RecordingJob::hideOverlay() {
    if (!ownsCameraOverlay_) return;
    services_->hideCameraOverlay();
    ownsCameraOverlay_ = false;
}

QCoro::Task<RecordingAutomationResponse> RecordingJob::record(RecordingAutomationRequest command,
                                                              platform::CancelToken token) {
    sessionAdmitted_ = false;
    ownsCameraOverlay_ = false;
    stopIssued_ = false;
    started_.reset();
    RecordingAutomationResponse final;
    final.id = command.id;
    std::exception_ptr failure;
    try {
        // Named first: g++ 12 destroys the temporaries of an awaited call twice.
        auto steps = runSteps(command, token);
        final = co_await std::move(steps);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        bool cancelled = token.isCancelled();
        try {
            std::rethrow_exception(failure);
        } catch (const platform::CancelledError&) {
            cancelled = true;
        } catch (...) {
        }
        // A quit while the job records stops the take to keep it: the job is cancelled, whichever
        // it noticed first (the session stopping, the take pending, or its own cancellation).
        const bool quit = started_ && !stopIssued_ && quitting_ && quitting_();
        if (quit) cancelled = true;
        std::optional<std::string> kept;
        if (sessionAdmitted_) {
            // Only the client's own cancel, or a start that never recorded, throws the take away.
            if (runner_.cancelRequested() || !started_) {
                if (holdsOwnTake(session_->state())) {
                    co_await session_->cancel();
                    co_await session_->discardRecording();
                }
            } else {
                // Named first: g++ 12 destroys the temporaries of an awaited call twice.
                auto keeping = keepOwnTake(cancelled, quit);
                kept = co_await std::move(keeping);
            }
        }
        final = RecordingAutomationResponse{};
        final.id = command.id;
        final.phase = cancelled ? Phase::cancelled : Phase::failed;
        final.error = cancelled ? std::string("Recording cancelled") : logErrorText(failure);
        std::string line = "automation_recording_failed id=" + command.id.text + " error=" + logErrorText(failure);
        if (kept) {
            final.error = sayingWhereKept(*final.error, *kept);
            line += " kept=" + *kept;
        }
        co_await log(std::move(line));
    }
    hideOverlay();
    sessionAdmitted_ = false;
    co_return final;
}

bool RecordingJob::holdsOwnTake(const RecordingSessionState& state) const {
    // Before the start returned, nothing could run in between: what the session holds is the job's.
    if (!started_) return true;
    if (const auto* recording = state.recordingInfo()) return recording->sessionID == started_->sessionID;
    // A stop from the tray or panel made the take the user's (it is in the trim window or on its
    // way there); the job lets go of it untouched.
    if (const auto* artifact = state.pendingArtifact())
        return stopIssued_ && artifact->scratchPath() == started_->scratchFilePath;
    if (state.isStopping()) return stopIssued_;
    // What a failed capture left is released; a selection or an idle session is someone else's.
    return state.failure() != nullptr;
}

QCoro::Task<std::optional<std::string>> RecordingJob::keepOwnTake(bool cancelled, bool quit) {
    const std::string path = started_->scratchFilePath;
    const RecordingSessionState state = session_->state();
    if (const auto* recording = state.recordingInfo()) {
        if (recording->sessionID != started_->sessionID) co_return std::nullopt;
        // Still recording (a quit or the runner's end came first): stopped into a take to keep.
        stopIssued_ = true;
        auto stopping = session_->stopForAutomation(started_->sessionID);
        const bool stopped = (co_await std::move(stopping)).has_value();
        // A stop that fails keeps its take in the session's failed state, if it has one.
        if (!stopped) {
            // Named first: g++ 12 destroys the temporaries of an awaited call twice.
            auto looking = keptIfThere(path);
            co_return co_await std::move(looking);
        }
        auto keeping = session_->keepPendingRecording(path);
        co_await std::move(keeping);
        co_return path;
    }
    if (const auto* artifact = state.pendingArtifact()) {
        if (artifact->scratchPath() != path) co_return std::nullopt;
        if (stopIssued_) {
            auto keeping = session_->keepPendingRecording(path);
            co_await std::move(keeping);
            co_return path;
        }
        // Stopped by someone else: the user's trim window has it, or the quit kept it.
        if (cancelled) co_return path;
        co_return std::nullopt;
    }
    // The quit's stop is under way, or failed and so kept the take itself; the quit notes a
    // pending take for the next start. Told only once that stop has ended (the quit path's
    // deadline bounds the wait), and only while the movie is there.
    if (quit && (state.isStopping() || state.failure() != nullptr)) {
        while (session_->state().isStopping()) {
            // Not the job's token: a quit cancels it, and this wait is the quit's.
            auto pause = sleep_(kPollInterval, platform::CancelToken{});
            co_await std::move(pause);
        }
        auto looking = keptIfThere(path);
        co_return co_await std::move(looking);
    }
    // After the job's own stop: a failed export still holds the take pending, a stop that failed
    // keeps the take itself.
    if (state.failure() != nullptr && stopIssued_) {
        auto keeping = session_->keepPendingRecording(path);
        if (co_await std::move(keeping)) co_return path;
        auto looking = keptIfThere(path);
        co_return co_await std::move(looking);
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<std::string>> RecordingJob::keptIfThere(std::string path) {
    auto looking = services_->movieExists(path);
    if (co_await std::move(looking)) co_return path;
    co_return std::nullopt;
}

QCoro::Task<RecordingAutomationResponse> RecordingJob::runSteps(const RecordingAutomationRequest& command,
                                                                platform::CancelToken token) {
    runner_.phase(Phase::configuring);
    const std::vector<DisplayBounds> displays = co_await services_->availableDisplays();
    if (displays.empty()) throw AppError::displayDiscoveryFailed("No attached displays");
    const CaptureTarget target = command.captureTarget(displays.front().displayID, displays);

    // Named first: g++ 12 destroys the temporaries of an awaited call twice, and this one holds
    // a copy of the job's token.
    std::function<QCoro::Task<void>()> prepare = [this, &command, &target, &displays, token]() {
        return prepareInputs(command, target, displays, token);
    };
    auto starting = session_->startAutomation(target, std::move(prepare));
    auto info = co_await std::move(starting);
    if (!info) {
        throw AppError::outputFinalizationFailed("Capture start failed: " + session_->state().diagnosticText());
    }
    started_ = *info;
    runner_.phase(Phase::recording);

    const auto deadline = now_() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       std::chrono::duration<double>(command.durationSeconds.value_or(0)));
    while (now_() < deadline && !runner_.stopRequested()) {
        auto pause = sleep_(kPollInterval, token);
        co_await std::move(pause);
        // Another recording than the job's own means the job's capture ended in between.
        const RecordingSessionState state = session_->state();
        const auto* recording = state.recordingInfo();
        if (!recording || recording->sessionID != info->sessionID) throw AppError::recordingSessionNotActive();
    }
    token.throwIfCancelled();

    runner_.phase(Phase::stopping);
    stopIssued_ = true;
    auto artifact = co_await session_->stopForAutomation(info->sessionID);
    if (!artifact) {
        throw AppError::outputFinalizationFailed("Capture stop failed: " + session_->state().diagnosticText());
    }
    hideOverlay();
    token.throwIfCancelled();

    const RecordingAutomationExport options = command.exportOptions.value_or(RecordingAutomationExport{});
    const auto preset = artifact->exportPresetCatalog().preset(artifact->defaultExportPresetID());
    if (!preset) throw AppError::outputFinalizationFailed("Default export preset unavailable");
    const RecordingPreset profile = options.profile(*preset);
    const RecordedTracks tracks = co_await services_->loadTracks(artifact->scratchPath());
    const Size frame = automationFrameSize(tracks.screenNaturalSize, tracks.screenTransform, profile.resolutionScale);
    TrimSelection selection = options.selection(artifact->durationSeconds(), frame, tracks.kinds);

    runner_.phase(Phase::exporting);
    QPointer<QObject> context = progressContext_.get();
    RecordingAutomation* runner = &runner_;
    const AutomationID id = command.id;
    auto progress = [context, runner, id](const RecordingExportProgress& report) {
        if (!context) return;
        const double fraction = report.fraction;
        QMetaObject::invokeMethod(
            context.data(), [runner, id, fraction] { runner->progress(fraction, id); }, Qt::QueuedConnection);
    };
    auto publishing = session_->publishPendingTrim(selection, profile, progress, token);
    const RecordingExportResult result = co_await std::move(publishing);
    co_await session_->discardRecording();

    RecordingAutomationResponse final;
    final.id = command.id;
    final.phase = Phase::completed;
    final.outputPath = result.file.path;
    co_await log("automation_recording_completed id=" + command.id.text + " output=" + result.file.path +
                 " bytes=" + std::to_string(result.byteSize));
    co_return final;
}

QCoro::Task<void> RecordingJob::prepareInputs(const RecordingAutomationRequest& command, const CaptureTarget& target,
                                              const std::vector<DisplayBounds>& displays, platform::CancelToken token) {
    sessionAdmitted_ = true;
    token.throwIfCancelled();
    co_await services_->startInputs();
    // A cancel while the devices load chooses none.
    token.throwIfCancelled();
    co_await services_->configureInputs(command.microphoneID, command.cameraID, command.cameraPlacement);
    co_await log("automation_inputs_selected id=" + command.id.text + " microphone=" + microphoneKind(command.microphoneID) +
                 " camera=" + (command.cameraID ? "true" : "false"));
    token.throwIfCancelled();
    const std::string placed = co_await services_->showCameraOverlay(target, displays);
    ownsCameraOverlay_ = true;
    co_await log("automation_camera_prepared id=" + command.id.text + " " + placed);
}

}  // namespace yux::automation

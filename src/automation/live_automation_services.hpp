#pragma once

// The runner's and the job's collaborators over the program's live services.

#include <memory>

#include "automation/recording_automation.hpp"
#include "automation/recording_job.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "capture/screen_recording_permission.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/desktop_application_catalog.hpp"
#include "session/display_boundary.hpp"
#include "session/recording_session_orchestrator.hpp"

namespace yux::automation {

struct LiveAutomationServices {
    // Absent when the program has no recording session.
    std::shared_ptr<RecordingSessionOrchestrator> session;
    std::shared_ptr<DisplayBoundary> displays;
    std::shared_ptr<DesktopApplicationCatalog> applications;
    std::shared_ptr<ScreenRecordingPermissionBoundary> screenPermission;
    std::shared_ptr<CaptureInputsController> inputs;
    std::shared_ptr<CameraOverlayPresenter> cameraOverlay;
};

class LiveAutomationEnvironment : public AutomationEnvironment {
public:
    explicit LiveAutomationEnvironment(LiveAutomationServices services) : services_(std::move(services)) {}
    std::optional<RecordingSessionState> sessionState() const override;
    QCoro::Task<RecordingAutomationDiscovery> discover() override;

private:
    LiveAutomationServices services_;
};

class OrchestratorAutomationSession : public AutomationSessionBoundary {
public:
    explicit OrchestratorAutomationSession(std::shared_ptr<RecordingSessionOrchestrator> session)
        : session_(std::move(session)) {}
    RecordingSessionState state() const override { return session_->state(); }
    QCoro::Task<std::optional<ActiveSessionInfo>> startAutomation(CaptureTarget target, Prepare prepare) override {
        return session_->startAutomation(std::move(target), std::move(prepare));
    }
    QCoro::Task<std::optional<PendingRecordingArtifact>> stopForAutomation(QUuid sessionID) override {
        return session_->stopForAutomation(sessionID);
    }
    QCoro::Task<RecordingExportResult> publishPendingTrim(TrimSelection selection, RecordingPreset profile,
                                                          ProgressHandler progress,
                                                          platform::CancelToken cancel) override {
        return session_->publishPendingTrim(std::move(selection), std::move(profile), std::move(progress),
                                            std::move(cancel));
    }
    QCoro::Task<void> discardRecording() override { return session_->discardRecording(); }
    QCoro::Task<bool> keepPendingRecording(std::string scratchPath) override {
        return session_->keepPendingRecording(std::move(scratchPath));
    }
    QCoro::Task<void> cancel() override { return session_->cancel(); }

private:
    std::shared_ptr<RecordingSessionOrchestrator> session_;
};

class LiveRecordingJobServices : public RecordingJobServices {
public:
    explicit LiveRecordingJobServices(LiveAutomationServices services) : services_(std::move(services)) {}
    QCoro::Task<std::vector<DisplayBounds>> availableDisplays() override;
    QCoro::Task<void> startInputs() override;
    QCoro::Task<void> configureInputs(std::optional<std::string> microphoneID, std::optional<std::string> cameraID,
                                      std::optional<CameraPlacement> placement) override;
    QCoro::Task<std::string> showCameraOverlay(CaptureTarget target, std::vector<DisplayBounds> displays) override;
    void hideCameraOverlay() override;
    QCoro::Task<RecordedTracks> loadTracks(std::string moviePath) override;
    QCoro::Task<bool> movieExists(std::string moviePath) override;

private:
    LiveAutomationServices services_;
};

// The runner with its live job, built once by the composition root; run() is started by the
// program's entry and cancelled at quit.
struct LiveAutomation {
    std::unique_ptr<LiveAutomationEnvironment> environment;
    std::unique_ptr<RecordingAutomation> runner;
    std::unique_ptr<RecordingJob> job;

    // `automationDirectory` holds the "commands" and "responses" folders.
    static std::shared_ptr<LiveAutomation> create(LiveAutomationServices services,
                                                  const std::filesystem::path& automationDirectory,
                                                  std::shared_ptr<DebugLogBoundary> debugLog);
};

}  // namespace yux::automation

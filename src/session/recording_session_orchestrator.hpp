#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QUuid>

#include "capture/capture_inputs_controller.hpp"
#include "capture/video_capture_boundary.hpp"
#include "model/clock_boundary.hpp"
#include "model/debug_log_boundary.hpp"
#include "model/scratch_storage_boundary.hpp"
#include "model/settings_boundary.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/async/shared_task.hpp"
#include "session/display_boundary.hpp"
#include "session/pending_recording_keeping.hpp"
#include "session/pending_trim_event_boundary.hpp"
#include "session/recording_export_session.hpp"
#include "session/recording_session_boundary.hpp"
#include "session/screen_selection_boundary.hpp"

namespace yux {

// Carries one recording at a time through its life: selection, access, scratch file, inputs
// and capture; stop into a pending trim held by an export session; publish, discard or failure.
// Main thread; its operations interleave only at their awaits, so state is read again after
// each. Always owned by a shared_ptr: the tray loop and its stop tasks hold it weakly.
class RecordingSessionOrchestrator : public RecordingSessionBoundary,
                                     public std::enable_shared_from_this<RecordingSessionOrchestrator> {
public:
    struct Collaborators {
        std::shared_ptr<ScreenSelectionBoundary> screenSelection;
        std::shared_ptr<DisplayBoundary> displayBoundary;
        std::shared_ptr<SettingsBoundary> settings;
        std::shared_ptr<RecordingExportSessionOpening> exports;
        std::shared_ptr<ScratchStorageBoundary> scratchStorage;
        std::shared_ptr<VideoCaptureBoundary> videoCapture;
        // Optional: without it no inputs are begun or ended.
        std::shared_ptr<CaptureInputsController> captureInputs;
        std::shared_ptr<PendingTrimEventBoundary> pendingTrimEventHandler;
        std::shared_ptr<ClockBoundary> clock;
        std::shared_ptr<DebugLogBoundary> debugLog;
        // Optional: without it a take lives only as long as the process.
        std::shared_ptr<PendingRecordingKeeping> pendingRecordings = {};
    };
    // What a step threw; empty when it went through.
    struct Failure {
        std::exception_ptr error;
        explicit operator bool() const { return static_cast<bool>(error); }
    };
    // The automation runner's own preparation of its inputs; may throw.
    using Prepare = std::function<QCoro::Task<void>()>;

    explicit RecordingSessionOrchestrator(Collaborators collaborators);

    // The stored state: what the session's own tests read.
    const RecordingSessionState& storedState() const { return sessionState_; }

    RecordingSessionState state() const override;
    QCoro::Task<void> start() override;
    QCoro::Task<void> cancel() override;
    QCoro::Task<void> stop() override;
    QCoro::Task<RecordingExportResult> publishPendingTrim(TrimSelection selection, RecordingPreset profile,
                                                          ProgressHandler progress,
                                                          platform::CancelToken cancel = {}) override;
    QCoro::Task<TrimPreviewOutcome> presentPendingTrim(TrimPreviewBoundary* trimPreview,
                                                       TrimPreviewSaveHandling* saveHandler) override;
    QCoro::Task<void> finishPendingTrim() override;
    QCoro::Task<void> reopenPendingTrimIfRecoverable() override;
    QCoro::Task<void> discardRecording() override;
    QCoro::Task<void> failPendingTrim(std::string message) override;

    // The automation runner's start and stop: no overlay, no preference, nothing announced.
    QCoro::Task<std::optional<ActiveSessionInfo>> startAutomation(CaptureTarget target, Prepare prepare);
    QCoro::Task<std::optional<PendingRecordingArtifact>> stopForAutomation(QUuid sessionID);
    QCoro::Task<std::optional<PendingRecordingArtifact>> finalizeCapture();

    // Takes back a take an earlier run left pending (its scratch movie still on disk): opens its
    // export session and holds it for the trim window, as a stop does. Only while nothing else
    // runs or waits; answers whether it was taken. Throws what opening the export throws.
    QCoro::Task<bool> adoptPendingRecording(std::string scratchPath, Date createdAt);
    // Lets go of the pending take at `scratchPath` without deleting it: its export session is
    // dropped, the movie and its marker stay for the next start, and the session is idle again.
    // Refused (logged, nothing changes) while it exports; answers whether it let go.
    QCoro::Task<bool> keepPendingRecording(std::string scratchPath);

    // Whether the area has a positive size and lies wholly inside its display, edges included.
    static bool contains(const SelectedCaptureArea& selection, const std::vector<DisplayBounds>& displays);

private:
    struct CaptureResources {
        ActiveSessionInfo info;
        // True from just before the engine is asked to start until it has stopped.
        bool video = false;
        // Set when a stop failed: the scratch movie is the user's take and is never deleted here.
        bool keep = false;
        // Until the recording's stop ends the inputs' lock, once.
        bool inputsLocked = true;
    };
    enum class EndRequest { stop, cancel };

    bool canStart() const;
    void beginStartup(QUuid requestID);
    QCoro::Task<void> runStartup(QCoro::Task<void> startup);
    void endStartup();
    QCoro::Task<void> selectAndStart(QUuid requestID);
    // The start-up's steps; a failure is handed back for failStart, a stale or finished start-up
    // gives none.
    QCoro::Task<Failure> selectAndRecord(QUuid requestID);
    QCoro::Task<Failure> prepareAndRecord(CaptureTarget target, QUuid requestID, Prepare prepare);
    QCoro::Task<bool> selectionIsCurrent(QUuid requestID);
    QCoro::Task<void> finishSelectionCancellation();
    QCoro::Task<void> prepareAutomation(CaptureTarget target, QUuid requestID, Prepare prepare);
    QCoro::Task<void> startRecording(CaptureTarget target);
    QCoro::Task<void> failStart(std::exception_ptr error);

    QCoro::Task<std::optional<AppError>> stopCaptureResources();
    QCoro::Task<std::optional<AppError>> releaseCapture();
    QCoro::Task<void> discardCapture();
    QCoro::Task<bool> releaseFailedCapture();
    void startOverlayControlLoop();
    std::optional<platform::CancelToken> takeOverlayControlLoop();
    static QCoro::Task<void> overlayControlLoop(std::weak_ptr<RecordingSessionOrchestrator> session,
                                                std::shared_ptr<ScreenSelectionBoundary> screenSelection,
                                                platform::CancelToken token);
    static QCoro::Task<void> stopFromTray(std::weak_ptr<RecordingSessionOrchestrator> session);
    // The engine said the capture's movie failed: the take stops at once.
    static QCoro::Task<void> stopAfterCaptureFailure(std::weak_ptr<RecordingSessionOrchestrator> session,
                                                     QUuid sessionID);
    QCoro::Task<void> announce(std::optional<PendingRecordingArtifact> artifact);
    QCoro::Task<void> log(std::string line);
    QCoro::Task<void> keepTake(std::string scratchPath, Date createdAt);
    QCoro::Task<void> releaseTake(std::string scratchPath);
    // Whether the take's movie is still on disk; its note goes when it is not.
    QCoro::Task<bool> takeRemains(std::string scratchPath);
    void setState(RecordingSessionState state) { sessionState_ = std::move(state); }

    Collaborators c_;
    RecordingSessionState sessionState_;
    std::optional<CaptureResources> capture_;
    std::optional<platform::SharedTask<void>> startupTask_;
    std::optional<EndRequest> endRequest_;
    std::shared_ptr<RecordingExportSession> pendingExport_;
    std::optional<QUuid> selectionRequestID_;
    // The running tray loop's cancellation; the loop itself runs detached.
    std::optional<platform::CancelToken> overlayControlTask_;
};

}  // namespace yux

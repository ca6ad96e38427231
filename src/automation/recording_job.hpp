#pragma once

// One automated recording: configure inputs, record for the requested time or until stopped,
// stop, export with the command's options and answer with the final response.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include "automation/automation_documents.hpp"
#include "automation/recording_automation.hpp"
#include "model/pending_recording_artifact.hpp"
#include "model/recording_file.hpp"
#include "model/recording_session_records.hpp"
#include "session/recording_session_state.hpp"

namespace yux::automation {

// The recording session's operations the job drives.
class AutomationSessionBoundary {
public:
    using Prepare = std::function<QCoro::Task<void>()>;
    using ProgressHandler = std::function<void(const RecordingExportProgress&)>;
    virtual ~AutomationSessionBoundary() = default;
    virtual RecordingSessionState state() const = 0;
    virtual QCoro::Task<std::optional<ActiveSessionInfo>> startAutomation(CaptureTarget target, Prepare prepare) = 0;
    virtual QCoro::Task<std::optional<PendingRecordingArtifact>> stopForAutomation(QUuid sessionID) = 0;
    virtual QCoro::Task<RecordingExportResult> publishPendingTrim(TrimSelection selection, RecordingPreset profile,
                                                                  ProgressHandler progress,
                                                                  platform::CancelToken cancel) = 0;
    virtual QCoro::Task<void> discardRecording() = 0;
    // Lets go of the pending take at the path, keeping it on disk for the next start.
    virtual QCoro::Task<bool> keepPendingRecording(std::string scratchPath) = 0;
    virtual QCoro::Task<void> cancel() = 0;
};

// The tracks of a recorded movie as the export needs them.
struct RecordedTracks {
    std::map<std::int32_t, RecordingSourceKind> kinds;
    // Of the first screen track.
    Size screenNaturalSize;
    TrackTransform screenTransform;
};

// Devices, displays, the camera bubble and the recorded movie.
class RecordingJobServices {
public:
    virtual ~RecordingJobServices() = default;
    // Main display first.
    virtual QCoro::Task<std::vector<DisplayBounds>> availableDisplays() = 0;
    // Starts the input controller: it loads its devices and preferences.
    virtual QCoro::Task<void> startInputs() = 0;
    // Chooses the devices; throws for a device it cannot use.
    virtual QCoro::Task<void> configureInputs(std::optional<std::string> microphoneID,
                                              std::optional<std::string> cameraID,
                                              std::optional<CameraPlacement> placement) = 0;
    // Places the camera bubble over the target; answers a diagnostic text.
    virtual QCoro::Task<std::string> showCameraOverlay(CaptureTarget target, std::vector<DisplayBounds> displays) = 0;
    virtual void hideCameraOverlay() = 0;
    // Throws outputFinalizationFailed("Screen source missing") without a screen track.
    virtual QCoro::Task<RecordedTracks> loadTracks(std::string moviePath) = 0;
    // Whether the recorded movie is on disk (a capture without a single picture removes its own).
    virtual QCoro::Task<bool> movieExists(std::string moviePath) = 0;
};

class RecordingJob {
public:
    using Now = std::function<std::chrono::steady_clock::time_point()>;

    RecordingJob(RecordingAutomation& runner, std::shared_ptr<AutomationSessionBoundary> session,
                 std::shared_ptr<RecordingJobServices> services, std::shared_ptr<DebugLogBoundary> debugLog,
                 RecordingAutomation::Sleep sleep, Now now);

    // Never throws: every outcome is in the answered response.
    QCoro::Task<RecordingAutomationResponse> record(RecordingAutomationRequest command, platform::CancelToken token);

    // For RecordingAutomation::setRecordJob.
    RecordingAutomation::RecordJob asRecordJob();

    // Whether the program is quitting, as its quit path knows it. A quit stops the job's
    // recording to keep the take: the job then ends cancelled, saying where the take is kept.
    void setQuitting(std::function<bool()> quitting) { quitting_ = std::move(quitting); }

private:
    QCoro::Task<void> prepareInputs(const RecordingAutomationRequest& command, const CaptureTarget& target,
                                    const std::vector<DisplayBounds>& displays, platform::CancelToken token);
    QCoro::Task<RecordingAutomationResponse> runSteps(const RecordingAutomationRequest& command,
                                                      platform::CancelToken token);
    void hideOverlay();
    // Whether the session, as it is now, still holds what this job started; the user may have
    // started a new selection or recording since (a failed capture frees the session at once).
    bool holdsOwnTake(const RecordingSessionState& state) const;
    // For an ending its client did not ask for: the job's take, once it has pictures, is kept on
    // disk and the session let go of it. Answers where it is kept, if the job knows it is.
    QCoro::Task<std::optional<std::string>> keepOwnTake(bool cancelled, bool quit);
    // After a stop that failed, the take is kept only while its movie is there.
    QCoro::Task<std::optional<std::string>> keptIfThere(std::string path);
    QCoro::Task<void> log(std::string line);

    RecordingAutomation& runner_;
    std::shared_ptr<AutomationSessionBoundary> session_;
    std::shared_ptr<RecordingJobServices> services_;
    std::shared_ptr<DebugLogBoundary> debugLog_;
    RecordingAutomation::Sleep sleep_;
    Now now_;
    std::function<bool()> quitting_;
    // Export progress from worker threads is posted here, so it reaches the runner on its thread
    // and is dropped once the job is gone.
    std::unique_ptr<QObject> progressContext_ = std::make_unique<QObject>();

    bool sessionAdmitted_ = false;
    bool ownsCameraOverlay_ = false;
    // Set once the job asked for the stop: from then on the take is the job's to discard.
    bool stopIssued_ = false;
    // The capture the session started for this job.
    std::optional<ActiveSessionInfo> started_;
};

// The microphone kind of the inputs line: "usb", "native" or "off".
std::string microphoneKind(const std::optional<std::string>& microphoneID);

}  // namespace yux::automation

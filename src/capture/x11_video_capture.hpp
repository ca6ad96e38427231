#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QPointer>
#include <QUuid>

#include "capture/camera_recording_source.hpp"
#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "capture/capture_lifecycle_diagnostics.hpp"
#include "capture/recording_output_delegate.hpp"
#include "capture/screen_recording_permission.hpp"
#include "capture/video_capture_boundary.hpp"
#include "model/debug_log_boundary.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/async/shared_task.hpp"
#include "platform/desktop/system_log.hpp"
#include "platform/media/movie_writer.hpp"
#include "platform/x11/capture_stream.hpp"
#include "platform/x11/shareable_content.hpp"

#include <QCoroTask>

namespace yux {

// Records one target (a display, an area of it, or one application's windows) with system
// audio, an optional microphone and an optional camera into one scratch movie. Lives on the
// main thread; the calls that block (access check, content query, stream start and stop) run
// on the "Yux.capture-streams" queue, so the tray, the hot key and a stop stay live meanwhile.
class X11VideoCapture : public VideoCaptureBoundary {
public:
    using RecordingInputs = CaptureInputsController::RecordingInputs;
    using RecordingInputsFunction = std::function<QCoro::Task<RecordingInputs>()>;

    // What the engine builds on; create() fills it with the desktop, create_null() with doubles.
    struct Pieces {
        // Blocking: asks the X server what may be recorded.
        std::function<platform::ShareableContent()> shareableContent;
        // Blocking: the interval of the picture grid the stream will take, which the movie stores
        // as the screen track's nominal rate.
        std::function<platform::MediaTime(const platform::ShareableDisplay&, const platform::StreamConfiguration&)>
            frameInterval;
        std::function<std::shared_ptr<platform::CaptureStream>(platform::ContentFilter, platform::StreamConfiguration,
                                                               platform::CaptureStream::Log)>
            makeStream;
        // Blocking.
        std::function<void(platform::CaptureStream&)> startStream;
        std::function<void(platform::CaptureStream&)> stopStream;
        std::function<std::shared_ptr<RecordingOutputDelegate>(const std::string& path, int width, int height,
                                                               bool microphone, bool camera,
                                                               platform::MediaTime frameInterval)>
            openWriter;
        // Creates a folder with its parents; throws the file system's error.
        std::function<void(const std::string& path)> createDirectory;
        std::function<std::chrono::steady_clock::time_point()> now;
        pid_t thisProcess = 0;
        platform::SystemLog systemLog = platform::SystemLog::create_null();
    };

    // The streams and writers of a null engine, for tests to drive and inspect.
    class NullControl {
    public:
        ~NullControl() { releaseStarts(); }
        // While held, every stream start waits on the streams' queue until released.
        void holdStarts();
        void releaseStarts();
        // True once a held start waits.
        bool startWaiting() const;

        std::vector<std::shared_ptr<platform::CaptureStream>> streams() const;
        std::vector<std::shared_ptr<RecordingOutputDelegate>> writers() const;
        std::vector<std::string> directories() const;

        // Answers of the streams made from now on.
        platform::CaptureStream::NullAnswers streamAnswers;
        // The next this many stream stops fail and leave the stream running.
        std::atomic<int> failingStops{0};
        // The in-memory writers' script; `writerFails` makes opening throw it.
        platform::MovieWriter::NullScript writerScript;
        std::optional<std::string> writerFails;
        bool directoryFails = false;
        // Without it, streams and writers live only as long as the engine keeps them.
        bool retains = true;

    private:
        friend class X11VideoCapture;
        void waitWhileHeld();
        mutable std::mutex mutex_;
        std::condition_variable changed_;
        bool held_ = false;
        bool waiting_ = false;
        std::vector<std::weak_ptr<platform::CaptureStream>> streams_;
        std::vector<std::weak_ptr<RecordingOutputDelegate>> writers_;
        std::vector<std::shared_ptr<void>> retained_;
        std::vector<std::string> directories_;
    };

    // The category of the engine's system-log line.
    static constexpr const char* kLogCategory = "CaptureEngine";
    static constexpr const char* kStreamQueueLabel = "Yux.capture-streams";
    // How long the engine, going away, waits for the movie of a capture still running to end.
    static constexpr std::chrono::seconds kLeftoverFinishLimit{5};

    X11VideoCapture(std::shared_ptr<ScreenRecordingPermissionBoundary> permission,
                    std::shared_ptr<DebugLogBoundary> debugLog, std::shared_ptr<CaptureDeviceRuntime> cameraRuntime,
                    CaptureInputsController* captureInputs, RecordingInputsFunction recordingInputs, Pieces pieces,
                    CaptureLifecycleDiagnostics::Environment environment = CaptureLifecycleDiagnostics::Environment::live());
    ~X11VideoCapture() override;
    X11VideoCapture(const X11VideoCapture&) = delete;
    X11VideoCapture& operator=(const X11VideoCapture&) = delete;

    // The live engine over the desktop; the inputs are the controller's.
    static std::unique_ptr<X11VideoCapture> create(std::shared_ptr<ScreenRecordingPermissionBoundary> permission,
                                                   std::shared_ptr<DebugLogBoundary> debugLog,
                                                   std::shared_ptr<CaptureDeviceRuntime> runtime,
                                                   CaptureInputsController* inputs);
    // The desktop's pieces: the X server, the sound server, movies on disk.
    static Pieces livePieces();
    // Over the given content, null streams and in-memory writers on `clock`.
    static std::unique_ptr<X11VideoCapture> create_null(
        std::shared_ptr<ScreenRecordingPermissionBoundary> permission, std::shared_ptr<DebugLogBoundary> debugLog,
        platform::ShareableContent content, RecordingInputsFunction recordingInputs,
        std::shared_ptr<NullControl> control, RecordingOutputDelegate::Clock clock,
        std::shared_ptr<CaptureDeviceRuntime> runtime = {}, CaptureInputsController* inputs = nullptr,
        platform::SystemLog systemLog = platform::SystemLog::create_null(),
        CaptureLifecycleDiagnostics::Environment environment = CaptureLifecycleDiagnostics::Environment::live());

    QCoro::Task<void> ensureAccess() override;
    QCoro::Task<void> startCapture(QUuid sessionID, CaptureTarget target, std::string filePath) override;
    QCoro::Task<void> stopCapture(QUuid sessionID) override { return stopCapture(sessionID, true); }
    // Without `finishOutput` the movie is left to the caller (a failed start cancels it).
    QCoro::Task<void> stopCapture(QUuid sessionID, bool finishOutput);

    void setFailureHandler(std::function<void(QUuid sessionID)> handler) override { failureHandler_ = std::move(handler); }

    bool isRegistered(const QUuid& sessionID) const { return sessions_.contains(sessionID); }

private:
    struct ActiveSession {
        // First, so it goes last: the stream and the camera post onto the writer's queue.
        std::shared_ptr<RecordingOutputDelegate> output;
        std::shared_ptr<platform::CaptureStream> stream;
        std::unique_ptr<CameraRecordingSource> camera;
        std::shared_ptr<CaptureDeviceRuntime> usbMicrophoneRuntime;
        std::chrono::steady_clock::time_point startedAt;
        bool screenStarted = false;
        // The start's wait for the first samples; a stop cancels it.
        platform::CancelToken startWait;
        // The stop that runs; a second stop awaits it. (Its value means nothing: a shared task
        // carries one.)
        std::shared_ptr<platform::SharedTask<bool>> stopping;
        // Whether that stop finishes the movie; the clean-up of a failed start does not.
        bool stoppingFinishes = false;
        // Why the start failed, once it has.
        std::exception_ptr startFailure;
    };

    // On the streams' queue; a stream that stopped is no longer started.
    QCoro::Task<void> stopStream(std::shared_ptr<ActiveSession> session);
    QCoro::Task<bool> performStop(QUuid sessionID, std::shared_ptr<ActiveSession> session, bool finishOutput);
    QCoro::Task<void> cleanUpFailedStart(QUuid sessionID, std::shared_ptr<ActiveSession> session,
                                         std::shared_ptr<RecordingOutputDelegate> output, std::exception_ptr error);
    QCoro::Task<void> log(std::string event, QUuid sessionID, std::map<std::string, std::string> attributes = {});
    bool holds(const QUuid& sessionID, const std::shared_ptr<ActiveSession>& session) const;
    // A start whose stop came before its session was registered fails with recordingSessionNotActive.
    void throwIfStoppedWhileStarting(const QUuid& sessionID) const;
    // A stop has taken the session over (or is done with it).
    bool stopCame(const QUuid& sessionID, const std::shared_ptr<ActiveSession>& session) const;
    // A line of the debug log from any thread.
    std::function<void(const std::string&)> debugLine() const;
    // Run on the writer's queue after each delivery to it: the movie's first failure is told once
    // to the failure handler, on the main thread.
    std::function<void()> writerFailureWatch(QUuid sessionID, RecordingOutputDelegate* writer);

    std::shared_ptr<DebugLogBoundary> debugLog_;
    RecordingInputsFunction recordingInputs_;
    std::shared_ptr<CaptureDeviceRuntime> cameraRuntime_;
    QPointer<CaptureInputsController> captureInputs_;
    std::shared_ptr<ScreenRecordingPermissionBoundary> permission_;
    CaptureLifecycleDiagnostics diagnostics_;
    std::map<QUuid, std::shared_ptr<ActiveSession>> sessions_;
    // Sessions a stop has taken out of `sessions_` while it still finishes their movie.
    std::map<QUuid, std::shared_ptr<ActiveSession>> finishing_;
    // Starts before their session is registered, and those of them a stop asked to give up.
    std::set<QUuid> starting_;
    std::set<QUuid> stoppedWhileStarting_;
    // Starts that failed and are being cleaned up, with their error: a stop meanwhile reports it.
    std::map<QUuid, std::exception_ptr> failingStarts_;
    Pieces pieces_;
    std::function<void(QUuid)> failureHandler_;
    // Lines posted from other threads reach the debug log only while the engine lives.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    platform::SerialQueue streams_{kStreamQueueLabel};
};

}  // namespace yux

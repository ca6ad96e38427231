#include "capture/x11_video_capture.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "capture/capture_stream_configuration.hpp"
#include "model/app_error.hpp"
#include "model/local_file_system.hpp"
#include "model/log_text.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/async/run_on.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_desktop.hpp"

namespace yux {

using platform::CaptureStream;
using platform::MediaTime;
using platform::SampleBuffer;
using platform::StreamOutputType;

namespace {

// Pictures per second of a screen that does not report its refresh rate; the frame source
// takes the same.
constexpr std::int32_t kFallbackRefreshRate = 60;

MediaTime gridInterval(const platform::StreamConfiguration& configuration, double refreshRate) {
    const MediaTime wanted = configuration.minimumFrameInterval;
    if (wanted.isValid() && wanted.value > 0) return wanted;
    auto rate = static_cast<std::int32_t>(std::lround(refreshRate));
    return MediaTime(1, rate > 0 ? rate : kFallbackRefreshRate);
}

const char* sourceName(StreamOutputType type) {
    switch (type) {
    case StreamOutputType::screen:
        return "screen";
    case StreamOutputType::audio:
        return "system_audio";
    case StreamOutputType::microphone:
        return "microphone";
    }
    return "screen";
}

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

// One attribute of a lifecycle line. (A braced list held across a suspension trips GCC 12.)
std::map<std::string, std::string> attribute(std::string key, std::string value) {
    return {{std::move(key), std::move(value)}};
}

bool isCancellation(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const platform::CancelledError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

// MARK: null control

void X11VideoCapture::NullControl::holdStarts() {
    std::lock_guard lock(mutex_);
    held_ = true;
}

void X11VideoCapture::NullControl::releaseStarts() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    changed_.notify_all();
}

bool X11VideoCapture::NullControl::startWaiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

void X11VideoCapture::NullControl::waitWhileHeld() {
    std::unique_lock lock(mutex_);
    waiting_ = held_;
    changed_.wait(lock, [this] { return !held_; });
    waiting_ = false;
}

namespace {

template <class T>
std::vector<std::shared_ptr<T>> living(const std::vector<std::weak_ptr<T>>& all) {
    std::vector<std::shared_ptr<T>> alive;
    for (const auto& weak : all) {
        if (auto strong = weak.lock()) alive.push_back(std::move(strong));
    }
    return alive;
}

}  // namespace

std::vector<std::shared_ptr<CaptureStream>> X11VideoCapture::NullControl::streams() const {
    std::lock_guard lock(mutex_);
    return living(streams_);
}

std::vector<std::shared_ptr<RecordingOutputDelegate>> X11VideoCapture::NullControl::writers() const {
    std::lock_guard lock(mutex_);
    return living(writers_);
}

std::vector<std::string> X11VideoCapture::NullControl::directories() const {
    std::lock_guard lock(mutex_);
    return directories_;
}

// MARK: construction

X11VideoCapture::X11VideoCapture(std::shared_ptr<ScreenRecordingPermissionBoundary> permission,
                                 std::shared_ptr<DebugLogBoundary> debugLog,
                                 std::shared_ptr<CaptureDeviceRuntime> cameraRuntime,
                                 CaptureInputsController* captureInputs, RecordingInputsFunction recordingInputs,
                                 Pieces pieces, CaptureLifecycleDiagnostics::Environment environment)
    : debugLog_(std::move(debugLog)),
      recordingInputs_(std::move(recordingInputs)),
      cameraRuntime_(std::move(cameraRuntime)),
      captureInputs_(captureInputs),
      permission_(std::move(permission)),
      diagnostics_(*debugLog_, std::move(environment)),
      pieces_(std::move(pieces)) {}

X11VideoCapture::~X11VideoCapture() {
    *alive_ = false;
    // A capture still running when the program ends (its stop failed, or did not come in time)
    // stops its devices, then its stream, then ends its movie, which keeps what was recorded.
    for (auto& [id, session] : sessions_) {
        session->startWait.cancel();
        if (session->camera) session->camera->stop();
        if (session->usbMicrophoneRuntime) session->usbMicrophoneRuntime->stopRecordingUSBMicrophone();
        // After whatever the streams' queue still does with it; one that is not running refuses.
        streams_.sync([this, stream = session->stream] {
            try {
                pieces_.stopStream(*stream);
            } catch (...) {
            }
        });
        session->output->finishNow(kLeftoverFinishLimit);
    }
}

X11VideoCapture::Pieces X11VideoCapture::livePieces() {
    Pieces pieces;
    pieces.shareableContent = [provider = platform::ShareableContentProvider::create()] { return provider.current(); };
    pieces.frameInterval = [](const platform::ShareableDisplay&, const platform::StreamConfiguration& configuration) {
        auto connection = platform::X11Connection::open();
        return gridInterval(configuration, platform::screenRefreshRate(*connection));
    };
    pieces.makeStream = [](platform::ContentFilter filter, platform::StreamConfiguration configuration,
                           CaptureStream::Log log) -> std::shared_ptr<CaptureStream> {
        return CaptureStream::create(std::move(filter), std::move(configuration), std::move(log));
    };
    pieces.startStream = [](CaptureStream& stream) { stream.startCapture(); };
    pieces.stopStream = [](CaptureStream& stream) { stream.stopCapture(); };
    pieces.openWriter = [](const std::string& path, int width, int height, bool microphone, bool camera,
                           MediaTime frameInterval) {
        return RecordingOutputDelegate::open(path, width, height, microphone, camera,
                                             RecordingOutputDelegate::Clock::live(), frameInterval);
    };
    pieces.createDirectory = [files = LocalFileSystem()](const std::string& path) { files.ensureDirectory(path); };
    pieces.now = [] { return std::chrono::steady_clock::now(); };
    pieces.thisProcess = getpid();
    pieces.systemLog = platform::SystemLog::create();
    return pieces;
}

std::unique_ptr<X11VideoCapture> X11VideoCapture::create(std::shared_ptr<ScreenRecordingPermissionBoundary> permission,
                                                         std::shared_ptr<DebugLogBoundary> debugLog,
                                                         std::shared_ptr<CaptureDeviceRuntime> runtime,
                                                         CaptureInputsController* inputs) {
    // The controller is asked on the main thread, where this runs; its error passes unchanged.
    QPointer<CaptureInputsController> controller(inputs);
    auto recordingInputs = [controller]() -> QCoro::Task<RecordingInputs> {
        if (!controller) throw AppError::videoCaptureUnavailable();
        co_return controller->recordingInputs();
    };
    return std::make_unique<X11VideoCapture>(std::move(permission), std::move(debugLog), std::move(runtime), inputs,
                                             std::move(recordingInputs), livePieces());
}

std::unique_ptr<X11VideoCapture> X11VideoCapture::create_null(
    std::shared_ptr<ScreenRecordingPermissionBoundary> permission, std::shared_ptr<DebugLogBoundary> debugLog,
    platform::ShareableContent content, RecordingInputsFunction recordingInputs, std::shared_ptr<NullControl> control,
    RecordingOutputDelegate::Clock clock, std::shared_ptr<CaptureDeviceRuntime> runtime,
    CaptureInputsController* inputs, platform::SystemLog systemLog,
    CaptureLifecycleDiagnostics::Environment environment) {
    Pieces pieces;
    pieces.shareableContent = [content] { return content; };
    pieces.frameInterval = [](const platform::ShareableDisplay&, const platform::StreamConfiguration& configuration) {
        return gridInterval(configuration, 0);
    };
    pieces.makeStream = [control](platform::ContentFilter filter, platform::StreamConfiguration configuration,
                                  CaptureStream::Log) {
        std::shared_ptr<CaptureStream> stream =
            CaptureStream::create_null(std::move(filter), std::move(configuration), control->streamAnswers);
        std::lock_guard lock(control->mutex_);
        control->streams_.push_back(stream);
        if (control->retains) control->retained_.push_back(stream);
        return stream;
    };
    pieces.startStream = [control](CaptureStream& stream) {
        control->waitWhileHeld();
        stream.startCapture();
    };
    pieces.stopStream = [control](CaptureStream& stream) {
        if (control->failingStops > 0) {
            --control->failingStops;
            throw std::runtime_error("The X server does not answer");
        }
        stream.stopCapture();
    };
    pieces.openWriter = [control, clock](const std::string&, int width, int height, bool microphone, bool camera,
                                         MediaTime frameInterval) {
        if (control->writerFails) throw std::runtime_error(*control->writerFails);
        auto writer = RecordingOutputDelegate::open(platform::MovieWriter::create_null(control->writerScript), width,
                                                    height, microphone, camera, clock, frameInterval);
        std::lock_guard lock(control->mutex_);
        control->writers_.push_back(writer);
        if (control->retains) control->retained_.push_back(writer);
        return writer;
    };
    pieces.createDirectory = [control](const std::string& path) {
        if (control->directoryFails) throw FileError(FileErrorCode::fileWriteNoPermission, path);
        std::lock_guard lock(control->mutex_);
        control->directories_.push_back(path);
    };
    pieces.now = [clock] { return clock.now(); };
    pieces.thisProcess = getpid();
    pieces.systemLog = std::move(systemLog);
    return std::make_unique<X11VideoCapture>(std::move(permission), std::move(debugLog), std::move(runtime), inputs,
                                             std::move(recordingInputs), std::move(pieces), std::move(environment));
}

// MARK: operations

QCoro::Task<void> X11VideoCapture::log(std::string event, QUuid sessionID,
                                       std::map<std::string, std::string> attributes) {
    co_await diagnostics_.log(std::move(event), sessionID, std::move(attributes));
}

bool X11VideoCapture::holds(const QUuid& sessionID, const std::shared_ptr<ActiveSession>& session) const {
    auto found = sessions_.find(sessionID);
    return found != sessions_.end() && found->second == session;
}

bool X11VideoCapture::stopCame(const QUuid& sessionID, const std::shared_ptr<ActiveSession>& session) const {
    return !holds(sessionID, session) || session->stopping != nullptr;
}

std::function<void(const std::string&)> X11VideoCapture::debugLine() const {
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<DebugLogBoundary> debugLog = debugLog_;
    return [alive, debugLog](const std::string& line) {
        platform::postToMain([alive, debugLog, line] {
            auto live = alive.lock();
            auto log = debugLog.lock();
            if (live && *live && log) (void)log->append(line);
        });
    };
}

std::function<void()> X11VideoCapture::writerFailureWatch(QUuid sessionID, RecordingOutputDelegate* writer) {
    auto told = std::make_shared<bool>(false);
    std::weak_ptr<bool> alive = alive_;
    return [this, alive, told, writer, sessionID] {
        if (*told || !writer->failure()) return;
        *told = true;
        platform::postToMain([this, alive, sessionID] {
            const auto live = alive.lock();
            if (!live || !*live) return;
            // A stop under way, or the clean-up of a failed start, reports the failure itself.
            const auto found = sessions_.find(sessionID);
            if (found == sessions_.end() || found->second->stopping) return;
            if (failureHandler_) failureHandler_(sessionID);
        });
    };
}

QCoro::Task<void> X11VideoCapture::ensureAccess() {
    auto permission = permission_;
    auto check = [permission] { return permission->hasAccess(); };
    const bool allowed = co_await platform::runOn(streams_, std::move(check));
    if (allowed) co_return;
    if (!permission->requestAccess()) {
        throw AppError::screenSelectionFailed(X11ScreenRecordingPermission::kAccessDeniedMessage);
    }
}

QCoro::Task<void> X11VideoCapture::startCapture(QUuid sessionID, CaptureTarget target, std::string filePath) {
    // A second start under a running session's identifier would leave that capture running unreachable.
    const bool duplicate = sessions_.contains(sessionID) || finishing_.contains(sessionID) ||
                           starting_.contains(sessionID) || failingStarts_.contains(sessionID);
    // Until the session is registered, a stop can only leave word that the start is to give up;
    // the start is known before its first wait, so no stop can come unseen.
    struct Starting {
        // A constructor of its own: clang 14 cannot emplace an aggregate.
        Starting(X11VideoCapture* engine, QUuid id) : engine(engine), id(id) {}
        X11VideoCapture* engine;
        QUuid id;
        ~Starting() {
            engine->starting_.erase(id);
            engine->stoppedWhileStarting_.erase(id);
        }
    };
    std::optional<Starting> starting;
    if (!duplicate) {
        starting_.insert(sessionID);
        starting.emplace(this, sessionID);
    }
    co_await log("start_request", sessionID, startAttributes(target, filePath));
    if (duplicate) throw AppError::recordingSessionAlreadyActive();
    throwIfStoppedWhileStarting(sessionID);

    auto permission = permission_;
    auto check = [permission] { return permission->hasAccess(); };
    const bool allowed = co_await platform::runOn(streams_, std::move(check));
    if (!allowed) throw AppError::screenSelectionFailed(X11ScreenRecordingPermission::kAccessMissingMessage);

    throwIfStoppedWhileStarting(sessionID);
    const RecordingInputs inputs = co_await recordingInputs_();
    throwIfStoppedWhileStarting(sessionID);
    const MicrophoneRoute route = MicrophoneRoute::from(inputs.microphoneID);
    auto chosen = attribute("microphone", route.logValue());
    chosen["camera_enabled"] = inputs.cameraEnabled ? "true" : "false";
    co_await log("session_inputs", sessionID, std::move(chosen));
    throwIfStoppedWhileStarting(sessionID);

    const std::string path = expandTilde(filePath);
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) pieces_.createDirectory(folder.string());

    // Lambdas handed to runOn are named: GCC 12 mishandles temporaries held across a suspension.
    auto query = [this] { return pieces_.shareableContent(); };
    const platform::ShareableContent content = co_await platform::runOn(streams_, std::move(query));
    throwIfStoppedWhileStarting(sessionID);
    const platform::ShareableDisplay display = resolveDisplay(content, target);
    platform::ContentFilter filter = contentFilter(content, target, display, pieces_.thisProcess);
    platform::StreamConfiguration configuration = streamConfiguration(target, route, display);
    co_await log("microphone_route", sessionID, attribute("route", route.logValue()));

    auto measure = [this, &display, &configuration] { return pieces_.frameInterval(display, configuration); };
    const MediaTime frameInterval = co_await platform::runOn(streams_, std::move(measure));
    throwIfStoppedWhileStarting(sessionID);
    std::shared_ptr<CaptureStream> stream = pieces_.makeStream(filter, configuration, debugLine());
    auto output = pieces_.openWriter(path, configuration.width, configuration.height,
                                     route.kind != MicrophoneRoute::Kind::off, inputs.cameraEnabled, frameInterval);

    output->setLog(debugLine());

    // The writer's queue runs every closure below, so a raw pointer stays valid: the writer
    // runs its pending work before its fields go.
    RecordingOutputDelegate* writer = output.get();
    // The writer drops everything after its movie failed; the session must hear of it to end the take.
    auto watch = writerFailureWatch(sessionID, writer);
    std::shared_ptr<ActiveSession> session;
    std::exception_ptr failure;
    try {
        for (const auto type : {StreamOutputType::screen, StreamOutputType::audio, StreamOutputType::microphone}) {
            if (type == StreamOutputType::microphone && route.kind != MicrophoneRoute::Kind::native) continue;
            stream->addStreamOutput(type, output->queue(), [writer, watch, type](const SampleBuffer& sample) {
                writer->stream(sample, type);
                watch();
            });
        }
        // A source that fails does not end the capture: its sound goes on as silence and a
        // picture source leaves its last picture standing to the stop.
        stream->setFailureHandler(output->queue(), [line = debugLine(), id = sessionText(sessionID)](
                                                       const platform::CaptureStreamFailure& failed) {
            line(std::string("capture source_failed session_id=") + id + " source=" + sourceName(failed.output) +
                 " error=" + failed.message);
        });

        std::unique_ptr<CameraRecordingSource> camera;
        if (inputs.cameraEnabled) {
            if (!cameraRuntime_ || captureInputs_ == nullptr) throw AppError::cameraFailed("Camera runtime unavailable");
            const platform::PointRect region = recordedRegion(configuration, display);
            if (!cameraRuntime_->isRunning(CaptureInputKind::camera)) {
                throw AppError::cameraFailed("Selected camera is not running");
            }
            camera = std::make_unique<CameraRecordingSource>(
                cameraRuntime_, *captureInputs_,
                Size{static_cast<double>(configuration.width), static_cast<double>(configuration.height)},
                Size{region.width, region.height}, output->queue(), [writer, watch](MicrophoneResult result) {
                    if (auto* sample = std::get_if<SampleBuffer>(&result)) {
                        writer->receive(*sample, RecordingSourceKind::camera);
                        watch();
                    } else {
                        writer->skipFrame(RecordingSourceKind::camera, std::get<std::exception_ptr>(result));
                    }
                });
        }

        session = std::make_shared<ActiveSession>();
        session->stream = stream;
        session->camera = std::move(camera);
        session->output = output;
        if (route.kind == MicrophoneRoute::Kind::usb) session->usbMicrophoneRuntime = cameraRuntime_;
        session->startedAt = pieces_.now();
        sessions_[sessionID] = session;

        if (route.kind == MicrophoneRoute::Kind::usb) {
            if (!cameraRuntime_) throw AppError::microphoneFailed("USB microphone runtime unavailable");
            // A phone microphone that fails goes on as silence, as a lost sound source of the
            // stream does.
            cameraRuntime_->recordUSBMicrophone(
                output->queue(), [writer, watch, systemLog = pieces_.systemLog, line = debugLine(),
                                  id = sessionText(sessionID)](MicrophoneResult result) {
                    if (auto* sample = std::get_if<SampleBuffer>(&result)) {
                        writer->receive(*sample, RecordingSourceKind::microphone);
                        watch();
                        return;
                    }
                    auto error = std::get<std::exception_ptr>(result);
                    writer->silenceSource(RecordingSourceKind::microphone);
                    systemLog.error(kLogCategory, "yux_recording_usb_microphone_failed " + describe(error));
                    line(std::string("capture source_failed session_id=") + id +
                         " source=microphone error=" + describe(error));
                });
        }
    } catch (...) {
        failure = std::current_exception();
    }

    if (!failure) {
        co_await log("stream_start_invoked", sessionID);
        try {
            try {
                auto begin = [this, stream] { pieces_.startStream(*stream); };
                co_await platform::runOn(streams_, std::move(begin));
            } catch (...) {
                rethrowStreamStartError(std::current_exception());
            }
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (!failure) {
        // Set even when a stop came meanwhile: that stop found no running stream to stop.
        session->screenStarted = true;
        if (stopCame(sessionID, session)) failure = std::make_exception_ptr(AppError::recordingSessionNotActive());
    }
    if (!failure) {
        try {
            co_await output->waitForStart(session->startWait);
        } catch (...) {
            failure = std::current_exception();
        }
        // A stop during the wait ends it, or came just as the first samples did.
        if (stopCame(sessionID, session) && (!failure || isCancellation(failure))) {
            failure = std::make_exception_ptr(AppError::recordingSessionNotActive());
        }
    }
    if (!failure) {
        co_await log("start_ready", sessionID);
        co_return;
    }
    // A stop that comes during the clean-up reports the start's failure: there is no take
    // (unless a stop of the user's took the session over and keeps its movie).
    if (!(session && session->stopping && session->stoppingFinishes)) failingStarts_[sessionID] = failure;
    if (session) session->startFailure = failure;
    co_await cleanUpFailedStart(sessionID, session, output, failure);
    failingStarts_.erase(sessionID);
    std::rethrow_exception(failure);
}

QCoro::Task<void> X11VideoCapture::cleanUpFailedStart(QUuid sessionID, std::shared_ptr<ActiveSession> session,
                                                      std::shared_ptr<RecordingOutputDelegate> output,
                                                      std::exception_ptr error) {
    bool stopFailed = false;
    // A stop of the user's took the session over: it decides what becomes of the movie.
    bool stoppedByUser = session && session->stopping != nullptr;
    if (session && holds(sessionID, session)) {
        try {
            co_await stopCapture(sessionID, false);
        } catch (...) {
            stopFailed = true;
        }
    } else if (stoppedByUser) {
        auto stopping = session->stopping;
        try {
            co_await stopping->get();
        } catch (...) {
        }
    }
    // A stop that came while the stream was starting found nothing running to stop.
    if (session && session->screenStarted && !holds(sessionID, session)) {
        try {
            co_await stopStream(session);
        } catch (...) {
            stopFailed = true;
        }
    }
    if (stopFailed) co_await log("start_cleanup_stop_failed", sessionID);
    int status = 0;
    if (stoppedByUser) {
        status = output->queue().sync([&output] { return static_cast<int>(output->writer().status()); });
    } else {
        status = output->cancel();
    }
    co_await log("setup_writer_released", sessionID, attribute("writer_status", std::to_string(status)));
    co_await log("start_failed", sessionID, attribute("error", logErrorText(error)));
}

QCoro::Task<void> X11VideoCapture::stopStream(std::shared_ptr<ActiveSession> session) {
    auto end = [this, stream = session->stream] { pieces_.stopStream(*stream); };
    co_await platform::runOn(streams_, std::move(end));
    session->screenStarted = false;
}

void X11VideoCapture::throwIfStoppedWhileStarting(const QUuid& sessionID) const {
    if (stoppedWhileStarting_.contains(sessionID)) throw AppError::recordingSessionNotActive();
}

QCoro::Task<void> X11VideoCapture::stopCapture(QUuid sessionID, bool finishOutput) {
    std::shared_ptr<ActiveSession> session;
    if (auto found = sessions_.find(sessionID); found != sessions_.end()) {
        session = found->second;
    } else if (auto finishing = finishing_.find(sessionID); finishing != finishing_.end()) {
        // Taken out by a stop that still finishes the movie: this one ends with it.
        session = finishing->second;
    } else {
        if (auto failing = failingStarts_.find(sessionID); finishOutput && failing != failingStarts_.end()) {
            std::rethrow_exception(failing->second);
        }
        // A start still on its way gives up before it opens anything.
        if (starting_.contains(sessionID)) stoppedWhileStarting_.insert(sessionID);
        co_return;
    }
    if (!session->stopping) {
        session->stoppingFinishes = finishOutput;
        session->stopping = std::make_shared<platform::SharedTask<bool>>(performStop(sessionID, session, finishOutput));
    }
    auto stopping = session->stopping;
    const bool finishes = session->stoppingFinishes;
    try {
        co_await stopping->get();
    } catch (...) {
        // A failed stop may be tried again.
        if (session->stopping == stopping) session->stopping.reset();
        throw;
    }
    // Joined the clean-up of a failed start: its movie is gone.
    if (finishOutput && !finishes) {
        std::rethrow_exception(session->startFailure ? session->startFailure
                                                     : std::make_exception_ptr(AppError::recordingSessionNotActive()));
    }
}

QCoro::Task<bool> X11VideoCapture::performStop(QUuid sessionID, std::shared_ptr<ActiveSession> session,
                                               bool finishOutput) {
    co_await log("stop_request", sessionID);
    co_await log("stream_stop_invoked", sessionID);
    session->startWait.cancel();
    if (session->usbMicrophoneRuntime) session->usbMicrophoneRuntime->stopRecordingUSBMicrophone();
    if (session->camera) session->camera->stop();

    std::exception_ptr failure;
    if (session->screenStarted) {
        try {
            co_await stopStream(session);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (!failure) {
        if (holds(sessionID, session)) {
            sessions_.erase(sessionID);
            finishing_[sessionID] = session;
        }
        if (finishOutput) {
            try {
                co_await session->output->finish();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if (auto finishing = finishing_.find(sessionID); finishing != finishing_.end() && finishing->second == session) {
            finishing_.erase(finishing);
        }
    }
    if (failure) {
        co_await log("stop_failed", sessionID, attribute("error", logErrorText(failure)));
        std::rethrow_exception(failure);
    }
    const double seconds = std::chrono::duration<double>(pieces_.now() - session->startedAt).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    co_await log("stop_completed", sessionID, attribute("recording_seconds", std::string(text)));
    co_return true;
}

}  // namespace yux

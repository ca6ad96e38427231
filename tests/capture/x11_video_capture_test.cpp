#include "capture/x11_video_capture.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <coroutine>

#include "model/app_error.hpp"
#include "model/local_file_system.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/await_gate.hpp"
#include "support/memory_preferences.hpp"
#include "support/recording_debug_log.hpp"
#include "support/event_loop.hpp"
#include "support/synthetic_media.hpp"

#include <QCoreApplication>

using namespace yux;
using platform::CaptureStream;
using platform::CaptureStreamEvent;
using platform::MediaTime;
using platform::SampleBuffer;
using platform::StreamOutputType;
using platform::waitForTask;
using yux::testing::hostTime;
using yux::testing::kHangMilliseconds;
using yux::testing::processEventsUntil;
namespace media = yux::testing;

namespace {

const QUuid kSession = QUuid::fromString(QStringLiteral("{6f1c1f57-2a43-4a5c-9d43-3c0f5d0b8e11}"));
const std::string kSessionText = "6F1C1F57-2A43-4A5C-9D43-3C0F5D0B8E11";
constexpr std::uint32_t kDisplay = 7;

// Wall time moves only through the waits, and only while `flowing` (so a start waits for the
// samples the test hands it however long the test takes); each wait lets the event loop run,
// so a stop can come between two checks of the start's wait.
struct FakeTime {
    std::atomic<std::int64_t> wallNs{0};
    std::atomic<bool> flowing{false};
    std::atomic<int> sleeps{0};  // a start polls for its first samples only through these
    void advance(std::chrono::milliseconds by) { wallNs += std::chrono::nanoseconds(by).count(); }
};

struct Yield {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) { platform::postToMain([handle] { handle.resume(); }); }
    void await_resume() const noexcept {}
};

QCoro::Task<void> yieldingSleep(std::shared_ptr<FakeTime> time, std::chrono::milliseconds duration,
                                platform::CancelToken token) {
    token.throwIfCancelled();
    ++time->sleeps;
    if (time->flowing) time->advance(duration);
    Yield yield;
    co_await yield;
    token.throwIfCancelled();
}

RecordingOutputDelegate::Clock fakeClock(const std::shared_ptr<FakeTime>& time) {
    RecordingOutputDelegate::Clock clock;
    clock.hostNow = [] { return hostTime(100); };
    clock.now = [time] { return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(time->wallNs.load())); };
    clock.sleep = [time](std::chrono::milliseconds duration, platform::CancelToken token) {
        return yieldingSleep(time, duration, std::move(token));
    };
    clock.after = [](platform::SerialQueue& queue, std::chrono::milliseconds, std::function<void()> work) {
        queue.async(std::move(work));
    };
    return clock;
}

platform::ShareableContent desktop() {
    platform::ShareableContent content;
    platform::ShareableDisplay display;
    display.displayID = kDisplay;
    display.width = 2880;
    display.height = 1800;
    display.frame = {0, 0, 1440, 900};
    display.pixelBounds = {0, 0, 2880, 1800};
    content.displays = {display};
    content.mainDisplayID = kDisplay;
    content.applications = {{getpid(), "yux", "Yux"}, {4242, "org.example.Editor", "Editor"}};
    content.scale = 2;
    return content;
}

SampleBuffer frame(double seconds) {
    return media::videoSample(hostTime(seconds), platform::PixelBuffer::create(4, 4), MediaTime(1, 60));
}
SampleBuffer sound(double seconds) { return media::audioSample(hostTime(seconds), media::sineTone(440, 480)); }

bool running(const CaptureStream& stream) { return stream.frameInterval().isValid(); }

struct Fixture {
    std::shared_ptr<FakeTime> time = std::make_shared<FakeTime>();
    std::shared_ptr<yux::testing::RecordingDebugLog> debugLog = std::make_shared<yux::testing::RecordingDebugLog>();
    std::shared_ptr<X11ScreenRecordingPermission> permission;
    std::shared_ptr<X11VideoCapture::NullControl> control = std::make_shared<X11VideoCapture::NullControl>();
    CaptureInputsController::RecordingInputs inputs;
    std::optional<AppError> inputsFailure;
    // "recordingInputs" holds a start before it registers its session.
    yux::testing::AwaitGates gates;
    platform::SystemLog systemLog = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> systemLines = systemLog.track_lines();
    std::unique_ptr<X11VideoCapture> engine;

    explicit Fixture(bool access = true, bool requestGrants = false,
                     std::shared_ptr<CaptureDeviceRuntime> runtime = {}, CaptureInputsController* controller = nullptr,
                     std::chrono::milliseconds accessCheck = {}) {
        permission = std::make_shared<X11ScreenRecordingPermission>(
            X11ScreenRecordingPermission::create_null(access, requestGrants, accessCheck));
        auto recordingInputs = [this]() -> QCoro::Task<CaptureInputsController::RecordingInputs> {
            co_await gates.pass("recordingInputs");
            if (inputsFailure) throw *inputsFailure;
            co_return inputs;
        };
        engine = X11VideoCapture::create_null(permission, debugLog, desktop(), recordingInputs, control,
                                              fakeClock(time), std::move(runtime), controller, systemLog);
    }
    ~Fixture() { control->releaseStarts(); }

    std::shared_ptr<CaptureStream> stream() const { return control->streams().back(); }
    std::shared_ptr<RecordingOutputDelegate> writer() const { return control->writers().back(); }

    // The events of the lifecycle lines, in order.
    std::vector<std::string> events() const {
        std::vector<std::string> names;
        for (const auto& line : debugLog->lines()) {
            if (line.rfind("capture ", 0) != 0) continue;
            auto end = line.find(' ', 8);
            names.push_back(line.substr(8, end - 8));
        }
        return names;
    }
    std::string line(const std::string& event) const {
        for (const auto& line : debugLog->lines()) {
            if (line.rfind("capture " + event + " ", 0) == 0) return line;
        }
        return "";
    }

    // A start that the test feeds: it waits until the stream runs, then hands it `feed`.
    QCoro::Task<void> beginStart(CaptureTarget target = CaptureTarget::fullMainDisplay()) {
        return engine->startCapture(kSession, std::move(target), "~/scratch/take.mov");
    }
    void feedWhenRunning(const std::function<void(CaptureStream&)>& feed) {
        ASSERT_TRUE(
            processEventsUntil([&] { return !control->streams().empty() && running(*stream()); }, kHangMilliseconds));
        feed(*stream());
    }
    void start(CaptureTarget target = CaptureTarget::fullMainDisplay()) {
        auto task = beginStart(std::move(target));
        feedWhenRunning([&](CaptureStream& s) {
            s.simulate_sample(StreamOutputType::audio, sound(0.9));
            s.simulate_sample(StreamOutputType::screen, frame(1.0));
            s.simulate_sample(StreamOutputType::microphone, sound(1.0));
        });
        waitForTask(task);
    }
};

const std::vector<std::string> kStartEvents = {"start_request", "session_inputs", "microphone_route",
                                               "stream_start_invoked", "start_ready"};
const std::vector<std::string> kStopEvents = {"stop_request", "stream_stop_invoked", "stop_completed"};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

// MARK: a recording from start to stop

TEST(X11VideoCapture, RecordsTheFullDisplayWithItsLifecycleInOrder) {
    Fixture f;
    f.start();
    EXPECT_TRUE(f.engine->isRegistered(kSession));
    f.time->advance(std::chrono::milliseconds(2500));
    waitForTask(f.engine->stopCapture(kSession));

    EXPECT_EQ(f.events(), joined(kStartEvents, kStopEvents));
    EXPECT_EQ(f.line("start_request"),
              "capture start_request session_id=" + kSessionText +
                  " capture_target=fullMainDisplay quality=full_fidelity shows_cursor=true "
                  "target_file=~/scratch/take.mov");
    EXPECT_EQ(f.line("session_inputs"),
              "capture session_inputs session_id=" + kSessionText + " camera_enabled=false microphone=off");
    EXPECT_EQ(f.line("microphone_route"), "capture microphone_route session_id=" + kSessionText + " route=off");
    // Counted from the registration, not from the first frame.
    EXPECT_EQ(f.line("stop_completed"),
              "capture stop_completed session_id=" + kSessionText + " recording_seconds=2.500");
    EXPECT_FALSE(f.engine->isRegistered(kSession));

    // The scratch folder is made with the tilde expanded; the display's pixels, no own windows.
    EXPECT_EQ(f.control->directories(), std::vector<std::string>{expandTilde("~/scratch")});
    const auto& configuration = f.stream()->configuration();
    EXPECT_EQ(configuration.width, 2880);
    EXPECT_EQ(configuration.height, 1800);
    EXPECT_FALSE(configuration.captureMicrophone);
    EXPECT_EQ(f.stream()->filter().applications, (std::vector<platform::RunningApplication>{{getpid(), "yux", "Yux"}}));
    EXPECT_FALSE(running(*f.stream()));
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
    // No microphone track: the stream's microphone sample went nowhere.
    EXPECT_EQ(f.writer()->queue().sync([&] { return f.writer()->received(); }),
              (std::set<RecordingSourceKind>{RecordingSourceKind::screen}));
}

TEST(X11VideoCapture, AnAreaIsScaledToEvenPixelsAndALocalMicrophoneIsRecordedByTheStream) {
    Fixture f;
    f.inputs.microphoneID = "alsa_input.usb-mic";
    f.start(CaptureTarget::area({DisplayID{std::to_string(kDisplay)}, {10, 20, 320.6, 240.3}}));
    const auto& configuration = f.stream()->configuration();
    EXPECT_EQ(configuration.width, 640);
    EXPECT_EQ(configuration.height, 480);
    EXPECT_TRUE(configuration.captureMicrophone);
    EXPECT_EQ(configuration.microphoneCaptureDeviceID, "alsa_input.usb-mic");
    EXPECT_EQ(f.line("microphone_route"), "capture microphone_route session_id=" + kSessionText + " route=native");
    EXPECT_TRUE(f.writer()->queue().sync([&] { return f.writer()->received().contains(RecordingSourceKind::microphone); }));
    waitForTask(f.engine->stopCapture(kSession));
}

TEST(X11VideoCapture, AStopOfAnUnknownOrStoppedSessionIsSilent) {
    Fixture f;
    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_TRUE(f.debugLog->lines().empty());
    f.start();
    waitForTask(f.engine->stopCapture(kSession));
    const auto lines = f.debugLog->lines().size();
    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_EQ(f.debugLog->lines().size(), lines);
}

// A finished session leaves nothing behind: its identifier can record again.
TEST(X11VideoCapture, AStoppedSessionCanStartAgain) {
    Fixture f;
    for (int take = 0; take < 2; ++take) {
        SCOPED_TRACE(take);
        f.start();
        EXPECT_TRUE(f.engine->isRegistered(kSession));
        waitForTask(f.engine->stopCapture(kSession));
        EXPECT_FALSE(f.engine->isRegistered(kSession));
        EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
    }
    EXPECT_EQ(f.control->writers().size(), 2u);
}

TEST(X11VideoCapture, ASecondStartOfARunningSessionIsRefusedAndTheFirstGoesOn) {
    Fixture f;
    f.start();
    yux::testing::expectAppError([&] { waitForTask(f.beginStart()); }, AppError::recordingSessionAlreadyActive());
    EXPECT_EQ(f.control->streams().size(), 1u);
    EXPECT_TRUE(running(*f.stream()));
    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
}

TEST(X11VideoCapture, ASecondStartWhileTheFirstIsStillStartingIsRefused) {
    // Before the first start registers its session (asking for the inputs), and after (its
    // stream starting).
    for (const bool registered : {false, true}) {
        SCOPED_TRACE(registered ? "registered" : "not yet registered");
        Fixture f;
        if (registered) {
            f.control->holdStarts();
        } else {
            f.gates.hold("recordingInputs");
        }
        auto first = f.beginStart();
        ASSERT_TRUE(processEventsUntil([&] {
            return registered ? f.control->startWaiting() : f.gates.isWaiting("recordingInputs");
        }, kHangMilliseconds));
        EXPECT_EQ(f.engine->isRegistered(kSession), registered);
        auto second = f.beginStart();
        processEventsUntil([&] { return second.isReady() || f.gates["recordingInputs"].waiting() > 1; },
                           kHangMilliseconds);
        if (!second.isReady()) {
            ADD_FAILURE() << "the second start went on";
            // Both time out: nothing is fed.
            f.time->flowing = true;
            f.gates.open("recordingInputs");
            f.control->releaseStarts();
            for (auto* start : {&first, &second}) EXPECT_ANY_THROW(waitForTask(*start));
            continue;
        }
        yux::testing::expectAppError([&] { waitForTask(second); }, AppError::recordingSessionAlreadyActive());
        f.gates.open("recordingInputs");
        f.control->releaseStarts();
        f.feedWhenRunning([](CaptureStream& s) { s.simulate_sample(StreamOutputType::screen, frame(1.0)); });
        waitForTask(first);
        EXPECT_EQ(f.control->streams().size(), 1u);
        waitForTask(f.engine->stopCapture(kSession));
        EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
    }
}

TEST(X11VideoCapture, ASecondStopAwaitsTheFirstAndTheStreamStopsOnce) {
    Fixture f;
    f.start();
    auto events = f.stream()->track_events();
    auto first = f.engine->stopCapture(kSession);
    auto second = f.engine->stopCapture(kSession);
    waitForTask(second);
    EXPECT_TRUE(first.isReady());
    waitForTask(first);
    EXPECT_EQ(events.data(), (std::vector<CaptureStreamEvent>{{CaptureStreamEvent::Kind::stopped}}));
    EXPECT_EQ(f.events(), joined(kStartEvents, kStopEvents));
}

TEST(X11VideoCapture, AStopThatFailedCanBeTriedAgain) {
    Fixture f;
    f.start();
    f.control->failingStops = 1;
    EXPECT_THROW(waitForTask(f.engine->stopCapture(kSession)), std::runtime_error);
    EXPECT_TRUE(f.engine->isRegistered(kSession));
    EXPECT_TRUE(running(*f.stream()));
    EXPECT_EQ(f.events().back(), "stop_failed");

    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_FALSE(f.engine->isRegistered(kSession));
    EXPECT_FALSE(running(*f.stream()));
    EXPECT_EQ(f.events().back(), "stop_completed");
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
}

// MARK: failures while recording

TEST(X11VideoCapture, AFailedSoundSourceIsLoggedAndTheMovieStillFinishes) {
    Fixture f;
    f.start();
    f.stream()->simulate_failure({StreamOutputType::audio, "Connection terminated"});
    ASSERT_TRUE(processEventsUntil([&] {
        for (const auto& line : f.debugLog->lines()) {
            if (line.find("source_failed") != std::string::npos) return true;
        }
        return false;
    }, kHangMilliseconds));
    EXPECT_EQ(f.line("source_failed"), "capture source_failed session_id=" + kSessionText +
                                            " source=system_audio error=Connection terminated");
    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
}

TEST(X11VideoCapture, AWriterFailureDropsLaterSamplesAndTheStopReportsIt) {
    Fixture f;
    auto refuse = std::make_shared<std::atomic<bool>>(false);
    f.control->writerScript.accepts = [refuse](int) { return !*refuse; };
    f.start();
    *refuse = true;
    f.stream()->simulate_sample(StreamOutputType::screen, frame(1.5));
    f.writer()->queue().sync([] {});
    *refuse = false;
    f.stream()->simulate_sample(StreamOutputType::screen, frame(1.6));
    try {
        waitForTask(f.engine->stopCapture(kSession));
        ADD_FAILURE() << "the stop succeeded";
    } catch (const AppError& error) {
        EXPECT_EQ(error.kind(), AppError::Case::outputFinalizationFailed);
        EXPECT_EQ(error.detail(),
                  "The movie could not be written. The recording stopped, and what was recorded up to then is kept.");
    }
    EXPECT_EQ(f.events().back(), "stop_failed");
    EXPECT_FALSE(f.engine->isRegistered(kSession));
    EXPECT_FALSE(running(*f.stream()));
    // The take up to the failure is the user's: nothing removes it.
    EXPECT_NE(f.writer()->writer().status(), platform::MovieWriterStatus::cancelled);
}

// MARK: failing starts

TEST(X11VideoCapture, FailuresBeforeTheWriterThrowAtOnceWithoutCleanUp) {
    {
        Fixture f(false);
        yux::testing::expectAppError([&] { waitForTask(f.beginStart()); }, AppError::screenSelectionFailed("Screen recording is not available in this session"));
        EXPECT_EQ(f.events(), std::vector<std::string>{"start_request"});
    }
    {
        Fixture f;
        f.inputsFailure = AppError::cameraFailed("Camera is busy");
        yux::testing::expectAppError([&] { waitForTask(f.beginStart()); }, AppError::cameraFailed("Camera is busy"));
    }
    {
        Fixture f;
        f.control->directoryFails = true;
        EXPECT_THROW(waitForTask(f.beginStart()), FileError);
        EXPECT_TRUE(f.control->streams().empty());
    }
    {
        Fixture f;
        yux::testing::expectAppError(
            [&] { waitForTask(f.beginStart(CaptureTarget::application("org.gone.App", DisplayID{"7"}))); },
            AppError::screenSelectionFailed("Selected application is no longer running"));
        yux::testing::expectAppError(
            [&] { waitForTask(f.beginStart(CaptureTarget::area({DisplayID{"99"}, {0, 0, 10, 10}}))); },
            AppError::screenSelectionFailed("The selected display is no longer available"));
    }
    {
        Fixture f;
        f.control->writerFails = "Cannot create the movie: disk full";
        EXPECT_THROW(waitForTask(f.beginStart()), std::runtime_error);
        EXPECT_EQ(f.events(), (std::vector<std::string>{"start_request", "session_inputs", "microphone_route"}));
        EXPECT_FALSE(f.engine->isRegistered(kSession));
    }
}

TEST(X11VideoCapture, ACameraThatIsNotRunningFailsTheStartAndReleasesTheWriter) {
    yux::testing::MemoryPreferences memory;
    auto platform = StubbedPulseV4l2Capture::create({{}, {{"cam0", "Camera"}}});
    auto runtime = std::make_shared<CaptureDeviceRuntime>(platform->functions(),
                                                          std::make_shared<ScriptedUSBCameraReceiver>(),
                                                          std::make_shared<CameraFrameFeed>());
    CaptureInputsController controller(memory.store(), runtime, platform::SystemSettingsOpener::create_null(true),
                                       platform::SystemLog::create_null());
    Fixture f(true, false, runtime, &controller);
    f.inputs.cameraEnabled = true;
    yux::testing::expectAppError([&] { waitForTask(f.beginStart()); }, AppError::cameraFailed("Selected camera is not running"));
    EXPECT_EQ(f.events(), (std::vector<std::string>{"start_request", "session_inputs", "microphone_route",
                                                    "setup_writer_released", "start_failed"}));
    EXPECT_EQ(f.line("setup_writer_released"),
              "capture setup_writer_released session_id=" + kSessionText + " writer_status=4");
    EXPECT_EQ(f.line("start_failed"), "capture start_failed session_id=" + kSessionText +
                                          " error=cameraFailed(\"Selected camera is not running\")");
    EXPECT_FALSE(f.engine->isRegistered(kSession));
}

TEST(X11VideoCapture, ACameraPictureThatCannotBeDrawnIsSkippedAndTheTakeGoesOn) {
    yux::testing::MemoryPreferences memory;
    auto platform = StubbedPulseV4l2Capture::create({{}, {{"cam0", "Camera"}}});
    auto feed = std::make_shared<CameraFrameFeed>();
    auto runtime = std::make_shared<CaptureDeviceRuntime>(platform->functions(),
                                                          std::make_shared<ScriptedUSBCameraReceiver>(), feed);
    waitForTask(runtime->start(CaptureInputKind::camera, "cam0"));
    CaptureInputsController controller(memory.store(), runtime, platform::SystemSettingsOpener::create_null(true),
                                       platform::SystemLog::create_null());
    Fixture f(true, false, runtime, &controller);
    f.inputs.cameraEnabled = true;
    auto start = f.beginStart();
    f.feedWhenRunning([&](CaptureStream& s) {
        s.simulate_sample(StreamOutputType::screen, frame(1.0));
        feed->push(media::videoSample(hostTime(1.0), platform::PixelBuffer::create(64, 48), MediaTime(1, 30)));
    });
    waitForTask(start);
    // A frame without a picture cannot be drawn.
    feed->push(media::audioSample(hostTime(1.1), media::sineTone(440, 480)));
    ASSERT_TRUE(processEventsUntil([&] {
        return std::ranges::any_of(f.debugLog->lines(),
                                   [](const std::string& line) { return line.starts_with("source_writer_frame_skipped"); });
    }, kHangMilliseconds));
    f.stream()->simulate_sample(StreamOutputType::screen, frame(1.2));
    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
    EXPECT_EQ(f.writer()->queue().sync([&] { return f.writer()->losses(); })[RecordingSourceKind::camera].framesSkipped, 1);
}

TEST(X11VideoCapture, ACameraWithoutRuntimeFailsTheStart) {
    Fixture f;
    f.inputs.cameraEnabled = true;
    yux::testing::expectAppError([&] { waitForTask(f.beginStart()); }, AppError::cameraFailed("Camera runtime unavailable"));
    EXPECT_EQ(f.events().back(), "start_failed");
}

TEST(X11VideoCapture, AStreamThatCannotStartIsCleanedUp) {
    Fixture f;
    f.control->streamAnswers.startError = "The X server lacks shared memory";
    EXPECT_THROW(waitForTask(f.beginStart()), std::runtime_error);
    EXPECT_EQ(f.events(), (std::vector<std::string>{"start_request", "session_inputs", "microphone_route",
                                                    "stream_start_invoked", "stop_request", "stream_stop_invoked",
                                                    "stop_completed", "setup_writer_released", "start_failed"}));
    EXPECT_EQ(f.line("setup_writer_released"),
              "capture setup_writer_released session_id=" + kSessionText + " writer_status=4");
    EXPECT_FALSE(f.engine->isRegistered(kSession));
}

TEST(X11VideoCapture, AStartWithoutFirstFramesTimesOutAndStopsItsStream) {
    Fixture f;
    f.time->flowing = true;
    auto task = f.beginStart();
    yux::testing::expectAppError([&] { waitForTask(task); }, AppError::outputFinalizationFailed("Capture did not deliver video"));
    EXPECT_FALSE(running(*f.stream()));
    EXPECT_EQ(f.events().back(), "start_failed");
    const auto events = f.events();
    EXPECT_NE(std::ranges::find(events, "stop_completed"), events.end());
    EXPECT_FALSE(f.engine->isRegistered(kSession));
}

// MARK: a stop while the start is under way

TEST(X11VideoCapture, AStopWhileTheStreamStartsLeavesNothingRunning) {
    Fixture f;
    f.control->holdStarts();
    auto start = f.beginStart();
    ASSERT_TRUE(processEventsUntil([&] { return f.control->startWaiting(); }, kHangMilliseconds));
    // Nothing was recorded, so the stop has no movie to finish.
    yux::testing::expectAppError([&] { waitForTask(f.engine->stopCapture(kSession)); },
                            AppError::outputFinalizationFailed("Capture produced no video"));
    f.control->releaseStarts();
    yux::testing::expectAppError([&] { waitForTask(start); }, AppError::recordingSessionNotActive());
    EXPECT_FALSE(running(*f.stream()));
    EXPECT_FALSE(f.engine->isRegistered(kSession));
    EXPECT_EQ(f.events().back(), "start_failed");
}

TEST(X11VideoCapture, AStopBeforeTheSessionIsRegisteredMakesTheStartGiveUp) {
    // While access is checked on the streams' queue, and while the inputs are asked for.
    for (const bool askingInputs : {false, true}) {
        SCOPED_TRACE(askingInputs ? "asking for the inputs" : "checking access");
        Fixture f(true, false, {}, nullptr, std::chrono::milliseconds(askingInputs ? 0 : 100));
        f.time->flowing = true;  // a start that went on would time out, not wait for ever
        if (askingInputs) f.gates.hold("recordingInputs");
        auto start = f.beginStart();
        if (askingInputs) {
            ASSERT_TRUE(
                processEventsUntil([&] { return f.gates.isWaiting("recordingInputs"); }, kHangMilliseconds));
        }
        waitForTask(f.engine->stopCapture(kSession));
        f.gates.open("recordingInputs");
        yux::testing::expectAppError([&] { waitForTask(start); }, AppError::recordingSessionNotActive());
        EXPECT_TRUE(f.control->streams().empty());
        EXPECT_TRUE(f.control->writers().empty());
        EXPECT_FALSE(f.engine->isRegistered(kSession));
        EXPECT_EQ(f.events(), std::vector<std::string>{"start_request"}) << "the start went on after the stop";
        // The word is not left over for the next start under that identifier.
        f.time->flowing = false;
        f.start();
        EXPECT_TRUE(f.engine->isRegistered(kSession));
        waitForTask(f.engine->stopCapture(kSession));
    }
}

TEST(X11VideoCapture, AStopDuringTheFirstSamplesWaitEndsItAtOnceAndKeepsTheFinishedMovie) {
    Fixture f;
    f.inputs.microphoneID = "alsa_input.usb-mic";
    auto start = f.beginStart();
    std::optional<platform::OutputTracker<CaptureStreamEvent>> events;
    f.feedWhenRunning([&](CaptureStream& s) {
        events.emplace(s.track_events());
        // Pictures came, the microphone never does: the start waits.
        s.simulate_sample(StreamOutputType::screen, frame(1.0));
    });
    ASSERT_TRUE(processEventsUntil([&] { return f.time->sleeps > 0; }, kHangMilliseconds));
    auto stop = f.engine->stopCapture(kSession);
    f.time->flowing = true;  // from the stop on: a wait that went on would time out
    waitForTask(stop);
    yux::testing::expectAppError([&] { waitForTask(start); }, AppError::recordingSessionNotActive());
    EXPECT_LT(std::chrono::nanoseconds(f.time->wallNs.load()), std::chrono::seconds(1)) << "the stop did not end the wait";
    EXPECT_EQ(events->data(), (std::vector<CaptureStreamEvent>{{CaptureStreamEvent::Kind::stopped}}));
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
    EXPECT_EQ(f.line("setup_writer_released"),
              "capture setup_writer_released session_id=" + kSessionText + " writer_status=2");
    EXPECT_EQ(f.events().back(), "start_failed");
}

// MARK: stops that race (the debug log suspends on every line, as the live one does)

TEST(X11VideoCapture, AStopWhileTheStartWritesItsFirstLineMakesTheStartGiveUp) {
    Fixture f;
    f.debugLog->suspendAppends();
    f.time->flowing = true;  // a start that went on would time out, not wait for ever
    auto start = f.beginStart();  // writing "start_request"
    waitForTask(f.engine->stopCapture(kSession));
    yux::testing::expectAppError([&] { waitForTask(start); }, AppError::recordingSessionNotActive());
    EXPECT_TRUE(f.control->streams().empty());
    EXPECT_FALSE(f.engine->isRegistered(kSession));
}

TEST(X11VideoCapture, ASecondStopDuringTheFirstStopsFinishReturnsOnlyWithTheFinishedMovie) {
    Fixture f;
    std::atomic<bool> drained{true};
    f.control->writerScript.ready = [&drained](int) { return drained.load(); };
    f.debugLog->suspendAppends();
    f.start();
    drained = false;  // the finish waits for the video track
    auto first = f.engine->stopCapture(kSession);
    ASSERT_TRUE(processEventsUntil([&] { return !f.engine->isRegistered(kSession); }, kHangMilliseconds));
    auto second = f.engine->stopCapture(kSession);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(second.isReady()) << "the second stop returned before the movie was complete";
    drained = true;
    waitForTask(second);
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
    waitForTask(first);
}

TEST(X11VideoCapture, AStopThatMeetsAFailedStartsCleanUpReportsTheStartsFailure) {
    // The clean-up stops the stream, then releases the writer: the stop comes during either.
    for (const char* during : {"stop_request", "setup_writer_released"}) {
        SCOPED_TRACE(during);
        Fixture f;
        f.debugLog->suspendAppends();
        std::optional<QCoro::Task<void>> stop;
        // Posted before the line's own wait ends: the stop comes while the line is written.
        f.debugLog->watch([&, prefix = "capture " + std::string(during) + " "](const std::string& line) {
            if (!line.starts_with(prefix)) return;
            platform::postToMain([&] { stop.emplace(f.engine->stopCapture(kSession)); });
        });
        f.time->flowing = true;  // no first samples come: the start times out
        auto start = f.beginStart();
        ASSERT_TRUE(processEventsUntil([&] { return stop.has_value(); }, kHangMilliseconds));
        const auto timedOut = AppError::outputFinalizationFailed("Capture did not deliver video");
        yux::testing::expectAppError([&] { waitForTask(*stop); }, timedOut);
        yux::testing::expectAppError([&] { waitForTask(start); }, timedOut);
        EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::cancelled);
    }
}

// Quitting gives a stop 15 s; one whose stream would not stop leaves its capture registered
// when the engine goes. Run under the address sanitizer, this catches a stream that posts onto
// a writer already freed.
TEST(X11VideoCapture, AnEngineThatGoesAwayStopsARunningStreamBeforeItsWriterAndKeepsTheMovie) {
    Fixture f;
    f.control->retains = false;
    f.control->streamAnswers.stopError = "The X server does not answer";
    f.control->streamAnswers.soundAtStop = sound(1.5);
    f.start();
    EXPECT_THROW(waitForTask(f.engine->stopCapture(kSession)), std::runtime_error);
    ASSERT_TRUE(f.engine->isRegistered(kSession));
    auto appends = f.writer()->writer().track_appends();
    f.engine.reset();

    EXPECT_TRUE(f.control->writers().empty());
    EXPECT_TRUE(f.control->streams().empty());
    const auto written = appends.data();
    constexpr int kSystemAudio = 1;
    EXPECT_TRUE(std::ranges::any_of(written, [](const platform::MovieWriterAppend& item) {
        return item.track == kSystemAudio && item.presentationTime == hostTime(1.5);
    })) << "the stream's last sound did not reach the writer";
    // The movie ends where the engine went: its last picture is stretched there.
    EXPECT_TRUE(std::ranges::any_of(written, [](const platform::MovieWriterAppend& item) {
        return item.track == 0 && item.presentationTime == hostTime(100) - MediaTime(1, 60);
    }));
}

// MARK: the phone microphone

// A phone whose microphone runs, recorded through the runtime.
struct PhoneMicrophone {
    std::shared_ptr<ScriptedUSBCameraReceiver> receiver = std::make_shared<ScriptedUSBCameraReceiver>();
    std::shared_ptr<StubbedPulseV4l2Capture> devices = StubbedPulseV4l2Capture::create({});
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    PhoneMicrophone() {
        receiver->phones = {{{"yux-usb:0001", "iPhone · Yux Cam (USB)"}}};
        runtime = std::make_shared<CaptureDeviceRuntime>(devices->functions(), receiver, std::make_shared<CameraFrameFeed>());
        waitForTask(runtime->start(CaptureInputKind::microphone, "yux-usb:0001"));
    }
};

TEST(X11VideoCapture, ThePhoneMicrophoneIsRecordedThroughTheRuntimeNotTheStream) {
    PhoneMicrophone phone;
    Fixture f(true, false, phone.runtime);
    f.inputs.microphoneID = "yux-usb:0001";
    auto start = f.beginStart();
    f.feedWhenRunning([&](CaptureStream& s) {
        s.simulate_sample(StreamOutputType::screen, frame(1.0));
        s.simulate_sample(StreamOutputType::microphone, sound(1.0));  // no stream microphone output
        phone.receiver->simulate_microphone(sound(1.1));
    });
    waitForTask(start);
    EXPECT_EQ(f.line("session_inputs"),
              "capture session_inputs session_id=" + kSessionText + " camera_enabled=false microphone=usb");
    EXPECT_EQ(f.line("microphone_route"), "capture microphone_route session_id=" + kSessionText + " route=usb");
    EXPECT_FALSE(f.stream()->configuration().captureMicrophone);

    // A failing phone stream leaves one system-log line and one debug line; the take goes on,
    // the microphone as silence beside the system audio.
    const std::string off = AppError::microphoneFailed("USB microphone is off").what();
    phone.receiver->simulate_microphone(std::make_exception_ptr(AppError::microphoneFailed("USB microphone is off")));
    EXPECT_EQ(f.systemLines.data(),
              (std::vector<platform::SystemLogLine>{
                  {"CaptureEngine", platform::LogLevel::error, "yux_recording_usb_microphone_failed " + off}}));
    ASSERT_TRUE(processEventsUntil([&] { return !f.line("source_failed").empty(); }, kHangMilliseconds));
    EXPECT_EQ(f.line("source_failed"),
              "capture source_failed session_id=" + kSessionText + " source=microphone error=" + off);
    f.stream()->simulate_sample(StreamOutputType::screen, frame(1.2));
    f.stream()->simulate_sample(StreamOutputType::audio, sound(1.2));
    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
    EXPECT_EQ(f.writer()->queue().sync([&] { return f.writer()->failure(); }), nullptr);
    // The stop unsubscribed: later phone samples go nowhere.
    phone.receiver->simulate_microphone(sound(1.3));
}

TEST(X11VideoCapture, APhoneMicrophoneThatFailsBeforeItsFirstSoundDoesNotHoldUpTheStart) {
    PhoneMicrophone phone;
    Fixture f(true, false, phone.runtime);
    f.inputs.microphoneID = "yux-usb:0001";
    auto start = f.beginStart();
    f.feedWhenRunning([&](CaptureStream& s) {
        phone.receiver->simulate_microphone(std::make_exception_ptr(AppError::microphoneFailed("USB microphone stopped supplying audio")));
        s.simulate_sample(StreamOutputType::screen, frame(1.0));
        s.simulate_sample(StreamOutputType::audio, sound(1.0));
    });
    waitForTask(start);
    EXPECT_EQ(f.line("start_ready"), "capture start_ready session_id=" + kSessionText);
    waitForTask(f.engine->stopCapture(kSession));
    EXPECT_EQ(f.writer()->writer().status(), platform::MovieWriterStatus::completed);
}

TEST(X11VideoCapture, APhoneMicrophoneThatCannotBeRecordedFailsTheStartAndUnregistersIt) {
    {
        Fixture f;  // no runtime at all
        f.inputs.microphoneID = "yux-usb:0001";
        yux::testing::expectAppError([&] { waitForTask(f.beginStart()); },
                                     AppError::microphoneFailed("USB microphone runtime unavailable"));
        EXPECT_EQ(f.events(), (std::vector<std::string>{"start_request", "session_inputs", "microphone_route",
                                                        "stop_request", "stream_stop_invoked", "stop_completed",
                                                        "setup_writer_released", "start_failed"}));
        EXPECT_FALSE(f.engine->isRegistered(kSession));
    }
    {
        // The phone's microphone was never started: the runtime refuses the subscription.
        auto platform = StubbedPulseV4l2Capture::create({});
        auto runtime = std::make_shared<CaptureDeviceRuntime>(
            platform->functions(), std::make_shared<ScriptedUSBCameraReceiver>(), std::make_shared<CameraFrameFeed>());
        Fixture f(true, false, runtime);
        f.inputs.microphoneID = "yux-usb:0001";
        yux::testing::expectAppError([&] { waitForTask(f.beginStart()); },
                                     AppError::microphoneFailed("USB microphone is unavailable"));
        EXPECT_EQ(f.line("setup_writer_released"),
                  "capture setup_writer_released session_id=" + kSessionText + " writer_status=4");
        EXPECT_FALSE(f.engine->isRegistered(kSession));
        EXPECT_FALSE(running(*f.stream()));
    }
}

// MARK: access

TEST(X11VideoCapture, EnsureAccessAsksOnlyWhenAccessIsMissing) {
    {
        Fixture f(true, false);
        waitForTask(f.engine->ensureAccess());
        EXPECT_TRUE(f.permission->track_accessRequests()->requests().empty());
    }
    {
        Fixture f(false, true);
        waitForTask(f.engine->ensureAccess());
        EXPECT_EQ(f.permission->track_accessRequests()->requests().size(), 1u);
    }
    {
        Fixture f(false, false);
        yux::testing::expectAppError([&] { waitForTask(f.engine->ensureAccess()); }, AppError::screenSelectionFailed("Log in to an X11 session to let Yux record the screen, then try recording again."));
    }
}

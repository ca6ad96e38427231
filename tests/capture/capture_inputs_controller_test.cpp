#include <gtest/gtest.h>

#include <coroutine>
#include <map>

#include "capture/capture_inputs_controller.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/await_gate.hpp"
#include "support/memory_preferences.hpp"

using namespace yux;
using yux::platform::waitForTask;
using yux::testing::expectAppError;
using Kind = yux::CaptureInputKind;
using yux::testing::MemoryPreferences;

namespace {

const CaptureDevice kMic{"alsa_input.usb-mic", "USB Mic"};
const CaptureDevice kOtherMic{"alsa_input.pci-analog", "Built-in Audio"};
const CaptureDevice kCam{"usb-Cam_1-video-index0", "HD Camera"};
const CaptureDevice kPhone{"yux-usb:00008101", "iPhone · Yux Cam (USB)"};
const CaptureDevice kOtherPhone{"yux-usb:00008102", "iPad · Yux Cam (USB)"};
const std::string kInputsKey = MemoryPreferences::kInputsKey;

// Monitor sleeps that end only when the test says a pass is due.
class VirtualClock {
public:
    ~VirtualClock() {
        closing_ = true;
        tick();
    }
    CaptureInputsController::Sleep sleep() {
        return [this](std::chrono::milliseconds duration, platform::CancelToken token) -> QCoro::Task<void> {
            slept_ += duration;
            if (closing_) throw platform::CancelledError();
            co_await Wait{this};
            token.throwIfCancelled();
        };
    }
    // Ends every pending sleep: one monitor pass each.
    void tick() {
        auto due = std::move(waiting_);
        waiting_.clear();
        for (auto handle : due) handle.resume();
    }
    std::chrono::milliseconds slept() const { return slept_; }
    std::size_t sleepers() const { return waiting_.size(); }

private:
    struct Wait {
        VirtualClock* clock;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { clock->waiting_.push_back(handle); }
        void await_resume() const noexcept {}
    };
    std::vector<std::coroutine_handle<>> waiting_;
    std::chrono::milliseconds slept_{0};
    bool closing_ = false;
};

// Counts the emissions of one signal.
class SignalCount {
public:
    template <class Signal>
    SignalCount(CaptureInputsController* sender, Signal signal) {
        QObject::connect(sender, signal, [this] { ++count_; });
    }
    int count() const { return count_; }

private:
    int count_ = 0;
};

struct Fixture {
    VirtualClock clock;
    MemoryPreferences memory;
    std::shared_ptr<StubbedPulseV4l2Capture> platform;
    std::shared_ptr<ScriptedUSBCameraReceiver> phone = std::make_shared<ScriptedUSBCameraReceiver>();
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    platform::SystemSettingsOpener opener = platform::SystemSettingsOpener::create_null(true);
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();
    std::unique_ptr<CaptureInputsController> controller;

    explicit Fixture(StubbedPulseV4l2Capture::Options options = {{kMic, kOtherMic}, {kCam}}) {
        platform = StubbedPulseV4l2Capture::create(std::move(options));
        runtime = std::make_shared<CaptureDeviceRuntime>(platform->functions(), phone, std::make_shared<CameraFrameFeed>());
    }
    CaptureInputsController& make() {
        controller = std::make_unique<CaptureInputsController>(memory.store(), runtime, opener, log, clock.sleep());
        return *controller;
    }
    CaptureInputsController& started() {
        auto& c = make();
        waitForTask(c.start());
        return c;
    }
    void run(QCoro::Task<void> task) { waitForTask(std::move(task)); }
    std::vector<std::string> messages() const {
        std::vector<std::string> all;
        for (const auto& line : lines.data()) {
            EXPECT_EQ(line.category, "CaptureInputs");
            all.push_back(line.message);
        }
        return all;
    }
};

CaptureInputPreferences enabledInputs(std::optional<std::string> microphone, std::optional<std::string> camera) {
    CaptureInputPreferences preferences;
    preferences.microphoneEnabled = microphone.has_value();
    preferences.microphoneDeviceID = microphone;
    preferences.cameraEnabled = camera.has_value();
    preferences.cameraDeviceID = camera;
    return preferences;
}

}  // namespace

// MARK: start, stop, monitor

TEST(CaptureInputsController, StartWithNothingStoredAppliesTheDefaultsAndStoresNothing) {
    Fixture f;
    auto& c = f.started();
    EXPECT_EQ(c.preferences(), CaptureInputPreferences{});
    EXPECT_EQ(c.microphones(), (std::vector{kMic, kOtherMic}));
    EXPECT_EQ(c.cameras(), (std::vector{kCam}));
    EXPECT_FALSE(c.microphoneMessage() || c.cameraMessage());
    EXPECT_FALSE(c.busy());
    EXPECT_TRUE(c.isMonitoring());
    EXPECT_FALSE(f.runtime->isRunning(Kind::microphone));
    EXPECT_EQ(f.memory.writes, 0);
    EXPECT_EQ(f.phone->calls.front(), "startDiscovery");
}

TEST(CaptureInputsController, StartActivatesStoredInputsAndSwitchesOffThoseWithoutAccess) {
    Fixture f({{kMic}, {kCam}, /*microphoneAccess=*/true, /*cameraAccess=*/false});
    f.memory.store(enabledInputs(kMic.id, kCam.id));
    auto& c = f.started();
    EXPECT_TRUE(f.runtime->isRunning(Kind::microphone));
    EXPECT_TRUE(c.enabled(Kind::microphone));
    EXPECT_FALSE(c.enabled(Kind::camera));
    EXPECT_EQ(c.cameraMessage(), "Access needed · Enable to continue setup");
    EXPECT_FALSE(f.memory.stored()->cameraEnabled) << "the switched-off camera is stored at once";
    EXPECT_EQ(f.memory.stored()->cameraDeviceID, kCam.id);
    EXPECT_EQ(f.platform->prompts, 0);
}

TEST(CaptureInputsController, ASecondStartDoesNothingAndStopThenStartReloads) {
    Fixture f;
    auto& c = f.started();
    f.memory.store(enabledInputs(kMic.id, std::nullopt));
    f.run(c.start());
    EXPECT_FALSE(c.enabled(Kind::microphone));
    f.run(c.stop());
    EXPECT_FALSE(c.isMonitoring());
    EXPECT_EQ(f.phone->calls.back(), "stopDiscovery");
    f.run(c.start());
    EXPECT_TRUE(c.enabled(Kind::microphone));
    EXPECT_TRUE(f.runtime->isRunning(Kind::microphone));
}

TEST(CaptureInputsController, AnUnreadableStoredValueLeavesInputsUsableAndIsReplacedOnlyByTheNextChange) {
    Fixture f;
    f.memory.values[kInputsKey] = R"({"microphoneEnabled":"yes"})";
    auto& c = f.started();
    EXPECT_EQ(c.microphoneMessage(), "Unable to load input preferences");
    EXPECT_FALSE(c.busy());
    EXPECT_TRUE(c.isMonitoring()) << "the monitor runs with the defaults";
    EXPECT_EQ(c.microphones(), (std::vector{kMic, kOtherMic}));
    EXPECT_EQ(f.memory.values[kInputsKey], R"({"microphoneEnabled":"yes"})") << "kept until the user changes a choice";
    ASSERT_FALSE(f.lines.data().empty());
    EXPECT_EQ(f.lines.data().front().level, platform::LogLevel::error);
    EXPECT_TRUE(f.lines.data().front().message.starts_with("input_preferences_unreadable error="));
    EXPECT_TRUE(f.lines.data().front().message.ends_with(R"( value={"microphoneEnabled":"yes"})"))
        << "the value about to be replaced is kept in the log";

    f.run(c.toggle(Kind::microphone));
    EXPECT_TRUE(f.runtime->isRunning(Kind::microphone));
    EXPECT_EQ(f.memory.stored(), c.preferences());
    EXPECT_TRUE(c.preferences().microphoneEnabled);
}

TEST(CaptureInputsController, UnpluggingTheSelectedMicrophoneShowsDisconnectedWithinOnePass) {
    Fixture f;
    f.memory.store(enabledInputs(kMic.id, std::nullopt));
    auto& c = f.started();
    SignalCount lists(&c, &CaptureInputsController::microphonesChanged);
    SignalCount levels(&c, &CaptureInputsController::levelChanged);
    SignalCount prefs(&c, &CaptureInputsController::preferencesChanged);
    SignalCount messages(&c, &CaptureInputsController::microphoneMessageChanged);
    f.clock.tick();
    EXPECT_EQ(lists.count() + levels.count() + prefs.count() + messages.count(), 0) << "an unchanged pass emits nothing";

    f.platform->options.microphones = {kOtherMic};
    f.clock.tick();
    EXPECT_EQ(c.microphoneMessage(), "Disconnected · choose another");
    EXPECT_EQ(lists.count(), 1);
    EXPECT_TRUE(c.enabled(Kind::microphone)) << "still on in the preferences";

    f.platform->options.microphones = {kMic, kOtherMic};
    f.clock.tick();
    EXPECT_EQ(c.microphoneMessage(), "Disconnected · choose another") << "coming back does not clear it";
}

TEST(CaptureInputsController, MonitorReportsStoppedInputsAndPublishesLevelChangesOnly) {
    Fixture f({{kMic}, {}, true, true, /*microphoneDecibels=*/-20});
    f.memory.store(enabledInputs(kMic.id, std::nullopt));
    auto& c = f.started();
    EXPECT_NEAR(c.level(), 0.1, 1e-6);
    EXPECT_EQ(f.clock.slept(), std::chrono::milliseconds(100));

    f.run(f.runtime->stop(Kind::microphone));  // the device stopped by itself
    f.clock.tick();
    EXPECT_EQ(c.microphoneMessage(), "Input stopped · choose the device to retry");
    EXPECT_DOUBLE_EQ(c.level(), 1e-8);

    f.run(c.stop());
    f.clock.tick();
    EXPECT_EQ(f.clock.sleepers(), 0u) << "a stopped monitor sleeps no more";
}

// Phones are listed a moment after the platform's devices, once discovery has reached them:
// start waits for a stored phone instead of taking it for unplugged.
TEST(CaptureInputsController, AStoredPhoneListedAfterTheFirstListingIsStartedOnceItAppears) {
    struct Case {
        const char* name;
        CaptureInputPreferences stored;
        Kind kind;
    };
    const Case cases[] = {
        {"camera", enabledInputs(kMic.id, kPhone.id), Kind::camera},
        {"microphone", enabledInputs(kPhone.id, std::nullopt), Kind::microphone},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Fixture f;
        f.memory.store(test.stored);
        auto& c = f.make();
        auto launch = c.start();
        f.clock.tick();
        EXPECT_TRUE(c.busy()) << "still waiting for the phone";
        f.phone->phones = {{kPhone}};
        f.clock.tick();
        f.run(std::move(launch));
        EXPECT_TRUE(f.runtime->isRunning(test.kind));
        EXPECT_TRUE(c.enabled(test.kind));
        EXPECT_EQ(c.message(test.kind), std::nullopt);
        EXPECT_EQ(f.memory.stored()->microphoneDeviceID, test.stored.microphoneDeviceID);
        EXPECT_TRUE(f.memory.stored()->microphoneEnabled);
        f.clock.tick();
        EXPECT_EQ(c.message(test.kind), std::nullopt) << "a monitor pass finds it running";
        c.setCameraWindowID(7);
        c.beginRecording();
        EXPECT_EQ(c.recordingInputs().cameraEnabled, test.kind == Kind::camera);
    }
}

TEST(CaptureInputsController, AStoredPhoneThatNeverAppearsIsReportedDisconnectedAfterABoundedWait) {
    Fixture f;
    f.memory.store(enabledInputs(kMic.id, kPhone.id));
    auto& c = f.make();
    auto launch = c.start();
    for (int pass = 0; pass < 100 && c.busy(); ++pass) f.clock.tick();
    f.run(std::move(launch));
    EXPECT_EQ(f.clock.slept(), CaptureInputsController::kStoredPhoneWait + CaptureInputsController::kMonitorInterval)
        << "the wait, then the monitor's first sleep";
    EXPECT_TRUE(f.runtime->isRunning(Kind::microphone));
    EXPECT_EQ(c.cameraMessage(), "Disconnected · choose another");
    EXPECT_TRUE(c.enabled(Kind::camera)) << "the choice is kept for when the phone comes";
    EXPECT_EQ(f.memory.stored()->cameraDeviceID, kPhone.id);
    EXPECT_TRUE(c.isMonitoring());

    // Stopped while waiting: nothing starts afterwards, and the next start uses the phone.
    Fixture g;
    g.memory.store(enabledInputs(kMic.id, kPhone.id));
    auto& d = g.make();
    auto first = d.start();
    g.run(d.stop());
    g.phone->phones = {{kPhone}};
    g.clock.tick();
    g.run(std::move(first));
    EXPECT_FALSE(g.runtime->isRunning(Kind::microphone) || g.runtime->isRunning(Kind::camera));
    EXPECT_FALSE(d.isMonitoring());
    EXPECT_FALSE(d.busy());
    g.run(d.start());
    EXPECT_TRUE(g.runtime->isRunning(Kind::camera));
}

TEST(CaptureInputsController, AnEnabledKindWithoutSelectionShowsDisconnected) {
    Fixture f;
    auto preferences = enabledInputs(std::nullopt, std::nullopt);
    preferences.cameraEnabled = true;
    f.memory.store(preferences);
    auto& c = f.started();
    f.clock.tick();
    EXPECT_EQ(c.cameraMessage(), "Disconnected · choose another");
    EXPECT_FALSE(c.microphoneMessage());
}

TEST(CaptureInputsController, ACameraWithoutSettingsPageKeepsItsReasonAndGetsTheSetupsHelp) {
    Fixture f;
    f.opener = platform::SystemSettingsOpener::create_null(false);
    auto preferences = enabledInputs(std::nullopt, std::nullopt);
    preferences.cameraEnabled = true;
    f.memory.store(preferences);
    auto& c = f.started();
    f.clock.tick();
    SignalCount helps(&c, &CaptureInputsController::settingsHelpChanged);
    c.openSettings(Kind::camera);
    EXPECT_EQ(c.cameraMessage(), "Disconnected · choose another");
    EXPECT_EQ(c.settingsHelp(Kind::camera), CaptureInputsController::accessInstructions(Kind::camera));
    EXPECT_TRUE(c.settingsHelp(Kind::camera)->starts_with("Give your user access to the camera"));
    EXPECT_FALSE(c.settingsHelp(Kind::microphone));
    EXPECT_EQ(helps.count(), 1);
    // The same reason again keeps the help; a new state of the input drops it.
    f.clock.tick();
    EXPECT_TRUE(c.settingsHelp(Kind::camera));
    f.run(c.select(Kind::camera, std::nullopt));
    EXPECT_FALSE(c.cameraMessage());
    EXPECT_FALSE(c.settingsHelp(Kind::camera));

    // The microphone's page may be missing too: then it says so, as before.
    c.openSettings(Kind::microphone);
    EXPECT_EQ(c.microphoneMessage(), "Unable to open Settings");
    EXPECT_FALSE(c.settingsHelp(Kind::microphone));

    Fixture g;
    auto& d = g.started();
    d.openSettings(Kind::microphone);
    EXPECT_FALSE(d.microphoneMessage());
    EXPECT_EQ(g.opener.track_openedPanes()->urls, (std::vector<std::string>{"settings:privacy/microphone"}));
}

TEST(CaptureInputsController, AFailedStoreShowsOnTheMicrophoneWhicheverInputChanged) {
    Fixture f;
    auto& c = f.started();
    f.memory.writesFail = true;
    f.run(c.toggle(Kind::camera));
    EXPECT_TRUE(c.enabled(Kind::camera));
    EXPECT_EQ(c.microphoneMessage(), "Unable to save input preferences");
}

// MARK: toggling and activation outcomes

TEST(CaptureInputsController, ToggleOutcomes) {
    Fixture f({{}, {kCam}});
    auto& c = f.started();
    f.run(c.toggle(Kind::microphone));
    EXPECT_EQ(c.microphoneMessage(), "No device connected");
    EXPECT_EQ(f.memory.writes, 0);

    f.run(c.toggle(Kind::camera));  // nothing selected: the first listed camera
    EXPECT_TRUE(c.enabled(Kind::camera));
    EXPECT_EQ(c.selectedID(Kind::camera), kCam.id);
    EXPECT_TRUE(f.runtime->isRunning(Kind::camera));

    f.run(c.toggle(Kind::camera));  // off: the device stops, the choice stays
    EXPECT_FALSE(c.enabled(Kind::camera));
    EXPECT_FALSE(f.runtime->isRunning(Kind::camera));
    EXPECT_EQ(c.selectedID(Kind::camera), kCam.id);
    EXPECT_EQ(f.memory.stored(), c.preferences());

    f.run(c.toggle(Kind::camera));
    EXPECT_TRUE(f.runtime->isRunning(Kind::camera));

    auto logged = f.messages();
    EXPECT_NE(std::find(logged.begin(), logged.end(), "input_toggle kind=microphone enabled=false devices=0"), logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(), "input_selection kind=camera enable=true locked=false busy=false"),
              logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(), "input_started kind=camera"), logged.end());
}

TEST(CaptureInputsController, ActivationOutcomeTable) {
    // Not listed: only the message; the previous device keeps running; nothing stored.
    {
        Fixture f;
        auto& c = f.started();
        f.run(c.select(Kind::microphone, kMic.id));
        int writes = f.memory.writes;
        f.run(c.select(Kind::microphone, "gone"));
        EXPECT_EQ(c.microphoneMessage(), "Disconnected · choose another");
        EXPECT_TRUE(f.runtime->isRunning(Kind::microphone));
        EXPECT_EQ(c.selectedID(Kind::microphone), kMic.id);
        EXPECT_EQ(f.memory.writes, writes);
    }
    // Access refused: flag cleared, device stopped, stored, permission request published.
    {
        Fixture f({{kMic}, {kCam}, true, /*cameraAccess=*/false});
        auto& c = f.started();
        SignalCount requests(&c, &CaptureInputsController::permissionRequestChanged);
        f.run(c.select(Kind::camera, kCam.id));
        EXPECT_FALSE(c.enabled(Kind::camera));
        EXPECT_EQ(c.cameraMessage(), "No access · Open Settings");
        EXPECT_EQ(c.permissionRequest(), (CaptureInputsController::PermissionRequest{Kind::camera, kCam.id}));
        EXPECT_EQ(requests.count(), 1);
        EXPECT_EQ(f.memory.writes, 1);
        EXPECT_EQ(f.platform->prompts, 0);
        EXPECT_EQ(f.messages().back(), "input_access_denied kind=camera");
        f.run(c.select(Kind::microphone, kMic.id));
        EXPECT_FALSE(c.permissionRequest()) << "the next activation clears it";
    }
    // Start failed: the error's user-facing text, flag cleared, id unchanged, stored, logged as an error.
    {
        Fixture f({{kMic}, {kCam}, true, true, 0, std::string("Camera is in use by another application")});
        auto& c = f.started();
        f.run(c.select(Kind::camera, kCam.id));
        EXPECT_FALSE(c.enabled(Kind::camera));
        EXPECT_EQ(c.cameraMessage(), "Camera capture failed: Camera is in use by another application");
        EXPECT_FALSE(c.selectedID(Kind::camera));
        EXPECT_EQ(f.memory.writes, 1);
        EXPECT_EQ(f.lines.data().back().level, platform::LogLevel::error);
        EXPECT_EQ(f.lines.data().back().message,
                  "input_start_failed kind=camera error=Camera capture failed: Camera is in use by another application");
    }
}

TEST(CaptureInputsController, SelectIsRefusedWhileLockedOrBusy) {
    Fixture f;
    auto& c = f.started();
    c.beginRecording();
    f.run(c.select(Kind::microphone, kMic.id));
    EXPECT_FALSE(f.runtime->isRunning(Kind::microphone));
    EXPECT_EQ(f.messages().back(), "input_selection kind=microphone enable=true locked=true busy=false");
}

TEST(CaptureInputsController, PhonesStartUnaskedAndANewPhoneResetsTheFraming) {
    Fixture f({{kMic}, {kCam}, false, false});
    f.phone->phones = {{kPhone}, {kOtherPhone}};
    auto& c = f.started();
    auto placement = c.preferences().camera;
    placement.zoom = 2;
    placement.centreX = 0.2;
    placement.mirrored = true;
    c.setCameraPlacement(placement);

    f.run(c.select(Kind::camera, kPhone.id));
    EXPECT_TRUE(c.enabled(Kind::camera));
    EXPECT_DOUBLE_EQ(c.preferences().camera.aspect, 9.0 / 16.0);
    EXPECT_EQ(c.preferences().camera.zoom, 1.0);
    EXPECT_EQ(c.preferences().camera.mirrored, std::optional<bool>(false));
    EXPECT_EQ(f.platform->prompts, 0);

    placement = c.preferences().camera;
    placement.zoom = 3;
    c.setCameraPlacement(placement);
    f.run(c.select(Kind::camera, kPhone.id));  // the same phone keeps its framing
    EXPECT_EQ(c.preferences().camera.zoom, 3.0);

    // Rotating the phone is followed, except while recording.
    f.phone->aspect = 16.0 / 9.0;
    f.clock.tick();
    EXPECT_DOUBLE_EQ(c.preferences().camera.aspect, 16.0 / 9.0);
    c.setCameraWindowID(42);
    c.beginRecording();
    f.phone->aspect = 9.0 / 16.0;
    f.clock.tick();
    EXPECT_DOUBLE_EQ(c.preferences().camera.aspect, 16.0 / 9.0);
}

// MARK: recording hand-off, automation, placement

TEST(CaptureInputsController, RecordingHandOff) {
    Fixture f;
    auto& c = f.started();
    expectAppError([&] { c.recordingInputs(); }, AppError::recordingSessionNotActive());
    c.beginRecording();  // both inputs off: it only locks
    EXPECT_TRUE(c.locked());
    EXPECT_EQ(c.recordingInputs(), (CaptureInputsController::RecordingInputs{std::nullopt, false}));
    EXPECT_EQ(f.phone->calls.back(), "recording(true)");
    c.endRecording();
    expectAppError([&] { c.recordingInputs(); }, AppError::recordingSessionNotActive());
    EXPECT_EQ(f.phone->calls.back(), "recording(false)");

    f.run(c.select(Kind::microphone, kMic.id));
    f.run(c.select(Kind::camera, kCam.id));
    expectAppError([&] { c.beginRecording(); }, AppError::cameraFailed("Camera preview is not ready"));
    EXPECT_FALSE(c.locked());
    c.setCameraWindowID(0x2a00007);
    c.beginRecording();
    EXPECT_EQ(c.recordingInputs(), (CaptureInputsController::RecordingInputs{kMic.id, true}));
    c.endRecording();

    f.platform->options.microphones = {kOtherMic};
    expectAppError([&] { c.beginRecording(); }, AppError::microphoneFailed("Disconnected · choose another"));
}

TEST(CaptureInputsController, BeginRecordingWhileAnInputIsStartingFailsAsTheMicrophone) {
    Fixture f;
    auto& c = f.make();
    auto starting = c.start();  // the stubbed store answers at once, so drive busy by hand:
    waitForTask(std::move(starting));
    bool threw = false;
    QObject::connect(&c, &CaptureInputsController::busyChanged, [&] {
        if (!c.busy()) return;
        try {
            c.beginRecording();
        } catch (const AppError& error) {
            threw = error == AppError::microphoneFailed("Input is still starting");
        }
    });
    f.run(c.select(Kind::camera, kCam.id));
    EXPECT_TRUE(threw);
    EXPECT_FALSE(c.busy());
}

TEST(CaptureInputsController, AutomatedConfiguration) {
    Fixture f;
    auto& c = f.started();
    f.run(c.select(Kind::microphone, kMic.id));
    int writes = f.memory.writes;
    expectAppError([&] { f.run(c.configureForAutomation(std::nullopt, "gone", std::nullopt)); },
                   AppError::cameraFailed("Selected device is disconnected"));
    EXPECT_TRUE(f.runtime->isRunning(Kind::microphone)) << "validated before anything stops";
    EXPECT_EQ(f.memory.writes, writes);

    CameraPlacement placement;
    placement.shape = CameraShape::rounded;
    f.run(c.configureForAutomation(std::nullopt, std::nullopt, placement));
    EXPECT_FALSE(f.runtime->isRunning(Kind::microphone));
    EXPECT_FALSE(c.enabled(Kind::microphone));
    EXPECT_EQ(c.selectedID(Kind::microphone), kMic.id);
    EXPECT_EQ(f.memory.stored()->camera.shape, CameraShape::rounded);
    EXPECT_EQ(f.memory.writes, writes + 1) << "stored once at the end";
    EXPECT_FALSE(c.busy());

    f.run(c.configureForAutomation(kOtherMic.id, kCam.id, std::nullopt));
    EXPECT_TRUE(f.runtime->isRunning(Kind::microphone) && f.runtime->isRunning(Kind::camera));

    f.platform->options.startFailure = "busy";
    expectAppError([&] { f.run(c.configureForAutomation(kMic.id, kCam.id, std::nullopt)); },
                   AppError::microphoneFailed("Microphone capture failed: busy"));
    EXPECT_FALSE(c.busy());
    EXPECT_TRUE(f.runtime->isRunning(Kind::camera)) << "the camera pair is not handled after the microphone failed";

    c.setCameraWindowID(1);
    c.beginRecording();
    expectAppError([&] { f.run(c.configureForAutomation(std::nullopt, std::nullopt, std::nullopt)); },
                   AppError::recordingSessionAlreadyActive());
}

namespace {

// What the automation runner does with a record command: start the inputs, then configure them.
QCoro::Task<void> configureAtLaunch(CaptureInputsController& inputs, std::string microphone, bool& configured) {
    co_await inputs.start();
    co_await inputs.configureForAutomation(microphone, std::nullopt, std::nullopt);
    configured = true;
}

}  // namespace

// A command file taken at launch configures the inputs while the first start still waits for
// the device lists: it waits for that start instead of finding the inputs busy.
TEST(CaptureInputsController, AutomatedConfigurationDuringTheFirstStartWaitsForIt) {
    Fixture f;
    f.memory.store(enabledInputs(kMic.id, std::nullopt));
    yux::testing::AwaitGate listing;
    auto functions = f.platform->functions();
    functions.waitForDevices = [&listing] { return listing.pass(); };
    f.runtime = std::make_shared<CaptureDeviceRuntime>(functions, f.phone, std::make_shared<CameraFrameFeed>());
    auto& c = f.make();
    auto launch = c.start();
    bool configured = false;
    auto command = configureAtLaunch(c, kOtherMic.id, configured);
    EXPECT_FALSE(configured) << "served before the devices were listed";
    listing.open();
    f.run(std::move(launch));
    f.run(std::move(command));
    EXPECT_TRUE(configured);
    EXPECT_EQ(c.selectedID(Kind::microphone), kOtherMic.id);
    EXPECT_TRUE(f.runtime->isRunning(Kind::microphone));
}

TEST(CaptureInputsController, AutomatedConfigurationNeverAsksForAccess) {
    Fixture f({{kMic}, {kCam}, true, false});
    auto& c = f.started();
    expectAppError([&] { f.run(c.configureForAutomation(std::nullopt, kCam.id, std::nullopt)); },
                   AppError::cameraFailed("Grant access to Yux in Settings first"));
    EXPECT_EQ(f.platform->prompts, 0);
}

TEST(CaptureInputsController, RatioPlacementAndSetup) {
    Fixture f;
    auto& c = f.started();
    f.run(c.setRatio(CaptureRatio::landscape));
    EXPECT_EQ(f.memory.stored()->ratio, CaptureRatio::landscape);

    c.beginRecording();
    f.run(c.setRatio(CaptureRatio::portrait));
    EXPECT_EQ(c.preferences().ratio, CaptureRatio::landscape);
    CameraPlacement moved;
    moved.gapX = 100;
    c.setCameraPlacement(moved);  // editable while recording, not stored by itself
    EXPECT_EQ(c.preferences().camera, moved);
    EXPECT_NE(f.memory.stored()->camera, moved);
    f.run(c.savePlacement());
    EXPECT_EQ(f.memory.stored()->camera, moved);
    c.endRecording();

    f.run(c.finishSetup());
    EXPECT_NE(f.memory.values[kInputsKey].find("\"setupCompleted\":true"), std::string::npos);
}

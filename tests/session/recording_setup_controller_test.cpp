#include "session/recording_setup_controller.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "capture/camera_frame_feed.hpp"
#include "capture/usb_camera_receiver.hpp"
#include "platform/async/sleep.hpp"
#include "platform/async/wait_for.hpp"
#include "support/memory_preferences.hpp"

namespace yux {
namespace {

using namespace std::chrono_literals;
using platform::waitForTask;

const CaptureDevice kMic{"mic-1", "Desk Microphone"};
const CaptureDevice kCam{"cam-1", "Desk Camera"};

// The setup over null inputs and null gates; each gate made is recorded with its texts.
struct SetupWorld {
    testing::MemoryPreferences memory;
    std::shared_ptr<StubbedPulseV4l2Capture> devices;
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    std::shared_ptr<CaptureInputsController> inputs;
    platform::SystemSettingsOpener opener = platform::SystemSettingsOpener::create_null(true);
    PermissionGateController::Platform pieces = PermissionGateController::Platform::create_null();
    std::vector<PermissionGateContent> gates;
    std::unique_ptr<RecordingSetupController> setup;

    explicit SetupWorld(bool access, std::optional<CaptureInputPreferences> stored = std::nullopt,
                        std::optional<platform::SystemSettingsOpener> desktopSettings = std::nullopt) {
        if (desktopSettings) opener = *desktopSettings;
        if (stored) memory.store(*stored);
        devices = StubbedPulseV4l2Capture::create({{kMic}, {kCam}, access, access});
        runtime = std::make_shared<CaptureDeviceRuntime>(devices->functions(), std::make_shared<ScriptedUSBCameraReceiver>(),
                                                         std::make_shared<CameraFrameFeed>());
        inputs = std::make_shared<CaptureInputsController>(memory.store(), runtime, opener,
                                                           platform::SystemLog::create_null());
        setup = std::make_unique<RecordingSetupController>(
            inputs, runtime, opener, [this](PermissionGateController::Options options) {
                gates.push_back(options.content);
                return std::make_unique<PermissionGateController>(std::move(options), pieces);
            });
    }
    ~SetupWorld() {
        setup.reset();
        waitForTask(inputs->stop());
        settle();  // the monitor ends once its sleep hears the cancellation
    }
    bool started() { return waitForTask(setup->start()); }
    void skip() {
        auto press = pieces.windows->actions->skip;  // the next gate's window replaces the record
        press();
    }
    bool showing() const { return pieces.windows->showing; }
    bool completed() const {
        auto stored = memory.stored();
        return stored && stored->setupCompleted.value_or(false);
    }
    // Lets queued work (the preferences write) finish.
    void settle() { waitForTask(platform::sleepFor(20ms)); }
};

TEST(RecordingSetupController, AFirstLaunchAsksForBothInputsOnceEvenWhenBothAreSkipped) {
    SetupWorld w(false);
    EXPECT_TRUE(w.started());
    EXPECT_TRUE(w.inputs->isMonitoring());
    ASSERT_EQ(w.gates.size(), 1u);
    const auto& microphone = w.gates[0];
    EXPECT_EQ(microphone.title, "Microphone \u2014 optional");
    EXPECT_EQ(microphone.progress, "Step 1 of 2");
    EXPECT_EQ(microphone.appName, "Yux");
    EXPECT_EQ(microphone.permissionName, "Microphone");
    EXPECT_EQ(microphone.explanation,
              "Add your voice to recordings. You can skip this and enable the microphone whenever you need it.");
    EXPECT_EQ(microphone.instructions,
              "Make sure your desktop's sound service is running, then return here. This step continues when access "
              "is available.");
    EXPECT_EQ(microphone.enabledMessage, "Microphone access is ready.");
    EXPECT_TRUE(w.showing());

    w.skip();
    ASSERT_EQ(w.gates.size(), 2u);
    const auto& camera = w.gates[1];
    EXPECT_EQ(camera.title, "Camera \u2014 optional");
    EXPECT_EQ(camera.progress, "Step 2 of 2");
    EXPECT_EQ(camera.explanation,
              "Add a camera overlay to recordings. No camera connected? Skip this and connect one later.");
    EXPECT_EQ(camera.instructions,
              "Give your user access to the camera (the video group), then return here. This step continues when "
              "access is available.");
    EXPECT_EQ(camera.enabledMessage, "Camera access is ready.");
    EXPECT_FALSE(w.completed());

    w.skip();
    w.settle();
    EXPECT_TRUE(w.completed());
    EXPECT_EQ(w.setup->gate(), nullptr);
    EXPECT_FALSE(w.showing());
    EXPECT_TRUE(w.opener.track_openedPanes()->urls.empty());
}

TEST(RecordingSetupController, AccessAlreadyThereCompletesTheSetupWithoutTheUser) {
    SetupWorld w(true);
    EXPECT_TRUE(w.started());
    w.pieces.timers.advance(2.0);
    w.pieces.timers.advance(2.0);
    w.settle();
    EXPECT_EQ(w.gates.size(), 2u);
    EXPECT_TRUE(w.completed());
    EXPECT_EQ(w.pieces.windows->presentations, 0);
}

TEST(RecordingSetupController, ACompletedSetupOpensNoGateAndASecondStartDoesNothing) {
    CaptureInputPreferences done;
    done.setupCompleted = true;
    SetupWorld w(false, done);
    EXPECT_TRUE(w.started());
    EXPECT_TRUE(w.inputs->isMonitoring());
    EXPECT_TRUE(w.gates.empty());
    EXPECT_TRUE(w.started());
    EXPECT_TRUE(w.gates.empty());

    // Still subscribed once: one request opens one gate.
    waitForTask(w.inputs->select(CaptureInputKind::microphone, kMic.id));
    EXPECT_EQ(w.gates.size(), 1u);
}

TEST(RecordingSetupController, ARequestForTheCameraReplacesTheOnboardingWithItsOwnGate) {
    SetupWorld w(false);
    w.started();
    ASSERT_EQ(w.gates.size(), 1u);
    waitForTask(w.inputs->select(CaptureInputKind::camera, kCam.id));
    ASSERT_EQ(w.gates.size(), 2u);
    EXPECT_EQ(w.gates[1].permissionName, "Camera");
    EXPECT_EQ(w.gates[1].progress, std::nullopt);
    EXPECT_EQ(w.opener.track_openedPanes()->urls,
              (std::vector<std::string>{RecordingSetupController::settingsAddress(RecordingSetupController::Step::camera)}));
    EXPECT_EQ(RecordingSetupController::settingsAddress(RecordingSetupController::Step::camera),
              platform::SystemSettingsOpener::kCameraPane);

    // The onboarding ended: skipping the camera gate opens nothing more and stores nothing.
    w.skip();
    w.settle();
    EXPECT_EQ(w.gates.size(), 2u);
    EXPECT_FALSE(w.completed());
}

// Over the desktop's own settings programs: the address must be one the opener maps.
TEST(RecordingSetupController, OpenSettingsAfterARefusedInputOpensTheDesktopsPageForIt) {
    struct Case {
        CaptureInputKind kind;
        std::string device;
        std::vector<std::string> started;  // program and arguments
    };
    const Case cases[] = {
        {CaptureInputKind::microphone, kMic.id, {"/usr/bin/gnome-control-center", "sound"}},
        // No desktop has a page for camera access: nothing starts, and the gate says what to do.
        {CaptureInputKind::camera, kCam.id, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        std::vector<std::string> started;
        platform::SystemSettingsOpener::Operations desktop;
        desktop.currentDesktop = [] { return std::string("GNOME"); };
        desktop.findProgram = [](const std::string& program) { return "/usr/bin/" + program; };
        desktop.startDetached = [&started](const std::string& path, const std::vector<std::string>& arguments) {
            started = {path};
            started.insert(started.end(), arguments.begin(), arguments.end());
            return true;
        };
        CaptureInputPreferences done;
        done.setupCompleted = true;
        SetupWorld w(false, done, platform::SystemSettingsOpener::over(desktop));
        w.started();
        waitForTask(w.inputs->select(c.kind, c.device));
        ASSERT_EQ(w.gates.size(), 1u);
        EXPECT_EQ(started, c.started);
    }
}

TEST(RecordingSetupController, AccessGrantedThroughARequestsGateSwitchesTheRequestedDeviceOn) {
    CaptureInputPreferences done;
    done.setupCompleted = true;
    SetupWorld w(false, done);
    w.started();
    waitForTask(w.inputs->select(CaptureInputKind::camera, kCam.id));
    ASSERT_EQ(w.gates.size(), 1u);
    EXPECT_FALSE(w.inputs->enabled(CaptureInputKind::camera));

    w.devices->options.cameraAccess = true;
    w.pieces.timers.advance(RecordingSetupController::kPollInterval);
    w.pieces.timers.advance(RecordingSetupController::kGrantedDisplayDuration);
    w.settle();
    EXPECT_EQ(w.setup->gate(), nullptr);
    EXPECT_TRUE(w.inputs->enabled(CaptureInputKind::camera));
    EXPECT_EQ(w.inputs->selectedID(CaptureInputKind::camera), kCam.id);
}

TEST(RecordingSetupController, StopClosesTheOpenGate) {
    SetupWorld w(false);
    w.started();
    ASSERT_TRUE(w.showing());
    w.setup->stop();
    EXPECT_FALSE(w.showing());
    EXPECT_EQ(w.setup->gate(), nullptr);
    w.settle();
    EXPECT_EQ(w.gates.size(), 1u);
    EXPECT_FALSE(w.completed());
}

}  // namespace
}  // namespace yux

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <cmath>
#include <functional>

#include "capture/capture_input_controls.hpp"
#include "capture/permission_gate_controller.hpp"
#include "capture/permission_gate_view.hpp"
#include "capture/permission_gate_window.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_desktop.hpp"
#include "support/memory_preferences.hpp"
#include "support/pending_answer.hpp"
#include "support/screenshot_writer.hpp"
#include "support/sound_server.hpp"
#include "support/temporary_directory.hpp"
#include "support/x11_test_window.hpp"

using namespace yux;
using PendingRequest = yux::testing::PendingAnswer;
using Kind = yux::CaptureInputKind;
using Policy = yux::platform::ApplicationActivation::Policy;
using yux::platform::waitForTask;

namespace {

// Runs the event loop until `condition` holds or `milliseconds` pass; says whether it held.
bool pumpUntil(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

void pumpFor(int milliseconds) {
    pumpUntil([] { return false; }, milliseconds);
}

// The first-run setup's texts for its microphone step.
PermissionGateContent microphoneStep() {
    return PermissionGateContent(
        "Yux", "Microphone",
        "Add your voice to recordings. You can skip this and enable the microphone whenever you need it.",
        "Enable Yux under Microphone, then return here. This step continues when access is available.",
        "Microphone access is ready.", "Microphone — optional", "Step 1 of 2");
}

PermissionGateController::Options gateOptions(std::function<bool()> isGranted, platform::SystemSettingsOpener settings) {
    PermissionGateController::Options options{microphoneStep(), std::move(isGranted), std::move(settings),
                                              platform::SystemSettingsOpener::kMicrophonePane};
    options.openSettingsOnDenied = true;
    return options;
}

PermissionGateController::Platform livePlatform() {
    return PermissionGateController::Platform::create(platform::ApplicationActivation::create(),
                                                      platform::MotionPreference::create_null(false));
}

// The live gate window, once shown.
PermissionGateWindow* gateWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<PermissionGateWindow*>(widget); window != nullptr && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

std::optional<platform::X11ClientWindow> managed(platform::X11Connection& x11, xcb_window_t id) {
    for (const auto& window : platform::listClientWindows(x11)) {
        if (window.id == id) return window;
    }
    return std::nullopt;
}

int stackingIndex(platform::X11Connection& x11, xcb_window_t id) {
    auto windows = platform::listClientWindows(x11);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (windows[i].id == id) return static_cast<int>(i);
    }
    return -1;
}

// What a close button of a window frame, or Alt+F4, asks of the window manager.
void askWindowManagerToClose(platform::X11Connection& x11, xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = x11.atom("_NET_CLOSE_WINDOW");
    event.data.data32[0] = XCB_CURRENT_TIME;
    event.data.data32[1] = 2;  // from a pager: the user's own request
    xcb_send_event(x11.raw(), 0, x11.root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(x11.raw());
}


}  // namespace

TEST(PermissionGateDesktop, TheGateStandsCentredAboveOtherWindowsInTheTaskBarAndSurvivesACloseRequest) {
    auto x11 = platform::X11Connection::open();
    yux::testing::X11TestWindow other({.x = 100, .y = 100, .width = 900, .height = 700, .rgb = 0x3060a0,
                                       .overrideRedirect = false, .applicationClass = "OtherClient", .processID = std::nullopt});
    ASSERT_TRUE(other.waitUntilViewable());

    PermissionGateController gate(gateOptions([] { return false; }, platform::SystemSettingsOpener::create_null(true)),
                                  livePlatform());
    gate.start();
    ASSERT_TRUE(pumpUntil([] { return gateWindow() != nullptr; }, 2000));
    const auto id = static_cast<xcb_window_t>(gateWindow()->winId());
    ASSERT_TRUE(pumpUntil([&] { return managed(*x11, id).has_value(); }, 3000)) << "the window manager never took it";

    auto window = *managed(*x11, id);
    EXPECT_EQ(window.title, "Microphone Permission Required");
    EXPECT_TRUE(window.inTaskBar);
    EXPECT_GT(stackingIndex(*x11, id), stackingIndex(*x11, other.id()));
    EXPECT_EQ(window.layer, platform::WindowLayer::above);
    EXPECT_NEAR(window.frame.x + window.frame.width / 2.0, 960, 2);
    EXPECT_NEAR(window.frame.y + window.frame.height / 2.0, 540, 2);
    EXPECT_EQ(window.frame.width, 440);
    EXPECT_EQ(x11->cardinals(id, x11->atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL),
              (std::vector<std::uint32_t>{0xFFFFFFFF}));

    askWindowManagerToClose(*x11, id);
    pumpFor(500);
    EXPECT_TRUE(managed(*x11, id).has_value());
    EXPECT_TRUE(gateWindow() != nullptr);
    EXPECT_TRUE(gate.isPresenting());

    // Withdrawn and shown again, it carries its marks again.
    gate.stop();
    ASSERT_TRUE(pumpUntil([&] { return !managed(*x11, id).has_value(); }, 2000));
    gate.start();
    ASSERT_TRUE(pumpUntil([&] { return managed(*x11, id).has_value(); }, 3000));
    EXPECT_TRUE(managed(*x11, id)->inTaskBar);
    EXPECT_EQ(x11->cardinals(id, x11->atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL),
              (std::vector<std::uint32_t>{0xFFFFFFFF}));
    gate.stop();
}

TEST(PermissionGateDesktop, AnAccessoryApplicationsWindowsStayOutOfTheTaskBar) {
    auto x11 = platform::X11Connection::open();
    auto activation = platform::ApplicationActivation::create();
    QWidget panel;
    panel.setWindowTitle("Yux panel");
    panel.resize(200, 100);
    activation.prepareWindow(panel);
    panel.show();
    const auto id = static_cast<xcb_window_t>(panel.winId());
    ASSERT_TRUE(pumpUntil([&] { return managed(*x11, id).has_value(); }, 3000));
    EXPECT_FALSE(managed(*x11, id)->inTaskBar);

    // Made regular while shown: the window manager is asked to list it.
    activation.setPolicy(Policy::regular);
    activation.prepareWindow(panel);
    EXPECT_TRUE(pumpUntil([&] { return managed(*x11, id)->inTaskBar; }, 2000));
}

TEST(PermissionGateDesktop, AMicrophoneGateWaitsForASoundServerThatAppearsLater) {
    yux::testing::TemporaryDirectory folder;
    yux::testing::PrivateSoundServer server(folder.path());
    ASSERT_FALSE(std::filesystem::exists(server.socket()));
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    {
        yux::testing::SoundServerAddress address(server.address());
        runtime = CaptureDeviceRuntime::create();
    }
    int grants = 0;
    auto options = gateOptions([runtime] { return runtime->hasAccess(Kind::microphone, std::nullopt); },
                               platform::SystemSettingsOpener::create_null(true));
    options.requestAccess = [runtime] { return runtime->requestAccess(Kind::microphone, std::nullopt); };
    options.onGranted = [&] { ++grants; };
    options.onSkip = [] {};
    PermissionGateController gate(std::move(options), livePlatform());
    gate.start();
    ASSERT_TRUE(pumpUntil([] { return gateWindow() != nullptr; }, 2000));
    pumpFor(1200);  // a poll or so: still missing
    EXPECT_FALSE(gate.viewState().isGranted());
    yux::test::writeScreenshot(*gateWindow(), "gate-request");

    ASSERT_TRUE(server.start());
    QElapsedTimer since;
    since.start();
    // The runtime retries every 2 s; the gate polls every second.
    ASSERT_TRUE(pumpUntil([&] { return gate.viewState().isGranted(); }, 2000 + 1000 + 500));
    std::printf("confirmed %lld ms after the server came up\n", static_cast<long long>(since.elapsed()));
    pumpFor(400);  // the fade
    yux::test::writeScreenshot(*gateWindow(), "gate-granted");
    EXPECT_EQ(grants, 0);
    EXPECT_TRUE(pumpUntil([&] { return grants == 1; }, 1800 + 500));
    EXPECT_EQ(gateWindow(), nullptr);
    runtime.reset();
}

TEST(PermissionGateDesktop, ARequestOnItsWayAndAFailedOpeningShowTogether) {
    PendingRequest request;
    auto options = gateOptions([] { return false; }, platform::SystemSettingsOpener::create_null(false));
    options.requestAccess = request.operation();
    options.onSkip = [] {};
    PermissionGateController gate(std::move(options), livePlatform());
    gate.start();
    ASSERT_TRUE(pumpUntil([] { return gateWindow() != nullptr; }, 2000));
    gate.openSettings();
    gateWindow()->view().findChild<QAbstractButton*>("permission-gate-request-access")->click();
    pumpFor(300);
    EXPECT_TRUE(gate.viewState().isPreparing());
    EXPECT_TRUE(gate.viewState().settingsUnavailable());
    yux::test::writeScreenshot(*gateWindow(), "gate-confirming");
    gate.stop();
}

namespace {

struct LiveInputs {
    explicit LiveInputs(std::shared_ptr<CaptureDeviceRuntime> runtime_) : runtime(std::move(runtime_)) {
        controller = std::make_unique<CaptureInputsController>(memory.store(), runtime,
                                                               platform::SystemSettingsOpener::create_null(true),
                                                               platform::SystemLog::create_null());
        waitForTask(controller->start());
    }
    ~LiveInputs() { waitForTask(controller->stop()); }
    yux::testing::MemoryPreferences memory;
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    std::unique_ptr<CaptureInputsController> controller;
};

// The share of the meter's width painted green.
double meterFill(QWidget& view) {
    auto* meter = view.findChild<QWidget*>("capture-input-microphone-level");
    QImage image = meter->grab().toImage();
    int green = 0;
    for (int x = 0; x < image.width(); ++x) {
        QColor pixel = image.pixelColor(x, image.height() / 2);
        if (pixel.green() > 150 && pixel.red() < 150) ++green;
    }
    return static_cast<double>(green) / image.width();
}

}  // namespace

TEST(CaptureInputControlsDesktop, ATonePlayedIntoTheMicrophoneFillsTheMeterAndSilenceEmptiesIt) {
    LiveInputs inputs(CaptureDeviceRuntime::create());
    auto& controller = *inputs.controller;
    waitForTask(controller.select(Kind::microphone, std::string("yux_null_source")));
    ASSERT_TRUE(controller.enabled(Kind::microphone)) << controller.message(Kind::microphone).value_or("");
    CaptureInputControls view(controller);
    view.resize(280, view.sizeHint().height());
    view.show();

    yux::testing::TonePlayer player("yux_mic_feed");
    pumpFor(200);
    player.setAmplitude(0.8f);
    EXPECT_TRUE(pumpUntil([&] { return controller.level() > 0.25; }, 1000)) << controller.level();
    pumpFor(50);
    EXPECT_GT(meterFill(view), 0.25);

    player.setAmplitude(0);
    EXPECT_TRUE(pumpUntil([&] { return controller.level() < 0.05; }, 1000)) << controller.level();
    pumpFor(50);
    EXPECT_LT(meterFill(view), 0.05);
}

TEST(CaptureInputControlsDesktop, PicturesOfBothShapes) {
    const CaptureDevice mic{"alsa_input.usb-mic", "USB Studio Microphone"};
    const CaptureDevice other{"alsa_input.pci-analog", "Built-in Audio Analog Stereo"};
    const CaptureDevice cam{"usb-Cam_1-video-index0", "HD Camera"};
    LiveInputs inputs(CaptureDeviceRuntime::create_null({{mic, other}, {cam}, true, /*cameraAccess=*/false, -4.5f}));
    auto& controller = *inputs.controller;
    waitForTask(controller.select(Kind::microphone, mic.id));
    waitForTask(controller.toggle(Kind::camera));  // no access: a message
    ASSERT_TRUE(pumpUntil([&] { return controller.level() > 0.5; }, 1000));

    QWidget frame;
    frame.setWindowTitle("Yux input controls");
    CaptureInputControls full(controller, false, &frame);
    full.setGeometry(12, 12, 280, full.sizeHint().height());
    frame.resize(304, full.height() + 24);
    frame.show();
    pumpFor(200);
    yux::test::writeScreenshot(frame, "input-controls-full");

    QWidget bar;
    CaptureInputControls compact(controller, true, &bar);
    compact.setGeometry(8, 8, compact.sizeHint().width(), compact.sizeHint().height());
    bar.resize(compact.width() + 16, compact.height() + 16);
    bar.show();
    pumpFor(200);
    yux::test::writeScreenshot(bar, "input-controls-compact");
    EXPECT_TRUE(compact.findChild<QWidget*>("capture-input-camera-message")->isVisible());
}

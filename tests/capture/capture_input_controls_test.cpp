#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

#include <cmath>
#include <coroutine>

#include "capture/capture_input_controls.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/wait_for.hpp"
#include "support/memory_preferences.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;
using Kind = yux::CaptureInputKind;
using yux::platform::waitForTask;
using yux::testing::MemoryPreferences;

namespace {

const CaptureDevice kMic{"alsa_input.usb-mic", "USB Mic"};
const CaptureDevice kOtherMic{"alsa_input.pci-analog", "Built-in Audio"};
const CaptureDevice kCam{"usb-Cam_1-video-index0", "HD Camera"};

// Suspensions the test ends: the controller's monitor sleeps, and the device wait that keeps
// the controller busy while it starts.
class Hold {
public:
    ~Hold() {
        closing_ = true;
        release();
    }
    QCoro::Task<void> wait() {
        co_await Wait{this};
        if (closing_) throw platform::CancelledError();
    }
    void release() {
        auto due = std::move(waiting_);
        waiting_.clear();
        for (auto handle : due) handle.resume();
    }

private:
    struct Wait {
        Hold* hold;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { hold->waiting_.push_back(handle); }
        void await_resume() const noexcept {}
    };
    std::vector<std::coroutine_handle<>> waiting_;
    bool closing_ = false;
};

// Counts the paints of one widget.
class PaintCount : public QObject {
public:
    explicit PaintCount(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

struct Inputs {
    explicit Inputs(StubbedPulseV4l2Capture::Options options = {{kMic, kOtherMic}, {kCam}}, bool holdStart = false,
                    bool settingsOpen = true) {
        opener = ::yux::platform::SystemSettingsOpener::create_null(settingsOpen);
        platform = StubbedPulseV4l2Capture::create(std::move(options));
        auto functions = platform->functions();
        if (holdStart) functions.waitForDevices = [this] { return starting.wait(); };
        runtime = std::make_shared<CaptureDeviceRuntime>(functions, std::make_shared<ScriptedUSBCameraReceiver>(),
                                                         std::make_shared<CameraFrameFeed>());
        controller = std::make_unique<CaptureInputsController>(
            memory.store(), runtime, opener, platform::SystemLog::create_null(),
            [this](std::chrono::milliseconds, platform::CancelToken token) -> QCoro::Task<void> {
                co_await monitor.wait();
                token.throwIfCancelled();
            });
    }
    ~Inputs() { controller.reset(); }

    CaptureInputsController& started() {
        waitForTask(controller->start());
        return *controller;
    }
    // The monitor's next pass reads this level.
    void setLevel(double level) {
        platform->options.microphoneDecibels = static_cast<float>(20 * std::log10(level));
        monitor.release();
    }
    // Lets the view's actions run to their end.
    void settle() {
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
    }

    Hold monitor;
    Hold starting;
    MemoryPreferences memory;
    std::shared_ptr<StubbedPulseV4l2Capture> platform;
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    platform::SystemSettingsOpener opener = platform::SystemSettingsOpener::create_null(true);
    std::unique_ptr<CaptureInputsController> controller;
};

template <class T = QWidget>
T* part(const QWidget& view, const QString& name) {
    return view.findChild<T*>(name);
}

QStringList menuTexts(const QWidget& view, const QString& kind) {
    QStringList texts;
    for (QAction* action : part<QToolButton>(view, "capture-input-" + kind + "-device")->menu()->actions()) {
        texts << (action->isSeparator() ? "—" : action->text());
    }
    return texts;
}

QAction* menuAction(const QWidget& view, const QString& kind, const QString& text) {
    for (QAction* action : part<QToolButton>(view, "capture-input-" + kind + "-device")->menu()->actions()) {
        if (action->text() == text) return action;
    }
    return nullptr;
}

QStringList checked(const QWidget& view, const QString& kind) {
    QStringList texts;
    for (QAction* action : part<QToolButton>(view, "capture-input-" + kind + "-device")->menu()->actions()) {
        if (!action->icon().isNull()) texts << action->text();
    }
    return texts;
}

// The widget as painted, at one logical pixel per pixel.
QImage painted(QWidget* widget) {
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    widget->render(&image);
    return image;
}

TEST(CaptureInputControls, TheFullShapeListsDevicesInOrderAndHandsChoicesToTheController) {
    Inputs inputs;
    auto& controller = inputs.started();
    CaptureInputControls view(controller);
    view.resize(280, view.sizeHint().height());
    view.show();

    auto* microphone = part<QAbstractButton>(view, "capture-input-microphone");
    ASSERT_NE(microphone, nullptr);
    EXPECT_EQ(microphone->accessibleName(), "Microphone");
    EXPECT_EQ(part<QAbstractButton>(view, "capture-input-camera")->accessibleName(), "Camera");
    EXPECT_EQ(microphone->accessibleDescription(), "Off");
    EXPECT_EQ(menuTexts(view, "microphone"), (QStringList{"USB Mic", "Built-in Audio", "—", "Turn off"}));
    EXPECT_EQ(menuTexts(view, "camera"), (QStringList{"HD Camera", "—", "Turn off"}));
    EXPECT_EQ(part<QToolButton>(view, "capture-input-microphone-device")->text(), "Choose device");
    EXPECT_TRUE(checked(view, "microphone").isEmpty());

    menuAction(view, "microphone", "Built-in Audio")->trigger();
    inputs.settle();
    EXPECT_TRUE(controller.enabled(Kind::microphone));
    EXPECT_EQ(part<QToolButton>(view, "capture-input-microphone-device")->text(), "Built-in Audio");
    EXPECT_EQ(checked(view, "microphone"), QStringList{"Built-in Audio"});
    EXPECT_EQ(microphone->accessibleDescription(), "On");

    part<QAbstractButton>(view, "capture-input-camera")->click();
    inputs.settle();
    EXPECT_TRUE(controller.enabled(Kind::camera));
    EXPECT_EQ(checked(view, "camera"), QStringList{"HD Camera"});

    menuAction(view, "microphone", "Turn off")->trigger();
    microphone->click();  // on again, with the device chosen before
    inputs.settle();
    EXPECT_TRUE(controller.enabled(Kind::microphone));
    EXPECT_EQ(controller.selectedID(Kind::microphone), kOtherMic.id);
    EXPECT_EQ(view.runningActions(), 0u);
}

TEST(CaptureInputControls, WithoutDevicesTheFullShapeSaysSoAndTheCompactOneShowsOnlyTheIcon) {
    Inputs inputs({{kMic}, {}});
    auto& controller = inputs.started();
    CaptureInputControls full(controller);
    CaptureInputControls compact(controller, true);
    full.show();
    compact.show();
    auto* none = part<QLabel>(full, "capture-input-camera-no-device");
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->isVisible());
    EXPECT_EQ(none->text(), "No device connected");
    EXPECT_FALSE(part(full, "capture-input-camera-device")->isVisible());
    EXPECT_FALSE(part(full, "capture-input-microphone-no-device")->isVisible());

    EXPECT_TRUE(part(compact, "capture-input-camera")->isVisible());
    EXPECT_FALSE(part(compact, "capture-input-camera-device")->isVisible());
    EXPECT_TRUE(part(compact, "capture-input-microphone-device")->isVisible());
    EXPECT_EQ(part(compact, "capture-input-camera")->accessibleName(), "Toggle camera");
    EXPECT_EQ(part(compact, "capture-input-camera-no-device"), nullptr);
}

TEST(CaptureInputControls, TheFullShapeSaysNoDeviceConnectedOnce) {
    Inputs inputs({{kMic}, {}});
    auto& controller = inputs.started();
    CaptureInputControls full(controller);
    full.resize(280, full.sizeHint().height());
    full.show();
    const auto saying = [&](const QString& text) {
        int count = 0;
        for (auto* label : full.findChildren<QLabel*>()) count += label->isVisible() && label->text() == text;
        for (auto* button : full.findChildren<QAbstractButton*>())
            count += button->isVisible() && button->text() == text;
        return count;
    };
    EXPECT_EQ(saying("No device connected"), 1);
    // Switching the camera on tells why it cannot: the same words, still said once.
    part<QAbstractButton>(full, "capture-input-camera")->click();
    inputs.settle();
    ASSERT_EQ(controller.message(Kind::camera), std::optional<std::string>("No device connected"));
    EXPECT_EQ(saying("No device connected"), 1);
    EXPECT_TRUE(part(full, "capture-input-camera-message")->isVisible());
    yux::test::writeScreenshot(full, "input-controls-no-camera");
}

TEST(CaptureInputControls, AChoiceThatIsNoLongerListedLeavesTheMenuUntitledAndUnticked) {
    Inputs inputs;
    CaptureInputPreferences stored;
    stored.microphoneDeviceID = "alsa_input.unplugged";
    inputs.memory.store(stored);
    auto& controller = inputs.started();
    CaptureInputControls view(controller);
    EXPECT_EQ(part<QToolButton>(view, "capture-input-microphone-device")->text(), "Choose device");
    EXPECT_TRUE(checked(view, "microphone").isEmpty());
}

TEST(CaptureInputControls, LockedOrBusyHoldsTheSwitchesButNotTheMessageOrTheMeter) {
    Inputs inputs({{kMic}, {kCam}, true, /*cameraAccess=*/false});
    auto& controller = inputs.started();
    CaptureInputControls full(controller);
    CaptureInputControls compact(controller, true);
    full.show();
    compact.show();
    part<QAbstractButton>(full, "capture-input-camera")->click();  // no access: a message
    inputs.settle();
    ASSERT_TRUE(controller.message(Kind::camera).has_value());

    controller.beginRecording();
    for (const QWidget* view : {static_cast<QWidget*>(&full), static_cast<QWidget*>(&compact)}) {
        for (const char* name : {"capture-input-microphone", "capture-input-camera", "capture-input-microphone-device",
                                 "capture-input-camera-device"}) {
            EXPECT_FALSE(part(*view, name)->isEnabled()) << name;
        }
        EXPECT_TRUE(part(*view, "capture-input-microphone-level")->isEnabled());
    }
    auto* message = part<QAbstractButton>(full, "capture-input-camera-message");
    EXPECT_TRUE(message->isVisible());
    EXPECT_TRUE(message->isEnabled());
    EXPECT_EQ(message->text(), QString::fromStdString(*controller.message(Kind::camera)));
    auto panes = inputs.opener.track_openedPanes();
    const auto before = panes->urls.size();
    message->click();
    EXPECT_EQ(panes->urls.size(), before + 1);
    EXPECT_FALSE(part(full, "capture-input-busy")->isVisible());
    controller.endRecording();
    EXPECT_TRUE(part(full, "capture-input-camera")->isEnabled());
}

TEST(CaptureInputControls, ACameraMessageClickedWithoutASettingsPageKeepsItsTextAndShowsHowToGiveAccess) {
    Inputs inputs({{kMic}, {kCam}, true, /*cameraAccess=*/false}, false, /*settingsOpen=*/false);
    auto& controller = inputs.started();
    CaptureInputControls full(controller);
    CaptureInputControls compact(controller, true);
    full.resize(280, full.sizeHint().height());
    full.show();
    compact.show();
    part<QAbstractButton>(full, "capture-input-camera")->click();
    inputs.settle();
    auto* message = part<QAbstractButton>(full, "capture-input-camera-message");
    const QString reason = message->text();
    ASSERT_FALSE(reason.isEmpty());
    auto* help = part<QLabel>(full, "capture-input-camera-help");
    EXPECT_FALSE(help->isVisible());

    message->click();
    EXPECT_EQ(message->text(), reason);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->text(), QString::fromStdString(CaptureInputsController::accessInstructions(Kind::camera)));
    EXPECT_TRUE(help->wordWrap());
    EXPECT_FALSE(part(full, "capture-input-microphone-help")->isVisible());
    // The overlay's sign has no room for it: its tooltip carries both.
    EXPECT_EQ(part(compact, "capture-input-camera-message")->toolTip(), reason + "\n" + help->text());
    full.resize(280, full.sizeHint().height());
    yux::test::writeScreenshot(full, "capture_inputs_camera_help");
}

TEST(CaptureInputControls, WhileTheControllerIsBusyASpinnerShowsAndTheSwitchesWait) {
    Inputs inputs({{kMic}, {kCam}}, /*holdStart=*/true);
    CaptureInputControls view(*inputs.controller);
    view.resize(280, view.sizeHint().height());
    view.show();
    auto starting = inputs.controller->start();
    ASSERT_TRUE(inputs.controller->busy());
    EXPECT_TRUE(part(view, "capture-input-busy")->isVisible());
    EXPECT_FALSE(part(view, "capture-input-microphone")->isEnabled());
    const QWidget* spinner = part(view, "capture-input-busy");
    EXPECT_EQ(spinner->geometry().topRight(), QPoint(view.width() - 1, 0));

    inputs.starting.release();
    waitForTask(std::move(starting));
    EXPECT_FALSE(part(view, "capture-input-busy")->isVisible());
    EXPECT_TRUE(part(view, "capture-input-microphone")->isEnabled());
}

TEST(CaptureInputControls, TheCompactShapeShowsAMessageAsAnOrangeSignWithItsText) {
    Inputs inputs({{kMic}, {kCam}, true, /*cameraAccess=*/false});
    auto& controller = inputs.started();
    CaptureInputControls compact(controller, true);
    compact.show();
    part<QAbstractButton>(compact, "capture-input-camera")->click();
    inputs.settle();
    auto* sign = part(compact, "capture-input-camera-message");
    ASSERT_TRUE(sign->isVisible());
    EXPECT_EQ(sign->toolTip(), QString::fromStdString(*controller.message(Kind::camera)));
    EXPECT_EQ(qobject_cast<QAbstractButton*>(sign), nullptr);  // nothing to press
    QImage image = painted(sign);
    QColor middle = image.pixelColor(image.width() / 2, image.height() / 2 + 4);
    EXPECT_GT(middle.red(), 200);
    EXPECT_LT(middle.blue(), 60);
    EXPECT_FALSE(part(compact, "capture-input-microphone-message")->isVisible());
}

TEST(CaptureInputControls, TheMeterFillsWithTheLevelAndALevelChangeRepaintsOnlyIt) {
    Inputs inputs;
    auto& controller = inputs.started();
    waitForTask(controller.select(Kind::microphone, kMic.id));
    CaptureInputControls view(controller);
    view.resize(300, view.sizeHint().height());
    view.show();
    inputs.settle();  // the first paint of everything
    auto* meter = part(view, "capture-input-microphone-level");
    ASSERT_EQ(meter->height(), 3);

    for (double level : {0.25, 0.5, 0.9}) {
        PaintCount meterPaints(meter);
        PaintCount togglePaints(part(view, "capture-input-microphone"));
        inputs.setLevel(level);
        ASSERT_NEAR(controller.level(), level, 1e-4);
        QApplication::processEvents();
        EXPECT_GE(meterPaints.count, 1);
        EXPECT_EQ(togglePaints.count, 0);
        QImage image = painted(meter);
        int green = 0;
        for (int x = 0; x < image.width(); ++x) {
            QColor pixel = image.pixelColor(x, 1);
            if (pixel.green() > 150 && pixel.red() < 150) ++green;
        }
        EXPECT_NEAR(green, level * meter->width(), 1.0) << level;
    }
}

TEST(CaptureInputControls, TheSwitchShowsItsStateByKnobSideAndColour) {
    Inputs inputs;
    auto& controller = inputs.started();
    CaptureInputControls view(controller);
    view.resize(280, view.sizeHint().height());
    view.show();
    auto* toggle = part(view, "capture-input-microphone");
    const QColor accent = view.palette().color(QPalette::Active, QPalette::Highlight);
    auto probe = [&] {
        QImage image = painted(toggle);
        const int middle = toggle->height() / 2;
        const int capsuleLeft = toggle->width() - 32;
        return std::pair{image.pixelColor(capsuleLeft + 9, middle), image.pixelColor(capsuleLeft + 23, middle)};
    };
    auto [offStart, offEnd] = probe();
    EXPECT_EQ(offStart, QColor(Qt::white));  // the knob at the leading end
    EXPECT_NE(offEnd, QColor(Qt::white));
    EXPECT_GT(offEnd.red(), 180);  // a light grey track on white
    EXPECT_NEAR(offEnd.red(), offEnd.blue(), 8);

    waitForTask(controller.select(Kind::microphone, kMic.id));
    auto [onStart, onEnd] = probe();
    EXPECT_EQ(onEnd, QColor(Qt::white));  // the knob at the trailing end
    EXPECT_NEAR(onStart.red(), accent.red(), 3);
    EXPECT_NEAR(onStart.green(), accent.green(), 3);
    EXPECT_NEAR(onStart.blue(), accent.blue(), 3);
}

TEST(CaptureInputControls, ALongDeviceNameIsCutInTheMiddleButShownWholeInTheMenuAndTooltip) {
    const CaptureDevice wordy{"alsa_input.wordy",
                              "Very Long Manufacturer Name Studio Condenser Microphone Model 2000 Analog Stereo"};
    Inputs inputs({{wordy}, {kCam}});
    auto& controller = inputs.started();
    waitForTask(controller.select(Kind::microphone, wordy.id));
    CaptureInputControls view(controller);
    view.resize(260, view.sizeHint().height());
    view.show();
    QApplication::processEvents();
    auto* button = part<QToolButton>(view, "capture-input-microphone-device");
    EXPECT_LE(button->geometry().right(), view.width());
    EXPECT_EQ(button->toolTip(), QString::fromStdString(wordy.name));
    EXPECT_EQ(menuTexts(view, "microphone").front(), QString::fromStdString(wordy.name));
    yux::test::writeScreenshot(view, "input-controls-long-name");
}

}  // namespace

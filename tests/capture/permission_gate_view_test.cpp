#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLayout>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>


#include "capture/permission_gate_controller.hpp"
#include "capture/permission_gate_view.hpp"
#include "capture/permission_gate_window.hpp"
#include "support/pending_answer.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;
using PendingRequest = yux::testing::PendingAnswer;
using Policy = platform::ApplicationActivation::Policy;

namespace {

const std::string kLong =
    "A long explanation that goes on and on about why the recorder would like to hear you, so that it must wrap "
    "onto many lines of the window instead of making the window wider than it is meant to be, ever.";


struct Shape {
    bool request = true;
    bool skip = true;
    bool progress = true;
    bool reduceMotion = false;
    bool canOpen = true;
    std::string explanation = "Add your voice to recordings. You can skip this and enable the microphone whenever you need it.";
    std::string message = "Microphone access is ready.";
};

// A gate with real windows over null timers and activation; the test drives what it shows
// through the controller.
struct ShownGate {
    explicit ShownGate(Shape shape = {}) : settings(platform::SystemSettingsOpener::create_null(shape.canOpen)) {
        PermissionGateController::Options options{
            PermissionGateContent("Yux", "Microphone", shape.explanation,
                                  "Enable Yux under Microphone, then return here. This step continues when access is "
                                  "available.",
                                  shape.message, "Microphone — optional",
                                  shape.progress ? std::optional<std::string>("Step 1 of 2") : std::nullopt),
            [this] { return granted; },
            settings,
            "settings:privacy/microphone"};
        if (shape.request) options.requestAccess = request.operation();
        if (shape.skip) options.onSkip = [this] { ++skips; };
        options.onGranted = [this] { ++grants; };
        PermissionGateController::WindowMaker maker = [this, reduce = shape.reduceMotion](
                                                          const PermissionGateContent& content,
                                                          PermissionGateViewState& state, PermissionGateActions actions) {
            auto surface = std::make_unique<Surface>();
            surface->window = std::make_unique<PermissionGateWindow>(content, state, std::move(actions), reduce, activation);
            shown = surface->window.get();
            return surface;
        };
        PermissionGateController::Platform pieces{activation, timers, maker, nullptr};
        controller = std::make_unique<PermissionGateController>(std::move(options), pieces);
        controller->start();
    }
    struct Surface : PermissionGateSurface {
        std::unique_ptr<PermissionGateWindow> window;
        void present() override { window->present(); }
        void dismiss() override { window->hide(); }
    };
    PermissionGateWindow& window() const { return *shown; }
    PermissionGateView& view() const { return window().view(); }
    template <class T = QWidget>
    T* find(const char* name) const {
        return view().findChild<T*>(name);
    }
    QString text(const char* name) const {
        if (auto* label = find<QLabel>(name)) return label->text();
        if (auto* button = find<QAbstractButton>(name)) return button->text();
        return "<none: " + QString(name) + ">";
    }
    int top(const char* name) const {
        QWidget* widget = find(name);
        return widget->mapTo(&view(), QPoint()).y();
    }
    void settle() const {
        QApplication::processEvents();
        view().layout()->activate();
    }
    void grant() {
        granted = true;
        timers.advance(1.0);
    }

    PermissionGateWindow* shown = nullptr;
    bool granted = false;
    int skips = 0;
    int grants = 0;
    PendingRequest request;
    platform::SystemSettingsOpener settings;
    platform::ApplicationActivation activation = platform::ApplicationActivation::create_null(Policy::accessory);
    platform::TimerSource timers = platform::TimerSource::create_null();
    std::unique_ptr<PermissionGateController> controller;
};

TEST(PermissionGateView, TheRequestShowsEveryItemWithItsTextsAndTheWindowItsTitle) {
    ShownGate gate;
    EXPECT_EQ(gate.window().windowTitle(), "Microphone Permission Required");
    EXPECT_EQ(gate.text("permission-gate-progress"), "Step 1 of 2");
    EXPECT_EQ(gate.text("permission-gate-title"), "Microphone — optional");
    EXPECT_EQ(gate.text("permission-gate-request-access"), "Enable Microphone");
    EXPECT_EQ(gate.text("permission-gate-step-two"), "Give “Yux” access:");
    EXPECT_EQ(gate.text("permission-gate-skip"), "Skip for now");
    EXPECT_EQ(gate.text("permission-gate-quit"), "Quit");
    EXPECT_EQ(gate.find("permission-gate-open-settings"), nullptr);
    EXPECT_FALSE(gate.find("permission-gate-preparing")->isVisible());
    EXPECT_FALSE(gate.find("permission-gate-settings-unavailable")->isVisible());
    EXPECT_EQ(gate.view().statusLabel(), "Microphone access required");
    EXPECT_EQ(gate.view().accessibleName(), "Microphone access required");
    EXPECT_EQ(gate.window().windowFlags() & (Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
              Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);

    gate.find<QAbstractButton>("permission-gate-skip")->click();
    EXPECT_EQ(gate.skips, 1);
}

TEST(PermissionGateView, WithoutARequestOrASkipTheFirstStepOpensSettingsAndTheCornerQuits) {
    ShownGate gate(Shape{.request = false, .skip = false});
    EXPECT_EQ(gate.text("permission-gate-open-settings"), "Open Settings");
    EXPECT_EQ(gate.find("permission-gate-request-access"), nullptr);
    EXPECT_EQ(gate.find("permission-gate-skip"), nullptr);
    auto* corner = gate.find<QAbstractButton>("permission-gate-close");
    EXPECT_EQ(corner->accessibleName(), "Close setup and quit");
    EXPECT_EQ(corner->toolTip(), "Close setup and quit");

    gate.find<QAbstractButton>("permission-gate-open-settings")->click();
    EXPECT_EQ(gate.settings.track_openedPanes()->urls.size(), 1u);
    auto calls = gate.activation.track_calls();
    corner->click();
    ASSERT_EQ(calls.data().size(), 1u);
    EXPECT_EQ(calls.data()[0].kind, platform::ApplicationActivation::Call::Kind::terminate);
}

TEST(PermissionGateView, TheProgressLineStandsAboveTheRedLineAndTheRequestButtonWaits) {
    ShownGate gate(Shape{.canOpen = false});
    gate.controller->openSettings();
    gate.find<QAbstractButton>("permission-gate-request-access")->click();
    gate.settle();
    EXPECT_TRUE(gate.find("permission-gate-preparing")->isVisible());
    EXPECT_TRUE(gate.find("permission-gate-settings-unavailable")->isVisible());
    EXPECT_LT(gate.top("permission-gate-preparing"), gate.top("permission-gate-settings-unavailable"));
    EXPECT_FALSE(gate.find("permission-gate-request-access")->isEnabled());
    EXPECT_EQ(gate.text("permission-gate-settings-unavailable"),
              "Could not open Settings. Open your desktop's settings manually.");
    EXPECT_EQ(gate.view().statusLabel(), "Could not open Settings. Open your desktop's settings manually.");
    yux::test::writeScreenshot(gate.window(), "gate-confirming-offscreen");

    gate.request.answer(false);
    gate.settle();
    EXPECT_FALSE(gate.find("permission-gate-preparing")->isVisible());
    EXPECT_TRUE(gate.find("permission-gate-request-access")->isEnabled());
}

TEST(PermissionGateView, WithoutProgressTheTitleFollowsTheIconDirectly) {
    ShownGate with;
    ShownGate without(Shape{.progress = false});
    with.settle();
    without.settle();
    EXPECT_EQ(without.find("permission-gate-progress"), nullptr);
    const int progressRoom = with.find("permission-gate-progress")->height() + 6;
    EXPECT_EQ(with.top("permission-gate-title") - without.top("permission-gate-title"), progressRoom);
    EXPECT_EQ(with.view().height() - without.view().height(), progressRoom);
}

TEST(PermissionGateView, LongTextsWrapAndTheWindowGrowsOnlyInHeight) {
    ShownGate plain;
    std::string longMessage = kLong + " " + kLong;
    ShownGate wordy(Shape{.explanation = kLong + " " + kLong, .message = longMessage});
    plain.settle();
    wordy.settle();
    EXPECT_EQ(plain.window().width(), 440);
    EXPECT_EQ(wordy.window().width(), 440);
    EXPECT_GT(wordy.window().height(), plain.window().height() + 40);
    auto* explanation = wordy.find("permission-gate-explanation");
    EXPECT_LE(explanation->width(), 440 - 64);
    EXPECT_GE(explanation->height(), explanation->heightForWidth(explanation->width()));

    wordy.grant();
    wordy.settle();
    auto* message = wordy.find<QLabel>("permission-gate-enabled-message");
    EXPECT_GE(message->height(), message->heightForWidth(message->width()));
    EXPECT_EQ(wordy.window().width(), 440);
}

TEST(PermissionGateView, TheConfirmationShowsItsMessageAndKeepsTheCornerButton) {
    ShownGate gate;
    gate.grant();
    EXPECT_TRUE(gate.view().showsConfirmation());
    EXPECT_EQ(gate.view().statusLabel(), "Access enabled");
    EXPECT_EQ(gate.text("permission-gate-enabled-message"), "Microphone access is ready.");
    auto* corner = gate.find<QAbstractButton>("permission-gate-close");
    EXPECT_TRUE(corner->isVisible());
    EXPECT_EQ(corner->accessibleName(), "Skip for now and close");
    EXPECT_EQ(corner->toolTip(), "Skip for now");
    // The fade ends with the confirmation alone.
    QTimer::singleShot(400, [] { QApplication::exit(0); });
    QApplication::exec();
    EXPECT_FALSE(gate.find("permission-gate-request")->isVisible());
    EXPECT_TRUE(gate.find("permission-gate-granted")->isVisible());
    QImage picture = gate.window().grab().toImage();
    yux::test::writeScreenshot(picture, "gate-granted-offscreen");
    // The green reaches the window's edges.
    EXPECT_GT(picture.pixelColor(2, picture.height() - 3).green(), 100);
    EXPECT_LT(picture.pixelColor(2, picture.height() - 3).red(), 60);

    corner->click();
    EXPECT_EQ(gate.skips, 1);
    EXPECT_EQ(gate.grants, 0);
}

TEST(PermissionGateView, TheHandPulsesUnlessMotionIsReduced) {
    ShownGate moving;
    ShownGate still(Shape{.reduceMotion = true});
    auto* pulse = moving.view().findChild<QVariantAnimation*>("click-hint-pulse");
    ASSERT_NE(pulse, nullptr);
    EXPECT_EQ(pulse->state(), QAbstractAnimation::Running);
    EXPECT_EQ(still.view().findChild<QVariantAnimation*>("click-hint-pulse"), nullptr);
    yux::test::writeScreenshot(still.window(), "gate-request-offscreen");
}

TEST(PermissionGateView, QuitPressedWhileTheGateShowsEndsTheEventLoop) {
    ShownGate gate;
    auto activation = platform::ApplicationActivation::create();  // the live quit path
    PermissionGateWindow window(PermissionGateContent("Yux", "Camera", "Why", "Where", "Ready", "Camera"),
                                gate.controller->viewState(),
                                {[] {}, {}, {}, [activation]() mutable { activation.terminate(); }}, true, activation);
    window.present();
    QTimer::singleShot(0, [&] { window.view().findChild<QAbstractButton*>("permission-gate-quit")->click(); });
    QTimer::singleShot(5000, [] { QApplication::exit(3); });
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST(PermissionGateView, TheOwnerMayDropTheGateFromInsideASkipPressedOnItsWindow) {
    std::unique_ptr<PermissionGateController> gate;
    PermissionGateController::Options options{PermissionGateContent("Yux", "Camera", "Why", "Where", "Ready", "Camera"),
                                              [] { return false; }, platform::SystemSettingsOpener::create_null(true),
                                              "settings:privacy/camera"};
    int skips = 0;
    options.onSkip = [&] {
        ++skips;
        gate.reset();
    };
    auto activation = platform::ApplicationActivation::create_null();
    auto pieces = PermissionGateController::Platform::create(activation, platform::MotionPreference::create_null(true));
    pieces.timers = platform::TimerSource::create_null();
    gate = std::make_unique<PermissionGateController>(std::move(options), pieces);
    gate->start();
    QPointer<QWidget> window;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<PermissionGateWindow*>(widget) != nullptr && widget->isVisible()) window = widget;
    }
    ASSERT_TRUE(window);
    window->findChild<QAbstractButton*>("permission-gate-skip")->click();
    EXPECT_EQ(skips, 1);
    EXPECT_EQ(gate, nullptr);
    EXPECT_EQ(activation.policy(), Policy::accessory);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window);  // gone once the press is over
}

TEST(PermissionGateView, TheApplicationQuittingClosesTheWindow) {
    // The window manager's close request, which the window refuses, is tried on a real desktop.
    ShownGate gate;
    EXPECT_TRUE(gate.window().close());
}

}  // namespace

#include <gtest/gtest.h>

#include <stdexcept>

#include "capture/permission_gate_controller.hpp"
#include "support/pending_answer.hpp"

using namespace yux;
using Call = platform::ApplicationActivation::Call;
using Policy = platform::ApplicationActivation::Policy;
using PendingRequest = yux::testing::PendingAnswer;

namespace {

const char* kPane = "settings:privacy/microphone";

// One gate over null platform pieces, with a permission the test switches.
struct Gate {
    explicit Gate(bool canOpen = true) : settings(platform::SystemSettingsOpener::create_null(canOpen)) {}

    PermissionGateController::Options options() {
        PermissionGateController::Options options{
            PermissionGateContent("Yux", "Microphone", "Why", "Where", "Microphone access is ready.",
                                  "Microphone — optional", "Step 1 of 2"),
            [this] {
                ++checks;
                return granted;
            },
            settings,
            kPane};
        options.onGranted = [this] { ++grants; };
        options.onSkip = [this] { ++skips; };
        options.openSettingsOnDenied = true;
        return options;
    }
    PermissionGateController& make(PermissionGateController::Options options) {
        controller = std::make_unique<PermissionGateController>(std::move(options), platformPieces);
        return *controller;
    }
    PermissionGateController& make() { return make(options()); }
    // Started, with `request` behind the button, and the button pressed.
    PermissionGateController& requesting(PendingRequest& request) {
        auto withRequest = options();
        withRequest.requestAccess = request.operation();
        auto& gate = make(withRequest);
        gate.start();
        window().actions->requestAccess();
        return gate;
    }
    const PermissionGateWindowRecord& window() const { return *platformPieces.windows; }
    std::vector<std::string> panes() const { return settings.track_openedPanes()->urls; }
    void tick(double seconds = 1.0) { platformPieces.timers.advance(seconds); }

    bool granted = false;
    int checks = 0;
    int grants = 0;
    int skips = 0;
    platform::SystemSettingsOpener settings;
    platform::ApplicationActivation activation = platform::ApplicationActivation::create_null(Policy::accessory);
    platform::OutputTracker<Call> calls = activation.track_calls();
    PermissionGateController::Platform platformPieces = PermissionGateController::Platform::create_null(activation);
    std::unique_ptr<PermissionGateController> controller;
};

TEST(PermissionGateController, GrantedAtStartCallsBackFromInsideStartWithoutAWindow) {
    Gate gate;
    gate.granted = true;
    bool stoppedBeforeCallback = false;
    auto options = gate.options();
    options.onGranted = [&] {
        ++gate.grants;
        stoppedBeforeCallback = !gate.controller->isStarted();
    };
    gate.make(options).start();

    EXPECT_EQ(gate.grants, 1);
    EXPECT_TRUE(stoppedBeforeCallback);
    EXPECT_EQ(gate.window().made, 0);
    EXPECT_TRUE(gate.calls.data().empty());  // the policy was never touched
    EXPECT_EQ(gate.platformPieces.timers.scheduledCount(), 0);
}

TEST(PermissionGateController, ASecondStartNeitherAddsATimerNorChecksAgain) {
    Gate gate;
    auto& controller = gate.make();
    controller.start();
    controller.start();
    EXPECT_EQ(gate.checks, 1);
    EXPECT_EQ(gate.platformPieces.timers.scheduledCount(), 1);
    EXPECT_EQ(gate.window().presentations, 1);
    EXPECT_EQ(gate.calls.data(), (std::vector<Call>{{Call::Kind::setPolicy, Policy::regular},
                                                     {Call::Kind::activate, Policy::regular}}));
}

TEST(PermissionGateController, AGrantWhileAskingIsConfirmedThenReportedOnceWithThePolicyBack) {
    Gate gate;
    auto& controller = gate.make();
    controller.start();
    ASSERT_TRUE(gate.window().showing);
    EXPECT_EQ(gate.activation.policy(), Policy::regular);

    gate.granted = true;
    gate.tick();
    EXPECT_TRUE(controller.viewState().isGranted());
    EXPECT_TRUE(gate.window().showing);
    gate.tick(0.7);  // more ticks that find it granted change nothing
    EXPECT_TRUE(controller.isShowingGranted());
    EXPECT_EQ(gate.grants, 0);

    gate.tick(1.1);  // 1.8 s after the confirmation came
    EXPECT_FALSE(gate.window().showing);
    EXPECT_EQ(gate.activation.policy(), Policy::accessory);
    EXPECT_EQ(gate.grants, 1);
    EXPECT_FALSE(controller.isStarted());
    gate.tick(10);
    EXPECT_EQ(gate.grants, 1);
}

TEST(PermissionGateController, APermissionWithdrawnDuringTheConfirmationBringsTheRequestBack) {
    for (double withdrawnAfter : {0.5, 1.5}) {  // seen by a tick; seen when the confirmation ends
        Gate gate;
        auto& controller = gate.make();
        controller.start();
        gate.granted = true;
        gate.tick();
        ASSERT_TRUE(controller.viewState().isGranted());

        gate.tick(withdrawnAfter - 0.2);
        gate.granted = false;
        gate.tick(1.0);
        EXPECT_FALSE(controller.viewState().isGranted()) << withdrawnAfter;
        EXPECT_FALSE(controller.isShowingGranted());
        EXPECT_TRUE(gate.window().showing);
        gate.tick(5);
        EXPECT_EQ(gate.grants, 0);
        EXPECT_EQ(gate.window().presentations, 1);  // the window stayed up throughout
    }
}

TEST(PermissionGateController, ARefusedRequestOpensThePaneExactlyOnce) {
    {
        Gate gate;
        PendingRequest request;
        gate.requesting(request);
        EXPECT_TRUE(gate.panes().empty());
        request.answer(false);
        EXPECT_EQ(gate.panes(), std::vector<std::string>{kPane});
        EXPECT_FALSE(gate.controller->viewState().isPreparing());
        EXPECT_TRUE(gate.window().showing);
    }
    {
        // With the pane opened at the press, the refusal opens nothing more.
        Gate gate;
        PendingRequest request;
        auto options = gate.options();
        options.requestAccess = request.operation();
        options.openSettingsOnActivation = true;
        gate.make(options).start();
        gate.window().actions->requestAccess();
        EXPECT_EQ(gate.panes(), std::vector<std::string>{kPane});
        request.answer(false);
        EXPECT_EQ(gate.panes(), std::vector<std::string>{kPane});
    }
}

TEST(PermissionGateController, ARequestThatThrowsCountsAsRefused) {
    Gate gate;
    auto options = gate.options();
    options.requestAccess = []() -> QCoro::Task<bool> {
        throw std::runtime_error("The sound server does not answer.");
        co_return true;
    };
    gate.make(options).start();
    gate.window().actions->requestAccess();
    EXPECT_FALSE(gate.controller->isRequesting());
    EXPECT_EQ(gate.panes(), std::vector<std::string>{kPane});
    EXPECT_TRUE(gate.window().showing);
}

TEST(PermissionGateController, PressesAndTicksDuringARequestChangeNothing) {
    Gate gate;
    PendingRequest request;
    auto& controller = gate.requesting(request);
    ASSERT_TRUE(controller.viewState().isPreparing());
    int checks = gate.checks;

    gate.window().actions->requestAccess();
    gate.granted = true;
    gate.tick(3);
    EXPECT_EQ(request.calls, 1);
    EXPECT_EQ(gate.checks, checks);
    EXPECT_FALSE(controller.viewState().isGranted());

    request.answer(true);
    EXPECT_FALSE(controller.viewState().isPreparing());
    EXPECT_TRUE(controller.viewState().isGranted());
    EXPECT_TRUE(gate.panes().empty());
}

TEST(PermissionGateController, AStopDuringARequestLeavesNoTraceAndALaterStartShowsNoSpinner) {
    Gate gate;
    PendingRequest request;
    auto& controller = gate.requesting(request);

    controller.stop();
    EXPECT_FALSE(gate.window().showing);
    EXPECT_FALSE(controller.viewState().isPreparing());
    EXPECT_EQ(gate.activation.policy(), Policy::accessory);

    controller.start();
    EXPECT_TRUE(gate.window().showing);
    EXPECT_FALSE(controller.viewState().isPreparing());
    EXPECT_FALSE(controller.isRequesting());

    request.answer(false);  // the old request's return
    EXPECT_TRUE(gate.panes().empty());
    EXPECT_EQ(gate.grants + gate.skips, 0);
    EXPECT_EQ(gate.window().made, 1);  // one window, reused
}

TEST(PermissionGateController, SkipHidesRestoresThePolicyThenCallsBackOnce) {
    Gate gate;
    Policy policyAtSkip = Policy::regular;
    auto options = gate.options();
    options.onSkip = [&] {
        ++gate.skips;
        policyAtSkip = gate.activation.policy();
    };
    auto& controller = gate.make(options);
    controller.start();
    gate.window().actions->skip();
    EXPECT_EQ(gate.skips, 1);
    EXPECT_EQ(policyAtSkip, Policy::accessory);
    EXPECT_FALSE(gate.window().showing);
    EXPECT_FALSE(controller.isStarted());
    gate.tick(5);
    EXPECT_EQ(gate.window().presentations, 1);
}

TEST(PermissionGateController, AFailingOpenerShowsTheRedLineUntilAnOpeningSucceeds) {
    Gate gate;
    bool canOpen = false;
    gate.settings = platform::SystemSettingsOpener([&](const std::string&) { return canOpen; });
    auto& controller = gate.make();
    controller.start();
    gate.window().actions->openSettings();
    EXPECT_TRUE(controller.viewState().settingsUnavailable());
    gate.tick(2);
    EXPECT_TRUE(controller.viewState().settingsUnavailable());

    canOpen = true;
    controller.openSettings();
    EXPECT_FALSE(controller.viewState().settingsUnavailable());
    EXPECT_EQ(gate.panes(), std::vector<std::string>{kPane});
}

TEST(PermissionGateController, WithoutOnGrantedAGrantOnlyHidesAndAWithdrawalBringsItBack) {
    Gate gate;
    auto options = gate.options();
    options.onGranted = nullptr;
    auto& controller = gate.make(options);
    controller.start();
    gate.granted = true;
    gate.tick(3);
    EXPECT_FALSE(gate.window().showing);
    EXPECT_TRUE(controller.isStarted());
    EXPECT_EQ(gate.activation.policy(), Policy::accessory);

    gate.granted = false;
    gate.tick();
    EXPECT_TRUE(gate.window().showing);
    EXPECT_FALSE(controller.viewState().isGranted());
}

TEST(PermissionGateController, TheOwnerMayReleaseTheGateFromItsCallback) {
    Gate gate;
    auto options = gate.options();
    options.onGranted = [&] {
        ++gate.grants;
        gate.controller.reset();
    };
    gate.make(options).start();
    gate.granted = true;
    gate.tick(3);
    EXPECT_EQ(gate.grants, 1);
    EXPECT_EQ(gate.controller, nullptr);
    gate.tick(3);  // a dropped gate's timers are gone
}

TEST(PermissionGateController, AGateDroppedWhileShowingTakesItsWindowAndTheRegularPolicyAlong) {
    Gate gate;
    gate.make().start();
    ASSERT_EQ(gate.activation.policy(), Policy::regular);
    gate.controller.reset();
    EXPECT_FALSE(gate.window().showing);
    EXPECT_EQ(gate.activation.policy(), Policy::accessory);
    EXPECT_EQ(gate.platformPieces.timers.scheduledCount(), 0);
}

TEST(PermissionGateController, QuitAsksTheApplicationToEndAndLeavesTheGateAlone) {
    Gate gate;
    auto& controller = gate.make();
    controller.start();
    gate.window().actions->quit();
    EXPECT_EQ(gate.calls.data().back(), (Call{Call::Kind::terminate, Policy::regular}));
    EXPECT_TRUE(controller.isPresenting());
    EXPECT_FALSE(gate.window().actions->requestAccess);  // no request operation given
}

}  // namespace

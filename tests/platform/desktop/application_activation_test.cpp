#include "platform/desktop/application_activation.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace yux::platform {
namespace {

using Call = ApplicationActivation::Call;
using Policy = ApplicationActivation::Policy;

TEST(ApplicationActivation, TheNullRecordsEveryCallWithThePolicyInForceAndCopiesShareIt) {
    auto activation = ApplicationActivation::create_null();
    auto calls = activation.track_calls();
    ApplicationActivation copy = activation;
    QWidget window;

    copy.setPolicy(Policy::regular);
    activation.prepareWindow(window);
    activation.activate();
    copy.setPolicy(Policy::accessory);
    copy.terminate();

    EXPECT_EQ(activation.policy(), Policy::accessory);
    EXPECT_EQ(calls.data(), (std::vector<Call>{{Call::Kind::setPolicy, Policy::regular},
                                                {Call::Kind::prepareWindow, Policy::regular},
                                                {Call::Kind::activate, Policy::regular},
                                                {Call::Kind::setPolicy, Policy::accessory},
                                                {Call::Kind::terminate, Policy::accessory}}));
    EXPECT_FALSE(window.isVisible());
}

TEST(ApplicationActivation, LiveStartsAsAnAccessoryAndItsTerminateEndsTheEventLoop) {
    auto activation = ApplicationActivation::create();
    EXPECT_EQ(activation.policy(), Policy::accessory);
    QWidget window;
    activation.prepareWindow(window);  // no window manager offscreen: nothing to tell

    // A window that refuses to close must not keep the application running.
    struct Stubborn : QWidget {
        void closeEvent(QCloseEvent* event) override { event->ignore(); }
    } stubborn;
    stubborn.show();
    QTimer::singleShot(0, [&] { activation.terminate(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST(ApplicationActivation, AGivenQuitPathIsWhatTerminateRuns) {
    int quits = 0;
    auto activation = ApplicationActivation::create([&] { ++quits; });
    activation.terminate();
    EXPECT_EQ(quits, 1);
}

}  // namespace
}  // namespace yux::platform

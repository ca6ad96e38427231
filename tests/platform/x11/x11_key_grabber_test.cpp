#include <gtest/gtest.h>

#include <vector>

#include "platform/x11/x11_key_grabber.hpp"
#include "support/x11_test_client.hpp"

using yux::platform::X11KeyGrabber;
using yux::platform::X11ModifierMask;
using yux::testing::processEventsFor;
using yux::testing::processEventsUntil;
using yux::testing::TestKey;
using yux::testing::X11TestClient;

namespace {

constexpr std::uint16_t kShiftSuper = X11ModifierMask::shift | X11ModifierMask::mod4;
// Longer than the server's auto-repeat delay (660 ms by default), so the key repeats.
constexpr int kHoldMilliseconds = 1200;
// After a press has been handled, how long to watch for a second trigger.
constexpr int kSettleMilliseconds = 150;

class X11KeyGrabberTest : public ::testing::Test {
protected:
    void SetUp() override {
        grabber = X11KeyGrabber::shared();
        ASSERT_NE(grabber, nullptr) << "the test application must run on the X11 display";
        handler = grabber->addPressHandler([this](X11KeyGrabber::GrabID id) {
            pressed.push_back(id);
            return true;
        });
    }
    void TearDown() override {
        grabber->removePressHandler(handler);
        for (auto id : {1u, 2u, 3u}) grabber->ungrab(id);
    }

    void tapShiftSuperSix() { client.tap(TestKey::six, {TestKey::shiftLeft, TestKey::superLeft}); }

    X11KeyGrabber* grabber = nullptr;
    X11KeyGrabber::HandlerID handler = 0;
    std::vector<X11KeyGrabber::GrabID> pressed;
    X11TestClient client;
};

TEST_F(X11KeyGrabberTest, OnePressFiresOnceAndAHeldKeyFiresOnceThroughAutoRepeat) {
    ASSERT_EQ(grabber->grab(TestKey::six, kShiftSuper, 1), X11KeyGrabber::GrabResult::grabbed);

    tapShiftSuperSix();
    ASSERT_TRUE(processEventsUntil([&] { return !pressed.empty(); }, 2000));
    processEventsFor(kSettleMilliseconds);
    EXPECT_EQ(pressed, std::vector<X11KeyGrabber::GrabID>{1});

    pressed.clear();
    auto before = grabber->receivedPresses();
    client.hold(TestKey::six, {TestKey::shiftLeft, TestKey::superLeft}, kHoldMilliseconds);
    processEventsFor(kSettleMilliseconds);
    EXPECT_GT(grabber->receivedPresses() - before, 1u) << "the server did not repeat the held key";
    EXPECT_EQ(pressed.size(), 1u);

    // The next press after the release fires again.
    tapShiftSuperSix();
    EXPECT_TRUE(processEventsUntil([&] { return pressed.size() == 2; }, 2000));
}

TEST_F(X11KeyGrabberTest, FiresWithCapsLockOnAndIgnoresOtherModifiers) {
    ASSERT_EQ(grabber->grab(TestKey::six, kShiftSuper, 1), X11KeyGrabber::GrabResult::grabbed);

    client.tap(TestKey::six, {TestKey::shiftLeft});  // not the combination
    processEventsFor(kSettleMilliseconds);
    EXPECT_TRUE(pressed.empty());

    client.tap(TestKey::capsLock);
    tapShiftSuperSix();
    bool fired = processEventsUntil([&] { return !pressed.empty(); }, 2000);
    client.tap(TestKey::capsLock);
    EXPECT_TRUE(fired);
}

TEST_F(X11KeyGrabberTest, AGrabHeldByAnotherClientIsAlreadyInUseAndNothingStaysGrabbed) {
    X11TestClient other;
    ASSERT_TRUE(other.grabKey(TestKey::six, kShiftSuper));
    EXPECT_EQ(grabber->grab(TestKey::six, kShiftSuper, 1), X11KeyGrabber::GrabResult::alreadyInUse);
    EXPECT_FALSE(grabber->isGrabbed(1));
    other.ungrabKey(TestKey::six, kShiftSuper);

    // Only the Caps Lock variant taken elsewhere: the whole grab fails and the plain
    // combination is left free for others.
    ASSERT_TRUE(other.grabKey(TestKey::six, kShiftSuper | X11ModifierMask::lock));
    EXPECT_EQ(grabber->grab(TestKey::six, kShiftSuper, 1), X11KeyGrabber::GrabResult::alreadyInUse);
    X11TestClient third;
    EXPECT_TRUE(third.grabKey(TestKey::six, kShiftSuper));
}

TEST_F(X11KeyGrabberTest, UngrabGivesTheKeyBackAndTheSameKeyCannotBeGrabbedTwice) {
    ASSERT_EQ(grabber->grab(TestKey::escape, 0, 1), X11KeyGrabber::GrabResult::grabbed);
    EXPECT_EQ(grabber->grab(TestKey::escape, 0, 2), X11KeyGrabber::GrabResult::alreadyInUse);
    EXPECT_TRUE(grabber->isGrabbed(1));

    X11TestClient other;
    EXPECT_FALSE(other.grabKey(TestKey::escape, X11ModifierMask::mod2));
    grabber->ungrab(1);
    EXPECT_TRUE(other.grabKey(TestKey::escape, 0));
    EXPECT_TRUE(other.grabKey(TestKey::escape, X11ModifierMask::lock));
}

TEST_F(X11KeyGrabberTest, APressNotTakenByOneHandlerIsOfferedToTheNext) {
    std::vector<X11KeyGrabber::GrabID> declined;
    auto first = grabber->addPressHandler([&](X11KeyGrabber::GrabID id) {
        declined.push_back(id);
        return false;
    });
    ASSERT_EQ(grabber->grab(TestKey::escape, 0, 3), X11KeyGrabber::GrabResult::grabbed);
    client.tap(TestKey::escape);
    EXPECT_TRUE(processEventsUntil([&] { return !pressed.empty(); }, 2000));
    grabber->removePressHandler(first);
    EXPECT_EQ(declined, std::vector<X11KeyGrabber::GrabID>{3});
    EXPECT_EQ(pressed, std::vector<X11KeyGrabber::GrabID>{3});
}

}  // namespace

#include "model/global_hot_key.hpp"

#include <gtest/gtest.h>

#include "model/app_error.hpp"
#include "support/app_error_expectations.hpp"

using yux::AppError;
using yux::GlobalHotKey;
using yux::HotKeyID;
using yux::RecordingShortcut;

namespace {

const RecordingShortcut kOther{15, RecordingShortcut::command | RecordingShortcut::option};  // Alt+Super+R

void expectShortcutError(const std::function<void()>& action, const std::string& detail) {
    yux::testing::expectAppError(action, AppError::keyboardShortcutUnavailable(detail));
}

struct Presses {
    int count = 0;
    GlobalHotKey::Trigger trigger() {
        return [this] { ++count; };
    }
};

}  // namespace

TEST(GlobalHotKey, StartRegistersOnceAndASecondStartChangesNothing) {
    auto hotKey = GlobalHotKey::create_null();
    Presses first, second;
    hotKey->start(RecordingShortcut::defaultShortcut(), first.trigger());
    auto id = hotKey->eventID();
    EXPECT_NE(id, 0u);
    EXPECT_EQ(hotKey->registeredShortcut(), RecordingShortcut::defaultShortcut());

    hotKey->start(kOther, second.trigger());
    EXPECT_EQ(hotKey->eventID(), id);
    EXPECT_EQ(hotKey->registeredShortcut(), RecordingShortcut::defaultShortcut());
    hotKey->simulate_pressed();
    EXPECT_EQ(first.count, 1);
    EXPECT_EQ(second.count, 0);
}

TEST(GlobalHotKey, APressIsHandledOnlyWithOurSignatureAndTheCurrentID) {
    auto hotKey = GlobalHotKey::create_null();
    Presses presses;
    hotKey->start(RecordingShortcut::defaultShortcut(), presses.trigger());
    auto id = hotKey->eventID();

    EXPECT_EQ(hotKey->receive(HotKeyID{0x41424344, id}), GlobalHotKey::kEventNotHandled);
    EXPECT_EQ(hotKey->receive(HotKeyID{GlobalHotKey::kSignature, id + 1}), GlobalHotKey::kEventNotHandled);
    EXPECT_EQ(presses.count, 0);
    EXPECT_EQ(hotKey->receive(HotKeyID{GlobalHotKey::kSignature, id}), GlobalHotKey::kNoError);
    hotKey->simulate_pressed(0x41424344);
    EXPECT_EQ(presses.count, 1);
}

TEST(GlobalHotKey, ReplacementRegistersBesideTheOldKeyAndHoldsBackPressesUntilDecided) {
    auto hotKey = GlobalHotKey::create_null();
    Presses presses;
    hotKey->start(RecordingShortcut::defaultShortcut(), presses.trigger());
    auto oldID = hotKey->eventID();

    hotKey->prepareReplacement(RecordingShortcut::defaultShortcut());  // the same: nothing pending
    EXPECT_FALSE(hotKey->hasPendingReplacement());
    hotKey->commitReplacement();
    EXPECT_EQ(hotKey->eventID(), oldID);

    hotKey->prepareReplacement(kOther);
    ASSERT_TRUE(hotKey->hasPendingReplacement());
    EXPECT_EQ(hotKey->receive(HotKeyID{GlobalHotKey::kSignature, oldID}), GlobalHotKey::kNoError);
    expectShortcutError([&] { hotKey->prepareReplacement(RecordingShortcut::defaultShortcut()); },
                        "Finish choosing the shortcut first.");
    expectShortcutError([&] { hotKey->suspend(); }, "Shortcut settings are being saved.");
    EXPECT_FALSE(hotKey->isSuspended());
    EXPECT_EQ(presses.count, 0);

    hotKey->cancelReplacement();
    EXPECT_EQ(hotKey->registeredShortcut(), RecordingShortcut::defaultShortcut());
    hotKey->simulate_pressed();
    EXPECT_EQ(presses.count, 1);

    hotKey->prepareReplacement(kOther);
    hotKey->commitReplacement();
    EXPECT_EQ(hotKey->registeredShortcut(), kOther);
    EXPECT_NE(hotKey->eventID(), oldID);
    EXPECT_EQ(hotKey->receive(HotKeyID{GlobalHotKey::kSignature, oldID}), GlobalHotKey::kEventNotHandled);
    hotKey->simulate_pressed();
    EXPECT_EQ(presses.count, 2);
}

TEST(GlobalHotKey, SuspendAndResumeKeepTheShortcutAndRegisterItUnderANewID) {
    auto hotKey = GlobalHotKey::create_null();
    Presses presses;
    hotKey->start(RecordingShortcut::defaultShortcut(), presses.trigger());
    auto firstID = hotKey->eventID();
    hotKey->resume();  // active and not suspended: nothing new
    EXPECT_EQ(hotKey->eventID(), firstID);

    hotKey->suspend();
    EXPECT_EQ(hotKey->eventID(), 0u);
    EXPECT_EQ(hotKey->registeredShortcut(), RecordingShortcut::defaultShortcut());
    EXPECT_EQ(hotKey->receive(HotKeyID{GlobalHotKey::kSignature, firstID}), GlobalHotKey::kEventNotHandled);
    expectShortcutError([&] { hotKey->prepareReplacement(kOther); }, "Finish choosing the shortcut first.");

    hotKey->resume();
    EXPECT_FALSE(hotKey->isSuspended());
    EXPECT_NE(hotKey->eventID(), 0u);
    EXPECT_NE(hotKey->eventID(), firstID);
    EXPECT_EQ(hotKey->receive(HotKeyID{GlobalHotKey::kSignature, firstID}), GlobalHotKey::kEventNotHandled);
    hotKey->simulate_pressed();
    EXPECT_EQ(presses.count, 1);
}

TEST(GlobalHotKey, ConflictsAreTheAlreadyInUseErrorAndLeaveTheWrapperIdle) {
    auto hotKey = GlobalHotKey::create_null({RecordingShortcut::defaultShortcut()}, false);
    Presses presses;
    const std::string inUse = "That shortcut is unavailable or already in use. Choose another combination.";
    expectShortcutError([&] { hotKey->start(GlobalHotKey::kEscapeKeyCode, 0, presses.trigger()); }, inUse);
    expectShortcutError([&] { hotKey->start(RecordingShortcut::defaultShortcut(), presses.trigger()); }, inUse);
    EXPECT_EQ(hotKey->eventID(), 0u);
    EXPECT_EQ(hotKey->registeredShortcut(), std::nullopt);

    // A failed replacement keeps the active registration.
    hotKey->start(kOther, presses.trigger());
    auto id = hotKey->eventID();
    expectShortcutError([&] { hotKey->prepareReplacement(RecordingShortcut::defaultShortcut()); }, inUse);
    EXPECT_FALSE(hotKey->hasPendingReplacement());
    EXPECT_EQ(hotKey->eventID(), id);
    EXPECT_EQ(hotKey->registeredShortcut(), kOther);
}

TEST(GlobalHotKey, ARawStartReplacesTheEarlierRegistrationAndCloseForgetsEverything) {
    auto hotKey = GlobalHotKey::create_null();
    Presses first, second;
    hotKey->start(GlobalHotKey::kEscapeKeyCode, 0, first.trigger());
    auto firstID = hotKey->eventID();
    hotKey->start(GlobalHotKey::kEscapeKeyCode, 0, second.trigger());
    EXPECT_EQ(hotKey->receive(HotKeyID{GlobalHotKey::kSignature, firstID}), GlobalHotKey::kEventNotHandled);
    hotKey->simulate_pressed();
    EXPECT_EQ(first.count, 0);
    EXPECT_EQ(second.count, 1);
    EXPECT_EQ(hotKey->registeredShortcut(), std::nullopt);

    hotKey->close();
    EXPECT_EQ(hotKey->eventID(), 0u);
    hotKey->simulate_pressed(std::nullopt, firstID);
    EXPECT_EQ(second.count, 1);
    hotKey->start(RecordingShortcut::defaultShortcut(), first.trigger());  // a closed wrapper starts again
    EXPECT_EQ(hotKey->registeredShortcut(), RecordingShortcut::defaultShortcut());
}

TEST(GlobalHotKey, ACallbackMayCloseItsOwnWrapper) {
    auto hotKey = GlobalHotKey::create_null();
    int presses = 0;
    hotKey->start(GlobalHotKey::kEscapeKeyCode, 0, [&] {
        ++presses;
        hotKey->close();
    });
    hotKey->simulate_pressed();
    hotKey->simulate_pressed();
    EXPECT_EQ(presses, 1);
}

TEST(GlobalHotKey, WithoutAnX11DisplayTheLiveWrapperReportsKeyboardUnavailable) {
    // The unit tests run in a non-graphical application, as under a session without X11.
    auto hotKey = GlobalHotKey::create();
    expectShortcutError([&] { hotKey->start(RecordingShortcut::defaultShortcut(), [] {}); },
                        "Keyboard input is unavailable. Restart Yux and retry.");
    EXPECT_EQ(hotKey->eventID(), 0u);
}

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QWidget>
#include <cctype>
#include <string>
#include <vector>

#include "model/app_error.hpp"
#include "model/global_hot_key.hpp"
#include "platform/x11/x11_key_grabber.hpp"
#include "support/x11_test_client.hpp"

using yux::AppError;
using yux::GlobalHotKey;
using yux::RecordingShortcut;
using yux::testing::processEventsFor;
using yux::testing::processEventsUntil;
using yux::testing::TestKey;
using yux::testing::X11TestClient;

namespace {

constexpr std::uint16_t kShiftSuper = (1 << 0) | (1 << 6);
constexpr std::uint16_t kCapsLock = 1 << 1;
// Longer than the server's auto-repeat delay (660 ms by default), so the key repeats.
constexpr int kHoldMilliseconds = 1200;
constexpr int kSettleMilliseconds = 150;
// How long the window manager may take to give a new window the focus.
constexpr int kFocusTimeoutMilliseconds = 5000;

// A window of ours that notes every key event of the 6 key, and counts presses of the 7 key:
// the 7 tapped after a step is a barrier, since the server sends a client its events in order.
class KeyLogWidget : public QWidget {
public:
    std::vector<bool> sixPressesRepeated;
    int sixReleases = 0;
    int sevenPresses = 0;
    // For a failure's message: P press, R release, lower case when Qt calls it a repeat, + with
    // a modifier held.
    std::string trace;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->nativeScanCode() == TestKey::seven) ++sevenPresses;
        if (event->nativeScanCode() != TestKey::six) return;
        sixPressesRepeated.push_back(event->isAutoRepeat());
        note(event, 'P');
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        if (event->nativeScanCode() != TestKey::six) return;
        ++sixReleases;
        note(event, 'R');
    }

private:
    void note(const QKeyEvent* event, char kind) {
        trace += event->isAutoRepeat() ? static_cast<char>(std::tolower(kind)) : kind;
        if (event->modifiers() != Qt::NoModifier) trace += '+';
    }
};

// Until the window has handled every key event sent before now.
bool drained(X11TestClient& keyboard, KeyLogWidget& window) {
    const int before = window.sevenPresses;
    keyboard.tap(TestKey::seven);
    return processEventsUntil([&] { return window.sevenPresses > before; }, kFocusTimeoutMilliseconds);
}

}  // namespace

// Also: a held key in our own window still reaches it as the server repeats it, once a hot key
// has fired.
TEST(GlobalHotKeyOnX11, TheDefaultShortcutFiresOncePerPressEvenWhenHeld) {
    X11TestClient keyboard;
    auto hotKey = GlobalHotKey::create();
    int presses = 0;
    hotKey->start(RecordingShortcut::defaultShortcut(), [&] { ++presses; });
    keyboard.tap(TestKey::six, {TestKey::shiftLeft, TestKey::superLeft});
    ASSERT_TRUE(processEventsUntil([&] { return presses == 1; }, 2000));
    processEventsFor(kSettleMilliseconds);
    EXPECT_EQ(presses, 1);

    KeyLogWidget window;
    window.setFocusPolicy(Qt::StrongFocus);
    window.resize(200, 100);
    window.show();
    window.activateWindow();
    window.setFocus();
    // Qt may call the window active before the server moves the focus; a key pressed meanwhile
    // goes elsewhere, and the window's first press of it is then a repeat.
    ASSERT_TRUE(processEventsUntil(
        [&] {
            return window.isActiveWindow() && window.hasFocus() &&
                   keyboard.inputFocus() == static_cast<std::uint32_t>(window.winId());
        },
        kFocusTimeoutMilliseconds))
        << "the window manager gave the test window no focus";

    // The bare 6 is not the hot key: it goes to the focused window, repeated by the server.
    keyboard.hold(TestKey::six, {}, kHoldMilliseconds);
    ASSERT_TRUE(drained(keyboard, window)) << "the window never saw the 7 typed after the held 6";
    ASSERT_GT(window.sixPressesRepeated.size(), 1u) << "the server did not repeat the held key";
    EXPECT_FALSE(window.sixPressesRepeated.front()) << window.trace;
    // The grabber asks the server for no release between repeats, on its own connection only:
    // Qt's connection must still get the releases, which are how Qt tells a repeat. (Whether
    // Qt then calls a press a repeat depends on whether it has read that press yet, which a
    // busy machine can delay for every repeat of a hold.)
    EXPECT_EQ(window.sixReleases, static_cast<int>(window.sixPressesRepeated.size()))
        << "the server sent the held key's repeats to Qt without their releases: " << window.trace;

    // With the window still focused, a held hot key fires once and never reaches the window.
    window.sixPressesRepeated.clear();
    window.trace += '|';
    const auto* grabber = yux::platform::X11KeyGrabber::shared();
    ASSERT_NE(grabber, nullptr);
    const auto received = grabber->receivedPresses();
    keyboard.hold(TestKey::six, {TestKey::shiftLeft, TestKey::superLeft}, kHoldMilliseconds);
    // Once a repeat of the hot key has been handled, a second firing would have happened.
    ASSERT_TRUE(processEventsUntil([&] { return grabber->receivedPresses() > received + 1; }, 2000))
        << "the server did not repeat the held hot key";
    EXPECT_EQ(presses, 2);
    ASSERT_TRUE(drained(keyboard, window)) << "the window never saw the 7 typed after the held hot key";
    EXPECT_TRUE(window.sixPressesRepeated.empty()) << window.trace;
}

TEST(GlobalHotKeyOnX11, AShortcutHeldByAnotherClientIsAlreadyInUse) {
    X11TestClient other;
    ASSERT_TRUE(other.grabKey(TestKey::six, kShiftSuper | kCapsLock));
    auto hotKey = GlobalHotKey::create();
    try {
        hotKey->start(RecordingShortcut::defaultShortcut(), [] {});
        ADD_FAILURE() << "the grab of the other client was not noticed";
    } catch (const AppError& error) {
        EXPECT_EQ(error.detail(), "That shortcut is unavailable or already in use. Choose another combination.");
    }
    EXPECT_EQ(hotKey->registeredShortcut(), std::nullopt);
}

TEST(GlobalHotKeyOnX11, EscapeIsGrabbedUntilCloseAndTheShortcutGivenBackWhileSuspended) {
    X11TestClient other;
    {
        auto escape = GlobalHotKey::create();
        int presses = 0;
        escape->start(GlobalHotKey::kEscapeKeyCode, 0, [&] { ++presses; });
        escape->start(GlobalHotKey::kEscapeKeyCode, 0, [&] { presses += 10; });  // re-armed, not leaked
        other.tap(TestKey::escape);
        ASSERT_TRUE(processEventsUntil([&] { return presses != 0; }, 2000));
        EXPECT_EQ(presses, 10);
        EXPECT_FALSE(other.grabKey(TestKey::escape, 0));

        escape->close();
        EXPECT_TRUE(other.grabKey(TestKey::escape, 0));
        other.ungrabKey(TestKey::escape, 0);

        escape->start(GlobalHotKey::kEscapeKeyCode, 0, [] {});
    }  // destroyed while armed
    EXPECT_TRUE(other.grabKey(TestKey::escape, 0));
    other.ungrabKey(TestKey::escape, 0);

    auto recording = GlobalHotKey::create();
    recording->start(RecordingShortcut::defaultShortcut(), [] {});
    recording->suspend();
    EXPECT_TRUE(other.grabKey(TestKey::six, kShiftSuper));
    other.ungrabKey(TestKey::six, kShiftSuper);
    recording->resume();
    EXPECT_FALSE(other.grabKey(TestKey::six, kShiftSuper));
}

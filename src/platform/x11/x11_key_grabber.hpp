#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/x11/x11_modifier_mask.hpp"

class QSocketNotifier;

namespace yux::platform {

class X11Connection;

// System-wide key grabs on the root window, taken on a private X11 connection of the grabber's
// own: how the grabber asks the server to report held keys must never change how the
// application's windows see them (a held key there stays auto-repeat). A grab is taken for
// every combination of the lock modifiers, so Caps Lock or Num Lock never hide a press.
// Presses are read on the main thread as the connection's socket becomes readable; a held key
// reaches the handlers once, however long the server repeats it. Main thread only.
class X11KeyGrabber {
public:
    enum class GrabResult { grabbed, alreadyInUse, keyboardUnavailable };
    using GrabID = std::uint64_t;
    using HandlerID = std::uint64_t;
    // Answers true when it took the press; otherwise the press is offered to the handler added
    // before it.
    using PressHandler = std::function<bool(GrabID)>;

    // The grabber of the running application's X11 display, made on first use; null when the
    // application does not run on an X11 display (no GUI application, a Wayland-only session)
    // or the display does not answer a second connection.
    static X11KeyGrabber* shared();

    ~X11KeyGrabber();
    X11KeyGrabber(const X11KeyGrabber&) = delete;
    X11KeyGrabber& operator=(const X11KeyGrabber&) = delete;

    // Grabs the key for all lock-modifier combinations, or for none: when another client holds
    // any of them (or this application already grabbed the same combination), nothing stays
    // grabbed and the answer is alreadyInUse.
    GrabResult grab(std::uint8_t keycode, std::uint16_t modifiers, GrabID id);
    // Releases the grab; an unknown identifier is ignored.
    void ungrab(GrabID id);
    bool isGrabbed(GrabID id) const { return grabs_.contains(id); }

    HandlerID addPressHandler(PressHandler handler);
    void removePressHandler(HandlerID id);

    // Caps Lock plus the modifier the server maps Num Lock to.
    std::uint16_t lockModifiers() const { return lockModifiers_; }
    // Key presses of grabbed keys as the server sent them, repeats included.
    std::uint64_t receivedPresses() const { return receivedPresses_; }

private:
    struct Grab {
        std::uint8_t keycode = 0;
        std::uint16_t modifiers = 0;
        bool held = false;
    };

    explicit X11KeyGrabber(std::unique_ptr<X11Connection> connection);
    // Handles every event the connection has read or can read without waiting.
    void readEvents();
    // Replies read by a request check may have pulled events off the socket, which then never
    // wakes the notifier: read them on the next turn of the event loop, outside the caller.
    void readEventsLater();
    std::vector<std::uint16_t> lockCombinations() const;
    void releaseCombinations(std::uint8_t keycode, std::uint16_t modifiers);
    void handlePress(std::uint8_t keycode, std::uint16_t state, std::uint32_t time);
    void handleRelease(std::uint8_t keycode, std::uint32_t time);

    std::unique_ptr<X11Connection> connection_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::uint32_t root_;
    std::uint16_t lockModifiers_ = X11ModifierMask::lock;
    bool detectableAutoRepeat_ = false;
    std::map<GrabID, Grab> grabs_;
    std::vector<std::pair<HandlerID, PressHandler>> handlers_;
    HandlerID nextHandlerID_ = 1;
    // Without detectable auto-repeat the server sends release and press of a repeat with the
    // same time stamp; this remembers the last release per key to recognise that pair.
    std::map<std::uint8_t, std::uint32_t> lastRelease_;
    std::uint64_t receivedPresses_ = 0;
};

}  // namespace yux::platform

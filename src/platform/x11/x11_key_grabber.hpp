#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "platform/x11/x11_modifier_mask.hpp"

struct xcb_connection_t;

namespace yux::platform {

// System-wide key grabs on the root window of the application's own X11 connection. A grab is
// taken for every combination of the lock modifiers, so Caps Lock or Num Lock never hide a
// press. Presses arrive through the application's native event filter; a held key reaches the
// handlers once, however long the server repeats it. Main thread only.
class X11KeyGrabber : public QAbstractNativeEventFilter {
public:
    enum class GrabResult { grabbed, alreadyInUse, keyboardUnavailable };
    using GrabID = std::uint64_t;
    using HandlerID = std::uint64_t;
    // Answers true when it took the press; otherwise the press is offered to the handler added
    // before it.
    using PressHandler = std::function<bool(GrabID)>;

    // The grabber of the running application's X11 connection, made on first use; null when the
    // application does not run on an X11 display (no GUI application, a Wayland-only session).
    static X11KeyGrabber* shared();

    ~X11KeyGrabber() override;
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

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        std::uint8_t keycode = 0;
        std::uint16_t modifiers = 0;
        bool held = false;
    };

    X11KeyGrabber(xcb_connection_t* connection, std::uint32_t root);
    std::vector<std::uint16_t> lockCombinations() const;
    void releaseCombinations(std::uint8_t keycode, std::uint16_t modifiers);
    // Both answer whether the event belonged to one of our grabs.
    bool handlePress(std::uint8_t keycode, std::uint16_t state, std::uint32_t time);
    bool handleRelease(std::uint8_t keycode, std::uint32_t time);

    xcb_connection_t* connection_;
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

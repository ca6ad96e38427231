#pragma once

#include <cstdint>
#include <functional>

#include "support/event_loop.hpp"

struct xcb_connection_t;

namespace yux::testing {

// Physical keys of the test server's keyboard (evdev code + 8).
struct TestKey {
    static constexpr std::uint8_t escape = 9;
    static constexpr std::uint8_t six = 15;
    static constexpr std::uint8_t seven = 16;
    static constexpr std::uint8_t tab = 23;
    static constexpr std::uint8_t returnKey = 36;
    static constexpr std::uint8_t shiftLeft = 50;
    static constexpr std::uint8_t capsLock = 66;
    static constexpr std::uint8_t superLeft = 133;
};

// A second X11 client of the test display: types keys through XTest and takes grabs of its own.
class X11TestClient {
public:
    X11TestClient();  // throws when no display answers
    ~X11TestClient();
    X11TestClient(const X11TestClient&) = delete;
    X11TestClient& operator=(const X11TestClient&) = delete;

    void press(std::uint8_t keycode);
    void release(std::uint8_t keycode);
    // Moves the pointer to the root position and clicks the left button there.
    void click(int x, int y);
    // Presses the modifiers, then the key; releases in reverse order.
    void tap(std::uint8_t keycode, std::initializer_list<std::uint8_t> modifiers = {});
    // Like tap, but keeps the key down while the event loop runs for a while.
    void hold(std::uint8_t keycode, std::initializer_list<std::uint8_t> modifiers, int milliseconds);
    // Grabs on the root window as this client; false when the server refuses.
    bool grabKey(std::uint8_t keycode, std::uint16_t modifiers);
    void ungrabKey(std::uint8_t keycode, std::uint16_t modifiers);
    // Waits until the server has handled everything sent so far.
    void sync();
    // The window holding the keyboard focus as the server has it.
    std::uint32_t inputFocus();

private:
    xcb_connection_t* connection_;
    std::uint32_t root_;
};

}  // namespace yux::testing

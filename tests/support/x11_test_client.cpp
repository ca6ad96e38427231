#include "support/x11_test_client.hpp"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace yux::testing {

X11TestClient::X11TestClient() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_) != 0) {
        xcb_disconnect(connection_);
        throw std::runtime_error("No X11 display answers; run the test through scripts/test-env.sh.");
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

X11TestClient::~X11TestClient() { xcb_disconnect(connection_); }

void X11TestClient::press(std::uint8_t keycode) {
    xcb_test_fake_input(connection_, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
}

void X11TestClient::release(std::uint8_t keycode) {
    xcb_test_fake_input(connection_, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
}

void X11TestClient::click(int x, int y) {
    constexpr std::uint8_t kLeftButton = 1;
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, static_cast<std::int16_t>(x),
                        static_cast<std::int16_t>(y), 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, kLeftButton, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, kLeftButton, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
}

void X11TestClient::tap(std::uint8_t keycode, std::initializer_list<std::uint8_t> modifiers) {
    hold(keycode, modifiers, 0);
}

void X11TestClient::hold(std::uint8_t keycode, std::initializer_list<std::uint8_t> modifiers, int milliseconds) {
    for (auto modifier : modifiers) press(modifier);
    press(keycode);
    if (milliseconds > 0) processEventsFor(milliseconds);
    release(keycode);
    std::vector<std::uint8_t> reversed(modifiers);
    for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) release(*it);
}

bool X11TestClient::grabKey(std::uint8_t keycode, std::uint16_t modifiers) {
    auto cookie = xcb_grab_key_checked(connection_, 0, root_, modifiers, keycode, XCB_GRAB_MODE_ASYNC,
                                       XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
    std::free(error);
    return error == nullptr;
}

void X11TestClient::ungrabKey(std::uint8_t keycode, std::uint16_t modifiers) {
    xcb_ungrab_key(connection_, keycode, root_, modifiers);
    sync();
}

void X11TestClient::sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

std::uint32_t X11TestClient::inputFocus() {
    auto* reply = xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
    std::uint32_t focus = reply ? reply->focus : 0;
    std::free(reply);
    return focus;
}

}  // namespace yux::testing

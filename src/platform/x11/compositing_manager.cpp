#include "platform/x11/compositing_manager.hpp"

#include <string>

#include <xcb/xcb.h>

#include "platform/x11/x11_connection.hpp"

namespace yux::platform {

bool compositingManagerRunning() {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
    bool running = false;
    if (atom && atom->atom != XCB_ATOM_NONE) {
        XcbReply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
        running = owner && owner->owner != XCB_WINDOW_NONE;
    }
    xcb_disconnect(connection);
    return running;
}

}  // namespace yux::platform

#include "platform/x11/compositing_manager.hpp"

#include <stdexcept>
#include <string>

#include <xcb/xcb.h>

#include "platform/x11/x11_connection.hpp"

namespace yux::platform {

bool compositingManagerRunning() {
    try {
        auto connection = X11Connection::open();
        return compositingManagerRunning(*connection);
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool compositingManagerRunning(X11Connection& connection) {
    xcb_connection_t* c = connection.raw();
    const std::string name = "_NET_WM_CM_S" + std::to_string(connection.screenNumber());
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) return false;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

}  // namespace yux::platform

#include "platform/x11/x11_connection.hpp"

#include <cstring>
#include <stdexcept>

namespace yux::platform {

std::unique_ptr<X11Connection> X11Connection::open(const char* display) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
        throw std::runtime_error("The X server does not answer; an X11 session is needed to record the screen.");
    }
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && iterator.rem > 0; ++i) {
        xcb_screen_next(&iterator);
    }
    if (iterator.rem == 0 || iterator.data == nullptr) {
        xcb_disconnect(connection);
        throw std::runtime_error("The X server has no screen to record.");
    }
    return std::unique_ptr<X11Connection>(new X11Connection(connection, iterator.data, screenNumber));
}

X11Connection::X11Connection(xcb_connection_t* connection, xcb_screen_t* screen, int screenNumber)
    : connection_(connection), screen_(screen), screenNumber_(screenNumber) {}

X11Connection::~X11Connection() { xcb_disconnect(connection_); }

xcb_atom_t X11Connection::atom(const std::string& name) {
    if (auto found = atoms_.find(name); found != atoms_.end()) {
        return found->second;
    }
    auto cookie = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
    xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    atoms_[name] = value;
    return value;
}

std::string X11Connection::atomName(xcb_atom_t atom) {
    XcbReply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
    if (!reply) {
        return {};
    }
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

bool X11Connection::hasExtension(const char* name) {
    auto cookie = xcb_query_extension(connection_, static_cast<std::uint16_t>(std::strlen(name)), name);
    XcbReply<xcb_query_extension_reply_t> reply(xcb_query_extension_reply(connection_, cookie, nullptr));
    return reply && reply->present != 0;
}

bool X11Connection::selectionOwned(const std::string& name) {
    const xcb_atom_t selection = atom(name);
    if (selection == XCB_ATOM_NONE) return false;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

std::optional<std::vector<std::uint32_t>> X11Connection::cardinals(xcb_window_t window, xcb_atom_t property,
                                                                    xcb_atom_t type, std::uint32_t maxItems) {
    auto cookie = xcb_get_property(connection_, 0, window, property, type, 0, maxItems);
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->format != 32 || reply->type != type) {
        return std::nullopt;
    }
    auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<std::uint32_t>(values, values + count);
}

std::optional<std::string> X11Connection::text(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    auto cookie = xcb_get_property(connection_, 0, window, property, type, 0, 4096);
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->format != 8 || reply->type != type) {
        return std::nullopt;
    }
    auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

}  // namespace yux::platform

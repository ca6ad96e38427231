#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace yux::platform {

// xcb replies are malloc'ed; this frees them.
struct XcbFree {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// One private connection to the X server with its default screen and an atom cache.
// Not thread-safe: each worker that talks to the server opens its own.
class X11Connection {
public:
    // `display` null means $DISPLAY. Throws std::runtime_error when the server does not answer.
    static std::unique_ptr<X11Connection> open(const char* display = nullptr);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* raw() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    // The number of the default screen, as in "_NET_WM_CM_S<number>".
    int screenNumber() const { return screenNumber_; }

    xcb_atom_t atom(const std::string& name);
    std::string atomName(xcb_atom_t atom);
    // Whether the server offers an extension (by its protocol name, e.g. "Composite").
    bool hasExtension(const char* name);
    // Whether some client owns the selection `name` (such as "_NET_WM_CM_S0").
    bool selectionOwned(const std::string& name);

    // Property readers; nothing when the property is missing or of another format.
    std::optional<std::vector<std::uint32_t>> cardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                                        std::uint32_t maxItems = 4096);
    std::optional<std::string> text(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);

private:
    X11Connection(xcb_connection_t* connection, xcb_screen_t* screen, int screenNumber);

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    int screenNumber_;
    std::map<std::string, xcb_atom_t> atoms_;
};

}  // namespace yux::platform

#include "platform/desktop/application_activation.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace yux::platform {

namespace {

// _NET_WM_DESKTOP's value for "on every desktop".
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;
// _NET_WM_STATE client message actions.
constexpr std::uint32_t kStateRemove = 0;
constexpr std::uint32_t kStateAdd = 1;
// Source indication of a client message sent by a normal application.
constexpr std::uint32_t kSourceApplication = 1;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::char_traits<char>::length(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

std::vector<xcb_atom_t> atomList(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    auto cookie = xcb_get_property(connection, 0, window, property, XCB_ATOM_ATOM, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    std::vector<xcb_atom_t> atoms;
    if (reply != nullptr && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return atoms;
}

void sendToWindowManager(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                         std::uint32_t first, std::uint32_t second) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = first;
    event.data.data32[1] = second;
    event.data.data32[2] = 0;
    event.data.data32[3] = kSourceApplication;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// A withdrawn window carries its wishes as properties, which the window manager reads when it
// maps the window (Qt merges its own states into the list); a mapped one asks the window
// manager by message.
void markForWindowManager(QWidget& widget, bool inTaskBar) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // Offscreen or another platform: no window manager to tell. (The offscreen platform may
    // answer the interface without a connection.)
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) return;
    const auto window = static_cast<xcb_window_t>(widget.winId());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t desktop = internAtom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    if (widget.isVisible()) {
        sendToWindowManager(connection, root, window, desktop, kAllDesktops, 0);
        sendToWindowManager(connection, root, window, state, inTaskBar ? kStateRemove : kStateAdd, skipTaskbar);
    } else {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, desktop, XCB_ATOM_CARDINAL, 32, 1,
                            &kAllDesktops);
        auto states = atomList(connection, window, state);
        std::erase(states, skipTaskbar);
        if (!inTaskBar) states.push_back(skipTaskbar);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(states.size()), states.data());
    }
    xcb_flush(connection);
}

}  // namespace

ApplicationActivation ApplicationActivation::create(std::function<void()> terminate) {
    Operations operations;
    // X11 activates windows, not applications: a window asks for the focus itself.
    operations.activate = [] {};
    // Qt's quit() is cancelled by any window that refuses to close; exit() is not.
    operations.terminate = terminate ? std::move(terminate) : [] { QCoreApplication::exit(0); };
    operations.prepareWindow = markForWindowManager;
    return ApplicationActivation(std::move(operations), Policy::accessory);
}

ApplicationActivation ApplicationActivation::create_null(Policy policy) {
    Operations operations;
    operations.activate = [] {};
    operations.terminate = [] {};
    operations.prepareWindow = [](QWidget&, bool) {};
    return ApplicationActivation(std::move(operations), policy);
}

ApplicationActivation::ApplicationActivation(Operations operations, Policy policy) : state_(std::make_shared<State>()) {
    state_->operations = std::move(operations);
    state_->policy = policy;
}

void ApplicationActivation::setPolicy(Policy policy) {
    state_->policy = policy;
    state_->calls.record({Call::Kind::setPolicy, policy});
}

void ApplicationActivation::activate() {
    state_->calls.record({Call::Kind::activate, state_->policy});
    state_->operations.activate();
}

void ApplicationActivation::terminate() {
    state_->calls.record({Call::Kind::terminate, state_->policy});
    state_->operations.terminate();
}

void ApplicationActivation::prepareWindow(QWidget& window) {
    state_->calls.record({Call::Kind::prepareWindow, state_->policy});
    state_->operations.prepareWindow(window, state_->policy == Policy::regular);
}

}  // namespace yux::platform

#pragma once

// The desktop as a user sees it, for tests that drive the real program from outside: its
// windows found through _NET_WM_PID, and a pointer moved and clicked through XTest.

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <QProcess>
#include <QRect>
#include <xcb/xcb.h>

namespace yux::testing {

// What the desktop shows of a process: its windows, found through _NET_WM_PID, as a user's
// panel and window manager see them.
class DesktopWindows {
public:
    DesktopWindows() : connection_(xcb_connect(nullptr, &screen_)) {}
    ~DesktopWindows() { xcb_disconnect(connection_); }
    DesktopWindows(const DesktopWindows&) = delete;
    DesktopWindows& operator=(const DesktopWindows&) = delete;

    // The panel holding the tray, once it has taken the tray selection.
    xcb_window_t trayPanel() {
        const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(screen_);
        auto* owner = xcb_get_selection_owner_reply(
            connection_, xcb_get_selection_owner(connection_, atom(selection.c_str())), nullptr);
        const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
        free(owner);
        return owned ? find(root(), [this](xcb_window_t w) { return wmClass(w).starts_with("tint2"); }) : XCB_WINDOW_NONE;
    }

    // The mapped window of `pid` below `parent` that `accept` takes, in root coordinates.
    std::optional<QRect> mappedWindow(xcb_window_t parent, qint64 pid,
                                      const std::function<bool(xcb_window_t, const QRect&)>& accept = {}) {
        std::optional<QRect> found;
        find(parent, [&](xcb_window_t w) {
            if (found || windowPid(w) != pid || !mapped(w)) return false;
            const QRect place = geometry(w);
            if (!accept || accept(w, place)) found = place;
            return found.has_value();
        });
        return found;
    }
    std::optional<QRect> mappedWindow(qint64 pid, const std::function<bool(xcb_window_t, const QRect&)>& accept) {
        return mappedWindow(root(), pid, accept);
    }

    // The window the window manager has given the keyboard, if any.
    xcb_window_t activeWindow() {
        const std::string value = property(root(), atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
        if (value.size() != sizeof(xcb_window_t)) return XCB_WINDOW_NONE;
        xcb_window_t window = XCB_WINDOW_NONE;
        std::memcpy(&window, value.data(), sizeof window);
        return window;
    }

    // The process that `window`, or the nearest window above it, names; -1 when none does.
    qint64 processOf(xcb_window_t window) {
        for (int depth = 0; depth < 8 && window != XCB_WINDOW_NONE && window != root(); ++depth) {
            if (const qint64 pid = windowPid(window); pid >= 0) return pid;
            auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
            window = tree ? tree->parent : XCB_WINDOW_NONE;
            free(tree);
        }
        return -1;
    }

    std::string title(xcb_window_t window) {
        return property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"));
    }

    // The screen less the panel, as the window manager states it; empty while it states none.
    QRect workArea() {
        const std::string value = property(root(), atom("_NET_WORKAREA"), XCB_ATOM_CARDINAL);
        if (value.size() < 4 * sizeof(uint32_t)) return {};
        uint32_t area[4];
        std::memcpy(area, value.data(), sizeof area);
        return QRect(static_cast<int>(area[0]), static_cast<int>(area[1]), static_cast<int>(area[2]),
                     static_cast<int>(area[3]));
    }

    // Nobody holds the pointer. The window manager holds a click on a window until it has
    // focused and raised it, so until then a key or a click sent after it may come first or be
    // lost. The probe's own grab is let go at once.
    bool pointerFree() {
        auto* reply = xcb_grab_pointer_reply(
            connection_,
            xcb_grab_pointer(connection_, 0, root(), 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                             XCB_CURRENT_TIME),
            nullptr);
        const bool ours = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(reply);
        if (ours) {
            xcb_ungrab_pointer(connection_, XCB_CURRENT_TIME);
            std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        }
        return ours;
    }

private:
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
        free(reply);
        return value;
    }

    std::string property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        auto* reply = xcb_get_property_reply(connection_, xcb_get_property(connection_, 0, window, name, type, 0, 256),
                                             nullptr);
        std::string value;
        if (reply) value.assign(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        free(reply);
        return value;
    }

    std::string wmClass(xcb_window_t window) { return property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING); }

    qint64 windowPid(xcb_window_t window) {
        const std::string value = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
        if (value.size() != sizeof(uint32_t)) return -1;
        uint32_t pid = 0;
        std::memcpy(&pid, value.data(), sizeof pid);
        return pid;
    }

    bool mapped(xcb_window_t window) {
        auto* attributes =
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        return viewable;
    }

    QRect geometry(xcb_window_t window) {
        auto* size = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        auto* place = xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window, root(), 0, 0), nullptr);
        const QRect rect = size && place ? QRect(place->dst_x, place->dst_y, size->width, size->height) : QRect();
        free(size);
        free(place);
        return rect;
    }

    // The first window below `parent`, depth first, that `match` takes.
    xcb_window_t find(xcb_window_t parent, const std::function<bool(xcb_window_t)>& match, int depth = 0) {
        if (depth > 5) return XCB_WINDOW_NONE;
        auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, parent), nullptr);
        if (!tree) return XCB_WINDOW_NONE;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        xcb_window_t found = XCB_WINDOW_NONE;
        for (int i = 0; i < xcb_query_tree_children_length(tree) && found == XCB_WINDOW_NONE; ++i) {
            found = match(children[i]) ? children[i] : find(children[i], match, depth + 1);
        }
        free(tree);
        return found;
    }

    int screen_ = 0;
    xcb_connection_t* connection_;
};

// Polls `condition` every 50 ms until it holds or `timeout` passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

inline void clickAt(const QPoint& point) {
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(point.x()),
                                                  QString::number(point.y()), QStringLiteral("click"), QStringLiteral("1")});
}

// A click, once it has reached its window (see pointerFree).
inline bool clickAndWait(DesktopWindows& desktop, const QPoint& point) {
    clickAt(point);
    return eventually([&] { return desktop.pointerFree(); });
}

// The window of `pid` titled `title` once it is where its program puts it, in the middle of the
// work area, and has the keyboard. The window manager first maps it at a place of its own, so a
// place read at once can be one a click would miss.
inline std::optional<QRect> centredActiveWindow(DesktopWindows& desktop, qint64 pid, const std::string& title,
                                                std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::optional<QRect> found;
    const bool settled = eventually(
        [&] {
            xcb_window_t id = XCB_WINDOW_NONE;
            found = desktop.mappedWindow(pid, [&](xcb_window_t window, const QRect&) {
                if (desktop.title(window) != title) return false;
                id = window;
                return true;
            });
            return found && found->topLeft() == desktop.workArea().center() - QRect(QPoint(), found->size()).center() &&
                   desktop.activeWindow() == id;
        },
        timeout);
    return settled ? found : std::nullopt;
}

}  // namespace yux::testing

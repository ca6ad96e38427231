#pragma once

// What the X server says about the desktop: RandR monitors and the window manager's client
// windows (EWMH/ICCCM). Plain values; every call asks the server afresh.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.hpp"

namespace yux::platform {

// A rectangle in root-window pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

struct X11Monitor {
    // The atom of the monitor's name: a decimal identifier that stays the same while the X
    // server runs, even when monitors come and go.
    std::uint32_t id = 0;
    std::string name;
    PixelRect bounds;
    bool primary = false;
    bool operator==(const X11Monitor&) const = default;
};

// The RandR monitors in the server's order; without RandR 1.5 the whole screen as one monitor
// whose identifier is the root window.
std::vector<X11Monitor> listMonitors(X11Connection& connection);

// The main display: the primary monitor, else the one at the root origin, else the first.
// Nothing for an empty list.
std::optional<std::size_t> mainMonitorIndex(const std::vector<X11Monitor>& monitors);

// The screen's refresh rate in Hz, 0 when the server does not tell.
double screenRefreshRate(X11Connection& connection);

// Stacking layers, ordered like the window manager's: only `normal` windows are ordinary
// application windows.
enum class WindowLayer : int { desktop = -2, below = -1, normal = 0, above = 3, dock = 20 };

// The processes of the X clients that created these windows (or any other resources), through
// the X-Resource extension; nothing for a client that is remote or gone, or for every window
// when the server lacks the extension. One round trip for the whole list.
std::vector<std::optional<std::int32_t>> clientProcessIDs(X11Connection& connection,
                                                          const std::vector<std::uint32_t>& resources);

// One managed client window of the window manager.
struct X11ClientWindow {
    std::uint32_t id = 0;
    // _NET_WM_PID, else the process of the X client that created the window (see
    // clientProcessIDs); nothing when neither is known.
    std::optional<std::int32_t> processID;
    std::string applicationClass;           // WM_CLASS class: the application identifier
    std::string title;
    PixelRect frame;  // outer frame in root pixels (client area plus frame extents)
    bool onScreen = false;
    WindowLayer layer = WindowLayer::normal;
    bool inTaskBar = true;  // not skip-taskbar and of a type a task bar lists
    std::optional<std::uint32_t> transientFor;
    bool operator==(const X11ClientWindow&) const = default;
};

// _NET_CLIENT_LIST_STACKING, bottom to top; the plain client list when the stacking list is
// missing. Empty when no EWMH window manager runs.
std::vector<X11ClientWindow> listClientWindows(X11Connection& connection);

// The application's name from its desktop file (a file named after the class, or one whose
// StartupWMClass is the class), else the class itself.
std::string applicationNameForClass(const std::string& applicationClass);

}  // namespace yux::platform

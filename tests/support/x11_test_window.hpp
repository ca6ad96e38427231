#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>

namespace yux::testing {

// A plain X window of "another client": its own X connection, a solid colour, optionally a
// WM_CLASS and a _NET_WM_PID. Override-redirect windows sit exactly where asked; managed
// ones are placed by the window manager.
class X11TestWindow {
public:
    struct Options {
        int x = 0;
        int y = 0;
        int width = 100;
        int height = 100;
        std::uint32_t rgb = 0xff0000;
        bool overrideRedirect = true;
        std::string applicationClass;
        std::optional<std::int32_t> processID;
        // No background: like most applications' windows it shows only what was drawn into
        // it (once viewable), and what another window covered is lost.
        bool drawnOnly = false;
    };

    explicit X11TestWindow(const Options& options);
    ~X11TestWindow();
    X11TestWindow(const X11TestWindow&) = delete;
    X11TestWindow& operator=(const X11TestWindow&) = delete;

    xcb_window_t id() const { return window_; }
    // Waits up to two seconds until the server says the window is viewable.
    bool waitUntilViewable();
    // The window's inside top-left corner in root coordinates.
    std::pair<int, int> rootPosition();
    void move(int x, int y);
    // Returns once the server has carried out everything asked so far.
    void sync();
    // Repaints a part of the window (all of it when the size is zero) in another colour.
    void fill(std::uint32_t rgb, int x = 0, int y = 0, int width = 0, int height = 0);

private:
    xcb_connection_t* connection_;
    xcb_window_t window_ = 0;
    bool managed_;
    bool drawnOnly_;
    std::uint32_t rgb_;
};

}  // namespace yux::testing

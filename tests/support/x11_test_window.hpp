#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace yux::testing {

// A plain X window of "another client": its own X connection, a solid colour, optionally a
// WM_CLASS, and a _NET_WM_PID (by default one of no process here: the X server knows the window
// as this test's, and a window of no named process would count as this test's own).
// Override-redirect windows sit exactly where asked; managed ones are placed by the window
// manager.
class X11TestWindow {
public:
    static constexpr std::int32_t kAnotherProcess = 4190000;  // below Linux's largest process id
    struct Options {
        int x = 0;
        int y = 0;
        int width = 100;
        int height = 100;
        std::uint32_t rgb = 0xff0000;
        bool overrideRedirect = true;
        std::string applicationClass;
        std::optional<std::int32_t> processID = kAnotherProcess;
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

// The root window painted in one colour, as a user's desktop is. `Setter::xsetroot` runs
// `xsetroot -solid`, which names its colour nowhere; `Setter::publishedPixmap` does what
// wallpaper setters do: a pixmap as the root's background, named in _XROOTPMAP_ID. Black again,
// with the property gone, when done.
class X11RootBackground {
public:
    enum class Setter { xsetroot, publishedPixmap };
    X11RootBackground(Setter setter, std::uint32_t rgb);
    ~X11RootBackground();
    X11RootBackground(const X11RootBackground&) = delete;
    X11RootBackground& operator=(const X11RootBackground&) = delete;

    // Paints the root anew in another colour, the same way; returns once the server did.
    void set(std::uint32_t rgb);

private:
    Setter setter_;
    xcb_connection_t* connection_;
    xcb_pixmap_t pixmap_ = 0;
};

// Another program on the test desktop, started with its arguments and stopped by its process
// id when done.
class X11TestProgram {
public:
    explicit X11TestProgram(const std::vector<std::string>& arguments);
    ~X11TestProgram();
    X11TestProgram(const X11TestProgram&) = delete;
    X11TestProgram& operator=(const X11TestProgram&) = delete;

    int processID() const { return pid_; }
    // Waits up to five seconds until the window manager lists a viewable window whose WM_CLASS
    // class is `applicationClass`; 0 when none comes.
    xcb_window_t waitForWindow(const std::string& applicationClass);

private:
    int pid_ = 0;
};

}  // namespace yux::testing

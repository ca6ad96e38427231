#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/media_time.hpp"
#include "platform/media/sample_buffer.hpp"
#include "platform/x11/x11_desktop.hpp"

namespace yux::platform {

// Which top-level windows make up the picture.
struct WindowSelection {
    enum class Mode {
        // Every window except those of `processIDs` and those this process created.
        excluding,
        // Only windows whose WM_CLASS class is in `applicationClasses`, the other windows of
        // the same processes (menus, pop-ups) and windows transient for them.
        including,
    };
    Mode mode = Mode::excluding;
    std::vector<std::int32_t> processIDs;
    std::vector<std::string> applicationClasses;
    // Also leave out windows created through this process's X connections (by their id
    // range), which catches windows that carry no _NET_WM_PID.
    bool excludeThisProcess = true;
};

struct FrameSourceSettings {
    PixelRect region;  // what is recorded, in root pixels; width and height are the frame size
    WindowSelection windows;
    bool showsCursor = true;
    // The interval of the picture grid; zero (or invalid) means the screen's refresh interval.
    MediaTime minimumFrameInterval = MediaTime::zero();
    // Pictures that may be in flight at once (delivered and not yet released); later
    // pictures are dropped while all are out.
    int queueDepth = 6;
    // The fourth byte of every pixel is 255. Off, it is whatever the screen holds there, which
    // spares the X server converting every pixel: for consumers of the colour alone.
    bool fillsAlpha = true;
    std::string display;  // X display name; empty means $DISPLAY
};

// Grabs BGRA pictures of one region of the X screen on a thread of its own. With Composite
// it paints the chosen top-level windows itself from their off-screen contents, so windows
// that are left out leave no trace; without it, it reads the screen as shown.
// The first picture comes at once; later ones only when the recorded region or the cursor
// in it changed. Pictures are taken on a fixed grid: the first picture's time plus whole
// frame intervals, and each is stamped with its slot (see FrameGrid).
class X11FrameSource {
public:
    // Called on the source's thread for every picture (a SampleBuffer with frame status
    // complete, stamped with its grid slot on the host clock).
    using Deliver = std::function<void(SampleBuffer)>;
    using Log = std::function<void(const std::string&)>;
    // Called once on the source's thread when the source stops for good while running (the
    // X server went away); no picture follows.
    using Failure = std::function<void(const std::string&)>;

    X11FrameSource(FrameSourceSettings settings, Deliver deliver, Log log = {}, Failure failure = {});
    ~X11FrameSource();
    X11FrameSource(const X11FrameSource&) = delete;
    X11FrameSource& operator=(const X11FrameSource&) = delete;

    // Connects, prepares and takes the first picture; throws std::runtime_error when the
    // server cannot be used. Returns once the first picture has been handed to `deliver`.
    void start();
    // Stops the thread; no picture is delivered after it returns. Safe to call twice.
    void stop();

    // True when windows are composited (own windows left out), false on the plain grab.
    bool compositing() const;
    std::int64_t framesDelivered() const;
    // The grid's interval, known once started.
    MediaTime frameInterval() const;
    // Grid slots at which the source has looked for a change so far.
    std::int64_t slotsLookedAt() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace yux::platform

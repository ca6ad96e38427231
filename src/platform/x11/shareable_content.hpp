#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_desktop.hpp"

namespace yux::platform {

// A rectangle in points (Qt's logical pixels) in root-window coordinates.
struct PointRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const PointRect&) const = default;
};

struct ShareableDisplay {
    std::uint32_t displayID = 0;
    int width = 0;   // pixels
    int height = 0;  // pixels
    PointRect frame;         // points
    PixelRect pixelBounds;   // root pixels
    bool operator==(const ShareableDisplay&) const = default;
};

// A process with windows on the desktop. The bundle identifier is its WM_CLASS class. Windows
// of no known process make one application per class, whose process identifier is 0.
struct RunningApplication {
    std::int32_t processID = 0;
    std::string bundleIdentifier;
    std::string applicationName;
    bool operator==(const RunningApplication&) const = default;
};

struct ShareableWindow {
    std::uint32_t windowID = 0;
    std::optional<std::int32_t> processID;
    std::string bundleIdentifier;
    std::string title;
    PointRect frame;
    bool onScreen = false;
    int layer = 0;
    bool inTaskBar = true;
    bool operator==(const ShareableWindow&) const = default;
};

// What may be recorded now. Displays in the server's order; windows bottom to top.
// `applications` always holds this process, so that a filter can leave it out.
struct ShareableContent {
    std::vector<ShareableDisplay> displays;
    std::vector<ShareableWindow> windows;
    std::vector<RunningApplication> applications;
    std::uint32_t mainDisplayID = 0;
    double scale = 1;  // pixels per point
};

// Pixels per point of the desktop: the toolkit's device pixel ratio, 1 without a GUI.
double desktopScale();

// Asks the X server for the displays, windows and applications.
class ShareableContentProvider {
public:
    struct Operations {
        std::function<ShareableContent()> current;
    };

    static ShareableContentProvider create();
    static ShareableContentProvider create_null(ShareableContent content);

    // Throws std::runtime_error when the X server does not answer.
    ShareableContent current() const { return operations_.current(); }

    // Builds the content from what the server reported; exposed for tests.
    static ShareableContent assemble(const std::vector<X11Monitor>& monitors,
                                     const std::vector<X11ClientWindow>& windows, double scale,
                                     std::int32_t thisProcess, const std::string& thisApplication,
                                     const std::function<std::string(const std::string&)>& nameForClass);

private:
    explicit ShareableContentProvider(Operations operations) : operations_(std::move(operations)) {}
    Operations operations_;
};

}  // namespace yux::platform

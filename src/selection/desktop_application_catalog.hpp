#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/display_bounds.hpp"

namespace yux {

// One visible window of another running application.
struct DesktopApplicationWindow {
    int id = 0;  // the X window id
    std::string bundleIdentifier;
    std::string applicationName;
    CaptureRect frame;  // points, root coordinates, frame included
    bool operator==(const DesktopApplicationWindow&) const = default;
};

// One window as the window manager reports it; a fact it does not report is absent.
struct WindowRow {
    std::optional<std::int64_t> ownerPID;
    std::optional<std::int64_t> number;
    std::optional<std::int64_t> layer;
    std::optional<CaptureRect> bounds;
};

// Facts about the application that owns a process.
struct WindowApplication {
    bool regular = false;  // it shows windows in the task bar
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> name;
};

struct WindowServerFunctions {
    // On-screen windows, front to back; nothing when there is no window list.
    std::function<std::optional<std::vector<WindowRow>>()> rows;
    std::function<std::optional<WindowApplication>(std::int32_t processID)> application;
    std::function<std::int32_t()> currentProcessID;
};

// The visible windows of the other regular applications, front to back, one entry per window.
class DesktopApplicationCatalog {
public:
    explicit DesktopApplicationCatalog(WindowServerFunctions sdk) : sdk_(std::move(sdk)) {}
    static DesktopApplicationCatalog create();
    static DesktopApplicationCatalog create_null(std::vector<DesktopApplicationWindow> windows);

    // Never fails; call it on the main thread.
    std::vector<DesktopApplicationWindow> windows() const;

private:
    WindowServerFunctions sdk_;
};

}  // namespace yux

#include "selection/desktop_application_catalog.hpp"

#include <unistd.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <utility>

#include "platform/x11/shareable_content.hpp"
#include "platform/x11/x11_desktop.hpp"

namespace yux {

std::vector<DesktopApplicationWindow> DesktopApplicationCatalog::windows() const {
    auto rows = sdk_.rows();
    if (!rows) return {};
    const std::int32_t self = sdk_.currentProcessID();
    std::vector<DesktopApplicationWindow> result;
    for (const auto& row : *rows) {
        if (!row.ownerPID || !std::in_range<std::int32_t>(*row.ownerPID)) continue;
        auto pid = static_cast<std::int32_t>(*row.ownerPID);
        if (pid == self) continue;
        auto application = sdk_.application(pid);
        if (!application || !application->regular || !application->bundleIdentifier || !application->name) continue;
        if (!row.number || !std::in_range<int>(*row.number)) continue;
        if (!row.layer || *row.layer != 0) continue;
        if (!row.bounds || !(row.bounds->width > 1) || !(row.bounds->height > 1)) continue;
        result.push_back({static_cast<int>(*row.number), *application->bundleIdentifier, *application->name,
                          *row.bounds});
    }
    return result;
}

namespace {

// The desktop's client windows and, for windows whose process is unknown, a stand-in owner per
// WM_CLASS class: such windows group by class. Stand-ins are below zero, where no process is.
struct Listing {
    std::vector<platform::X11ClientWindow> windows;
    std::map<std::string, std::int32_t> standIns;

    std::optional<std::int32_t> ownerOf(const platform::X11ClientWindow& window) const {
        if (window.processID) return window.processID;
        auto found = standIns.find(window.applicationClass);
        if (found == standIns.end()) return std::nullopt;
        return found->second;
    }
    void read(platform::X11Connection& connection) {
        windows = platform::listClientWindows(connection);
        standIns.clear();
        for (const auto& window : windows) {
            if (window.processID || window.applicationClass.empty()) continue;
            standIns.try_emplace(window.applicationClass, -1 - static_cast<std::int32_t>(standIns.size()));
        }
    }
};

}  // namespace

DesktopApplicationCatalog DesktopApplicationCatalog::create() {
    // The application facts come from the same listing as the rows, so both share it.
    auto listed = std::make_shared<Listing>();
    WindowServerFunctions sdk;
    sdk.rows = [listed]() -> std::optional<std::vector<WindowRow>> {
        try {
            auto connection = platform::X11Connection::open();
            listed->read(*connection);
        } catch (const std::exception&) {
            *listed = {};
            return std::nullopt;
        }
        double scale = platform::desktopScale();
        std::vector<WindowRow> rows;
        // The stacking list runs bottom to top; the catalog is front to back.
        for (auto it = listed->windows.rbegin(); it != listed->windows.rend(); ++it) {
            const auto& window = *it;
            if (!window.onScreen || window.layer == platform::WindowLayer::desktop) continue;
            WindowRow row;
            if (auto owner = listed->ownerOf(window)) row.ownerPID = *owner;
            row.number = window.id;
            row.layer = static_cast<int>(window.layer);
            const auto& f = window.frame;
            row.bounds = CaptureRect{f.x / scale, f.y / scale, f.width / scale, f.height / scale};
            rows.push_back(row);
        }
        return rows;
    };
    sdk.application = [listed](std::int32_t processID) -> std::optional<WindowApplication> {
        std::optional<WindowApplication> application;
        for (const auto& window : listed->windows) {
            if (listed->ownerOf(window) != processID) continue;
            if (!application) application = WindowApplication{};
            application->regular = application->regular || window.inTaskBar;
            if (!application->bundleIdentifier && !window.applicationClass.empty()) {
                application->bundleIdentifier = window.applicationClass;
                application->name = platform::applicationNameForClass(window.applicationClass);
            }
        }
        return application;
    };
    sdk.currentProcessID = [] { return static_cast<std::int32_t>(getpid()); };
    return DesktopApplicationCatalog(std::move(sdk));
}

DesktopApplicationCatalog DesktopApplicationCatalog::create_null(std::vector<DesktopApplicationWindow> windows) {
    // Each bundle identifier gets a made-up process of its own, none of them this one.
    std::map<std::string, std::int32_t> processes;
    std::map<std::int32_t, WindowApplication> applications;
    std::vector<WindowRow> rows;
    constexpr std::int32_t kFirstStubProcess = 100000;
    for (const auto& window : windows) {
        auto [entry, added] =
            processes.try_emplace(window.bundleIdentifier, kFirstStubProcess + static_cast<std::int32_t>(processes.size()));
        if (added) applications[entry->second] = {true, window.bundleIdentifier, window.applicationName};
        rows.push_back({entry->second, window.id, 0, window.frame});
    }
    WindowServerFunctions sdk;
    sdk.rows = [rows]() -> std::optional<std::vector<WindowRow>> { return rows; };
    sdk.application = [applications](std::int32_t pid) -> std::optional<WindowApplication> {
        auto found = applications.find(pid);
        if (found == applications.end()) return std::nullopt;
        return found->second;
    };
    sdk.currentProcessID = [] { return std::int32_t{1}; };
    return DesktopApplicationCatalog(std::move(sdk));
}

}  // namespace yux

#include "selection/x11_display_provider.hpp"

#include <algorithm>
#include <string>

#include "model/app_error.hpp"
#include "platform/x11/shareable_content.hpp"
#include "platform/x11/x11_desktop.hpp"

namespace yux {

ScreenSnapshot X11DisplayProvider::liveSnapshot() {
    auto connection = platform::X11Connection::open();
    auto monitors = platform::listMonitors(*connection);
    double scale = platform::desktopScale();
    ScreenSnapshot snapshot;
    if (auto main = platform::mainMonitorIndex(monitors)) snapshot.mainID = monitors[*main].id;
    for (const auto& monitor : monitors) {
        const auto& b = monitor.bounds;
        snapshot.screens.push_back({monitor.id, CaptureRect{b.x / scale, b.y / scale, b.width / scale, b.height / scale},
                                    scale});
    }
    return snapshot;
}

std::shared_ptr<X11DisplayProvider> X11DisplayProvider::create() {
    return std::make_shared<X11DisplayProvider>([]() -> QCoro::Task<ScreenSnapshot> { co_return liveSnapshot(); });
}

std::shared_ptr<X11DisplayProvider> X11DisplayProvider::create_null(std::vector<DisplayBounds> displays,
                                                                    DisplayID mainDisplayID) {
    ScreenSnapshot snapshot;
    snapshot.mainID = static_cast<std::uint32_t>(std::stoul(mainDisplayID.rawValue));
    for (const auto& display : displays) {
        double scale = display.width > 0 ? display.pixelWidth / display.width : 1.0;
        snapshot.screens.push_back({static_cast<std::uint32_t>(std::stoul(display.displayID.rawValue)),
                                    CaptureRect{display.x, display.y, display.width, display.height}, scale});
    }
    return std::make_shared<X11DisplayProvider>([snapshot]() -> QCoro::Task<ScreenSnapshot> { co_return snapshot; });
}

QCoro::Task<std::vector<DisplayBounds>> X11DisplayProvider::availableDisplays() {
    ScreenSnapshot snapshot = co_await read_();
    auto screens = snapshot.screens;
    std::stable_partition(screens.begin(), screens.end(),
                          [&](const ScreenDescription& screen) { return screen.id == snapshot.mainID; });
    std::vector<DisplayBounds> displays;
    for (const auto& screen : screens) {
        if (!screen.id) {
            throw AppError::displayDiscoveryFailed("Display number missing for an attached display");
        }
        const auto& f = screen.frame;
        displays.emplace_back(DisplayID{std::to_string(*screen.id)}, f.x, f.y, f.width, f.height,
                              screen.scale * f.width, screen.scale * f.height);
    }
    co_return displays;
}

}  // namespace yux

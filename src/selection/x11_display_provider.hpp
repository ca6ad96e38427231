#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QCoroTask>

#include "model/capture_target.hpp"
#include "session/display_boundary.hpp"

namespace yux {

// One screen as the desktop reports it.
struct ScreenDescription {
    std::optional<std::uint32_t> id;  // the display number; none when the screen has none
    CaptureRect frame;                // points, root coordinates; zero without an id
    double scale = 1;                 // pixels per point
};

struct ScreenSnapshot {
    std::uint32_t mainID = 0;
    std::vector<ScreenDescription> screens;
};

// The attached displays from the X server's RandR monitors, main display first.
class X11DisplayProvider : public DisplayBoundary {
public:
    using Read = std::function<QCoro::Task<ScreenSnapshot>()>;

    explicit X11DisplayProvider(Read read) : read_(std::move(read)) {}
    static std::shared_ptr<X11DisplayProvider> create();
    static std::shared_ptr<X11DisplayProvider> create_null(std::vector<DisplayBounds> displays, DisplayID mainDisplayID);

    // Throws AppError displayDiscoveryFailed when a screen has no number; the X server not
    // answering is std::runtime_error.
    QCoro::Task<std::vector<DisplayBounds>> availableDisplays() override;

    // The live snapshot: monitors in the server's order, frames in Qt's logical pixels.
    static ScreenSnapshot liveSnapshot();

private:
    Read read_;
};

}  // namespace yux

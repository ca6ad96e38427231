#include <condition_variable>
#include <mutex>

#include <QApplication>
#include <QImage>
#include <QWidget>

#include "platform/x11/compositing_manager.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_frame_source.hpp"
#include "platform/x11/shareable_content.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/selection_overlay_presenter.hpp"
#include "selection/x11_display_provider.hpp"

namespace yux {

namespace {

// How long a frozen picture may take before the overlay shows without one.
constexpr std::chrono::milliseconds kFreezeTimeout{1000};

std::optional<Rect> workArea() {
    try {
        auto connection = platform::X11Connection::open();
        const auto desktop = connection->cardinals(connection->root(), connection->atom("_NET_CURRENT_DESKTOP"),
                                                   XCB_ATOM_CARDINAL, 1);
        const auto areas =
            connection->cardinals(connection->root(), connection->atom("_NET_WORKAREA"), XCB_ATOM_CARDINAL);
        if (!areas || areas->size() < 4) return std::nullopt;
        std::size_t index = desktop && !desktop->empty() ? (*desktop)[0] : 0;
        if ((index + 1) * 4 > areas->size()) index = 0;
        const double scale = platform::desktopScale();
        const auto& a = *areas;
        return Rect{a[index * 4] / scale, a[index * 4 + 1] / scale, a[index * 4 + 2] / scale, a[index * 4 + 3] / scale};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The first picture of the region from the capture layer, with our own windows left out.
QImage freezeRegion(const Rect& rect) {
    const double scale = platform::desktopScale();
    platform::FrameSourceSettings settings;
    settings.region = {static_cast<int>(rect.minX() * scale), static_cast<int>(rect.minY() * scale),
                       static_cast<int>(rect.width * scale), static_cast<int>(rect.height * scale)};
    settings.showsCursor = false;
    settings.queueDepth = 1;
    std::mutex mutex;
    std::condition_variable arrived;
    QImage picture;
    try {
        platform::X11FrameSource source(settings, [&](platform::SampleBuffer sample) {
            const auto* pixels = sample.picture();
            if (pixels == nullptr) return;
            QImage copy = QImage(pixels->data(), pixels->width(), pixels->height(),
                                 static_cast<qsizetype>(pixels->stride()), QImage::Format_RGB32)
                              .copy();
            std::lock_guard lock(mutex);
            if (picture.isNull()) picture = std::move(copy);
            arrived.notify_all();
        });
        source.start();
        {
            std::unique_lock lock(mutex);
            arrived.wait_for(lock, kFreezeTimeout, [&] { return !picture.isNull(); });
        }
        source.stop();
    } catch (const std::exception&) {
        return {};
    }
    std::lock_guard lock(mutex);
    return picture;
}

}  // namespace

SelectionOverlayServices SelectionOverlayServices::live() {
    SelectionOverlayServices services;
    services.compositor = platform::CompositingManager::create();
    services.catalog = [] { return DesktopApplicationCatalog::create(); };
    services.menuBarHeight = [](const DisplayBounds& display) { return menuBarHeightFor(display, workArea()); };
    services.freeze = freezeRegion;
    services.log = platform::SystemLog::create();
    return services;
}

CameraOverlayPresenter::Services CameraOverlayPresenter::Services::live() {
    Services services;
    services.compositor = platform::CompositingManager::create();
    services.freeze = freezeRegion;
    services.outsideClicks = [] {
        return platform::OutsideClickMonitor::create([](std::uint32_t window) {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (widget->isVisible() && widget->internalWinId() == window) return true;
            return false;
        });
    };
    services.log = platform::SystemLog::create();
    services.mainDisplayID = []() -> std::optional<DisplayID> {
        try {
            const ScreenSnapshot snapshot = X11DisplayProvider::liveSnapshot();
            if (!snapshot.screens.empty()) return DisplayID{std::to_string(snapshot.mainID)};
        } catch (const std::exception&) {
            // No X server answering: the displays listed decide.
        }
        return std::nullopt;
    };
    return services;
}

}  // namespace yux

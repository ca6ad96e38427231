#include "capture/screen_recording_permission.hpp"

#include <cstdlib>
#include <thread>

#include "platform/x11/x11_connection.hpp"

namespace yux {

X11ScreenRecordingPermission::X11ScreenRecordingPermission(
    std::function<bool()> preflight, std::function<bool()> request,
    std::shared_ptr<ScreenRecordingAccessRequests> accessRequests)
    : preflight_(std::move(preflight)), request_(std::move(request)), accessRequests_(std::move(accessRequests)) {}

bool X11ScreenRecordingPermission::screenAccessAvailable(const Environment& environment,
                                                         const DisplayProbe& display) {
    if (environment("XDG_SESSION_TYPE") == "wayland") return false;
    auto name = environment("DISPLAY");
    if (!name || name->empty()) return false;  // e.g. Wayland without an X11 screen
    auto facts = display();
    return facts && facts->sharedMemory && !facts->xwayland;
}

bool X11ScreenRecordingPermission::x11DisplayUsable() {
    return screenAccessAvailable(
        [](const char* name) -> std::optional<std::string> {
            const char* value = std::getenv(name);
            if (value == nullptr) return std::nullopt;
            return std::string(value);
        },
        []() -> std::optional<X11DisplayFacts> {
            try {
                auto connection = platform::X11Connection::open();
                return X11DisplayFacts{connection->hasExtension("MIT-SHM"), connection->hasExtension("XWAYLAND")};
            } catch (const std::exception&) {
                return std::nullopt;
            }
        });
}

X11ScreenRecordingPermission X11ScreenRecordingPermission::create() {
    // There is nothing to ask on X11: a request is one more check.
    return X11ScreenRecordingPermission(&x11DisplayUsable, &x11DisplayUsable);
}

X11ScreenRecordingPermission X11ScreenRecordingPermission::create_null(bool hasAccess, bool requestGrants,
                                                                       std::chrono::milliseconds checkDelay) {
    return X11ScreenRecordingPermission(
        [hasAccess, checkDelay] {
            if (checkDelay.count() > 0) std::this_thread::sleep_for(checkDelay);
            return hasAccess;
        },
        [requestGrants] { return requestGrants; });
}

bool X11ScreenRecordingPermission::requestAccess() {
    bool granted = request_();
    accessRequests_->append({granted});
    return granted;
}

}  // namespace yux

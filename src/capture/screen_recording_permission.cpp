#include "capture/screen_recording_permission.hpp"

#include <cstdlib>
#include <thread>

#include "platform/x11/x11_connection.hpp"

namespace yux {

X11ScreenRecordingPermission::X11ScreenRecordingPermission(
    std::function<bool()> preflight, std::function<bool()> request,
    std::shared_ptr<ScreenRecordingAccessRequests> accessRequests)
    : preflight_(std::move(preflight)), request_(std::move(request)), accessRequests_(std::move(accessRequests)) {}

bool X11ScreenRecordingPermission::x11DisplayUsable() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return false;  // e.g. Wayland without an X11 screen
    try {
        auto connection = platform::X11Connection::open();
        return connection->hasExtension("MIT-SHM");
    } catch (const std::exception&) {
        return false;
    }
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

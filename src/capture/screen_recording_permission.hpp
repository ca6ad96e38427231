#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace yux {

// Whether this process may record the screen, and asking for it.
class ScreenRecordingPermissionBoundary {
public:
    virtual ~ScreenRecordingPermissionBoundary() = default;
    virtual bool hasAccess() = 0;
    virtual bool requestAccess() = 0;
};

// Whether system playback audio can be recorded with the screen.
class SystemPlaybackAudioCapabilityBoundary {
public:
    virtual ~SystemPlaybackAudioCapabilityBoundary() = default;
    virtual bool isSupported() = 0;
};

struct ScreenRecordingAccessRequest {
    bool granted = false;
    bool operator==(const ScreenRecordingAccessRequest&) const = default;
};

// Every access request made, in call order; shared by copies of the permission.
class ScreenRecordingAccessRequests {
public:
    std::vector<ScreenRecordingAccessRequest> requests() const {
        std::lock_guard guard(lock);
        return entries;
    }
    void append(ScreenRecordingAccessRequest request) {
        std::lock_guard guard(lock);
        entries.push_back(request);
    }

private:
    mutable std::mutex lock;
    std::vector<ScreenRecordingAccessRequest> entries;
};

// What an X server that answered tells about itself.
struct X11DisplayFacts {
    bool sharedMemory = false;  // MIT-SHM, to hand over pictures
    bool xwayland = false;      // an X server inside a Wayland session
};

// X11 has no recording permission: access is there when an X11 session's display answers
// with the extensions the recorder needs. A Wayland session has none, XWayland included (X11
// capture there sees only X clients and the wallpaper), and no request can change that.
class X11ScreenRecordingPermission : public ScreenRecordingPermissionBoundary {
public:
    // An environment variable's value, or nothing when unset.
    using Environment = std::function<std::optional<std::string>(const char*)>;
    // Connects to the display named by $DISPLAY; nothing when no X server answers.
    using DisplayProbe = std::function<std::optional<X11DisplayFacts>()>;

    // The ensure-access failure: there is no setting to change, only the session type.
    static constexpr const char* kAccessDeniedMessage =
        "Log in to an X11 session to let Yux record the screen, then try recording again.";
    // A start that finds no access.
    static constexpr const char* kAccessMissingMessage = "Screen recording is not available in this session";

    X11ScreenRecordingPermission(std::function<bool()> preflight, std::function<bool()> request,
                                 std::shared_ptr<ScreenRecordingAccessRequests> accessRequests =
                                     std::make_shared<ScreenRecordingAccessRequests>());
    static X11ScreenRecordingPermission create();
    // Scripted answers; `checkDelay` is waited at every access check.
    static X11ScreenRecordingPermission create_null(bool hasAccess, bool requestGrants,
                                                    std::chrono::milliseconds checkDelay = {});

    bool hasAccess() override { return preflight_(); }
    bool requestAccess() override;
    std::shared_ptr<ScreenRecordingAccessRequests> track_accessRequests() const { return accessRequests_; }

    // The live check: an X11 display answers and has shared memory to hand over pictures.
    static bool x11DisplayUsable();
    // The rule of the live check over a given environment and display.
    static bool screenAccessAvailable(const Environment& environment, const DisplayProbe& display);

private:
    std::function<bool()> preflight_;
    std::function<bool()> request_;
    std::shared_ptr<ScreenRecordingAccessRequests> accessRequests_;
};

// PulseAudio (or PipeWire's pulse server) always offers the monitor of the default output;
// whether it is really there is checked when a capture starts.
class PulsePlaybackAudioCapability : public SystemPlaybackAudioCapabilityBoundary {
public:
    static PulsePlaybackAudioCapability create() { return PulsePlaybackAudioCapability(true); }
    static PulsePlaybackAudioCapability create_null(bool supported) { return PulsePlaybackAudioCapability(supported); }
    bool isSupported() override { return supported_; }

private:
    explicit PulsePlaybackAudioCapability(bool supported) : supported_(supported) {}
    bool supported_;
};

}  // namespace yux

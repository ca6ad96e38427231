#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
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

// X11 has no recording permission: access is there when an X11 display answers with the
// extensions the recorder needs. A Wayland session without an X11 screen has none, and no
// request can change that.
class X11ScreenRecordingPermission : public ScreenRecordingPermissionBoundary {
public:
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

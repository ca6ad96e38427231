#pragma once

#include <memory>

#include "capture/camera_frame_feed.hpp"
#include "capture/capture_device_functions.hpp"
#include "platform/audio/pulse_source_directory.hpp"
#include "platform/camera/v4l2_camera.hpp"

namespace yux {

// The device runtime's platform on Linux: microphones are the sound server's sources, metered
// by a pinned low-rate stream; cameras are V4L2 nodes streaming into the frame feed. Without
// a sound server connection (`microphones` null) no microphone is listed.
class LivePulseV4l2Capture : public std::enable_shared_from_this<LivePulseV4l2Capture> {
public:
    // How long the first start waits for the sound server's first listing.
    static constexpr std::chrono::seconds kFirstListingTimeout{2};

    static std::shared_ptr<LivePulseV4l2Capture> create(std::shared_ptr<platform::PulseSourceDirectory> microphones,
                                                        std::shared_ptr<platform::V4l2CameraDirectory> cameras,
                                                        std::shared_ptr<CameraFrameFeed> frames);
    ~LivePulseV4l2Capture();

    CaptureDeviceFunctions functions();

    struct Session {
        std::vector<CaptureObject> inputs;
        std::vector<CaptureObject> outputs;
    };

private:
    LivePulseV4l2Capture() = default;
    Session& session(CaptureInputKind kind) { return kind == CaptureInputKind::microphone ? microphone_ : camera_; }
    void showInPreviews(platform::PixelBuffer picture);

    std::shared_ptr<platform::PulseSourceDirectory> microphones_;
    std::shared_ptr<platform::V4l2CameraDirectory> cameras_;
    std::shared_ptr<CameraFrameFeed> frames_;
    Session microphone_;
    Session camera_;
    std::vector<std::weak_ptr<CameraPreviewLayer>> previews_;
    // The newest picture for the previews and whether a hop to the main thread is on its way.
    struct PreviewHandOver {
        std::optional<platform::PixelBuffer> picture;
        bool posted = false;
    };
    std::shared_ptr<platform::Locked<PreviewHandOver>> preview_ = std::make_shared<platform::Locked<PreviewHandOver>>();
    std::optional<platform::PixelBuffer> latestPicture_;
    // Blocking device work (starting and stopping streams) runs here, off the main thread.
    std::unique_ptr<platform::SerialQueue> worker_ = std::make_unique<platform::SerialQueue>("Yux.capture-devices");
};

}  // namespace yux

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/async/locked.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/camera/camera_frame_decoder.hpp"
#include "platform/camera/v4l2_operations.hpp"
#include "platform/media/sample_buffer.hpp"

namespace yux::platform {

// A camera as listed: the identifier stays the same across reboots where the system gives
// the device a by-id link.
struct V4l2Camera {
    std::string id;    // the by-id link name, else the bus position
    std::string name;  // the card name
    std::string node;  // "/dev/videoN"
    bool operator==(const V4l2Camera&) const = default;
};

// The cameras on the system, kept current by watching /dev. Reading never blocks.
class V4l2CameraDirectory {
public:
    // udev sets a new node's permissions and links a moment after creating it.
    static constexpr std::chrono::milliseconds kSettleAfterCreate{500};
    static constexpr int kWatchTimeoutMilliseconds = 100;

    // Scans once, then watches (when the operations can watch).
    static std::shared_ptr<V4l2CameraDirectory> start(V4l2Operations operations);
    ~V4l2CameraDirectory();
    V4l2CameraDirectory(const V4l2CameraDirectory&) = delete;
    V4l2CameraDirectory& operator=(const V4l2CameraDirectory&) = delete;

    std::vector<V4l2Camera> cameras() const;
    // Some capture node refused to open for lack of permission at the last scan.
    bool accessDenied() const;
    void rescan();
    const V4l2Operations& operations() const { return operations_; }

private:
    explicit V4l2CameraDirectory(V4l2Operations operations);
    void watch();

    struct Listing {
        std::vector<V4l2Camera> cameras;
        bool denied = false;
    };
    V4l2Operations operations_;
    Locked<Listing> listing_;
    std::atomic<bool> stopping_{false};
    int watchDescriptor_ = -1;
    std::thread watcher_;
};

// One opened camera, from its format set until it is dropped. Frames arrive as BGRA pictures
// stamped on the host clock.
class V4l2CameraStream {
public:
    static constexpr int kPollTimeoutMilliseconds = 100;
    // The format sought: the largest size up to this reaching kMinimumRate, at most kMaximumRate.
    static constexpr int kPreferredMaxWidth = 1920;
    static constexpr int kPreferredMaxHeight = 1080;
    static constexpr int kMinimumRate = 24;
    static constexpr int kMaximumRate = 30;
    static constexpr std::uint32_t kBufferCount = 4;
    // A camera that fails every dequeue is retried this often, and given up after this many.
    static constexpr std::chrono::milliseconds kFailureBackOff{10};
    static constexpr int kFailuresBeforeGivingUp = 100;

    struct Format {
        std::uint32_t pixelFormat = 0;
        int width = 0;
        int height = 0;
        int framesPerSecond = 0;
        bool operator==(const Format&) const = default;
    };

    // Opens the node and sets up capture. Throws std::runtime_error: "Camera is in use by
    // another application", "Disconnected · choose another", or the system's reason.
    static std::unique_ptr<V4l2CameraStream> open(V4l2Operations operations, const std::string& node);
    ~V4l2CameraStream();
    V4l2CameraStream(const V4l2CameraStream&) = delete;
    V4l2CameraStream& operator=(const V4l2CameraStream&) = delete;

    // Starts streaming; each picture goes to `receive` on `deliverOn`, the newest replacing one
    // still waiting there. `ended` runs once (on the worker) when the device goes away or keeps
    // failing. Throws as open() does.
    void start(SerialQueue& deliverOn, std::function<void(SampleBuffer)> receive, std::function<void()> ended = {});
    // Returns within about one poll timeout; no picture is delivered after it.
    void stop();
    bool isRunning() const { return running_; }
    const Format& format() const { return format_; }
    double aspect() const { return static_cast<double>(format_.width) / std::max(format_.height, 1); }

private:
    V4l2CameraStream(V4l2Operations operations, int fd);
    void setUp();
    void run(std::function<void(SampleBuffer)> deliver, std::function<void()> ended);
    void release();

    V4l2Operations operations_;
    int fd_ = -1;
    Format format_;
    int rowBytes_ = 0;
    bool streamOn_ = false;
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };
    std::vector<Mapping> buffers_;
    std::unique_ptr<CameraFrameDecoder> decoder_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::thread worker_;
};

// The format a camera is driven at, from what it offers (MJPEG or YUYV sizes with their rates).
std::optional<V4l2CameraStream::Format> chooseCameraFormat(const std::vector<ScriptedV4l2Device::FrameSize>& offered);

}  // namespace yux::platform

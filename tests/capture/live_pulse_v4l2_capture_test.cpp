#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <cerrno>
#include <functional>

#include "capture/camera_preview_layer.hpp"
#include "capture/capture_device_runtime.hpp"
#include "capture/live_pulse_v4l2_capture.hpp"
#include "platform/async/locked.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/camera_test_frames.hpp"
#include "support/event_loop.hpp"

using namespace yux;
using yux::platform::waitForTask;
using yux::testing::expectAppError;

namespace {

const std::string kCameraID = "usb-Scripted_Camera_0001-video-index0";

struct LiveOverScriptedCamera {
    std::shared_ptr<platform::ScriptedV4l2> scripted = std::make_shared<platform::ScriptedV4l2>();
    std::shared_ptr<CaptureDeviceRuntime> runtime;

    explicit LiveOverScriptedCamera(std::function<void(platform::ScriptedV4l2Device&)> adjust = {}) {
        platform::ScriptedV4l2Device device;
        device.sizes = {{V4L2_PIX_FMT_YUYV, 64, 48, {30}}};
        for (int i = 0; i < 3; ++i) device.frames.push_back(yux::testing::yuyvFrame(64, 48, {200, 100, 50}));
        if (adjust) adjust(device);
        scripted->devices = {device};
        auto frames = std::make_shared<CameraFrameFeed>();
        auto directory = platform::V4l2CameraDirectory::start(platform::createNullV4l2Operations(scripted));
        auto live = LivePulseV4l2Capture::create(nullptr, directory, frames);
        runtime = std::make_shared<CaptureDeviceRuntime>(live->functions(), std::make_shared<NoPhoneUSBCameraReceiver>(),
                                                         frames, live);
    }
    void start() { waitForTask(runtime->start(CaptureInputKind::camera, kCameraID)); }
};

// The camera's thread delivers when the machine lets it: only a hang takes the limit.
bool eventually(const std::function<bool()>& condition) {
    return yux::testing::processEventsUntil(condition, yux::testing::kHangMilliseconds);
}

}  // namespace

TEST(LivePulseV4l2Capture, CamerasStreamIntoTheRecordingAndThePreview) {
    LiveOverScriptedCamera f;
    EXPECT_EQ(f.runtime->devices(CaptureInputKind::camera), (std::vector<CaptureDevice>{{kCameraID, "Scripted Camera"}}));
    EXPECT_TRUE(f.runtime->devices(CaptureInputKind::microphone).empty()) << "no sound server connection here";
    EXPECT_FALSE(f.runtime->hasAccess(CaptureInputKind::microphone, std::nullopt));
    EXPECT_TRUE(f.runtime->hasAccess(CaptureInputKind::camera, std::nullopt));

    platform::SerialQueue recording("test.recording");
    platform::Locked<int> frames{0};
    f.runtime->recordCameraFrames(recording, [&](platform::SampleBuffer sample) {
        EXPECT_TRUE(sample.picture() != nullptr);
        frames.with([](int& count) { ++count; });
    });
    f.start();
    EXPECT_TRUE(f.runtime->isRunning(CaptureInputKind::camera));
    EXPECT_DOUBLE_EQ(f.runtime->sourceAspect(), 64.0 / 48.0);
    EXPECT_TRUE(eventually([&] { return frames.copy() > 0; }));
    auto preview = f.runtime->previewLayer();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(eventually([&] { return preview->picture().has_value(); }));

    waitForTask(f.runtime->stop(CaptureInputKind::camera));
    EXPECT_FALSE(f.runtime->isRunning(CaptureInputKind::camera));
    EXPECT_EQ(f.scripted->openDescriptors, 0);
    f.runtime->stopRecordingCameraFrames();
}

TEST(LivePulseV4l2Capture, StartFailuresNameTheirCause) {
    struct Case {
        std::string call;
        int error;
        std::string detail;
    };
    for (const auto& c : std::vector<Case>{{"VIDIOC_S_FMT", EBUSY, "Camera is in use by another application"},
                                           {"VIDIOC_STREAMON", ENODEV, "Disconnected · choose another"}}) {
        LiveOverScriptedCamera f([&](platform::ScriptedV4l2Device& device) {
            device.failCall = c.call;
            device.failErrno = c.error;
        });
        expectAppError([&] { f.start(); }, AppError::cameraFailed(c.detail));
        EXPECT_FALSE(f.runtime->isRunning(CaptureInputKind::camera));
        EXPECT_EQ(f.runtime->previewLayer(), nullptr);
    }
}

TEST(LivePulseV4l2Capture, ACameraThatVanishesStopsAndLeavesTheList) {
    LiveOverScriptedCamera f;
    f.start();
    {
        std::lock_guard lock(f.scripted->mutex);  // unplugged while streaming
        f.scripted->devices[0].failCall = "VIDIOC_DQBUF";
        f.scripted->devices[0].failErrno = ENODEV;
    }
    EXPECT_TRUE(eventually([&] { return !f.runtime->isRunning(CaptureInputKind::camera); }));
    EXPECT_TRUE(eventually([&] { return f.runtime->devices(CaptureInputKind::camera).empty(); }));
}

TEST(LivePulseV4l2Capture, ANodeThatRefusesAccessDeniesTheCamera) {
    LiveOverScriptedCamera f([](platform::ScriptedV4l2Device& device) {
        device.failCall = "open";
        device.failErrno = EACCES;
    });
    EXPECT_FALSE(f.runtime->hasAccess(CaptureInputKind::camera, std::nullopt));
    EXPECT_FALSE(waitForTask(f.runtime->requestAccess(CaptureInputKind::camera, kCameraID)));
}

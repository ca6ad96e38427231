#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/camera_frame_feed.hpp"
#include "capture/capture_device_functions.hpp"
#include "capture/usb_camera_receiver.hpp"
#include "model/app_error.hpp"
#include "model/capture_input_preferences.hpp"
#include "platform/async/serial_queue.hpp"

#include <QCoroTask>

namespace yux {

class CameraPreviewLayer;

// The one owner of the microphone and camera devices: lists them, reports and asks for
// access, opens one device per kind, meters the microphone and hands camera frames and phone
// microphone samples to a recording. Identifiers starting with "yux-usb:" go to the phone
// receiver instead of the platform. Main thread only, except the frame and sample hand-overs.
class CaptureDeviceRuntime {
public:
    // Silence: what the level reads without any metering channel.
    static constexpr float kSilenceDecibels = -160;

    using NullOptions = StubbedPulseV4l2Capture::Options;

    // Over PulseAudio sources, V4L2 cameras and phones on the USB multiplexer.
    static std::shared_ptr<CaptureDeviceRuntime> create();
    // Over a StubbedPulseV4l2Capture made from the options (kept alive by the runtime) and a
    // phone receiver that lists no phone.
    static std::shared_ptr<CaptureDeviceRuntime> create_null(NullOptions options);

    CaptureDeviceRuntime(CaptureDeviceFunctions sdk, std::shared_ptr<USBCameraReceiver> usb,
                         std::shared_ptr<CameraFrameFeed> frames, std::shared_ptr<void> keepAlive = {});
    CaptureDeviceRuntime(const CaptureDeviceRuntime&) = delete;
    CaptureDeviceRuntime& operator=(const CaptureDeviceRuntime&) = delete;

    void startDiscovery() { usb_->startDiscovery(); }
    // Resumes once the platform's device lists are first known (at most a couple of seconds).
    QCoro::Task<void> waitForDevices();
    void stopDiscovery() { usb_->stopDiscovery(); }
    void setRecording(bool recording) { usb_->recording(recording); }

    // Local devices first, then phones.
    std::vector<CaptureDevice> devices(CaptureInputKind kind) const;
    bool hasAccess(CaptureInputKind kind, const std::optional<std::string>& deviceID) const;
    QCoro::Task<bool> requestAccess(CaptureInputKind kind, std::optional<std::string> deviceID);
    // Stops the kind, then opens and starts the device. Throws AppError; a failure leaves the
    // kind stopped.
    QCoro::Task<void> start(CaptureInputKind kind, std::string deviceID);
    QCoro::Task<void> stop(CaptureInputKind kind);
    bool isRunning(CaptureInputKind kind) const;

    std::shared_ptr<CameraPreviewLayer> makeCameraPreviewLayer();
    const std::shared_ptr<CameraPreviewLayer>& previewLayer() const { return previewLayer_; }
    bool isPhoneCamera() const { return usbActive_; }
    double sourceAspect() const;
    // 0 to 1.
    double microphoneLevel();

    // Camera frames go to `receive` on `queue`; while one waits there, a newer one replaces it.
    void recordCameraFrames(platform::SerialQueue& queue, std::function<void(platform::SampleBuffer)> receive);
    void stopRecordingCameraFrames();
    // Phone microphone samples go to `receive`, run on `queue` while the phone stream waits.
    void recordUSBMicrophone(platform::SerialQueue& queue, std::function<void(MicrophoneResult)> receive);
    void stopRecordingUSBMicrophone();

    USBCameraReceiver& usb() { return *usb_; }
    CameraFrameFeed& frames() { return *frames_; }

private:
    void installInput(CaptureInputKind kind, const std::string& id);

    std::shared_ptr<USBCameraReceiver> usb_;
    bool usbActive_ = false;
    bool usbMicrophoneActive_ = false;
    CaptureDeviceFunctions sdk_;
    std::shared_ptr<CameraFrameFeed> frames_;
    CaptureObject cameraDevice_;
    CaptureObject audioOutput_;
    std::shared_ptr<CameraPreviewLayer> previewLayer_;
    double localSourceAspect_ = 16.0 / 9.0;
    std::shared_ptr<void> keepAlive_;
};

// The kind's failure case: microphoneFailed or cameraFailed.
AppError inputFailure(CaptureInputKind kind, std::string detail);

}  // namespace yux

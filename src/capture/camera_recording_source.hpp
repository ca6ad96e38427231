#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QMetaObject>

#include "capture/camera_recording_renderer.hpp"
#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "model/geometry.hpp"
#include "platform/async/serial_queue.hpp"

namespace yux {

// Connects the runtime's camera frames to one capture's movie writer: each frame is rendered
// on the writer's queue and handed to `receive`, and the user's placement changes apply from
// the next frame on. Built and stopped on the main thread.
class CameraRecordingSource {
public:
    // A rendered camera frame, or the error that kept a frame from being rendered.
    using Receive = std::function<void(MicrophoneResult)>;

    CameraRecordingSource(std::shared_ptr<CaptureDeviceRuntime> runtime, CaptureInputsController& inputs, Size size,
                          Size points, platform::SerialQueue& queue, Receive receive);
    ~CameraRecordingSource();
    CameraRecordingSource(const CameraRecordingSource&) = delete;
    CameraRecordingSource& operator=(const CameraRecordingSource&) = delete;

    // Ends the placement subscription and the frame delivery. Safe to call twice.
    void stop();

private:
    std::shared_ptr<CaptureDeviceRuntime> runtime_;
    std::optional<QMetaObject::Connection> framing_;
};

}  // namespace yux

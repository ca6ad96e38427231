#include "capture/camera_recording_source.hpp"

namespace yux {

CameraRecordingSource::CameraRecordingSource(std::shared_ptr<CaptureDeviceRuntime> runtime,
                                             CaptureInputsController& inputs, Size size, Size points,
                                             platform::SerialQueue& queue, Receive receive)
    : runtime_(std::move(runtime)) {
    // Queued closures share the renderer, so whichever runs last keeps it alive.
    auto renderer = std::make_shared<CameraRecordingRenderer>(inputs.preferences().camera, size, points);
    auto last = std::make_shared<CameraPlacement>(inputs.preferences().camera);
    auto* controller = &inputs;
    auto* writerQueue = &queue;
    framing_ = QObject::connect(&inputs, &CaptureInputsController::preferencesChanged, [=] {
        const auto& placement = controller->preferences().camera;
        if (placement == *last) return;
        *last = placement;
        writerQueue->async([renderer, placement] { renderer->placement = placement; });
    });
    runtime_->recordCameraFrames(queue, [renderer, receive = std::move(receive)](platform::SampleBuffer frame) {
        try {
            receive(renderer->render(frame));
        } catch (...) {
            receive(std::current_exception());
        }
    });
}

CameraRecordingSource::~CameraRecordingSource() { stop(); }

void CameraRecordingSource::stop() {
    if (!framing_) return;
    QObject::disconnect(*framing_);
    framing_.reset();
    runtime_->stopRecordingCameraFrames();
}

}  // namespace yux

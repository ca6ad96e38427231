#include "capture/capture_device_functions.hpp"

#include <algorithm>
#include <stdexcept>

#include "capture/camera_preview_layer.hpp"

namespace yux {

std::shared_ptr<StubbedPulseV4l2Capture> StubbedPulseV4l2Capture::create(Options options) {
    return std::shared_ptr<StubbedPulseV4l2Capture>(new StubbedPulseV4l2Capture(std::move(options)));
}

bool StubbedPulseV4l2Capture::running(CaptureInputKind kind) const { return session(kind).running; }

const std::vector<CaptureObject>& StubbedPulseV4l2Capture::sessionInputs(CaptureInputKind kind) const {
    return session(kind).inputs;
}

const std::vector<CaptureObject>& StubbedPulseV4l2Capture::sessionOutputs(CaptureInputKind kind) const {
    return session(kind).outputs;
}

int StubbedPulseV4l2Capture::status(CaptureInputKind kind) const {
    auto override = kind == CaptureInputKind::microphone ? microphoneStatus : cameraStatus;
    if (override) return *override;
    bool access = kind == CaptureInputKind::microphone ? options.microphoneAccess : options.cameraAccess;
    return access ? CaptureAuthorization::authorized : CaptureAuthorization::denied;
}

CaptureDeviceFunctions StubbedPulseV4l2Capture::functions() {
    // The record holds the stub weakly: the test owns it.
    std::weak_ptr<StubbedPulseV4l2Capture> weak = shared_from_this();
    auto self = [weak] {
        auto stub = weak.lock();
        if (!stub) throw std::logic_error("the stubbed capture platform is gone");
        return stub;
    };
    CaptureDeviceFunctions f;
    f.discover = [self](CaptureInputKind kind) {
        auto stub = self();
        return kind == CaptureInputKind::microphone ? stub->options.microphones : stub->options.cameras;
    };
    f.authorization = [self](CaptureInputKind kind) { return self()->status(kind); };
    f.requestAuthorization = [self](CaptureInputKind) -> QCoro::Task<bool> {
        auto stub = self();
        ++stub->prompts;
        co_return stub->promptAnswer;
    };
    f.device = [self](const std::string& id) -> CaptureObject {
        auto stub = self();
        auto listed = [&](const std::vector<CaptureDevice>& list) {
            return std::ranges::any_of(list, [&](const CaptureDevice& d) { return d.id == id; });
        };
        if (listed(stub->options.microphones) || listed(stub->options.cameras)) return std::make_shared<std::string>(id);
        return nullptr;
    };
    f.makeInput = [self](const CaptureObject& device) -> CaptureObject {
        auto stub = self();
        if (stub->options.startFailure) throw std::runtime_error(*stub->options.startFailure);
        return device;
    };
    f.beginConfiguration = [](CaptureInputKind) {};
    f.commitConfiguration = [](CaptureInputKind) {};
    f.canAddInput = [](CaptureInputKind, const CaptureObject&) { return true; };
    f.addInput = [self](CaptureInputKind kind, const CaptureObject& input) { self()->session(kind).inputs.push_back(input); };
    f.makeVideoOutput = [] { return std::make_shared<int>(0); };
    f.makeAudioOutput = [] { return std::make_shared<int>(1); };
    f.setVolume = [](const CaptureObject&, float) {};
    f.canAddOutput = [](CaptureInputKind, const CaptureObject&) { return true; };
    f.addOutput = [self](CaptureInputKind kind, const CaptureObject& output) {
        self()->session(kind).outputs.push_back(output);
    };
    f.startRunning = [self](CaptureInputKind kind) -> QCoro::Task<void> {
        auto stub = self();
        auto& session = stub->session(kind);
        session.running = !session.inputs.empty();
        co_return;
    };
    f.stopRunning = [self](CaptureInputKind kind) -> QCoro::Task<void> {
        self()->session(kind).running = false;
        co_return;
    };
    f.isRunning = [self](CaptureInputKind kind) { return self()->session(kind).running; };
    f.inputs = [self](CaptureInputKind kind) { return self()->session(kind).inputs; };
    f.outputs = [self](CaptureInputKind kind) { return self()->session(kind).outputs; };
    f.removeInput = [self](CaptureInputKind kind, const CaptureObject& input) {
        std::erase(self()->session(kind).inputs, input);
    };
    f.removeOutput = [self](CaptureInputKind kind, const CaptureObject& output) {
        std::erase(self()->session(kind).outputs, output);
    };
    f.makePreview = [] { return std::make_shared<CameraPreviewLayer>(); };
    f.sourceAspect = [self](const CaptureObject&) { return self()->aspect; };
    f.decibels = [self](const CaptureObject&) -> std::vector<float> {
        auto stub = self();
        if (!stub->session(CaptureInputKind::microphone).running) return {};
        return {stub->options.microphoneDecibels};
    };
    f.waitForDevices = []() -> QCoro::Task<void> { co_return; };
    return f;
}

}  // namespace yux

#include "capture/usb_camera_receiver.hpp"

#include <algorithm>

#include "capture/camera_preview_layer.hpp"

namespace yux {

bool isPhoneIdentifier(const std::string& id) { return id.starts_with(kPhoneIdentifierPrefix); }

QCoro::Task<void> NoPhoneUSBCameraReceiver::startMicrophone(std::string) {
    throw AppError::microphoneFailed("Enable microphone in Yux Cam Settings on your iPhone or iPad.");
    co_return;
}

QCoro::Task<void> NoPhoneUSBCameraReceiver::start(std::string, Receive) {
    throw AppError::cameraFailed("Open Yux Cam on your iPhone");
    co_return;
}

void NoPhoneUSBCameraReceiver::recordMicrophone(MicrophoneReceive) {
    throw AppError::microphoneFailed("USB microphone is unavailable");
}

std::optional<double> ScriptedUSBCameraReceiver::activeMicrophoneLevel() {
    if (!activeMicrophone_) return std::nullopt;
    return streamLevel;
}

std::vector<CaptureDevice> ScriptedUSBCameraReceiver::devices() const {
    std::vector<CaptureDevice> list;
    for (const auto& phone : phones) list.push_back(phone.device);
    std::ranges::sort(list, {}, &CaptureDevice::id);
    return list;
}

std::vector<CaptureDevice> ScriptedUSBCameraReceiver::microphones() const {
    std::vector<CaptureDevice> list;
    for (const auto& phone : phones) {
        if (phone.hasMicrophone) list.push_back(phone.device);
    }
    std::ranges::sort(list, {}, &CaptureDevice::id);
    return list;
}

bool ScriptedUSBCameraReceiver::microphoneAllowed(const std::string& id) const {
    return std::ranges::any_of(phones, [&](const Phone& phone) {
        return phone.device.id == id && phone.hasMicrophone && phone.microphoneAllowed;
    });
}

QCoro::Task<void> ScriptedUSBCameraReceiver::startMicrophone(std::string id) {
    calls.push_back("startMicrophone(" + id + ")");
    if (!microphoneAllowed(id)) throw AppError::microphoneFailed("Enable microphone in Yux Cam Settings on your iPhone or iPad.");
    if (microphoneFailure) throw *microphoneFailure;
    activeMicrophone_ = id;
    co_return;
}

QCoro::Task<void> ScriptedUSBCameraReceiver::start(std::string id, Receive receive) {
    calls.push_back("start(" + id + ")");
    if (cameraFailure) throw *cameraFailure;
    bool connected = std::ranges::any_of(phones, [&](const Phone& phone) { return phone.device.id == id; });
    if (!connected) throw AppError::cameraFailed("Open Yux Cam on your iPhone");
    activeCamera_ = id;
    receive_ = std::move(receive);
    running_ = true;
    co_return;
}

void ScriptedUSBCameraReceiver::stop() {
    calls.push_back("stop");
    running_ = false;
    activeCamera_.reset();
    receive_ = nullptr;
    layers_.clear();
    latest_.reset();
}

void ScriptedUSBCameraReceiver::stopMicrophone() {
    calls.push_back("stopMicrophone");
    activeMicrophone_.reset();
    microphoneReceive_ = nullptr;
}

void ScriptedUSBCameraReceiver::recordMicrophone(MicrophoneReceive receive) {
    if (!activeMicrophone_ || !streamLevel) throw AppError::microphoneFailed("USB microphone is unavailable");
    microphoneReceive_ = std::move(receive);
}

void ScriptedUSBCameraReceiver::stopRecordingMicrophone() { microphoneReceive_ = nullptr; }

void ScriptedUSBCameraReceiver::simulate_picture(platform::SampleBuffer sample) {
    if (!running_) return;
    if (const auto* picture = sample.picture()) {
        latest_ = *picture;
        for (const auto& weak : layers_) {
            if (auto layer = weak.lock()) layer->setPicture(*picture);
        }
    }
    if (receive_) receive_(std::move(sample));
}

void ScriptedUSBCameraReceiver::simulate_microphone(MicrophoneResult result) {
    if (microphoneReceive_) microphoneReceive_(std::move(result));
}

}  // namespace yux

#include "capture/capture_device_runtime.hpp"

#include <algorithm>
#include <cmath>

#include "capture/camera_preview_layer.hpp"
#include "capture/live_pulse_v4l2_capture.hpp"
#include "capture/phonelink/receiver/live_usb_camera_receiver.hpp"

namespace yux {

namespace {
constexpr const char* kDisconnected = "Disconnected · choose another";
}

AppError inputFailure(CaptureInputKind kind, std::string detail) {
    return kind == CaptureInputKind::microphone ? AppError::microphoneFailed(std::move(detail))
                                                : AppError::cameraFailed(std::move(detail));
}

std::shared_ptr<CaptureDeviceRuntime> CaptureDeviceRuntime::create_null(NullOptions options) {
    auto stub = StubbedPulseV4l2Capture::create(std::move(options));
    return std::make_shared<CaptureDeviceRuntime>(stub->functions(), LiveUSBCameraReceiver::create_null(),
                                                  std::make_shared<CameraFrameFeed>(), stub);
}

std::shared_ptr<CaptureDeviceRuntime> CaptureDeviceRuntime::create() {
    std::shared_ptr<platform::PulseSourceDirectory> microphones;
    try {
        microphones = platform::PulseSourceDirectory::create();
    } catch (const std::exception&) {
        // No sound server connection can be made at all: no microphones, access denied.
    }
    auto cameras = platform::V4l2CameraDirectory::start(platform::V4l2Operations::live());
    auto frames = std::make_shared<CameraFrameFeed>();
    auto live = LivePulseV4l2Capture::create(std::move(microphones), std::move(cameras), frames);
    return std::make_shared<CaptureDeviceRuntime>(live->functions(),
                                                  LiveUSBCameraReceiver::create(platform::SystemLog::create()),
                                                  std::move(frames), live);
}

QCoro::Task<void> CaptureDeviceRuntime::waitForDevices() {
    if (sdk_.waitForDevices) co_await sdk_.waitForDevices();
}

CaptureDeviceRuntime::CaptureDeviceRuntime(CaptureDeviceFunctions sdk, std::shared_ptr<USBCameraReceiver> usb,
                                           std::shared_ptr<CameraFrameFeed> frames, std::shared_ptr<void> keepAlive)
    : usb_(std::move(usb)), sdk_(std::move(sdk)), frames_(std::move(frames)), keepAlive_(std::move(keepAlive)) {}

std::vector<CaptureDevice> CaptureDeviceRuntime::devices(CaptureInputKind kind) const {
    auto list = sdk_.discover(kind);
    auto phones = kind == CaptureInputKind::camera ? usb_->devices() : usb_->microphones();
    list.insert(list.end(), phones.begin(), phones.end());
    return list;
}

bool CaptureDeviceRuntime::hasAccess(CaptureInputKind kind, const std::optional<std::string>& deviceID) const {
    bool phone = deviceID && isPhoneIdentifier(*deviceID);
    if (kind == CaptureInputKind::microphone) {
        if (phone) return usb_->microphoneAllowed(*deviceID);
        if (!deviceID && usbMicrophoneActive_) return usb_->microphoneRunning();
    } else if (phone || (!deviceID && usbActive_)) {
        return true;
    }
    return sdk_.authorization(kind) == CaptureAuthorization::authorized;
}

QCoro::Task<bool> CaptureDeviceRuntime::requestAccess(CaptureInputKind kind, std::optional<std::string> deviceID) {
    if (deviceID && isPhoneIdentifier(*deviceID)) co_return true;
    int status = sdk_.authorization(kind);
    if (status == CaptureAuthorization::authorized) co_return true;
    if (status == CaptureAuthorization::notDetermined) co_return co_await sdk_.requestAuthorization(kind);
    co_return false;
}

QCoro::Task<void> CaptureDeviceRuntime::start(CaptureInputKind kind, std::string deviceID) {
    co_await stop(kind);
    auto listed = devices(kind);
    if (std::ranges::none_of(listed, [&](const CaptureDevice& d) { return d.id == deviceID; })) {
        throw inputFailure(kind, kDisconnected);
    }
    if (isPhoneIdentifier(deviceID)) {
        if (kind == CaptureInputKind::microphone) {
            co_await usb_->startMicrophone(deviceID);
            usbMicrophoneActive_ = true;
            co_return;
        }
        usbActive_ = true;
        std::exception_ptr failure;
        try {
            std::weak_ptr<CameraFrameFeed> feed = frames_;
            // Named: g++ 12 destroys a temporary of a co_await operand twice.
            USBCameraReceiver::Receive receive = [feed](platform::SampleBuffer sample) {
                if (auto frames = feed.lock()) frames->push(std::move(sample));
            };
            co_await usb_->start(deviceID, std::move(receive));
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            co_await stop(CaptureInputKind::camera);
            std::rethrow_exception(failure);
        }
        previewLayer_ = makeCameraPreviewLayer();
        co_return;
    }

    std::exception_ptr failure;
    try {
        installInput(kind, deviceID);
        if (kind == CaptureInputKind::camera) previewLayer_ = makeCameraPreviewLayer();
        co_await sdk_.startRunning(kind);
        if (!sdk_.isRunning(kind)) throw inputFailure(kind, "Selected input did not start");
        if (kind == CaptureInputKind::camera) localSourceAspect_ = sdk_.sourceAspect(cameraDevice_);
        co_return;
    } catch (const AppError&) {
        failure = std::current_exception();
    } catch (const std::exception& error) {
        failure = std::make_exception_ptr(inputFailure(kind, error.what()));
    }
    co_await stop(kind);
    std::rethrow_exception(failure);
}

void CaptureDeviceRuntime::installInput(CaptureInputKind kind, const std::string& id) {
    auto device = sdk_.device(id);
    if (!device) throw inputFailure(kind, kDisconnected);
    auto input = sdk_.makeInput(device);
    sdk_.beginConfiguration(kind);
    std::optional<AppError> failure;
    if (!sdk_.canAddInput(kind, input)) {
        failure = inputFailure(kind, "Unable to open selected input");
    } else {
        sdk_.addInput(kind, input);
        if (kind == CaptureInputKind::microphone) {
            auto output = sdk_.makeAudioOutput();
            sdk_.setVolume(output, 0.0f);
            if (sdk_.canAddOutput(kind, output)) {
                sdk_.addOutput(kind, output);
                audioOutput_ = output;
            } else {
                failure = AppError::microphoneFailed("Unable to meter selected microphone");
            }
        } else {
            cameraDevice_ = device;
            auto output = sdk_.makeVideoOutput();
            if (sdk_.canAddOutput(kind, output)) {
                sdk_.addOutput(kind, output);
            } else {
                failure = AppError::cameraFailed("Unable to receive camera frames");
            }
        }
    }
    sdk_.commitConfiguration(kind);
    if (failure) throw *failure;
}

QCoro::Task<void> CaptureDeviceRuntime::stop(CaptureInputKind kind) {
    if (kind == CaptureInputKind::camera) {
        usb_->stop();
        usbActive_ = false;
    } else {
        usb_->stopMicrophone();
        usbMicrophoneActive_ = false;
    }
    co_await sdk_.stopRunning(kind);
    for (const auto& input : sdk_.inputs(kind)) sdk_.removeInput(kind, input);
    for (const auto& output : sdk_.outputs(kind)) sdk_.removeOutput(kind, output);
    if (kind == CaptureInputKind::microphone) {
        audioOutput_.reset();
    } else {
        previewLayer_.reset();
        cameraDevice_.reset();
    }
}

bool CaptureDeviceRuntime::isRunning(CaptureInputKind kind) const {
    if (kind == CaptureInputKind::microphone) {
        return usbMicrophoneActive_ ? usb_->microphoneRunning() : sdk_.isRunning(kind);
    }
    return usbActive_ ? usb_->running() : sdk_.isRunning(kind);
}

std::shared_ptr<CameraPreviewLayer> CaptureDeviceRuntime::makeCameraPreviewLayer() {
    if (usbActive_) {
        auto layer = std::make_shared<CameraPreviewLayer>();
        if (auto picture = usb_->latestPicture()) layer->setPicture(*picture);
        usb_->addLayer(layer);
        return layer;
    }
    return sdk_.makePreview();
}

double CaptureDeviceRuntime::sourceAspect() const { return usbActive_ ? usb_->sourceAspect() : localSourceAspect_; }

double CaptureDeviceRuntime::microphoneLevel() {
    if (usbMicrophoneActive_) return usb_->activeMicrophoneLevel().value_or(0.0);
    float decibels = kSilenceDecibels;
    if (audioOutput_) {
        auto channels = sdk_.decibels(audioOutput_);
        if (!channels.empty()) decibels = *std::ranges::max_element(channels);
    }
    double level = std::pow(10.0, static_cast<double>(decibels) / 20.0);
    if (std::isnan(level)) return 0.0;
    return std::clamp(level, 0.0, 1.0);
}

void CaptureDeviceRuntime::recordCameraFrames(platform::SerialQueue& queue,
                                              std::function<void(platform::SampleBuffer)> receive) {
    // Rendering can fall behind the camera; only the newest frame waits on the recording's queue.
    platform::NewestSampleRelay relay(queue, std::move(receive));
    frames_->set([relay](platform::SampleBuffer sample) { relay.push(std::move(sample)); });
}

void CaptureDeviceRuntime::stopRecordingCameraFrames() { frames_->set(nullptr); }

void CaptureDeviceRuntime::recordUSBMicrophone(platform::SerialQueue& queue,
                                               std::function<void(MicrophoneResult)> receive) {
    usb_->recordMicrophone([&queue, receive = std::move(receive)](MicrophoneResult result) {
        if (queue.isCurrent()) {
            receive(std::move(result));
        } else {
            queue.sync([&] { receive(std::move(result)); });
        }
    });
}

void CaptureDeviceRuntime::stopRecordingUSBMicrophone() { usb_->stopRecordingMicrophone(); }

}  // namespace yux

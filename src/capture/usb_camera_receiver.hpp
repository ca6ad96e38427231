#pragma once

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "model/app_error.hpp"
#include "model/capture_input_preferences.hpp"
#include "platform/media/sample_buffer.hpp"

#include <QCoroTask>

namespace yux {

class CameraPreviewLayer;

// Identifiers of phones on USB start with this; the device runtime hands them to the receiver.
inline constexpr const char* kPhoneIdentifierPrefix = "yux-usb:";
bool isPhoneIdentifier(const std::string& id);

// A phone microphone sample, or the failure that ended its stream.
using MicrophoneResult = std::variant<platform::SampleBuffer, std::exception_ptr>;

// The phone camera and microphone receiver, as the device runtime uses it. All of it lives on
// the main thread except the functions handed to `start` and `recordMicrophone`, which are
// called from the receiver's queues.
class USBCameraReceiver {
public:
    using Receive = std::function<void(platform::SampleBuffer)>;
    using MicrophoneReceive = std::function<void(MicrophoneResult)>;

    virtual ~USBCameraReceiver() = default;

    // The phone camera delivers frames.
    virtual bool running() const = 0;
    // Width / height of the phone picture.
    virtual double sourceAspect() const = 0;
    virtual std::optional<platform::PixelBuffer> latestPicture() const = 0;
    // Held weakly; every new phone picture goes into every layer; forgotten by stop().
    virtual void addLayer(std::weak_ptr<CameraPreviewLayer> layer) = 0;
    virtual std::optional<std::string> activeMicrophone() const = 0;
    // The active phone microphone's last level (0 to 1), read on its stream's queue; none
    // without an active microphone or without a stream for it.
    virtual std::optional<double> activeMicrophoneLevel() = 0;

    virtual void startDiscovery() = 0;
    virtual void stopDiscovery() = 0;
    virtual void recording(bool recording) = 0;
    virtual std::vector<CaptureDevice> devices() const = 0;
    virtual std::vector<CaptureDevice> microphones() const = 0;
    virtual bool microphoneAllowed(const std::string& id) const = 0;
    virtual bool microphoneRunning() const = 0;
    // Throws AppError::microphoneFailed.
    virtual QCoro::Task<void> startMicrophone(std::string id) = 0;
    // Returns once the first picture arrived; throws AppError::cameraFailed.
    virtual QCoro::Task<void> start(std::string id, Receive receive) = 0;
    virtual void stop() = 0;
    virtual void stopMicrophone() = 0;
    // Throws AppError::microphoneFailed "USB microphone is unavailable" without an active stream.
    virtual void recordMicrophone(MicrophoneReceive receive) = 0;
    // Clears the active stream's subscriber, on its queue; nothing without one.
    virtual void stopRecordingMicrophone() = 0;
};

// The receiver of a desktop without the phone link: it knows no phone.
class NoPhoneUSBCameraReceiver final : public USBCameraReceiver {
public:
    bool running() const override { return false; }
    double sourceAspect() const override { return 16.0 / 9.0; }
    std::optional<platform::PixelBuffer> latestPicture() const override { return std::nullopt; }
    void addLayer(std::weak_ptr<CameraPreviewLayer>) override {}
    std::optional<std::string> activeMicrophone() const override { return std::nullopt; }
    std::optional<double> activeMicrophoneLevel() override { return std::nullopt; }
    void startDiscovery() override {}
    void stopDiscovery() override {}
    void recording(bool) override {}
    std::vector<CaptureDevice> devices() const override { return {}; }
    std::vector<CaptureDevice> microphones() const override { return {}; }
    bool microphoneAllowed(const std::string&) const override { return false; }
    bool microphoneRunning() const override { return false; }
    QCoro::Task<void> startMicrophone(std::string id) override;
    QCoro::Task<void> start(std::string id, Receive receive) override;
    void stop() override {}
    void stopMicrophone() override {}
    void recordMicrophone(MicrophoneReceive receive) override;
    void stopRecordingMicrophone() override {}
};

// A receiver whose phones, answers and failures a test scripts. It records every call.
class ScriptedUSBCameraReceiver final : public USBCameraReceiver {
public:
    struct Phone {
        CaptureDevice device;
        bool hasMicrophone = true;
        bool microphoneAllowed = true;
    };

    std::vector<Phone> phones;
    double aspect = 9.0 / 16.0;
    std::optional<AppError> cameraFailure;
    std::optional<AppError> microphoneFailure;
    // Level of the active phone microphone's stream; none: no stream exists for it.
    std::optional<double> streamLevel = 0.25;
    std::vector<std::string> calls;

    bool running() const override { return running_; }
    double sourceAspect() const override { return aspect; }
    std::optional<platform::PixelBuffer> latestPicture() const override { return latest_; }
    void addLayer(std::weak_ptr<CameraPreviewLayer> layer) override { layers_.push_back(std::move(layer)); }
    std::optional<std::string> activeMicrophone() const override { return activeMicrophone_; }
    std::optional<double> activeMicrophoneLevel() override;
    void startDiscovery() override { calls.push_back("startDiscovery"); }
    void stopDiscovery() override { calls.push_back("stopDiscovery"); }
    void recording(bool recording) override { calls.push_back(recording ? "recording(true)" : "recording(false)"); }
    std::vector<CaptureDevice> devices() const override;
    std::vector<CaptureDevice> microphones() const override;
    bool microphoneAllowed(const std::string& id) const override;
    bool microphoneRunning() const override { return activeMicrophone_.has_value() && streamLevel.has_value(); }
    QCoro::Task<void> startMicrophone(std::string id) override;
    QCoro::Task<void> start(std::string id, Receive receive) override;
    void stop() override;
    void stopMicrophone() override;
    void recordMicrophone(MicrophoneReceive receive) override;
    void stopRecordingMicrophone() override;

    // A phone picture arrives: it goes to the receive function and every live layer.
    void simulate_picture(platform::SampleBuffer sample);
    // A phone microphone result arrives for the subscriber, if any.
    void simulate_microphone(MicrophoneResult result);

private:
    bool running_ = false;
    std::optional<std::string> activeCamera_;
    std::optional<std::string> activeMicrophone_;
    std::optional<platform::PixelBuffer> latest_;
    std::vector<std::weak_ptr<CameraPreviewLayer>> layers_;
    Receive receive_;
    MicrophoneReceive microphoneReceive_;
};

}  // namespace yux

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/capture_input_preferences.hpp"

#include <QCoroTask>

namespace yux {

class CameraPreviewLayer;

// A device, input or output of the platform layer, opaque to the runtime.
using CaptureObject = std::shared_ptr<void>;

// Authorisation states of an input kind, in the numbering the runtime's callers rely on.
namespace CaptureAuthorization {
inline constexpr int notDetermined = 0;
inline constexpr int restricted = 1;
inline constexpr int denied = 2;
inline constexpr int authorized = 3;
}  // namespace CaptureAuthorization

// Every platform operation the device runtime makes: a session per kind that holds one input
// and one output, plus listing, access, preview and metering. Live over PulseAudio sources and
// V4L2 nodes; in memory for tests (StubbedPulseV4l2Capture).
struct CaptureDeviceFunctions {
    std::function<std::vector<CaptureDevice>(CaptureInputKind)> discover;
    std::function<int(CaptureInputKind)> authorization;
    std::function<QCoro::Task<bool>(CaptureInputKind)> requestAuthorization;
    // None when no device has the identifier.
    std::function<CaptureObject(const std::string& id)> device;
    // Opens the device; throws the platform's error.
    std::function<CaptureObject(const CaptureObject& device)> makeInput;
    std::function<void(CaptureInputKind)> beginConfiguration;
    std::function<void(CaptureInputKind)> commitConfiguration;
    std::function<bool(CaptureInputKind, const CaptureObject& input)> canAddInput;
    std::function<void(CaptureInputKind, const CaptureObject& input)> addInput;
    // Camera frames from it reach the runtime's frame feed.
    std::function<CaptureObject()> makeVideoOutput;
    // Meters the microphone; never plays.
    std::function<CaptureObject()> makeAudioOutput;
    std::function<void(const CaptureObject& output, float volume)> setVolume;
    std::function<bool(CaptureInputKind, const CaptureObject& output)> canAddOutput;
    std::function<void(CaptureInputKind, const CaptureObject& output)> addOutput;
    // Blocking work runs off the main thread; the caller resumes when it is done.
    std::function<QCoro::Task<void>(CaptureInputKind)> startRunning;
    std::function<QCoro::Task<void>(CaptureInputKind)> stopRunning;
    std::function<bool(CaptureInputKind)> isRunning;
    std::function<std::vector<CaptureObject>(CaptureInputKind)> inputs;
    std::function<std::vector<CaptureObject>(CaptureInputKind)> outputs;
    std::function<void(CaptureInputKind, const CaptureObject& input)> removeInput;
    std::function<void(CaptureInputKind, const CaptureObject& output)> removeOutput;
    // A new preview of the camera session.
    std::function<std::shared_ptr<CameraPreviewLayer>()> makePreview;
    // Width / max(height, 1) of the device's current format.
    std::function<double(const CaptureObject& device)> sourceAspect;
    // dBFS of every channel the output meters; empty when it has nothing to say.
    std::function<std::vector<float>(const CaptureObject& output)> decibels;
    // Resumes once the device lists are first known (bounded), so a stored choice is not
    // taken for unplugged just because the listing has not arrived yet.
    std::function<QCoro::Task<void>()> waitForDevices;
};

// The in-memory platform of the runtime's tests: given devices and answers, a set of running
// kinds and, per kind, the session's inputs and outputs. Tests change the fields as they go
// (a device unplugged is one removed from the list).
class StubbedPulseV4l2Capture : public std::enable_shared_from_this<StubbedPulseV4l2Capture> {
public:
    struct Options {
        Options(std::vector<CaptureDevice> microphones_ = {}, std::vector<CaptureDevice> cameras_ = {},
                bool microphoneAccess_ = true, bool cameraAccess_ = true, float microphoneDecibels_ = 0,
                std::optional<std::string> startFailure_ = std::nullopt)
            : microphones(std::move(microphones_)),
              cameras(std::move(cameras_)),
              microphoneAccess(microphoneAccess_),
              cameraAccess(cameraAccess_),
              microphoneDecibels(microphoneDecibels_),
              startFailure(std::move(startFailure_)) {}

        std::vector<CaptureDevice> microphones;
        std::vector<CaptureDevice> cameras;
        bool microphoneAccess = true;
        bool cameraAccess = true;
        float microphoneDecibels = 0;
        // Set: opening any device fails with this description.
        std::optional<std::string> startFailure;
    };

    static std::shared_ptr<StubbedPulseV4l2Capture> create(Options options);

    Options options;
    // Overrides the access flags when set (for "not determined").
    std::optional<int> microphoneStatus;
    std::optional<int> cameraStatus;
    // What the platform prompt answers; each prompt is counted.
    bool promptAnswer = true;
    int prompts = 0;
    double aspect = 16.0 / 9.0;

    CaptureDeviceFunctions functions();

    bool running(CaptureInputKind kind) const;
    const std::vector<CaptureObject>& sessionInputs(CaptureInputKind kind) const;
    const std::vector<CaptureObject>& sessionOutputs(CaptureInputKind kind) const;

private:
    explicit StubbedPulseV4l2Capture(Options given) : options(std::move(given)) {}
    struct Session {
        bool running = false;
        std::vector<CaptureObject> inputs;
        std::vector<CaptureObject> outputs;
    };
    Session& session(CaptureInputKind kind) { return kind == CaptureInputKind::microphone ? microphone_ : camera_; }
    const Session& session(CaptureInputKind kind) const {
        return kind == CaptureInputKind::microphone ? microphone_ : camera_;
    }
    int status(CaptureInputKind kind) const;
    Session microphone_;
    Session camera_;
};

}  // namespace yux

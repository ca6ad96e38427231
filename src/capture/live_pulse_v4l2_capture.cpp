#include "capture/live_pulse_v4l2_capture.hpp"

#include <algorithm>
#include <stdexcept>

#include "capture/camera_preview_layer.hpp"
#include "platform/async/main_thread.hpp"
#include "platform/async/run_on.hpp"

namespace yux {

namespace {

struct DeviceToken {
    CaptureInputKind kind;
    std::string id;
    std::string node;  // cameras
};

struct CameraInput {
    std::shared_ptr<DeviceToken> device;
    std::shared_ptr<platform::V4l2CameraStream> stream;
};

struct MicrophoneInput {
    std::string source;
};

struct VideoOutput {};

struct MeterOutput {
    std::shared_ptr<platform::PulseLevelMeter> meter;
};

}  // namespace

std::shared_ptr<LivePulseV4l2Capture> LivePulseV4l2Capture::create(
    std::shared_ptr<platform::PulseSourceDirectory> microphones, std::shared_ptr<platform::V4l2CameraDirectory> cameras,
    std::shared_ptr<CameraFrameFeed> frames) {
    auto live = std::shared_ptr<LivePulseV4l2Capture>(new LivePulseV4l2Capture());
    live->microphones_ = std::move(microphones);
    live->cameras_ = std::move(cameras);
    live->frames_ = std::move(frames);
    return live;
}

LivePulseV4l2Capture::~LivePulseV4l2Capture() {
    // Streams stop before their directories go.
    camera_ = {};
    microphone_ = {};
    worker_.reset();
}

void LivePulseV4l2Capture::showInPreviews(platform::PixelBuffer picture) {
    latestPicture_ = picture;
    std::erase_if(previews_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : previews_) {
        if (auto layer = weak.lock()) layer->setPicture(picture);
    }
}

CaptureDeviceFunctions LivePulseV4l2Capture::functions() {
    std::weak_ptr<LivePulseV4l2Capture> weak = shared_from_this();
    auto self = [weak] {
        auto live = weak.lock();
        if (!live) throw std::logic_error("the capture platform is gone");
        return live;
    };
    CaptureDeviceFunctions f;
    f.discover = [self](CaptureInputKind kind) {
        auto live = self();
        std::vector<CaptureDevice> devices;
        if (kind == CaptureInputKind::microphone) {
            if (live->microphones_) {
                for (const auto& source : live->microphones_->sources()) devices.push_back({source.name, source.description});
            }
        } else {
            for (const auto& camera : live->cameras_->cameras()) devices.push_back({camera.id, camera.name});
        }
        return devices;
    };
    f.authorization = [self](CaptureInputKind kind) {
        auto live = self();
        bool allowed = kind == CaptureInputKind::microphone
                           ? live->microphones_ && live->microphones_->isConnected()
                           : !live->cameras_->accessDenied();
        return allowed ? CaptureAuthorization::authorized : CaptureAuthorization::denied;
    };
    // Linux never asks: access is what the sound server and the device nodes allow.
    f.requestAuthorization = [authorization = f.authorization](CaptureInputKind kind) -> QCoro::Task<bool> {
        co_return authorization(kind) == CaptureAuthorization::authorized;
    };
    f.device = [self](const std::string& id) -> CaptureObject {
        auto live = self();
        for (const auto& camera : live->cameras_->cameras()) {
            if (camera.id == id) return std::make_shared<DeviceToken>(DeviceToken{CaptureInputKind::camera, id, camera.node});
        }
        if (live->microphones_) {
            for (const auto& source : live->microphones_->sources()) {
                if (source.name == id) return std::make_shared<DeviceToken>(DeviceToken{CaptureInputKind::microphone, id, {}});
            }
        }
        return nullptr;
    };
    f.makeInput = [self](const CaptureObject& device) -> CaptureObject {
        auto live = self();
        auto token = std::static_pointer_cast<DeviceToken>(device);
        if (token->kind == CaptureInputKind::microphone) return std::make_shared<MicrophoneInput>(MicrophoneInput{token->id});
        // Opening sets the format, so a camera held elsewhere fails here, before any session change.
        std::shared_ptr<platform::V4l2CameraStream> stream =
            platform::V4l2CameraStream::open(live->cameras_->operations(), token->node);
        return std::make_shared<CameraInput>(CameraInput{token, std::move(stream)});
    };
    f.beginConfiguration = [](CaptureInputKind) {};
    f.commitConfiguration = [](CaptureInputKind) {};
    f.canAddInput = [self](CaptureInputKind kind, const CaptureObject&) { return self()->session(kind).inputs.empty(); };
    f.addInput = [self](CaptureInputKind kind, const CaptureObject& input) { self()->session(kind).inputs.push_back(input); };
    f.makeVideoOutput = [] { return std::make_shared<VideoOutput>(); };
    f.makeAudioOutput = [] { return std::make_shared<MeterOutput>(); };
    f.setVolume = [](const CaptureObject&, float) {};  // the meter never plays
    f.canAddOutput = [self](CaptureInputKind kind, const CaptureObject&) { return self()->session(kind).outputs.empty(); };
    f.addOutput = [self](CaptureInputKind kind, const CaptureObject& output) {
        self()->session(kind).outputs.push_back(output);
    };
    f.startRunning = [self](CaptureInputKind kind) -> QCoro::Task<void> {
        auto live = self();
        auto& session = live->session(kind);
        if (session.inputs.empty() || session.outputs.empty()) co_return;
        if (kind == CaptureInputKind::camera) {
            auto input = std::static_pointer_cast<CameraInput>(session.inputs.front());
            auto frames = live->frames_;
            auto cameras = live->cameras_;
            auto preview = live->preview_;
            std::weak_ptr<LivePulseV4l2Capture> owner = live;
            auto deliver = [frames, preview, owner](platform::SampleBuffer sample) {
                // On the frames queue: the recording first, then the previews on the main thread.
                if (const auto* picture = sample.picture()) {
                    bool post = preview->with([&](auto& handOver) {
                        handOver.picture = *picture;
                        return !std::exchange(handOver.posted, true);
                    });
                    if (post) {
                        platform::postToMain([preview, owner] {
                            auto picture = preview->with([](auto& handOver) {
                                handOver.posted = false;
                                return std::exchange(handOver.picture, std::nullopt);
                            });
                            auto live = owner.lock();
                            if (live && picture) live->showInPreviews(*picture);
                        });
                    }
                }
                frames->deliverOnQueue(std::move(sample));
            };
            // A camera that vanishes leaves the list at once.
            auto ended = [cameras] { cameras->rescan(); };
            auto stream = input->stream;
            // Named: g++ 12 destroys a temporary of a co_await operand twice.
            auto begin = [stream, frames, deliver, ended] { stream->start(frames->queue(), deliver, ended); };
            co_await platform::runOn(*live->worker_, std::move(begin));
            co_return;
        }
        auto input = std::static_pointer_cast<MicrophoneInput>(session.inputs.front());
        auto output = std::static_pointer_cast<MeterOutput>(session.outputs.front());
        auto directory = live->microphones_;
        if (!directory) throw std::runtime_error("The sound server does not answer.");
        auto source = input->source;
        auto open = [directory, source] {
            return std::shared_ptr<platform::PulseLevelMeter>(directory->openMeter(source));
        };
        std::shared_ptr<platform::PulseLevelMeter> meter = co_await platform::runOn(*live->worker_, std::move(open));
        output->meter = std::move(meter);
    };
    f.stopRunning = [self](CaptureInputKind kind) -> QCoro::Task<void> {
        auto live = self();
        auto& session = live->session(kind);
        if (kind == CaptureInputKind::camera) {
            if (session.inputs.empty()) co_return;
            auto stream = std::static_pointer_cast<CameraInput>(session.inputs.front())->stream;
            auto halt = [stream] { stream->stop(); };
            co_await platform::runOn(*live->worker_, std::move(halt));
            co_return;
        }
        if (session.outputs.empty()) co_return;
        auto output = std::static_pointer_cast<MeterOutput>(session.outputs.front());
        auto meter = std::exchange(output->meter, nullptr);
        if (meter) {
            auto close = [meter = std::move(meter)]() mutable { meter.reset(); };
            co_await platform::runOn(*live->worker_, std::move(close));
        }
    };
    f.isRunning = [self](CaptureInputKind kind) {
        auto live = self();
        auto& session = live->session(kind);
        if (kind == CaptureInputKind::camera) {
            return !session.inputs.empty() && std::static_pointer_cast<CameraInput>(session.inputs.front())->stream->isRunning();
        }
        if (session.outputs.empty()) return false;
        auto meter = std::static_pointer_cast<MeterOutput>(session.outputs.front())->meter;
        return meter != nullptr && meter->isRunning();
    };
    f.inputs = [self](CaptureInputKind kind) { return self()->session(kind).inputs; };
    f.outputs = [self](CaptureInputKind kind) { return self()->session(kind).outputs; };
    f.removeInput = [self](CaptureInputKind kind, const CaptureObject& input) { std::erase(self()->session(kind).inputs, input); };
    f.removeOutput = [self](CaptureInputKind kind, const CaptureObject& output) {
        std::erase(self()->session(kind).outputs, output);
    };
    f.makePreview = [self] {
        auto live = self();
        auto layer = std::make_shared<CameraPreviewLayer>();
        if (live->latestPicture_ && !live->camera_.inputs.empty()) layer->setPicture(*live->latestPicture_);
        live->previews_.push_back(layer);
        return layer;
    };
    f.sourceAspect = [self](const CaptureObject& device) {
        auto live = self();
        for (const auto& object : live->camera_.inputs) {
            auto input = std::static_pointer_cast<CameraInput>(object);
            if (input->device == device) return input->stream->aspect();
        }
        return 16.0 / 9.0;
    };
    f.decibels = [](const CaptureObject& output) -> std::vector<float> {
        auto meter = std::static_pointer_cast<MeterOutput>(output)->meter;
        return meter ? meter->decibels() : std::vector<float>{};
    };
    f.waitForDevices = [self]() -> QCoro::Task<void> {
        auto live = self();
        auto directory = live->microphones_;
        if (!directory) co_return;
        auto wait = [directory] { directory->waitForFirstListing(kFirstListingTimeout); };
        co_await platform::runOn(*live->worker_, std::move(wait));
    };
    return f;
}

}  // namespace yux

#include "platform/x11/capture_stream.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <stdexcept>

#include "platform/audio/pulse_record_stream.hpp"

namespace yux::platform {

struct CaptureStream::Outputs {
    struct Entry {
        StreamOutputType type;
        SerialQueue* queue;
        Handler handler;
    };
    std::mutex mutex;
    std::vector<Entry> entries;
    SerialQueue* failureQueue = nullptr;
    FailureHandler failureHandler;
    bool open = false;

    void deliver(StreamOutputType type, const SampleBuffer& sample) {
        std::lock_guard lock(mutex);
        if (!open) return;
        for (const auto& entry : entries) {
            if (entry.type != type) continue;
            entry.queue->async([handler = entry.handler, sample] { handler(sample); });
        }
    }
    void fail(const CaptureStreamFailure& failure) {
        std::lock_guard lock(mutex);
        if (!open || failureQueue == nullptr) return;
        failureQueue->async([handler = failureHandler, failure] { handler(failure); });
    }
};

FrameSourceSettings frameSourceSettings(const ContentFilter& filter, const StreamConfiguration& configuration,
                                        double scale) {
    FrameSourceSettings settings;
    const auto& display = filter.display.pixelBounds;
    int x = display.x;
    int y = display.y;
    if (configuration.sourceRect) {
        x += static_cast<int>(std::lround(configuration.sourceRect->x * scale));
        y += static_cast<int>(std::lround(configuration.sourceRect->y * scale));
    }
    // The picture never reaches past the display: a region that would is moved back inside.
    int width = std::min(configuration.width, display.width);
    int height = std::min(configuration.height, display.height);
    x = std::clamp(x, display.x, display.x + display.width - width);
    y = std::clamp(y, display.y, display.y + display.height - height);
    settings.region = {x, y, width, height};
    settings.showsCursor = configuration.showsCursor;
    settings.queueDepth = configuration.queueDepth;
    // The movie keeps colour only.
    settings.fillsAlpha = false;
    if (configuration.minimumFrameInterval.isValid() && configuration.minimumFrameInterval.value > 0) {
        settings.minimumFrameInterval = configuration.minimumFrameInterval;
    }
    if (filter.mode == ContentFilter::Mode::excludingApplications) {
        settings.windows.mode = WindowSelection::Mode::excluding;
        for (const auto& application : filter.applications) settings.windows.processIDs.push_back(application.processID);
        // Leaving out this process also leaves out the windows of its X connections.
        settings.windows.excludeThisProcess = true;
    } else {
        settings.windows.mode = WindowSelection::Mode::including;
        for (const auto& application : filter.applications) {
            settings.windows.applicationClasses.push_back(application.bundleIdentifier);
        }
    }
    return settings;
}

CaptureStream::CaptureStream(ContentFilter filter, StreamConfiguration configuration, Operations operations)
    : filter_(std::move(filter)), configuration_(std::move(configuration)), operations_(std::move(operations)),
      outputs_(std::make_shared<Outputs>()) {}

CaptureStream::~CaptureStream() {
    if (running_) {
        try {
            stopCapture();
        } catch (...) {
        }
    }
}

std::unique_ptr<CaptureStream> CaptureStream::create(ContentFilter filter, StreamConfiguration configuration, Log log) {
    struct Sources {
        std::unique_ptr<X11FrameSource> frames;
        std::unique_ptr<PulseRecordStream> systemAudio;
        std::unique_ptr<PulseRecordStream> microphone;
        void stop() {
            if (frames) frames->stop();
            if (systemAudio) systemAudio->stop();
            if (microphone) microphone->stop();
            frames.reset();
            systemAudio.reset();
            microphone.reset();
        }
    };
    auto sources = std::make_shared<Sources>();
    Operations operations;
    operations.start = [sources, log](const ContentFilter& filter, const StreamConfiguration& configuration,
                                      Deliver deliver, Fail fail) {
        auto failed = [fail](StreamOutputType output) {
            return [fail, output](const std::string& message) { fail({output, message}); };
        };
        try {
            // Sound first: its sources are the ones most likely missing, and a picture that
            // arrives before the sound runs would be dropped by a writer waiting for both.
            if (configuration.capturesAudio) {
                sources->systemAudio = PulseRecordStream::start(
                    AudioSourceChoice::systemPlayback(),
                    [deliver](SampleBuffer sample) { deliver(StreamOutputType::audio, std::move(sample)); },
                    failed(StreamOutputType::audio), log);
            }
            if (configuration.captureMicrophone) {
                sources->microphone = PulseRecordStream::start(
                    AudioSourceChoice::named(configuration.microphoneCaptureDeviceID),
                    [deliver](SampleBuffer sample) { deliver(StreamOutputType::microphone, std::move(sample)); },
                    failed(StreamOutputType::microphone), log);
            }
            // The first picture begins the movie: by then the sound that the server mixed
            // ahead of these streams has played out, and what follows reaches them.
            const auto deadline = std::chrono::steady_clock::now() + PulseRecordStream::kSoundWaitLimit;
            if (sources->systemAudio) sources->systemAudio->awaitSound(deadline);
            if (sources->microphone) sources->microphone->awaitSound(deadline);
            sources->frames = std::make_unique<X11FrameSource>(
                // Points to pixels as the display itself measures them.
                frameSourceSettings(filter, configuration,
                                    filter.display.frame.width > 0 ? filter.display.width / filter.display.frame.width
                                                                   : 1.0),
                [deliver](SampleBuffer sample) { deliver(StreamOutputType::screen, std::move(sample)); }, log,
                failed(StreamOutputType::screen));
            sources->frames->start();
        } catch (...) {
            sources->stop();
            throw;
        }
    };
    operations.stop = [sources] { sources->stop(); };
    operations.frameInterval = [sources] { return sources->frames ? sources->frames->frameInterval() : MediaTime::invalid(); };
    return std::unique_ptr<CaptureStream>(
        new CaptureStream(std::move(filter), std::move(configuration), std::move(operations)));
}

std::unique_ptr<CaptureStream> CaptureStream::create_null(ContentFilter filter, StreamConfiguration configuration,
                                                          NullAnswers answers) {
    Operations operations;
    auto delivery = std::make_shared<Deliver>();
    operations.start = [answers, delivery](const ContentFilter&, const StreamConfiguration&, Deliver deliver, Fail) {
        if (answers.startError) throw std::runtime_error(*answers.startError);
        *delivery = std::move(deliver);
    };
    operations.stop = [answers, delivery] {
        if (answers.soundAtStop && *delivery) (*delivery)(StreamOutputType::audio, *answers.soundAtStop);
        if (answers.stopError) throw std::runtime_error(*answers.stopError);
    };
    // The refresh interval of a null display: 60 Hz.
    operations.frameInterval = [interval = configuration.minimumFrameInterval] {
        return interval.isValid() && interval.value > 0 ? interval : MediaTime(1, 60);
    };
    return std::unique_ptr<CaptureStream>(
        new CaptureStream(std::move(filter), std::move(configuration), std::move(operations)));
}

void CaptureStream::addStreamOutput(StreamOutputType type, SerialQueue& queue, Handler handler) {
    if (running_) throw std::logic_error("Stream outputs must be added before the stream starts.");
    std::lock_guard lock(outputs_->mutex);
    outputs_->entries.push_back({type, &queue, std::move(handler)});
}

void CaptureStream::setFailureHandler(SerialQueue& queue, FailureHandler handler) {
    if (running_) throw std::logic_error("The failure handler must be set before the stream starts.");
    std::lock_guard lock(outputs_->mutex);
    outputs_->failureQueue = &queue;
    outputs_->failureHandler = std::move(handler);
}

void CaptureStream::startCapture() {
    if (running_) throw std::logic_error("The capture stream is already running.");
    {
        std::lock_guard lock(outputs_->mutex);
        outputs_->open = true;
    }
    std::weak_ptr<Outputs> outputs = outputs_;
    try {
        operations_.start(
            filter_, configuration_,
            [outputs](StreamOutputType type, SampleBuffer sample) {
                if (auto live = outputs.lock()) live->deliver(type, sample);
            },
            [outputs](CaptureStreamFailure failure) {
                if (auto live = outputs.lock()) live->fail(failure);
            });
    } catch (...) {
        std::lock_guard lock(outputs_->mutex);
        outputs_->open = false;
        throw;
    }
    running_ = true;
    events_.record({CaptureStreamEvent::Kind::started});
}

void CaptureStream::stopCapture() {
    if (!running_) throw std::logic_error("The capture stream is not running.");
    events_.record({CaptureStreamEvent::Kind::stopped});
    // A stop that fails leaves the stream running, so that it can be stopped again. The
    // outputs stay open meanwhile: the sound sources hand on their silence up to the stop.
    operations_.stop();
    {
        std::lock_guard lock(outputs_->mutex);
        outputs_->open = false;
    }
    running_ = false;
}

MediaTime CaptureStream::frameInterval() const { return running_ ? operations_.frameInterval() : MediaTime::invalid(); }

void CaptureStream::simulate_sample(StreamOutputType type, SampleBuffer sample) { outputs_->deliver(type, sample); }
void CaptureStream::simulate_failure(CaptureStreamFailure failure) { outputs_->fail(failure); }

}  // namespace yux::platform

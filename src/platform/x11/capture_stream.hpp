#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/async/output_tracker.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/media/media_time.hpp"
#include "platform/media/sample_buffer.hpp"
#include "platform/x11/shareable_content.hpp"
#include "platform/x11/x11_frame_source.hpp"

namespace yux::platform {

// Which windows of one display a stream records.
struct ContentFilter {
    enum class Mode { excludingApplications, includingApplications };
    ShareableDisplay display;
    Mode mode = Mode::excludingApplications;
    std::vector<RunningApplication> applications;

    // The display without the windows of these applications (matched by process).
    static ContentFilter excluding(ShareableDisplay display, std::vector<RunningApplication> applications) {
        return {std::move(display), Mode::excludingApplications, std::move(applications)};
    }
    // Only the windows of these applications (matched by bundle identifier) on the display.
    static ContentFilter including(ShareableDisplay display, std::vector<RunningApplication> applications) {
        return {std::move(display), Mode::includingApplications, std::move(applications)};
    }
};

// Blue, green and red, then a fourth byte that screen pictures leave undefined: their
// consumer, the movie writer, keeps colour only.
enum class PixelFormat { bgra };

struct StreamConfiguration {
    // The interval of the picture grid. Zero: the display's refresh interval; a picture is
    // taken at a grid slot only when the screen changed.
    MediaTime minimumFrameInterval = MediaTime::zero();
    bool capturesAudio = false;
    bool captureMicrophone = false;
    std::string microphoneCaptureDeviceID;  // a sound server source name
    bool excludesCurrentProcessAudio = false;
    bool showsCursor = true;
    int queueDepth = 6;
    int width = 0;   // pixels
    int height = 0;  // pixels
    // Part of the display in points from its top-left corner; none means the whole display.
    std::optional<PointRect> sourceRect;
    PixelFormat pixelFormat = PixelFormat::bgra;
};

enum class StreamOutputType { screen, audio, microphone };

// A source of a running stream that failed. Pictures stop; sound goes on as silence until
// its source is back, and then sound resumes by itself.
struct CaptureStreamFailure {
    StreamOutputType output;
    std::string message;
    bool operator==(const CaptureStreamFailure&) const = default;
};

// What a stream did, for tests.
struct CaptureStreamEvent {
    enum class Kind { started, stopped };
    Kind kind;
    bool operator==(const CaptureStreamEvent&) const = default;
};

// A stream of screen pictures, system audio and microphone sound of one content filter.
// Every sample reaches the handlers of its type on the queue given with them.
// startCapture and stopCapture block; call them off the main thread.
class CaptureStream {
public:
    using Handler = std::function<void(const SampleBuffer&)>;
    using Deliver = std::function<void(StreamOutputType, SampleBuffer)>;
    using FailureHandler = std::function<void(const CaptureStreamFailure&)>;
    using Fail = std::function<void(CaptureStreamFailure)>;
    struct Operations {
        // Starts the sources, which hand every sample to `deliver` and every failure while
        // running to `fail`, from any thread.
        std::function<void(const ContentFilter&, const StreamConfiguration&, Deliver, Fail)> start;
        std::function<void()> stop;
        // The interval of the running picture grid.
        std::function<MediaTime()> frameInterval;
    };
    struct NullAnswers {
        std::optional<std::string> startError;
        std::optional<std::string> stopError;
        // Handed to the system-audio outputs at every stop, as the live sound sources hand on
        // their last sound then.
        std::optional<SampleBuffer> soundAtStop;
    };
    // `log` gets one diagnostic line for conditions worth knowing (no Composite, a sound
    // source that came back after a failure).
    using Log = std::function<void(const std::string&)>;

    static std::unique_ptr<CaptureStream> create(ContentFilter filter, StreamConfiguration configuration, Log log = {});
    static std::unique_ptr<CaptureStream> create_null(ContentFilter filter, StreamConfiguration configuration,
                                                      NullAnswers answers = {});
    ~CaptureStream();

    // Throws std::logic_error once the stream runs.
    void addStreamOutput(StreamOutputType type, SerialQueue& queue, Handler handler);
    // Failures of a source while the stream runs reach `handler` on `queue`, once per outage.
    // Throws std::logic_error once the stream runs.
    void setFailureHandler(SerialQueue& queue, FailureHandler handler);
    // Returns once every source runs and the first picture is on its way. Throws
    // std::runtime_error (AudioSourceUnavailable for a missing sound source).
    void startCapture();
    // Sound sources hand on what they recorded up to now, then no sample or failure is
    // handed to a queue after it returns. Throws std::logic_error when not running.
    void stopCapture();

    // The interval of the picture grid, so the nominal frame rate of the screen track: the
    // display's refresh interval unless the configuration sets one. Invalid until started.
    MediaTime frameInterval() const;

    const ContentFilter& filter() const { return filter_; }
    const StreamConfiguration& configuration() const { return configuration_; }

    // Null streams: a sample as if a source had produced it (dropped unless running).
    void simulate_sample(StreamOutputType type, SampleBuffer sample);
    // Null streams: a source failure (dropped unless running).
    void simulate_failure(CaptureStreamFailure failure);
    OutputTracker<CaptureStreamEvent> track_events() { return events_.track(); }

private:
    struct Outputs;
    CaptureStream(ContentFilter filter, StreamConfiguration configuration, Operations operations);

    ContentFilter filter_;
    StreamConfiguration configuration_;
    Operations operations_;
    std::shared_ptr<Outputs> outputs_;
    bool running_ = false;
    OutputListener<CaptureStreamEvent> events_;
};

// The frame source settings for a filter and a configuration: the region in root pixels and
// the windows to paint. Exposed for tests.
FrameSourceSettings frameSourceSettings(const ContentFilter& filter, const StreamConfiguration& configuration,
                                        double scale);

}  // namespace yux::platform

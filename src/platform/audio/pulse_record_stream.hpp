#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/media/sample_buffer.hpp"

namespace yux::platform {

// The sound server has no source to record from: no default sink monitor for system audio,
// or no source of the given name for a microphone.
// Where a record stream takes its sound.
struct AudioSourceChoice {
    enum class Kind { systemPlayback, namedSource };
    Kind kind = Kind::systemPlayback;
    std::string sourceName;  // for namedSource; empty means the server's default source

    static AudioSourceChoice systemPlayback() { return {}; }
    static AudioSourceChoice named(std::string name) { return {Kind::namedSource, std::move(name)}; }
};

class AudioSourceUnavailable : public std::runtime_error {
public:
    AudioSourceUnavailable(AudioSourceChoice::Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    AudioSourceChoice::Kind kind() const { return kind_; }

private:
    AudioSourceChoice::Kind kind_;
};

// One PulseAudio record stream, 48000 Hz stereo float, in fragments of about 10 ms. Each
// buffer is stamped with the host-clock time at which its first frame was captured: the time
// it is read less what the stream reports as still waiting between the source and us.
class PulseRecordStream {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;

    // Called on the sound server thread of the stream.
    using Receive = std::function<void(SampleBuffer)>;
    using Failure = std::function<void(const std::string&)>;

    // Connects and starts recording; returns when the stream is ready. Throws
    // AudioSourceUnavailable when the source does not exist, std::runtime_error when the sound
    // server does not answer.
    static std::unique_ptr<PulseRecordStream> start(const AudioSourceChoice& source, Receive receive,
                                                    Failure failure = {});
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    // No buffer is delivered after it returns. Safe to call twice.
    void stop();
    // The name of the source being recorded (the monitor of the default sink for system audio).
    const std::string& sourceName() const;

private:
    struct Impl;
    explicit PulseRecordStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace yux::platform

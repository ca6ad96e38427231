#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/async/output_tracker.hpp"
#include "platform/media/preview_audio_output.hpp"

namespace yux::platform {

// One PulseAudio playback stream to the default output: 48000 Hz float stereo with a small
// buffer (about 50 ms), so a pause or a change of rate is heard at once. Writes never block.
// Thread-safe; meant to be fed by one worker thread.
class PulsePlaybackStream {
public:
    static constexpr int kSampleRate = PreviewAudioOutput::kSampleRate;
    static constexpr int kChannels = PreviewAudioOutput::kChannels;
    // Short enough that a pause or a new rate is heard within a video frame or three.
    static constexpr int kBufferMilliseconds = 50;
    static constexpr int kBufferFrames = kSampleRate * kBufferMilliseconds / 1000;

    struct Operations {
        PreviewAudioOutput output;
        std::function<void(std::int64_t)> simulatePlayed;  // null stream only
    };

    // `name` is the stream's name in the sound server's mixer.
    static std::shared_ptr<PulsePlaybackStream> create(std::string name = "Yux preview");
    // Keeps what is written. With `serverAvailable` false, open() fails as without a server.
    // Its buffer holds kBufferFrames; frames play only through simulate_played().
    static std::shared_ptr<PulsePlaybackStream> create_null(bool serverAvailable = true);

    explicit PulsePlaybackStream(Operations operations) : operations_(std::move(operations)) {}
    ~PulsePlaybackStream();

    // False when the sound server does not answer or has no output.
    bool open() { return operations_.output.open(); }
    int writableFrames() { return operations_.output.writableFrames(); }
    // At most writableFrames() frames.
    void write(const float* samples, int frames);
    void cork(bool corked) { operations_.output.cork(corked); }
    void flush() { operations_.output.flush(); }
    std::int64_t playedFrames() { return operations_.output.playedFrames(); }
    void close() { operations_.output.close(); }

    // The record of operations the preview player takes.
    static PreviewAudioOutput output(std::shared_ptr<PulsePlaybackStream> stream);

    // Every write, as interleaved samples.
    OutputTracker<std::vector<float>> track_writes() { return writes_.track(); }
    // Null stream: `frames` more of what was written have played.
    void simulate_played(std::int64_t frames) {
        if (operations_.simulatePlayed) operations_.simulatePlayed(frames);
    }

private:
    Operations operations_;
    OutputListener<std::vector<float>> writes_;
};

}  // namespace yux::platform

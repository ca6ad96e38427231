#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "platform/media/media_time.hpp"
#include "platform/media/pixel_buffer.hpp"

namespace yux::platform {

enum class AudioSampleFormat { float32, int16 };

// Interleaved PCM as a source delivered it.
struct AudioBuffer {
    AudioSampleFormat format = AudioSampleFormat::float32;
    int sampleRate = 48000;
    int channels = 2;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;

    int bytesPerFrame() const { return channels * (format == AudioSampleFormat::float32 ? 4 : 2); }
    std::int64_t frameCount() const {
        return bytes && bytesPerFrame() > 0 ? static_cast<std::int64_t>(bytes->size()) / bytesPerFrame() : 0;
    }
    static AudioBuffer fromFloat(const std::vector<float>& interleaved, int sampleRate, int channels);
    static AudioBuffer fromInt16(const std::vector<std::int16_t>& interleaved, int sampleRate, int channels);
};

// How a screen source judged a frame; only complete frames carry a new picture.
enum class FrameStatus { complete, idle, blank, suspended, started, stopped };

// One timed sample: a picture or a stretch of audio, stamped on the host clock.
struct SampleBuffer {
    MediaTime presentationTime;
    MediaTime duration;
    std::optional<MediaTime> decodeTime;
    std::variant<std::monostate, PixelBuffer, AudioBuffer> payload;
    std::optional<FrameStatus> frameStatus;  // screen frames only
    bool dataReady = true;

    bool isValid() const { return presentationTime.isValid() && !std::holds_alternative<std::monostate>(payload); }
    const PixelBuffer* picture() const { return std::get_if<PixelBuffer>(&payload); }
    const AudioBuffer* audio() const { return std::get_if<AudioBuffer>(&payload); }

    // A copy of this sample at another time with another duration (the picture is shared).
    SampleBuffer retimed(MediaTime presentation, MediaTime newDuration) const {
        SampleBuffer copy = *this;
        copy.presentationTime = presentation;
        copy.duration = newDuration;
        copy.decodeTime.reset();
        return copy;
    }
};

}  // namespace yux::platform

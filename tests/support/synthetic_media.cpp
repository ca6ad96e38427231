#include "support/synthetic_media.hpp"

#include <condition_variable>
#include <mutex>

#include <cmath>
#include <numbers>

namespace yux::testing {

using platform::AudioBuffer;
using platform::AudioSampleFormat;
using platform::MediaTime;
using platform::PixelBuffer;
using platform::SampleBuffer;

PixelBuffer movingPattern(int width, int height, int frame, int step) {
    auto picture = PixelBuffer::create(width, height);
    const int shift = frame * step;
    for (int y = 0; y < height; ++y) {
        auto* p = picture.row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            const int band = ((x + y + shift) / 64) % 4;
            p[0] = band == 0 ? 230 : 30;
            p[1] = band == 1 ? 230 : 40;
            p[2] = band == 2 ? 230 : 50;
            p[3] = 255;
        }
    }
    return picture;
}

PixelBuffer cameraBubble(int width, int height, int radius) {
    auto picture = PixelBuffer::create(width, height);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    for (int y = 0; y < height; ++y) {
        auto* p = picture.row(y);
        for (int x = 0; x < width; ++x, p += 4) {
            const bool inside = std::hypot(x + 0.5 - cx, y + 0.5 - cy) <= radius;
            p[0] = inside ? 40 : 0;
            p[1] = inside ? 180 : 0;
            p[2] = inside ? 220 : 0;
            p[3] = inside ? 255 : 0;
        }
    }
    return picture;
}

AudioBuffer sineTone(double frequency, int frames, int sampleRate, int channels, AudioSampleFormat format,
                     std::int64_t offset, double amplitude) {
    std::vector<float> samples(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(offset + i) / sampleRate;
        const auto value = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * t));
        for (int c = 0; c < channels; ++c) samples[static_cast<std::size_t>(i) * channels + c] = value;
    }
    if (format == AudioSampleFormat::float32) return AudioBuffer::fromFloat(samples, sampleRate, channels);
    std::vector<std::int16_t> pcm(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) pcm[i] = static_cast<std::int16_t>(std::lround(samples[i] * 32767));
    return AudioBuffer::fromInt16(pcm, sampleRate, channels);
}

SampleBuffer videoSample(MediaTime time, PixelBuffer picture, MediaTime duration) {
    SampleBuffer sample;
    sample.presentationTime = time;
    sample.duration = duration;
    sample.payload = std::move(picture);
    sample.frameStatus = platform::FrameStatus::complete;
    return sample;
}

SampleBuffer audioSample(MediaTime time, AudioBuffer audio) {
    SampleBuffer sample;
    sample.presentationTime = time;
    sample.duration = MediaTime(audio.frameCount(), audio.sampleRate);
    sample.payload = std::move(audio);
    return sample;
}

double toneLevel(const AudioBuffer& audio, double frequency) {
    const auto* samples = reinterpret_cast<const float*>(audio.bytes->data());
    const auto frames = audio.frameCount();
    if (frames == 0) return 0;
    // Goertzel filter at the one frequency.
    const double omega = 2 * std::numbers::pi * frequency / audio.sampleRate;
    const double coefficient = 2 * std::cos(omega);
    double s1 = 0;
    double s2 = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double s0 = samples[i * audio.channels] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return std::sqrt(std::max(power, 0.0)) / static_cast<double>(frames) * 2 / std::sqrt(2.0);
}

MediaTime hostTime(double seconds) {
    constexpr std::int64_t kBase = 5'000'000'000'000;  // about 83 minutes after boot
    return {kBase + std::llround(seconds * 1e9), MediaTime::kNanosecondScale};
}

void finishWritingAndWait(platform::MovieWriter& writer) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    writer.finishWriting([&] {
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
}

}  // namespace yux::testing

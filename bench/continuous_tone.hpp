#pragma once

// A tone that plays without a break from before a capture starts, and how long a recording of
// it stays silent before the tone is heard.

#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace yux::bench {

// Quieter than this is digital silence (-60 dBFS, as the ffmpeg tool's silencedetect takes it).
constexpr double kSilenceLevel = 0.001;

// Plays a 440 Hz tone into `sink` (the default sink when empty) on a thread of its own until
// it is destroyed.
class ContinuousTone {
public:
    ContinuousTone(std::string sink, float amplitude) : sink_(std::move(sink)), amplitude_(amplitude) {
        thread_ = std::thread([this] { play(); });
    }
    ~ContinuousTone() {
        stop_ = true;
        thread_.join();
    }
    ContinuousTone(const ContinuousTone&) = delete;
    ContinuousTone& operator=(const ContinuousTone&) = delete;

private:
    void play() {
        constexpr int kRate = 48000;
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 2};
        int error = 0;
        pa_simple* player = pa_simple_new(nullptr, "yux-bench", PA_STREAM_PLAYBACK, sink_.empty() ? nullptr : sink_.c_str(),
                                          "tone", &spec, nullptr, nullptr, &error);
        if (player == nullptr) {
            std::fprintf(stderr, "cannot play a tone into %s: %s\n", sink_.c_str(), pa_strerror(error));
            return;
        }
        std::vector<float> chunk(static_cast<std::size_t>(kRate / 100) * 2);  // 10 ms
        for (std::int64_t frame = 0; !stop_;) {
            for (std::size_t i = 0; i < chunk.size() / 2; ++i, ++frame) {
                const auto value = amplitude_ * static_cast<float>(std::sin(2 * M_PI * 440.0 * static_cast<double>(frame) / kRate));
                chunk[2 * i] = chunk[2 * i + 1] = value;
            }
            if (pa_simple_write(player, chunk.data(), chunk.size() * sizeof(float), &error) < 0) break;
        }
        pa_simple_free(player);
    }

    std::string sink_;
    float amplitude_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The first frame of interleaved float sound that is louder than digital silence, or -1.
inline std::int64_t firstSounding(const float* samples, std::int64_t frames, int channels) {
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            if (std::fabs(samples[frame * channels + channel]) > kSilenceLevel) return frame;
        }
    }
    return -1;
}

}  // namespace yux::bench

#pragma once

// For desktop tests: what the default output's monitor hears while a test plays sound.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/async/locked.hpp"
#include "platform/audio/pulse_record_stream.hpp"

namespace yux::testing {

// Records the default sink's monitor (interleaved float stereo at 48000 Hz) from construction
// until stop().
class SinkMonitor {
public:
    static constexpr int kRate = 48000;

    SinkMonitor()
        : stream_(platform::PulseRecordStream::start(platform::AudioSourceChoice::systemPlayback(),
                                                     [this](platform::SampleBuffer sample) {
                                                         const auto* audio = sample.audio();
                                                         std::vector<float> samples(static_cast<std::size_t>(audio->frameCount()) * 2);
                                                         std::memcpy(samples.data(), audio->bytes->data(), samples.size() * sizeof(float));
                                                         received_.with([&](auto& all) { all.insert(all.end(), samples.begin(), samples.end()); });
                                                     })) {}

    std::vector<float> stop() {
        stream_->stop();
        return received_.copy();
    }

private:
    platform::Locked<std::vector<float>> received_;
    std::unique_ptr<platform::PulseRecordStream> stream_;
};

// Seconds of `interleaved` that carry a loud sound (RMS above 0.1), counted in 5 ms stretches;
// `loudest` receives the loudest stretch's RMS.
inline double loudSeconds(const std::vector<float>& interleaved, double* loudest = nullptr) {
    constexpr int kWindowFrames = SinkMonitor::kRate / 200;
    int loud = 0;
    double peak = 0;
    for (std::size_t start = 0; start + kWindowFrames * 2 <= interleaved.size(); start += kWindowFrames * 2) {
        double sum = 0;
        for (int i = 0; i < kWindowFrames; ++i) sum += interleaved[start + 2 * i] * interleaved[start + 2 * i];
        double rms = std::sqrt(sum / kWindowFrames);
        peak = std::max(peak, rms);
        if (rms > 0.1) ++loud;
    }
    if (loudest != nullptr) *loudest = peak;
    return static_cast<double>(loud) * kWindowFrames / SinkMonitor::kRate;
}

}  // namespace yux::testing

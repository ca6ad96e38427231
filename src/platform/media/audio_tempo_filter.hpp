#pragma once

#include <vector>

#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

// Plays interleaved float stereo at 48000 Hz faster or slower with the pitch kept (libavfilter's
// atempo, which takes factors from 0.5 to 100 in FFmpeg 5.1).
class AudioTempoFilter {
public:
    explicit AudioTempoFilter(double speed);

    // Feeds `frames` stereo frames; the result collects in output().
    void push(const float* samples, int frames);
    // No more input: the filter's tail follows in output().
    void finish();
    std::vector<float>& output() { return output_; }

private:
    void pull();

    ffmpeg::FilterGraph graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    ffmpeg::Frame frame_;
    std::int64_t pts_ = 0;
    std::vector<float> output_;
};

}  // namespace yux::platform

#pragma once

#include <vector>

#include "platform/media/ffmpeg_support.hpp"

namespace yux::platform {

// Turns decoded audio frames into interleaved 32-bit float at one rate and channel count. A
// stream may change its sample format, channel layout or rate between frames (a stereo stretch
// followed by a mono one); the conversion is rebuilt at each change, after handing out what the
// previous one still held, so no frame is read with another frame's layout.
class AudioConverter {
public:
    AudioConverter(int sampleRate, int channels);
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }

    // Appends the frame's samples, converted, to `out`.
    void convert(const AVFrame* frame, std::vector<float>& out);
    // Appends what the conversion still holds back (a resampler's delay).
    void flush(std::vector<float>& out);
    // Drops what is held back, as after a seek.
    void reset();

private:
    bool matches(const AVFrame* frame) const;
    void drain(std::vector<float>& out);

    int sampleRate_;
    int channels_;
    ffmpeg::ResampleContext resampler_;
    // What the current conversion was built for.
    int inputFormat_ = -1;
    int inputRate_ = 0;
    AVChannelLayout inputLayout_{};
};

}  // namespace yux::platform

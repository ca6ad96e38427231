#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/media_time.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/track_decoder.hpp"

namespace yux::platform {

// Decodes one audio track into interleaved 32-bit float stereo at 48000 Hz, placed by time:
// after seek(t) the first sample read is the one at t (silence where the track has none yet).
class AudioSampleReader {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;

    AudioSampleReader(const std::string& path, const MediaTrack& track);

    void seek(MediaTime time);
    // Reads up to `frames` stereo frames into `out`; fewer only at the end of the track.
    int read(float* out, int frames);

private:
    bool refill();

    TrackDecoder source_;
    ffmpeg::ResampleContext resampler_;
    AVStream* stream_ = nullptr;
    ffmpeg::Frame frame_;
    std::vector<float> pending_;   // converted samples not read yet
    std::size_t pendingOffset_ = 0;
    std::int64_t position_ = 0;    // sample index (at 48 kHz) of the next sample to hand out
    bool positioned_ = false;      // the first frame after a seek fixed the position
};

}  // namespace yux::platform

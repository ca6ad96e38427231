#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/audio_converter.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/media_time.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/track_decoder.hpp"

namespace yux::platform {

// Decodes one audio track into interleaved 32-bit float, by default stereo at 48000 Hz, placed
// by time: after seek(t) the first sample read is the one at t (silence where the track has none
// yet). Frames that change layout or rate mid-stream are converted like the rest.
class AudioSampleReader {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;

    AudioSampleReader(const std::string& path, const MediaTrack& track, int sampleRate = kSampleRate,
                      int channels = kChannels);

    int sampleRate() const { return converter_.sampleRate(); }
    int channels() const { return converter_.channels(); }

    // A time before the track's start gives silence up to the start.
    void seek(MediaTime time);
    // Reads up to `frames` frames into `out` (frames × channels() floats); fewer only at the end
    // of the track.
    int read(float* out, int frames);
    // Frames of silence before the next decoded sample (0 when one is next), decoding ahead as
    // read() would; none at the end of the track. Lets a caller step over a late start instead
    // of reading it: a damaged index can place a track's first sample years in.
    std::optional<std::int64_t> silenceAhead();
    // Passes over `frames` frames of silence, at most silenceAhead(), as read() would.
    void skipSilence(std::int64_t frames);

private:
    bool refill();

    TrackDecoder source_;
    AudioConverter converter_;
    AVStream* stream_ = nullptr;
    ffmpeg::Frame frame_;
    std::vector<float> pending_;   // converted samples not read yet
    std::size_t pendingOffset_ = 0;
    std::int64_t silenceLeft_ = 0;  // frames of silence before pending_, handed out as read
    std::int64_t position_ = 0;    // index, at sampleRate(), of the next sample to hand out
    bool positioned_ = false;      // the first frame after a seek fixed the position
    bool flushed_ = false;         // the converter's last samples were taken at the end
};

}  // namespace yux::platform

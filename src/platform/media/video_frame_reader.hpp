#pragma once

#include <string>

#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/media_time.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "platform/media/track_decoder.hpp"

namespace yux::platform {

// Decodes one video track of a movie and answers "which picture shows at time t". Reading
// forward is sequential; a jump backwards or far ahead seeks to the keyframe before it.
class VideoFrameReader {
public:
    VideoFrameReader(const std::string& path, const MediaTrack& track);

    // The picture on screen at `time` (the last one starting at or before it; the first picture
    // for a time before the track or an invalid time). Null when the track has no pictures at
    // all. The frame stays valid until the next call. Damaged pictures are skipped, so the last
    // good one stays; pictures without a time are placed one frame after the one before.
    const AVFrame* frameAt(MediaTime time);

    const MediaTrack& track() const { return track_; }

private:
    void seekTo(std::int64_t timestamp);
    // Decodes forward until current_ is the picture showing at `target`.
    void advanceTo(std::int64_t target);
    // Decodes into next_, stamping a picture that has no time; false at the end.
    bool decodeNext();

    MediaTrack track_;
    TrackDecoder source_;
    AVStream* stream_ = nullptr;
    ffmpeg::Frame current_;
    ffmpeg::Frame next_;
    bool hasCurrent_ = false;
    bool hasNext_ = false;
    bool ended_ = false;
    std::int64_t lastTime_ = AV_NOPTS_VALUE;  // of the last picture decoded
    std::int64_t frameInterval_ = 1;          // in the stream's time base
    bool untimed_ = false;                    // the track's pictures carry no times
};

}  // namespace yux::platform
